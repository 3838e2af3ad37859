// What can be done to tasks by id: start and stop, delete, download again,
// move, add, edit and import. Menus and keys turn the selection into ids and
// call these; the command line and forwarded commands call them directly.
// None of them changes the view or the selection.
//
// Threading: every member runs on the window thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/task_import.h"

namespace vardane {

struct AppContext;
class DeferredSync;
class TaskQueue;
class IMainFrameHost;
class IQuestions;
class TaskScheduler;

enum class MoveKind { Up, Down, Top, Bottom };

// What the views hear of an operation.
class IOperationsListener {
  public:
    virtual ~IOperationsListener() = default;
    virtual void OnTasksDeleted() = 0;
    virtual void OnTaskAdded() = 0;
};

class TaskOperations {
  public:
    // sync: flushes a new task's record and list line off this thread.
    TaskOperations(AppContext& ctx, IMainFrameHost& host, IQuestions& questions, TaskQueue& queue,
                   TaskScheduler& scheduler, DeferredSync& sync, IOperationsListener& listener);
    TaskOperations(const TaskOperations&) = delete;
    TaskOperations& operator=(const TaskOperations&) = delete;

    // Starts id by the start rule (a slot when one is free, else waiting).
    void Start(const std::string& id);
    // Stops id: a waiting task becomes stopped at once, a running one is
    // asked to stop (noSuccessor: no waiting task starts in its place).
    void Stop(const std::string& id, bool noSuccessor = false);
    void StartAll();
    void StopAll();
    // Starts or stops ids in one batch (all: a stop starts no successor).
    void StartOrStop(const std::vector<std::string>& ids, bool start, bool all);
    // Asks first (Msg_DeleteConfirm); false when the answer was no. Tasks of
    // the deleted list are removed for good, others go to the deleted list.
    [[nodiscard]] bool Delete(const std::vector<std::string>& ids);
    // Completed or deleted tasks become fresh downloading tasks; asks first.
    [[nodiscard]] bool Redownload(const std::vector<std::string>& ids);
    // Moves the tasks in their list; a block of tasks moves as a whole. With
    // a category only the tasks of that category count as neighbours.
    void Move(const std::vector<std::string>& ids, MoveKind kind, const std::string& category = "");
    // A task the new task dialog added to Downloading.lst; starts it when
    // asked, then has its progress file and the list flushed off this thread.
    void Added(const std::string& id, bool startNow);
    // A task whose properties changed on disk; starts it when asked.
    void Edited(const std::string& id, bool startNow);

    // Import: asks the host for the file, confirms, then ImportFile.
    void Import();
    // The file the host chose, once the user confirmed; nullopt otherwise.
    std::optional<std::string> AskImportFile();
    // The import proper; returns the number of tasks added (also shown).
    int ImportFile(const std::string& path);
    // The same in steps: Begin, then Continue while it returns true (each
    // call reads a bounded number of lines), then Finish, which lists the
    // tasks, starts them when asked and shows the count. A file that cannot
    // be read gives a run that is done at once.
    std::unique_ptr<ImportRun> BeginImport(const std::string& path, bool startImmediately);
    bool ContinueImport(ImportRun& run);
    int FinishImport(ImportRun& run);

  private:
    void DeleteMany(const std::vector<std::string>& ids);
    bool Confirm(const char* key, bool defaultNo);

    AppContext& ctx_;
    IMainFrameHost& host_;
    IQuestions& questions_;
    TaskQueue& queue_;
    TaskScheduler& scheduler_;
    DeferredSync& sync_;
    IOperationsListener& listener_;
};

}  // namespace vardane
