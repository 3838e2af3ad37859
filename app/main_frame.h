// The main window as a model: four task slots and their threads, the
// scheduler that decides which task runs, the task list of one view with its
// rows, icons and columns, the folder tree, the per-thread log, the speed
// display and limit, the menus, and the task commands. A front end renders
// this state and forwards the user's actions; it decides nothing.
//
// Threading: every public member runs on the window thread (the thread bound
// to Loop()). Workers, slot threads and the speed sampler reach the model
// only through the ITaskOwner calls, which are forwarded with
// CWindowLoop::Send and return after the window thread has handled them.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/kept_logs.h"
#include "app/main_frame_host.h"
#include "app/menus.h"
#include "app/shell_open.h"
#include "app/task_engine.h"
#include "app/task_import.h"
#include "app/task_queue.h"
#include "app/task_rows.h"
#include "dialogs/tree_model.h"
#include "platform/deferred_sync.h"
#include "platform/periodic_thread.h"
#include "platform/window_loop.h"
#include "task/download_task.h"
#include "task/progress_file.h"
#include "task/task_owner.h"

namespace vardane {

struct CAppContext;
class IQuestions;

inline constexpr int kTaskSlots = 4;

// How a front end asks the frame to come up.
struct StartOptions {
    // Whether DownloadAtStart is honoured (the GUI and "run"; one-shot
    // commands start nothing on their own but still repair the lists).
    bool AllowDownloadAtStart = true;
    // The address handed over on the command line ("" none).
    std::string CommandLineUrl;
    // Whether the slot, sampler and keep-awake threads run. A one-shot
    // command that starts no task may leave them off.
    bool StartThreads = true;
};

enum class TaskCommandKind { Start, Stop, Delete };
enum class MoveKind { Up, Down, Top, Bottom };

// The task list a view shows.
TaskList ListOfView(TaskView view);

class CMainFrame : public ITaskOwner, private ITaskQueueListener {
  public:
    // The loop must have been created on (or bound to) the window thread.
    CMainFrame(CAppContext& ctx, CWindowLoop& loop, IQuestions& questions, IMainFrameHost& host,
               ITaskEngine& engine);
    ~CMainFrame() override;
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // Start-up: defaults and settings, folders, views, list repair, threads,
    // DownloadAtStart, then the command-line address.
    void Create(const StartOptions& options = {});
    // Shutdown: stops every slot with no successor, pumps the loop until no
    // worker runs, stops the long-lived threads and writes the speed limit.
    // Safe to call twice.
    void Close();
    bool IsCreated() const { return created_; }

    // ITaskOwner: callable from any thread.
    void OnTaskLog(const TaskLogEntry& e) override;
    void OnTaskState(const TaskDescriptor& d) override;
    void OnTaskProgress(const TaskDescriptor& d) override;
    void OnTaskThreads(const TaskDescriptor& d) override;
    void OnSpeedTick() override;

    // --- Operations by task id ----------------------------------------------
    // Menus and keys turn the selection into ids and call these; the CLI and
    // forwarded commands call them directly. None of them changes the view
    // or the selection.
    const CTaskQueue& Queue() const { return queue_; }
    // A front end's list model follows the queue's notices itself; it is
    // told after the frame's own rows have followed.
    void AddQueueListener(ITaskQueueListener* listener) { queue_.AddListener(listener); }
    void RemoveQueueListener(ITaskQueueListener* listener) { queue_.RemoveListener(listener); }
    // Starts id by the start rule (a slot when one is free, else waiting).
    void StartTaskById(const std::string& id);
    // Stops id: a waiting task becomes stopped at once, a running one is
    // asked to stop (noSuccessor: no waiting task starts in its place).
    void StopTaskById(const std::string& id, bool noSuccessor = false);
    void StartAll();
    void StopAll();
    // Asks first (Msg_DeleteConfirm); false when the answer was no. Tasks of
    // the deleted list are removed for good, others go to the deleted list.
    [[nodiscard]] bool DeleteTasks(const std::vector<std::string>& ids);
    // Completed or deleted tasks become fresh downloading tasks; asks first.
    [[nodiscard]] bool RedownloadTasks(const std::vector<std::string>& ids);
    // Moves the tasks in their list; a block of tasks moves as a whole. With
    // a category only the tasks of that category count as neighbours.
    void MoveTasks(const std::vector<std::string>& ids, MoveKind kind,
                   const std::string& category = "");
    // A task the new task dialog added to Downloading.lst; starts it when
    // asked, then has its progress file and the list flushed off this thread.
    void TaskAdded(const std::string& id, bool startNow);
    // A task whose properties changed on disk; starts it when asked.
    void TaskEdited(const std::string& id, bool startNow);

    // The settings store changed (the config command): the record is read
    // again and takes effect at once; a larger MaxTasks starts waiting tasks.
    void SettingsChanged();
    // The current language changed: menus, folder names, title, log root
    // and the file count take the texts of the new language.
    void Relabel();

