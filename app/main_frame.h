// The main window as a model, composed of parts with one job each:
//   TaskScheduler  - the four slots and their threads, which task runs;
//   TaskOperations - what is done to tasks by id (start, stop, delete,
//                    download again, move, add, edit, import);
//   TaskViewModel  - the rows of the view shown and the selection;
//   FolderPane     - title, folder tree, menus and tabs;
//   LogView        - the per-thread log of the selected task;
//   SpeedDisplay   - the total speed and the speed limit.
// The frame builds them, is the task owner the engine reports to, and turns
// the commands of menus and keys into calls of its parts. A front end
// renders the parts' state and forwards the user's actions; it decides
// nothing.
//
// Threading: every public member runs on the window thread (the thread bound
// to Loop()). Workers, slot threads and the speed sampler reach the model
// only through the ITaskOwner calls, which are forwarded with
// WindowLoop::Send and return after the window thread has handled them.
#pragma once

#include <string>

#include "app/folder_pane.h"
#include "app/kept_logs.h"
#include "app/log_view.h"
#include "app/main_frame_host.h"
#include "app/shell_open.h"
#include "app/speed_display.h"
#include "app/task_engine.h"
#include "app/task_operations.h"
#include "app/task_queue.h"
#include "app/task_scheduler.h"
#include "app/task_view_model.h"
#include "platform/deferred_sync.h"
#include "platform/window_loop.h"
#include "task/task_owner.h"

namespace vardane {

struct AppContext;
class IQuestions;

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

class MainFrame : public ITaskOwner {
  public:
    // The loop must have been created on (or bound to) the window thread.
    MainFrame(AppContext& ctx, WindowLoop& loop, IQuestions& questions, IMainFrameHost& host,
              ITaskEngine& engine);
    ~MainFrame() override;
    MainFrame(const MainFrame&) = delete;
    MainFrame& operator=(const MainFrame&) = delete;

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

    // The parts.
    const TaskQueue& Queue() const { return queue_; }
    TaskScheduler& Scheduler() { return scheduler_; }
    TaskOperations& Operations() { return operations_; }
    TaskViewModel& View() { return view_; }
    const TaskViewModel& View() const { return view_; }
    FolderPane& Pane() { return pane_; }
    const FolderPane& Pane() const { return pane_; }
    LogView& Log() { return log_; }
    SpeedDisplay& Speed() { return speed_; }
    // A front end's list model follows the queue's notices itself; it is
    // told after the frame's own rows have followed.
    void AddQueueListener(ITaskQueueListener* listener) { queue_.AddListener(listener); }
    void RemoveQueueListener(ITaskQueueListener* listener) { queue_.RemoveListener(listener); }

    // The settings store changed (the config command): the record is read
    // again and takes effect at once; a larger MaxTasks starts waiting tasks.
    void SettingsChanged();
    // The current language changed: menus, folder names, title, log root
    // and the file count take the texts of the new language.
    void Relabel();

    // Runs the command of a menu, toolbar or pop-up item.
    void OnCommand(int id);
    // Download Again of the selection (completed or deleted view).
    void DownloadAgain();
    // New task dialog closed with a task added (id) and maybe a start.
    void OnNewTaskAdded(const std::string& id, bool startNow);
    // Properties dialog closed with a change.
    void OnTaskEdited(const std::string& id, bool startNow);
    // An address handed over by another process or the command line.
    void OnAddressHandedOver(const std::string& url);

    AppContext& Context() { return ctx_; }
    WindowLoop& Loop() { return loop_; }
    ShellOpener& Opener() { return opener_; }

  private:
    void TaskCommand(TaskCommandKind kind, bool all);
    // Opens the first selected row's target (its folder for folderOnly).
    void OpenSelected(bool folderOnly);

    // Window-thread handlers of the ITaskOwner calls.
    void HandleTaskLog(const TaskLogEntry& e);
    void HandleTaskProgress(const TaskDescriptor& d);
    void HandleSpeedTick();

    AppContext& ctx_;
    WindowLoop& loop_;
    IMainFrameHost& host_;
    ShellOpener opener_;

    TaskQueue queue_;
    // What tasks logged, for the log view once their run has ended.
    KeptLogs keptLogs_;
    // Flushes a new task's record and list line while its download starts.
    // Drained by the destructor before the parts go.
    DeferredSync recordSync_;

    // In the order they need each other (the log view only keeps a
    // reference to the scheduler until it is asked for a log).
    FolderPane pane_;
    SpeedDisplay speed_;
    LogView log_;
    TaskViewModel view_;
    TaskScheduler scheduler_;
    TaskOperations operations_;

    bool created_ = false;
    bool closed_ = false;
};

}  // namespace vardane
