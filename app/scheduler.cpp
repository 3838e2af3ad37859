// Which tasks run: the start, stop and successor rules, and the handlers of
// the notifications that running tasks send to the window.
#include "app/main_frame.h"

#include <algorithm>

#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

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

void CMainFrame::StartTaskByRow(int row) {
    if (row >= 0 && row < static_cast<int>(rows_.size())) {
        StartRule(rows_[row].Id(), row);
    }
}

void CMainFrame::StartTaskById(const std::string& id) {
    StartRule(id, -1);
}

void CMainFrame::SetRowIcon(int row, int icon) {
    if (row >= 0 && row < static_cast<int>(rows_.size())) {
        rows_[row].Icon = icon;
        host_.OnRowChanged(row);
    }
}

void CMainFrame::StartRule(const std::string& id, int row) {
    // A task without progress file does not exist: writing its state would
    // make a file of defaults out of nothing.
    if (SlotOfTask(id) >= 0 || !FileExists(ProgressFilePath(ctx_.AppDir(), id))) {
        return;
    }
    if (view_ == TaskView::Downloading && row < 0) {
        row = FindRow(id);
    }
    const bool showRow = view_ == TaskView::Downloading;
    int slot = -1;
    if (FreeSlotCount() >= 1) {
        for (int i = 0; i < kTaskSlots && slot < 0; ++i) {
            if (!IsSlotBusy(i)) {
                slot = i;
            }
        }
    }
    if (slot < 0) {
        SetTaskState(ctx_.AppDir(), id, stateQueued);
        if (showRow) {
            SetRowIcon(row, imgTaskWaiting);
        }
        return;
    }
    SetTaskState(ctx_.AppDir(), id, stateRunning);
    // Set once per slot: a worker of the slot's previous task may still be
    // reading it on its way out.
    if (slots_[slot]->Task().hMainWnd != this) {
        slots_[slot]->Task().hMainWnd = this;
    }
    slotIds_[slot] = id;
    noSuccessorIds_.erase(id);
    if (showRow) {
        SetRowIcon(row, imgTaskRunning);
    }
    if (!slots_[slot]->Start(id)) {
        AfterAbandonedStart(slot, id);
    }
}

// A start that ended at once (bad address, missing progress file) reports no
// end of its own: the row would show running forever and the queue would
// wait for an end that never comes. It is handled like a task end here.
void CMainFrame::AfterAbandonedStart(int slot, const std::string& id) {
    slots_[slot]->Task().bActive = false;
    int state = GetTaskState(ctx_.AppDir(), id);
    if (state == stateRunning) {
        state = stateStopped;
        SetTaskState(ctx_.AppDir(), id, state);
    }
    if (view_ == TaskView::Downloading) {
        int row = FindRow(id);
        if (row >= 0) {
            rows_[row].Icon = state == stateError ? imgTaskFailed : imgTaskStopped;
            rows_[row].Columns[4] = TaskSpeedText(0);
            host_.OnRowChanged(row);
        }
    }
    host_.OnTaskEnded(id, state);
    if (!ctx_.bClosing) {
        StartNextWaiting();
    }
}

void CMainFrame::StopTaskByRow(int row, bool all) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) {
        return;
    }
    const std::string id = rows_[row].Id();
    if (rows_[row].Icon == imgTaskWaiting) {
        SetRowIcon(row, imgTaskStopped);
        SetTaskState(ctx_.AppDir(), id, stateStopped);
        return;
    }
    int slot = SlotOfTask(id);
    if (slot >= 0) {
        StopSlot(slot, all);
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
    if (view_ == TaskView::Downloading) {
        for (int row = 0; row < static_cast<int>(rows_.size()); ++row) {
            if (rows_[row].Icon == imgTaskWaiting) {
                StartRule(rows_[row].Id(), row);
                return true;
            }
        }
        // A category view shows only part of the queue; the tasks waiting
        // outside it must not wait forever.
        if (CategoryFilter().empty()) {
            return false;
        }
    }
    const std::string list = ListFilePath(ctx_.AppDir(), TaskList::Downloading);
    for (const std::string& id : ReadListIds(list)) {
        if (GetTaskState(ctx_.AppDir(), id) == stateQueued) {
            StartRule(id, -1);
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
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    const std::string list = ListFilePath(ctx_.AppDir(), TaskList::Downloading);
    for (const std::string& id : ReadListIds(list)) {
        if (GetTaskState(ctx_.AppDir(), id) == stateQueued) {
            return true;
        }
    }
    return false;
}

// Completed: out of Downloading.lst into Completed.lst, State 1. An id that
// is no longer in Downloading.lst (deleted while it finished) stays where
// the user put it, so no id ever stands in two lists.
void CMainFrame::MoveToCompleted(const std::string& id) {
    const std::string downloading = ListFilePath(ctx_.AppDir(), TaskList::Downloading);
    std::vector<std::string> ids = ReadListIds(downloading);
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
        return;
    }
    RemoveListLine(downloading, id);
    AppendListLine(ListFilePath(ctx_.AppDir(), TaskList::Completed), id);
    SetTaskState(ctx_.AppDir(), id, stateCompleted);
}

void CMainFrame::HandleTaskState(const TaskDescriptor& d) {
    std::unique_lock<std::mutex> lock(ctx_.ListLock);
    const bool noSuccessor = noSuccessorIds_.erase(d.TaskId) > 0;
    if (pendingDeletes_.count(d.TaskId) > 0) {
        FinishDeletedTask(d);
    } else if (view_ == TaskView::Downloading) {
        int row = FindRow(d.TaskId);
        if (d.iState == stateCompleted) {
            if (row >= 0) {
                DeleteRow(row);
            }
            MoveToCompleted(d.TaskId);
            ClearLog();
        } else if (d.iState == stateStopped || d.iState == stateError) {
            if (row >= 0) {
                rows_[row].Icon = d.iState == stateStopped ? imgTaskStopped : imgTaskFailed;
                rows_[row].Columns[4] = TaskSpeedText(0);
                host_.OnRowChanged(row);
            }
        }
    } else if (d.iState == stateCompleted) {
        MoveToCompleted(d.TaskId);
        if (view_ == TaskView::Completed) {
            AddRow(d.TaskId);
        }
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
    std::string path = ProgressFilePath(ctx_.AppDir(), d.TaskId);
    if (FileExists(path)) {
        SetTaskState(ctx_.AppDir(), d.TaskId, stateStopped);
    }
    RemoveFile(d.TempPath());
}

void CMainFrame::HandleTaskProgress(const TaskDescriptor& d) {
    if (view_ != TaskView::Downloading) {
        return;
    }
    int row = FindRow(d.TaskId);
    if (row < 0) {
        return;
    }
    TaskRow& r = rows_[row];
    r.Columns[0] = d.LocalFileName;
    r.Columns[1] = PercentText(d.iFileSize, d.iBestPercent);
    r.Columns[2] = SizeText(d.iFileSize);
    r.Columns[3] = IntToText(d.iDownloaded);
    r.Columns[4] = TaskSpeedText(d.fAvgSpeedKB);
    host_.OnRowChanged(row);
}

void CMainFrame::HandleTaskLog(const TaskLogEntry& e) {
    host_.OnTaskLog(e);
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
    }
    logList_.push_back(LogLine{e.Kind, e.Text});
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
