// Which tasks run: the start, stop and successor rules, and the handlers of
// the notifications that running tasks send to the window.
#include "app/main_frame.h"

#include <algorithm>

#include "platform/display_text.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

namespace {

// Ids copied out first: starting or stopping may change the list walked.
std::vector<std::string> IdsOf(const std::vector<QueuedTask>& tasks) {
    std::vector<std::string> ids;
    for (const QueuedTask& task : tasks) {
        ids.push_back(task.Id);
    }
    return ids;
}

}  // namespace

bool CMainFrame::IsSlotBusy(int slot) const {
    return slots_[slot]->Task().bActive.load();
}

int CMainFrame::SlotOfTask(const std::string& id) const {
    for (int i = 0; i < kTaskSlots; ++i) {
        if (IsSlotBusy(i) && slotIds_[i] == id) {
            return i;
        }
    }
    return -1;
}

int CMainFrame::FreeSlotCount() const {
    int busy = 0;
    for (int i = 0; i < kTaskSlots; ++i) {
        busy += IsSlotBusy(i) ? 1 : 0;
    }
    // There are only four slots: a larger MaxTasks behaves like 4.
    return std::min(ctx_.settings.MaxTasks, kTaskSlots) - busy;
}

void CMainFrame::StartTaskById(const std::string& id) {
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
        WriteState(id, TaskStatus::Waiting);
        return;
    }
    WriteState(id, TaskStatus::Running);
    // Set once per slot: a worker of the slot's previous task may still be
    // reading it on its way out.
    if (slots_[slot]->Task().owner != this) {
        slots_[slot]->Task().owner = this;
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
void CMainFrame::AfterAbandonedStart(int slot, std::string id) {
    slots_[slot]->Task().bActive = false;
    slotIds_[slot].clear();
    // The start may have written the task's state (a bad address fails it).
    queue_.Refresh(id);
    const QueuedTask* task = queue_.Find(id);
    int state = task != nullptr ? StoredState(task->State) : stateStopped;
    if (state == stateRunning) {
        state = stateStopped;
    }
    AfterTaskStopped(id, StateFromStored(state));
    host_.OnTaskEnded(id, state);
    if (!ctx_.bClosing) {
        StartNextWaiting();
    }
}

void CMainFrame::AfterTaskStopped(const std::string& id, TaskStatus state) {
    WriteState(id, state);
    queue_.SetSpeed(id, 0);
}

void CMainFrame::WriteState(const std::string& id, TaskStatus state) {
    if (!queue_.SetState(id, state)) {
        host_.ReportError("cannot write the state of task " + id);
    }
}

void CMainFrame::StopTaskById(const std::string& id, bool noSuccessor) {
    const QueuedTask* task = queue_.Find(id);
    if (task != nullptr && task->State == TaskStatus::Waiting) {
        WriteState(id, TaskStatus::Stopped);
        return;
    }
    int slot = SlotOfTask(id);
    if (slot >= 0) {
        StopSlot(slot, noSuccessor);
    }
}

void CMainFrame::StartAll() {
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    StartOrStop(IdsOf(queue_.Tasks(TaskList::Downloading)), true, true);
}

void CMainFrame::StopAll() {
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    StartOrStop(IdsOf(queue_.Tasks(TaskList::Downloading)), false, true);
}

// In one batch: thousands of waiting or stopped states cost one flush and
// one notice.
void CMainFrame::StartOrStop(const std::vector<std::string>& ids, bool start, bool all) {
    queue_.BeginBatch();
    for (const std::string& id : ids) {
        if (start) {
            StartTaskById(id);
        } else {
            StopTaskById(id, all);
        }
    }
    if (!queue_.EndBatch()) {
        host_.ReportError("cannot write the task states");
    }
}

// Only asks the task to stop; the row changes when the task reports its end.
void CMainFrame::StopSlot(int slot, bool noSuccessor) {
    if (!IsSlotBusy(slot)) {
        return;
    }
    if (noSuccessor) {
        noSuccessorIds_.insert(slotIds_[slot]);
    }
    slots_[slot]->Stop(noSuccessor);
}

bool CMainFrame::StartNextWaiting() {
    for (const QueuedTask& task : queue_.Tasks(TaskList::Downloading)) {
        if (task.State == TaskStatus::Waiting) {
            const std::string id = task.Id;
            StartTaskById(id);
            return true;
        }
    }
    return false;
}

bool CMainFrame::HasActiveTasks() {
    for (int i = 0; i < kTaskSlots; ++i) {
        if (IsSlotBusy(i)) {
            return true;
        }
    }
    for (const QueuedTask& task : queue_.Tasks(TaskList::Downloading)) {
        if (task.State == TaskStatus::Waiting) {
            return true;
        }
    }
    return false;
}

// Completed: out of Downloading.lst into Completed.lst, State 1. An id that
// is no longer in Downloading.lst (deleted while it finished) stays where
// the user put it, so no id ever stands in two lists. The engine has just
// flushed the completed record; the two list files are flushed on the sync
// thread, so that a get does not wait for them one after the other.
void CMainFrame::MoveToCompleted(const std::string& id) {
    if (queue_.ListOf(id) != TaskList::Downloading) {
        return;
    }
    if (!queue_.SetState(id, TaskStatus::Completed) ||
        !queue_.MoveToList(id, TaskList::Completed, Durability::Deferred)) {
        host_.ReportError("cannot move task " + id + " to Completed.lst");
    }
    recordSync_.Add(ListFilePath(ctx_.AppDir(), TaskList::Completed));
    recordSync_.Add(ListFilePath(ctx_.AppDir(), TaskList::Downloading));
}

void CMainFrame::HandleTaskState(const TaskDescriptor& d) {
    std::unique_lock<std::mutex> lock(ctx_.ListLock);
    const bool noSuccessor = noSuccessorIds_.erase(d.TaskId) > 0;
    queue_.Adopt(d.TaskId, d.FinalRecord ? &*d.FinalRecord : nullptr);
    for (int i = 0; i < kTaskSlots; ++i) {
        if (slotIds_[i] == d.TaskId) {
            slotIds_[i].clear();
        }
    }
    if (pendingDeletes_.count(d.TaskId) > 0) {
        FinishDeletedTask(d);
    } else if (d.iState == stateCompleted) {
        queue_.SetCompleted(d.TaskId, d.iFileSize, d.iDownloaded);
        MoveToCompleted(d.TaskId);
        if (view_ == TaskView::Downloading) {
            ClearLog();
        }
    } else if (d.iState == stateStopped || d.iState == stateError) {
        if (d.iState == stateError) {
            keptLogs_.StoreWithTask(queue_, ctx_.AppDir(), d.TaskId);
        }
        AfterTaskStopped(d.TaskId, StateFromStored(d.iState));
    }
    if (d.iState == stateCompleted) {
        host_.CompletionAlert(d.LocalFileName);
        RefreshFileCount();
    }
    // A completed task frees its slot for the queue like any other end; only
    // Stop All and shutdown (and a failure the task itself marked) start
    // nothing in its place.
    const bool taskSaysNone = d.bNoSuccessor && d.iState != stateCompleted;
    if (!ctx_.bClosing && !noSuccessor && !taskSaysNone) {
        StartNextWaiting();
    }
    lock.unlock();
    host_.OnTaskEnded(d.TaskId, d.iState);
}

void CMainFrame::FinishDeletedTask(const TaskDescriptor& d) {
    pendingDeletes_.erase(d.TaskId);
    // The ended task rewrote its progress file; the delete's state stands.
    if (FileExists(ProgressFilePath(ctx_.AppDir(), d.TaskId))) {
        WriteState(d.TaskId, TaskStatus::Stopped);
    }
    queue_.SetSpeed(d.TaskId, 0);
    // Only our own temporary file goes: in a shared folder the name may be
    // another user's file or a link planted there.
    if (!RemoveOwnFile(d.TempPath())) {
        host_.ReportError("cannot remove " + d.TempPath());
    }
}

void CMainFrame::HandleTaskProgress(const TaskDescriptor& d) {
    queue_.SetProgress(d.TaskId, d.LocalFileName, d.iFileSize, d.iDownloaded, d.iBestPercent,
                       d.fAvgSpeedKB);
}

void CMainFrame::HandleTaskLog(const TaskLogEntry& e) {
    host_.OnTaskLog(e);
    keptLogs_.Add(e);
    if (view_ != TaskView::Downloading || logTree_.SelectedThread < 1 ||
        e.ThreadNo != logTree_.SelectedThread - 1) {
        return;
    }
    bool selected = false;
    for (const TaskRow& row : rows_) {
        selected = selected || (row.Selected && row.Id() == e.TaskId);
    }
    if (!selected) {
        return;
    }
    if (logList_.size() >= kMaxLogLines) {
        logList_.clear();
        ++logListGeneration_;
    }
    logList_.push_back(LogLine{e.Kind, DisplayText(e.Text)});
    Notify(partLogList);
}

void CMainFrame::HandleTaskThreads(const TaskDescriptor& d) {
    if (SelectedTaskId() == d.TaskId) {
        FillLogTree(d.TaskId);
    }
}

void CMainFrame::HandleSpeedTick() {
    double average = 0;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        average = ctx_.fAvgSpeedKB;
    }
    totalSpeedText_ = vardane::TotalSpeedText(average);
    Notify(partTotalSpeed);
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

void CMainFrame::SetSpeedLimitChecked(bool checked) {
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        ctx_.settings.SpeedLimit = checked;
        ctx_.iSpeedLimitKB = checked ? sliderValue_ : 1024;
    }
    speedLimitChecked_ = checked;
    speedLimitCaption_ = IntToText(sliderValue_) + " KB/s";
    Notify(partSpeedLimit);
}

void CMainFrame::OnSpeedLimitValue(int value) {
    if (value <= 0) {
        return;
    }
    sliderValue_ = std::min(value, 1024);
    bool taken = false;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        if (ctx_.settings.SpeedLimit && value > 0) {
            ctx_.iSpeedLimitKB = sliderValue_;
            taken = true;
        }
    }
    if (taken) {
        speedLimitCaption_ = IntToText(sliderValue_) + " KB/s";
        Notify(partSpeedLimit);
    }
}

}  // namespace vardane