    // --- Scheduler -------------------------------------------------------
    // Starts the first waiting task of the queue; true when one started.
    bool StartNextWaiting();
    // MaxTasks (at most 4) minus the busy slots; may be 0 or negative.
    int FreeSlotCount() const;
    bool IsSlotBusy(int slot) const;
    // Slot running id, -1 when none.
    int SlotOfTask(const std::string& id) const;
    // Running or waiting tasks left (for front ends that exit when idle).
    bool HasActiveTasks();
    int RunningWorkerThreads();

    // --- Commands --------------------------------------------------------
    // Runs the command of a menu, toolbar or pop-up item.
    void OnCommand(int id);
    void TaskCommand(TaskCommandKind kind, bool all);
    void MoveSelected(bool up);
    void DownloadAgain();
    void SelectAll();
    void OpenFile();
    void OpenFolder();
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
    // New task dialog closed with a task added (id) and maybe a start.
    void OnNewTaskAdded(const std::string& id, bool startNow);
    // Properties dialog closed with a change.
    void OnTaskEdited(const std::string& id, bool startNow);
    // An address handed over by another process or the command line.
    void OnAddressHandedOver(const std::string& url);

    // --- Views -----------------------------------------------------------
    TaskView CurrentView() const { return view_; }
    void SelectView(TaskView view);
    void ReloadTaskList();
    // The view and category key ("" the whole view) of a folder tree item.
    TaskView ViewOfFolder(TreeItem item) const;
    std::string CategoryOfFolder(TreeItem item) const;
    void RefreshFileCount();
    // Selects the folder tree item (a tap); the root selects Downloading.
    void SelectFolderItem(TreeItem item);
    void ToggleFolderTree();
    void SelectTab(int tab);
    // Selection of the task list.
    void SetRowSelected(int row, bool selected);
    void SelectOnly(int row);
    void ClearSelection();
    // Rebuilds the log tree for the selection; clears the log list.
    void OnRowSelectionChanged();
    // Selects thread node n (1-based) of the log tree and fills the log list.
    void SelectLogThread(int n);
    // Index of the row of id, -1 when not shown.
    // Position in rows_ for the task at index of list (rows follow the queue).
    std::ptrdiff_t RowForQueueIndex(TaskList list, int index) const;
    int FindRow(const std::string& id) const;
    // Context menus at a tap (the point stays with the front end).
    std::vector<MenuEntry> TaskPopupMenu() const;
    std::vector<MenuEntry> CategoryPopupMenu(TreeItem item) const;
    // Category commands of the folder tree pop-up on item.
    // Category commands of the folder tree pop-up on item; true when the tree
    // and the registry changed.
    bool CategoryCommand(int id, TreeItem item);

    // --- Speed display and limit --------------------------------------------
    // The check box (command 9000).
    void SetSpeedLimitChecked(bool checked);
    // The slider moved to value.
    void OnSpeedLimitValue(int value);
    // Stores the flag and the limit in use (SpeedLimit, SpeedLimitKBSec), as
    // the close does.
    void WriteSpeedLimitSettings();

    // --- State the front end renders ---------------------------------------
    const std::string& Title() const { return title_; }
    const std::vector<TaskRow>& Rows() const { return rows_; }
    std::vector<int> SelectedRows() const;
    const CTreeModel& Folders() const { return folders_; }
    bool FolderTreeVisible() const { return treeVisible_; }
    const std::string& FolderButtonText() const { return folderButtonText_; }
    const std::string& FileCountText() const { return fileCountText_; }
    const std::string& TotalSpeedText() const { return totalSpeedText_; }
    bool SpeedLimitChecked() const { return speedLimitChecked_; }
    int SpeedLimitSliderValue() const { return sliderValue_; }
    const std::string& SpeedLimitCaption() const { return speedLimitCaption_; }
    int CurrentTab() const { return tab_; }
    const LogTreeState& LogTree() const { return logTree_; }
    const std::vector<LogLine>& LogList() const { return logList_; }
    // Changes whenever the log list is cleared or replaced, not when a line
    // is appended: a view that showed n lines of the same generation only
    // adds the lines after them.
    unsigned LogListGeneration() const { return logListGeneration_; }
    const std::vector<MenuEntry>& FileMenu() const { return fileMenu_; }
    const std::vector<MenuEntry>& ControlMenu() const { return controlMenu_; }
    std::vector<std::string> ColumnHeaders() const;
    // The last error line a task logged in this session ("" none): why a
    // failed task failed.
    std::string LastErrorLine(const std::string& id) const {
        return keptLogs_.LastError(id, queue_.Find(id));
    }

    CAppContext& Context() { return ctx_; }
    CWindowLoop& Loop() { return loop_; }
    ShellOpener& Opener() { return opener_; }

