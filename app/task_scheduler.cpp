// Which tasks run: the start, stop and successor rules, the slots' threads
// and the handling of a running task's end.
#include "app/task_scheduler.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/kept_logs.h"
#include "app/main_frame_host.h"
#include "platform/deferred_sync.h"
#include "platform/file.h"
#include "platform/window_loop.h"
#include "settings/app_context.h"
#include "task/download_task.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/task_owner.h"
#include "task/url.h"

namespace vardane {

TaskScheduler::TaskScheduler(AppContext& ctx, WindowLoop& loop, IMainFrameHost& host,
                             ITaskEngine& engine, TaskQueue& queue, ITaskOwner& owner,
                             KeptLogs& keptLogs, DeferredSync& sync, ISchedulerListener& listener)
    : ctx_(ctx),
      loop_(loop),
      host_(host),
      engine_(engine),
      queue_(queue),
      owner_(owner),
      keptLogs_(keptLogs),
      sync_(sync),
      listener_(listener),
      targetsFeed_(ctx, queue) {
    for (auto& slot : slots_) {
        slot = engine_.MakeSlot(ctx_);
    }
}

bool TaskScheduler::IsSlotBusy(int slot) const {
    return slots_[slot]->Task().Active.load();
}

int TaskScheduler::SlotOfTask(const std::string& id) const {
    for (int i = 0; i < kTaskSlots; ++i) {
        if (IsSlotBusy(i) && slotIds_[i] == id) {
            return i;
        }
    }
    return -1;
}

std::vector<TaskLogEntry> TaskScheduler::ThreadLog(int slot, int thread) const {
    return slots_[slot]->Task().ThreadLog(thread);
}

int TaskScheduler::FreeSlotCount() const {
    int busy = 0;
    for (int i = 0; i < kTaskSlots; ++i) {
        busy += IsSlotBusy(i) ? 1 : 0;
    }
    // There are only four slots: a larger MaxTasks behaves like 4.
    return std::min(ctx_.settings.MaxTasks, kTaskSlots) - busy;
}

void TaskScheduler::StartTask(const std::string& id) {
    // A task without progress file does not exist: writing its state would
    // make a file of defaults out of nothing.
    if (SlotOfTask(id) >= 0 || !FileExists(ProgressFilePath(ctx_.AppDir(), id))) {
        return;
    }
    int slot = -1;
    if (FreeSlotCount() >= 1) {
        for (int i = 0; i < kTaskSlots && slot < 0; ++i) {
            if (!IsSlotBusy(i)) {
                slot = i;
            }
        }
    }
    if (slot < 0) {
        WriteState(id, TaskState::Waiting);
        return;
    }
    WriteState(id, TaskState::Running);
    // Set once per slot: a worker of the slot's previous task may still be
    // reading it on its way out.
    if (slots_[slot]->Task().owner != &owner_) {
        slots_[slot]->Task().owner = &owner_;
    }
    slotIds_[slot] = id;
    quietSlots_[slot] = false;
    noSuccessorIds_.erase(id);
    keptLogs_.StartOver(id);
    const QueuedTask* queued = queue_.Find(id);
    const TaskProgressRecord record =
        queued != nullptr ? queued->Record() : ReadProgress(ProgressFilePath(ctx_.AppDir(), id));
    if (!slots_[slot]->Start(id, record)) {
        AfterAbandonedStart(slot, id);
    }
}

// A start that ended at once (bad address, missing progress file) reports no
// end of its own: the row would show running forever and the queue would
// wait for an end that never comes. It is handled like a task end here.
void TaskScheduler::AfterAbandonedStart(int slot, std::string id) {
    slots_[slot]->Task().Active = false;
    slotIds_[slot].clear();
    // The start may have written the task's state (a bad address fails it).
    queue_.Refresh(id);
    const QueuedTask* task = queue_.Find(id);
    TaskState state = task != nullptr ? task->State : TaskState::Stopped;
    if (state == TaskState::Running) {
        state = TaskState::Stopped;
    }
    AfterTaskStopped(id, state);
    host_.OnTaskEnded(id, state);
    if (!ctx_.Closing) {
        StartNextWaiting();
    }
}

void TaskScheduler::AfterTaskStopped(const std::string& id, TaskState state) {
    WriteState(id, state);
    queue_.SetSpeed(id, 0);
}

void TaskScheduler::WriteState(const std::string& id, TaskState state) {
    if (!queue_.SetState(id, state)) {
        host_.ReportError("cannot write the state of task " + id);
    }
}

void TaskScheduler::StopTask(const std::string& id, bool noSuccessor) {
    const QueuedTask* task = queue_.Find(id);
    if (task != nullptr && task->State == TaskState::Waiting) {
        WriteState(id, TaskState::Stopped);
        return;
    }
    int slot = SlotOfTask(id);
    if (slot >= 0) {
        StopSlot(slot, noSuccessor);
    }
}

void TaskScheduler::StopForDelete(int slot, const std::string& id) {
    pendingDeletes_.insert(id);
    StopSlot(slot, false);
}

// Only asks the task to stop; the row changes when the task reports its end.
void TaskScheduler::StopSlot(int slot, bool noSuccessor) {
    if (!IsSlotBusy(slot)) {
        return;
    }
    if (noSuccessor) {
        noSuccessorIds_.insert(slotIds_[slot]);
    }
    slots_[slot]->Stop(noSuccessor);
}

bool TaskScheduler::StartNextWaiting() {
    for (const QueuedTask& task : queue_.Tasks(TaskList::Downloading)) {
        if (task.State == TaskState::Waiting) {
            const std::string id = task.Id;
            StartTask(id);
            return true;
        }
    }
    return false;
}

void TaskScheduler::FillFreeSlots() {
    for (int i = 0; i < kTaskSlots && !ctx_.Closing && FreeSlotCount() > 0; ++i) {
        if (!StartNextWaiting()) {
            break;
        }
    }
}

// Nothing runs or waits before the user (or DownloadAtStart) starts it again.
void TaskScheduler::StopLeftovers() {
    std::vector<std::string> ids;
    for (const QueuedTask& task : queue_.Tasks(TaskList::Downloading)) {
        if (task.State == TaskState::Running || task.State == TaskState::Waiting) {
            ids.push_back(task.Id);
        }
    }
    // One batch: after a crash with thousands left running or waiting, one
    // flush and one notice instead of one per task.
    queue_.BeginBatch();
    for (const std::string& id : ids) {
        WriteState(id, TaskState::Stopped);
    }
    if (!queue_.EndBatch()) {
        host_.ReportError("cannot write the task states");
    }
}

bool TaskScheduler::HasActiveTasks() const {
    for (int i = 0; i < kTaskSlots; ++i) {
        if (IsSlotBusy(i)) {
            return true;
        }
    }
    for (const QueuedTask& task : queue_.Tasks(TaskList::Downloading)) {
        if (task.State == TaskState::Waiting) {
            return true;
        }
    }
    return false;
}

int TaskScheduler::RunningWorkerThreads() const {
    std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
    return ctx_.RunningThreads;
}

// Completed: out of Downloading.lst into Completed.lst, State 1. An id that
// is no longer in Downloading.lst (deleted while it finished) stays where
// the user put it, so no id ever stands in two lists. The engine has just
// flushed the completed record; the two list files are flushed on the sync
// thread, so that a get does not wait for them one after the other.
void TaskScheduler::MoveToCompleted(const std::string& id) {
    if (queue_.ListOf(id) != TaskList::Downloading) {
        return;
    }
    if (!queue_.SetState(id, TaskState::Completed) ||
        !queue_.MoveToList(id, TaskList::Completed, Durability::Deferred)) {
        host_.ReportError("cannot move task " + id + " to Completed.lst");
    }
    sync_.Add(ListFilePath(ctx_.AppDir(), TaskList::Completed));
    sync_.Add(ListFilePath(ctx_.AppDir(), TaskList::Downloading));
}

void TaskScheduler::OnTaskEnded(const TaskDescriptor& d) {
    std::unique_lock<std::mutex> lock(ctx_.ListLock);
    const bool noSuccessor = noSuccessorIds_.erase(d.TaskId) > 0;
    queue_.Adopt(d.TaskId, d.FinalRecord ? &*d.FinalRecord : nullptr);
    ctx_.targets.Release(d.TaskId);
    for (int i = 0; i < kTaskSlots; ++i) {
        if (slotIds_[i] == d.TaskId) {
            slotIds_[i].clear();
        }
    }
    if (pendingDeletes_.count(d.TaskId) > 0) {
        FinishDeletedTask(d);
    } else if (d.State == TaskState::Completed) {
        queue_.SetCompleted(d.TaskId, d.FileSize, d.Downloaded);
        MoveToCompleted(d.TaskId);
        listener_.OnTaskCompleted();
    } else if (d.State == TaskState::Stopped || d.State == TaskState::Failed) {
        if (d.State == TaskState::Failed) {
            keptLogs_.StoreWithTask(queue_, ctx_.AppDir(), d.TaskId);
        }
        AfterTaskStopped(d.TaskId, d.State);
    }
    if (d.State == TaskState::Completed) {
        host_.CompletionAlert(d.LocalFileName);
    }
    // A completed task frees its slot for the queue like any other end; only
    // Stop All and shutdown (and a failure the task itself marked) start
    // nothing in its place.
    const bool taskSaysNone = d.NoSuccessor && d.State != TaskState::Completed;
    if (!ctx_.Closing && !noSuccessor && !taskSaysNone) {
        StartNextWaiting();
    }
    lock.unlock();
    host_.OnTaskEnded(d.TaskId, d.State);
}

void TaskScheduler::FinishDeletedTask(const TaskDescriptor& d) {
    pendingDeletes_.erase(d.TaskId);
    // The ended task rewrote its progress file; the delete's state stands.
    if (FileExists(ProgressFilePath(ctx_.AppDir(), d.TaskId))) {
        WriteState(d.TaskId, TaskState::Stopped);
    }
    queue_.SetSpeed(d.TaskId, 0);
    // Only our own temporary file goes: in a shared folder the name may be
    // another user's file or a link planted there.
    if (!RemoveOwnFile(d.TempPath())) {
        host_.ReportError("cannot remove " + d.TempPath());
    }
}

void TaskScheduler::OnSpeedTick() {
    for (int i = 0; i < kTaskSlots; ++i) {
        const bool quiet = !slotIds_[i].empty() && !IsSlotBusy(i);
        if (quiet && quietSlots_[i]) {
            quietSlots_[i] = false;
            std::lock_guard<std::mutex> lock(ctx_.ListLock);
            AfterAbandonedStart(i, slotIds_[i]);
        } else {
            quietSlots_[i] = quiet;
        }
    }
}

void TaskScheduler::StartThreads() {
    threadsStopping_ = false;
    for (int i = 0; i < kTaskSlots; ++i) {
        slotThreads_[i] = std::make_unique<PeriodicThread>();
        slotThreads_[i]->Start(std::chrono::milliseconds(1000), [this, i] { SlotStep(i); });
    }
    samplerThread_.Start(std::chrono::milliseconds(1000), [this] { SamplerStep(); });
    keepAwakeThread_.Start(std::chrono::seconds(20), [this] {
        if (!ctx_.Closing) {
            host_.KeepAwake();
        }
    });
}

void TaskScheduler::SlotStep(int slot) {
    if (threadsStopping_) {
        return;
    }
    if (slots_[slot]->Task().Active) {
        slots_[slot]->Tick();
    }
}

void TaskScheduler::SamplerStep() {
    if (threadsStopping_) {
        return;
    }
    engine_.SampleSpeed(ctx_, &owner_);
}

// The threads may be inside a call to the window thread right now: they are
// stopped from a helper thread while this (window) thread keeps pumping.
void TaskScheduler::StopThreads() {
    threadsStopping_ = true;
    std::atomic<bool> done{false};
    std::thread stopper([this, &done] {
        for (auto& thread : slotThreads_) {
            if (thread) {
                thread->Stop();
            }
        }
        samplerThread_.Stop();
        keepAwakeThread_.Stop();
        done = true;
        loop_.Post([] {});  // wakes the pump below
    });
    while (!done) {
        loop_.WaitAndPump(50);
    }
    stopper.join();
    for (auto& thread : slotThreads_) {
        thread.reset();
    }
}

void TaskScheduler::Shutdown() {
    for (int i = 0; i < kTaskSlots; ++i) {
        StopSlot(i, true);
    }
    // Workers may be blocked in a call to this thread: keep serving them.
    auto anyBusy = [this] {
        for (int i = 0; i < kTaskSlots; ++i) {
            if (IsSlotBusy(i)) {
                return true;
            }
        }
        return false;
    };
    while (RunningWorkerThreads() > 0 || anyBusy()) {
        loop_.WaitAndPump(10);
    }
    // The last worker of a task still logs after its end was reported.
    for (auto& slot : slots_) {
        while (!slot->Idle()) {
            loop_.WaitAndPump(10);
        }
    }
    StopThreads();
}

}  // namespace vardane
