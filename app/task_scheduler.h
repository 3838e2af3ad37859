// Which tasks run: four slots and their threads, the start rule (a free slot
// or waiting), the stop rule and the choice of the task that starts when one
// ends. It handles the ends that running tasks report and keeps the queue's
// states in step with the slots.
//
// Threading: every public member runs on the window thread. The slot and
// sampler threads call the task owner, which forwards to the window thread.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/targets_feed.h"
#include "app/task_engine.h"
#include "app/task_queue.h"
#include "platform/periodic_thread.h"
#include "task/task_owner.h"

namespace vardane {

struct AppContext;
class DeferredSync;
class KeptLogs;
class WindowLoop;
class IMainFrameHost;

inline constexpr int kTaskSlots = 4;

// What the views hear from the scheduler.
class ISchedulerListener {
  public:
    virtual ~ISchedulerListener() = default;
    // A task completed and left the Downloading list.
    virtual void OnTaskCompleted() = 0;
};

class TaskScheduler {
  public:
    // owner: what the slots' tasks and the speed sampler report to.
    // keptLogs: a started task's earlier lines are dropped there. sync:
    // flushes the lists a completion changed.
    TaskScheduler(AppContext& ctx, WindowLoop& loop, IMainFrameHost& host, ITaskEngine& engine,
                  TaskQueue& queue, ITaskOwner& owner, KeptLogs& keptLogs, DeferredSync& sync,
                  ISchedulerListener& listener);
    TaskScheduler(const TaskScheduler&) = delete;
    TaskScheduler& operator=(const TaskScheduler&) = delete;

    // Starts id by the start rule (a slot when one is free, else waiting).
    void StartTask(const std::string& id);
    // Stops id: a waiting task becomes stopped at once, a running one is
    // asked to stop (noSuccessor: no waiting task starts in its place).
    void StopTask(const std::string& id, bool noSuccessor = false);
    // A running task the user deleted: it is asked to stop, and once it has
    // ended its temporary file goes and its state is written.
    void StopForDelete(int slot, const std::string& id);
    // Starts the first waiting task of the queue; true when one started.
    bool StartNextWaiting();
    // Starts waiting tasks while slots are free (a larger MaxTasks).
    void FillFreeSlots();
    // Tasks left running or waiting by the last run show as stopped.
    void StopLeftovers();

    // MaxTasks (at most 4) minus the busy slots; may be 0 or negative.
    int FreeSlotCount() const;
    bool IsSlotBusy(int slot) const;
    // Slot running id, -1 when none.
    int SlotOfTask(const std::string& id) const;
    // The log of thread (0-based) of the task in slot.
    std::vector<TaskLogEntry> ThreadLog(int slot, int thread) const;
    // Running or waiting tasks left (for front ends that exit when idle).
    bool HasActiveTasks() const;
    int RunningWorkerThreads() const;

    // On the window thread: a task's end, and the speed tick (a slot whose
    // end was never reported is handled here).
    void OnTaskEnded(const TaskDescriptor& d);
    void OnSpeedTick();

    void StartThreads();
    // Stops every slot with no successor, pumps the loop until no worker
    // runs, then stops the long-lived threads.
    void Shutdown();

  private:
    void SlotStep(int slot);
    void SamplerStep();
    void StopThreads();
    // id by value: it may be the slot's own id, which this clears.
    void AfterAbandonedStart(int slot, std::string id);
    void FinishDeletedTask(const TaskDescriptor& d);
    void StopSlot(int slot, bool noSuccessor);
    void MoveToCompleted(const std::string& id);
    void AfterTaskStopped(const std::string& id, TaskState state);
    // The queue's SetState; a failed write is reported, never ignored.
    void WriteState(const std::string& id, TaskState state);

    AppContext& ctx_;
    WindowLoop& loop_;
    IMainFrameHost& host_;
    ITaskEngine& engine_;
    TaskQueue& queue_;
    ITaskOwner& owner_;
    KeptLogs& keptLogs_;
    DeferredSync& sync_;
    ISchedulerListener& listener_;
    // The names the Downloading tasks aim at, for the workers' choice of a
    // free name; a task's own claim ends with its run, once the queue holds
    // the name it ended with.
    TargetsFeed targetsFeed_;

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

    std::array<std::unique_ptr<PeriodicThread>, kTaskSlots> slotThreads_;
    PeriodicThread samplerThread_;
    PeriodicThread keepAwakeThread_;
    std::atomic<bool> threadsStopping_{false};
};

}  // namespace vardane