  private:
    // Start-up and shutdown pieces (main_frame.cpp).
    void RepairDownloadingList();
    void StartThreads();
    void StopThreads();
    void SlotStep(int slot);
    void SamplerStep();
    void Notify(unsigned what) { host_.OnModelChanged(what); }

    // Window-thread handlers (scheduler.cpp).
    void HandleTaskLog(const TaskLogEntry& e);
    void HandleTaskState(const TaskDescriptor& d);
    void HandleTaskProgress(const TaskDescriptor& d);
    void HandleTaskThreads(const TaskDescriptor& d);
    void HandleSpeedTick();
    void StartRule(const std::string& id, int row);
    // id by value: it may be the slot's own id, which this clears.
    void AfterAbandonedStart(int slot, std::string id);
    void FinishDeletedTask(const TaskDescriptor& d);
    void StopSlot(int slot, bool noSuccessor);
    void StartOrStop(const std::vector<std::string>& ids, bool start, bool all);
    void MoveToCompleted(const std::string& id);
    void AfterTaskStopped(const std::string& id, TaskStatus state);
    // The queue's SetState; a failed write is reported, never ignored.
    void WriteState(const std::string& id, TaskStatus state);

    // Views (task_view.cpp).
    std::string ListPath(TaskView view) const;
    std::string CategoryFilter() const;
    void RebuildMenus();
    void ClearLog();
    void FillLogTree(const std::string& id);
    std::string SelectedTaskId() const;
    std::vector<std::string> SelectedIds() const;
    // The rows of the shown view from the queue; the selection stays with
    // its tasks. selectFirst: a view just shown selects its first row when
    // none of them is left.
    void DeriveRows(bool selectFirst = true);

    // ITaskQueueListener: the rows follow the queue.
    void OnTaskInserted(TaskList list, int index) override;
    void OnTaskRemoved(TaskList list, int index, const std::string& id) override;
    void OnTaskMoved(TaskList list, int from, int to) override;
    void OnTaskChanged(TaskList list, int index, unsigned fields) override;
    void OnListReset(TaskList list) override;
    void OnListChanged(TaskList list, bool fieldsOnly) override;
    void OnListReordered(TaskList list, const std::vector<int>& newIndex) override;

    // Commands (task_commands.cpp).
    void DeleteMany(const std::vector<std::string>& ids);
    std::vector<std::string> IdsOfRows(bool all) const;
    std::string FirstSelectedLocalPath(bool folderOnly);
    bool Confirm(const char* key, bool defaultNo);

    CAppContext& ctx_;
    CWindowLoop& loop_;
    IQuestions& questions_;
    IMainFrameHost& host_;
    ITaskEngine& engine_;
    ShellOpener opener_;

    CTaskQueue queue_;
    std::array<std::unique_ptr<ISlotEngine>, kTaskSlots> slots_;
    // Ids stopped with Stop All or at shutdown: their end starts no waiting
    // task. Kept here rather than read from the task so that a completion
    // never blocks the queue.
    std::set<std::string> noSuccessorIds_;
    // Task id each slot was last started with.
    std::array<std::string, kTaskSlots> slotIds_;
    // Running tasks deleted by the user: their temporary file is removed and
    // their state written once their workers have ended.
    std::set<std::string> pendingDeletes_;
    // Slots seen idle at the last speed tick while their task's end was
    // never reported (a restart inside the engine that gave up): at the next
    // tick the end is handled here, so that nothing waits for it forever.
    std::array<bool, kTaskSlots> quietSlots_{};

    std::array<std::unique_ptr<CPeriodicThread>, kTaskSlots> slotThreads_;
    CPeriodicThread samplerThread_;
    CPeriodicThread keepAwakeThread_;
    std::atomic<bool> threadsStopping_{false};

    bool created_ = false;
    bool closed_ = false;

    std::string title_;
    TaskView view_ = TaskView::Downloading;
    std::vector<TaskRow> rows_;
    CTreeModel folders_;
    bool treeVisible_ = false;
    std::string folderButtonText_;
    std::string fileCountText_ = "0 Files";
    std::string totalSpeedText_ = "0.0 KB/s";
    bool speedLimitChecked_ = false;
    int sliderValue_ = 1024;
    std::string speedLimitCaption_;
    int tab_ = 0;
    LogTreeState logTree_;
    std::vector<LogLine> logList_;
    unsigned logListGeneration_ = 0;
    // What tasks logged, for the log view once their run has ended.
    CKeptLogs keptLogs_;
    std::vector<MenuEntry> fileMenu_;
    std::vector<MenuEntry> controlMenu_;

    // Flushes a new task's record and list line while its download starts.
    // Last member: it finishes its queue before anything it reports to goes.
    CDeferredSync recordSync_;
};

}  // namespace vardane
