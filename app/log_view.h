// The log view: the tree of one downloading task's threads and the lines of
// the thread shown, live from its slot while it runs and from the kept logs
// once its run has ended.
//
// Threading: every member runs on the window thread.
#pragma once

#include <string>
#include <vector>

#include "app/task_rows.h"

namespace vardane {

struct AppContext;
class KeptLogs;
class TaskQueue;
class IMainFrameHost;
class TaskScheduler;
struct TaskLogEntry;

class LogView {
  public:
    LogView(AppContext& ctx, IMainFrameHost& host, const TaskScheduler& scheduler,
            const KeptLogs& keptLogs, const TaskQueue& queue);

    // No task: an empty tree and list.
    void Clear();
    // The tree of id's threads; opens the thread that said why it failed
    // when it is not running, else the first.
    void Fill(const std::string& id);
    // Selects thread node n (1-based) of the log tree and fills the log list.
    void SelectThread(int n);
    // Whether the lines of thread (0-based) show now.
    bool ShowsThread(int thread) const;
    // A line a task logged; the caller checks that its task and thread are
    // the ones shown.
    void Append(const TaskLogEntry& entry);
    // The root node takes the current language's text.
    void Relabel();

    const LogTreeState& LogTree() const { return logTree_; }
    const std::vector<LogLine>& LogList() const { return logList_; }
    // Changes whenever the log list is cleared or replaced, not when a line
    // is appended: a view that showed n lines of the same generation only
    // adds the lines after them.
    unsigned LogListGeneration() const { return logListGeneration_; }
    // The last error line a task logged in this session ("" none): why a
    // failed task failed.
    std::string LastErrorLine(const std::string& id) const;

  private:
    void Notify(unsigned parts);

    AppContext& ctx_;
    IMainFrameHost& host_;
    const TaskScheduler& scheduler_;
    const KeptLogs& keptLogs_;
    // Where a failed task's line from an earlier session is kept.
    const TaskQueue& queue_;
    LogTreeState logTree_;
    std::vector<LogLine> logList_;
    unsigned logListGeneration_ = 0;
};

}  // namespace vardane
