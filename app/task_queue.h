// The tasks of the three lists in memory: each task's record, state, order,
// category and counters. It is the one source the scheduler, the views, the
// commands and the duplicate checks read; rows, icons and texts are derived
// from it. A task's progress file is read once, when the task joins the
// queue (or is edited); every change is written through from memory to the
// list and progress files (in the formats they have always had) and then
// announced to the listeners. While a task runs the engine holds its record
// and hands it back at the task's end (Adopt).
//
// Threading: window thread only. Callers hold the context's ListLock around
// every change, as for the list files themselves.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/task_lookup.h"
#include "task/task_state.h"

namespace vardane {

struct QueuedTask {
    std::string Id;
    TaskState State = TaskState::Stopped;
    std::string Name;      // the local file name
    std::string Dir;       // the local folder (LocalDir)
    std::string Category;  // key path of the category
    int64_t Size = 0;      // bytes; 0 while unknown
    int64_t Pos = 0;       // bytes downloaded
    std::string PosText;   // Pos as stored ("" before the first run)
    int BestPercent = -1;  // percent a running task reported, -1 none
    double SpeedKb = -1;   // -1 until the task ran in this session
    // The progress file's fields as the file holds them (while the task
    // runs: as it held them at the start), packed.
    std::string PackedRecord;
    TaskProgressRecord Record() const { return UnpackProgress(PackedRecord); }
    void SetRecord(const TaskProgressRecord& record) { PackedRecord = PackProgress(record); }

    // Percent done from Pos / Size, truncated, in integers: 9,999 of 10,000
    // bytes is 99, never 100. -1 when the size is unknown.
    int Percent() const;
    bool IsComplete() const { return Size > 0 && Pos >= Size; }
};

// What a change notice says changed (bit flags).
enum TaskField : unsigned {
    fieldState = 1u << 0,
    fieldName = 1u << 1,
    fieldProgress = 1u << 2,  // Size, Pos, BestPercent
    fieldSpeed = 1u << 3,
    fieldCategory = 1u << 4,
};

// Change notices, one per change and in the order the changes were made, so
// that a list model can insert, remove, move or refresh exactly one row.
// Indexes are positions in the list at the moment of the notice.
class ITaskQueueListener {
  public:
    virtual ~ITaskQueueListener() = default;
    virtual void OnTaskInserted(TaskList /*list*/, int /*index*/) {}
    virtual void OnTaskRemoved(TaskList /*list*/, int /*index*/, const std::string& /*id*/) {}
    virtual void OnTaskMoved(TaskList /*list*/, int /*from*/, int /*to*/) {}
    virtual void OnTaskChanged(TaskList /*list*/, int /*index*/, unsigned /*fields*/) {}
    // The whole list was read again.
    virtual void OnListReset(TaskList /*list*/) {}
    // Changes made in one batch (a delete, download again, import or start
    // of many tasks): none of the notices above was sent for them; this one
    // comes once per changed list, after its file was written. fieldsOnly:
    // the list holds the same tasks in the same order, only their fields
    // changed.
    virtual void OnListChanged(TaskList /*list*/, bool /*fieldsOnly*/) {}
    // The tasks of list were put in a new order at once (SetOrder): the task
    // at index i before is at newIndex[i] now.
    virtual void OnListReordered(TaskList /*list*/, const std::vector<int>& /*newIndex*/) {}
};

class TaskQueue : public ITaskLookup {
  public:
    explicit TaskQueue(std::string appDir) : appDir_(std::move(appDir)) {}

    // Reads the three lists and the progress file of every task. A task
    // whose file is complete counts as completed whatever its state said
    // (the state is written back). An id whose progress file is missing or
    // cannot be read (a restore under way) gets no task, but its line is
    // kept: see UnreadableIds.
    // A list that cannot be read is set aside and rebuilt from the progress
    // files no other list names; what happened is returned, one line each.
    std::vector<std::string> Load();

    const std::vector<QueuedTask>& Tasks(TaskList list) const { return lists_[Index(list)]; }
    // The task of id in any list, nullptr when none.
    const QueuedTask* Find(const std::string& id) const;
    std::optional<TaskList> ListOf(const std::string& id) const;
    int IndexOf(TaskList list, const std::string& id) const;

    // Ids list names whose progress file was missing or unreadable at the
    // load, in file order. They show no row and never run, but every rewrite
    // of the list keeps their lines where they stood (after the task they
    // followed), and only a delete of the id itself removes one.
    std::vector<std::string> UnreadableIds(TaskList list) const;
    std::optional<TaskList> UnreadableListOf(const std::string& id) const;

    // Adds id (its progress file must exist) at the end of list and writes
    // the list file. With writeList false the list file already holds it.
    [[nodiscard]] bool Append(TaskList list, const std::string& id, bool writeList = true,
                              Durability durability = Durability::Now);
    // Appends many ids with one write of the list file.
    [[nodiscard]] bool AppendMany(TaskList list, const std::vector<std::string>& ids);
    // Takes id out of its list (the progress file stays); an unreadable id
    // too.
    [[nodiscard]] bool Remove(const std::string& id);
    // Remove and MoveToList for many ids in one pass over the lists, each
    // list written once; ids not found are skipped. Ids moved to a list are
    // appended in the order given.
    [[nodiscard]] bool RemoveMany(const std::vector<std::string>& ids);
    [[nodiscard]] bool MoveManyToList(const std::vector<std::string>& ids, TaskList to);
    // Puts the tasks of list in the order of ids, which must name exactly
    // the tasks it holds; one write, one OnListReordered.
    [[nodiscard]] bool SetOrder(TaskList list, const std::vector<std::string>& ids);

