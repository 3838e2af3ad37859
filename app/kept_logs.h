// The log lines of this session's tasks, kept past the end of their run: a
// stopped or failed task still shows what its threads said last, and its
// last error line says why it failed. The engine's own per-thread log goes
// with the slot, which the next task reuses. The error line of a failed
// task is also kept in its progress file, so that it still says why after
// a restart.
#pragma once

#include <array>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/task_queue.h"
#include "app/task_rows.h"
#include "task/task_owner.h"

namespace vardane {

class KeptLogs {
  public:
    // Lines of this many tasks at most (the latest to log); error lines are
    // kept for every task.
    static constexpr size_t kKeptTasks = 64;
    static constexpr int kThreads = 4;
    // Longest error line kept, in bytes; a server may send a page of text.
    static constexpr size_t kMaxErrorBytes = kMaxLastErrorBytes;

    void Add(const TaskLogEntry& entry);
    // A new run of id: its old lines and error go.
    void StartOver(const std::string& id);
    // The last kMaxLogLines lines of thread (0-based) of id, made displayable.
    // Without lines of this session, thread 0 shows the error line stored
    // with stored (the queue's task of id; nullptr none).
    std::vector<LogLine> Lines(const std::string& id, int thread,
                               const QueuedTask* stored = nullptr) const;
    // The last error line of id ("" none): this session's, else the one
    // stored with stored. And its thread (1-based, 0 none).
    std::string LastError(const std::string& id, const QueuedTask* stored = nullptr) const;
    int LastErrorThread(const std::string& id) const;
    // Writes this session's error line of the failed task id into its
    // progress file (key LastError) and the queue's record. False when
    // there was none or the write failed.
    bool StoreWithTask(TaskQueue& queue, const std::string& appDir, const std::string& id) const;

  private:
    struct Error {
        std::string Text;
        int Thread = 0;
    };
    std::unordered_map<std::string, std::array<std::deque<LogLine>, kThreads>> lines_;
    std::deque<std::string> order_;  // ids in lines_, oldest first
    std::unordered_map<std::string, Error> errors_;
};

// text made fit to keep and show as a task's error line: one line without
// control characters, the password of every address in it masked, at most
// kMaxLastErrorBytes (cut at a character, "..." added).
std::string ErrorLineToKeep(std::string_view text);

}  // namespace vardane