    // Between BeginBatch and the matching EndBatch, changes are kept in
    // memory and announced nowhere: EndBatch flushes the progress files
    // written meanwhile once, writes each changed list file once (later
    // lists first, so that a moved id is never in none) and sends one
    // OnListChanged per changed list. Without it a delete of 10,000 tasks
    // rewrote two list files and sent a notice per task. Batches nest; the
    // outermost EndBatch does the work. False when a write failed: the
    // lists are then read again from the files, so that nothing claims a
    // change the disk does not hold.
    void BeginBatch();
    [[nodiscard]] bool EndBatch();
    bool InBatch() const { return batchDepth_ > 0; }
    // Moves id from its list to the end of a later one (Completed, Deleted).
    // The target's file is written first: a crash between the two writes
    // leaves the id in both files, and Load keeps it in the later list, so
    // a task is never in none. An unreadable id moves as a bare line.
    [[nodiscard]] bool MoveToList(const std::string& id, TaskList to,
                                  Durability durability = Durability::Now);
    // Moves id to position to of its list.
    [[nodiscard]] bool Move(const std::string& id, int to);
    // Exchanges the places of a and b in their (common) list.
    [[nodiscard]] bool Swap(const std::string& a, const std::string& b);
    // Writes the state to the progress file (from the record in memory),
    // then announces it.
    [[nodiscard]] bool SetState(const std::string& id, TaskState state);
    // The record a task's run hands back at its end, as its progress file
    // holds it now; without one (nullptr) the file is read again.
    void Adopt(const std::string& id, const TaskProgressRecord* record);
    // ITaskLookup: the Downloading list, by BaseURL.
    std::string DownloadingTaskOfUrl(std::string_view url) const override;
    bool IsTaskRunning(const std::string& id) const override;
    // Counters of a running task (memory only; the task saves its file).
    void SetProgress(const std::string& id, const std::string& name, int64_t size, int64_t pos,
                     int bestPercent, double speedKb);
    void SetSpeed(const std::string& id, double speedKb);
    // The counters of a task that has just completed, from the engine's
    // final record: the last progress notice may be a second old, and a
    // completed task shows all of its size (pos when the size was never
    // known) and no speed, as it will after the next load.
    void SetCompleted(const std::string& id, int64_t size, int64_t pos);
    // Record, name, category and state read again from the progress file
    // (after an edit, or a start that was abandoned).
    void Refresh(const std::string& id);

    void AddListener(ITaskQueueListener* listener);
    void RemoveListener(ITaskQueueListener* listener);

  private:
    // A line whose task could not be read, and the id of the task it
    // followed in its list ("" at the top).
    struct UnreadableLine {
        std::string Id;
        std::string After;
    };

    static size_t Index(TaskList list) { return static_cast<size_t>(list); }
    QueuedTask* FindMutable(const std::string& id, TaskList* list, int* index);
    // Records the task just pushed at the end of list in where_.
    void Appended(TaskList list);
    std::optional<QueuedTask> ReadTask(const std::string& id) const;
    bool WriteList(TaskList list, Durability durability = Durability::Now) const;
    // The ids of a list file: the tasks and, after the task each followed,
    // the unreadable lines (at the end when that task has left the list).
    std::vector<std::string> ListLines(TaskList list) const;
    // Unreadable lines that followed the task at index of list now follow
    // the task before it, before that task leaves the list.
    void KeepUnreadableInPlace(TaskList list, int index);
    bool MoveUnreadable(const std::string& id, std::optional<TaskList> to);
    bool MoveMany(const std::vector<std::string>& ids, std::optional<TaskList> to);
    std::vector<std::string> RebuildBadLists(std::array<std::vector<std::string>, 3>& listed);
    void Changed(TaskList list, int index, unsigned fields);

    std::string appDir_;
    std::vector<QueuedTask> lists_[3];
    std::vector<UnreadableLine> unreadable_[3];
    // Where each id stands, so that lookups stay cheap with 100,000 tasks.
    // Appends keep it current; any other change of order drops it and the
    // next lookup rebuilds it.
    mutable std::unordered_map<std::string, std::pair<TaskList, int>> where_;
    mutable bool whereValid_ = false;
    std::vector<ITaskQueueListener*> listeners_;

    // The open batch: its depth, what changed in each list and whether a
    // progress file was written unflushed on its behalf.
    enum BatchChange : unsigned {
        batchFields = 1u << 0,
        batchRows = 1u << 1,
        batchWrite = 1u << 2
    };
    // True inside a batch, having noted the change: the caller's notice is
    // not sent.
    bool Batched(TaskList list, unsigned change);
    int batchDepth_ = 0;
    unsigned batchChanges_[3] = {0, 0, 0};
    bool batchSync_ = false;
};

}  // namespace vardane
