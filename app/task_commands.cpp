// The task commands of the menus, toolbar and pop-up menus.
#include <algorithm>
#include <set>

#include "app/command_ids.h"
#include "app/main_frame.h"
#include "dialogs/category_tree.h"
#include "dialogs/message_box.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

void CMainFrame::OnCommand(int id) {
    switch (id) {
        case ID_NEW:
        case ID_TB_NEW:
            host_.OpenNewTaskDialog("");
            break;
        case ID_IMPORT:
            Import();
            break;
        case ID_SITE_EXPLORER:
            host_.OpenSiteExplorer();
            break;
        case ID_SETTINGS:
            host_.OpenSettings();
            break;
        case ID_EXIT:
            host_.CloseRequested();
            break;
        case ID_SELECT_ALL:
            SelectAll();
            break;
        case ID_START:
        case ID_TB_START:
            TaskCommand(TaskCommandKind::Start, false);
            break;
        case ID_STOP:
        case ID_TB_STOP:
            TaskCommand(TaskCommandKind::Stop, false);
            break;
        case ID_DELETE:
        case ID_TB_DELETE:
            TaskCommand(TaskCommandKind::Delete, false);
            break;
        case ID_START_ALL:
            TaskCommand(TaskCommandKind::Start, true);
            break;
        case ID_STOP_ALL:
            TaskCommand(TaskCommandKind::Stop, true);
            break;
        case ID_DELETE_ALL:
            TaskCommand(TaskCommandKind::Delete, true);
            break;
        case ID_REDOWNLOAD:
            DownloadAgain();
            break;
        case ID_PROPERTIES:
        case ID_TB_PROPERTIES: {
            std::vector<std::string> selected = SelectedIds();
            if (!selected.empty()) {
                host_.OpenTaskProperties(selected[0]);
            }
            break;
        }
        case ID_MOVE_DOWN:
            MoveTasks(SelectedIds(), MoveKind::Down, CategoryFilter());
            break;
        case ID_MOVE_UP:
            MoveTasks(SelectedIds(), MoveKind::Up, CategoryFilter());
            break;
        case ID_OPEN_FILE:
            OpenFile();
            break;
        case ID_OPEN_FOLDER:
            OpenFolder();
            break;
        case ID_SPEEDLIMIT_CHECK:
            SetSpeedLimitChecked(!speedLimitChecked_);
            break;
        case ID_FOLDER_BUTTON:
            ToggleFolderTree();
            break;
        default:
            break;
    }
}

bool CMainFrame::Confirm(const char* key, bool defaultNo) {
    return ShowMessage(questions_, ctx_.lang, ctx_.lang.GetLangText(key), QuestionIcon::Question,
                       QuestionButtons::YesNo,
                       defaultNo ? QuestionAnswer::No : QuestionAnswer::Yes) == QuestionAnswer::Yes;
}

std::vector<std::string> CMainFrame::IdsOfRows(bool all) const {
    std::vector<std::string> ids;
    for (const TaskRow& row : rows_) {
        if (all || row.Selected) {
            ids.push_back(row.Id());
        }
    }
    return ids;
}

void CMainFrame::TaskCommand(TaskCommandKind kind, bool all) {
    if (rows_.empty()) {
        return;
    }
    if (kind == TaskCommandKind::Delete) {
        (void)DeleteTasks(IdsOfRows(all));
        return;
    }
    if (view_ != TaskView::Downloading) {
        return;
    }
    host_.SetWaitCursor(true);
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        StartOrStop(IdsOfRows(all), kind == TaskCommandKind::Start, all);
    }
    host_.SetWaitCursor(false);
}

bool CMainFrame::DeleteTasks(const std::vector<std::string>& ids) {
    if (ids.empty()) {
        return true;
    }
    if (!Confirm("Msg_DeleteConfirm", true)) {
        return false;
    }
    host_.SetWaitCursor(true);
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        DeleteMany(ids);
    }
    ClearLog();
    RefreshFileCount();
    host_.SetWaitCursor(false);
    return true;
}

// One batch for the whole delete: each list file is written once and the
// views hear of it once, however many tasks go. Ids go last to first, as a
// walk of the rows from the bottom collects them.
void CMainFrame::DeleteMany(const std::vector<std::string>& ids) {
    std::vector<std::string> toDeleted;
    std::vector<std::string> gone;
    std::vector<std::string> temps;
    queue_.BeginBatch();
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        const std::string& id = *it;
        const QueuedTask* task = queue_.Find(id);
        std::optional<TaskList> list = queue_.ListOf(id);
        // A line whose record could not be read goes as its line only: a
        // record that cannot be read is never rewritten from defaults.
        const bool unreadable = task == nullptr;
        if (unreadable) {
            list = queue_.UnreadableListOf(id);
        }
        if (!list) {
            continue;
        }
        const std::string progress = ProgressFilePath(ctx_.AppDir(), id);
        bool running = false;
        const int slot = SlotOfTask(id);
        if (*list == TaskList::Downloading && slot >= 0) {
            // The next waiting task may start once this one has ended; its
            // temporary file goes then, as the workers may still write it.
            running = true;
            pendingDeletes_.insert(id);
            StopSlot(slot, false);
        }
        // A completed task has no temporary file: its name may be another
        // task's download under way.
        const bool completed = task != nullptr && task->State == TaskState::Completed;
        // The queue knows the target: reading 10,000 progress files for it
        // was most of a bulk delete.
        if (!running && !unreadable && !completed && !task->Name.empty()) {
            temps.push_back(task->Dir + task->Name + ".vd~");
        }
        if (*list == TaskList::Deleted) {
            gone.push_back(id);
            continue;
        }
        // In the file and in the queue: a waiting task must not stay
        // "waiting" in the deleted list. A running one is stopped again in
        // FinishDeletedTask, once its end has rewritten its record.
        if (!unreadable && task->State != TaskState::Stopped && FileExists(progress)) {
            WriteState(id, TaskState::Stopped);
        }
        toDeleted.push_back(id);
    }
    const bool moved = queue_.MoveManyToList(toDeleted, TaskList::Deleted);
    const bool removed = queue_.RemoveMany(gone);
    if (!queue_.EndBatch() || !moved || !removed) {
        // The lists were read again: what still names a task keeps it.
        host_.ReportError("cannot write the task lists");
    }
    // Files go once no list names their task any more.
    for (const std::string& id : gone) {
        const std::string progress = ProgressFilePath(ctx_.AppDir(), id);
        if (!queue_.Find(id) && !queue_.UnreadableListOf(id) && PathExists(progress) &&
            !RemoveFile(progress)) {
            host_.ReportError("cannot remove " + progress);
        }
    }
    // Only our own: another user's file or a planted link of that name stays.
    for (const std::string& temp : temps) {
        if (!RemoveOwnFile(temp)) {
            host_.ReportError("cannot remove " + temp);
        }
    }
}

namespace {

// One step of the shown tasks' order: each moving task passes one
// neighbour that does not move (towards the top for up), so that a block
// moves as a whole and a task at the edge, or behind one that cannot move,
// stays.
void StepOrder(std::vector<std::string>& shown, const std::set<std::string>& moving, bool up) {
    const int count = static_cast<int>(shown.size());
    if (up) {
        for (int i = 1; i < count; ++i) {
            if (moving.count(shown[i]) > 0 && moving.count(shown[i - 1]) == 0) {
                std::swap(shown[i], shown[i - 1]);
            }
        }
    } else {
        for (int i = count - 2; i >= 0; --i) {
            if (moving.count(shown[i]) > 0 && moving.count(shown[i + 1]) == 0) {
                std::swap(shown[i], shown[i + 1]);
            }
        }
    }
}

}  // namespace

// Each task moves one place (or to an end); see StepOrder. Neighbours are
// the tasks of the category when one is given, as the category's view shows
// them; the new order is written once per list.
void CMainFrame::MoveTasks(const std::vector<std::string>& ids, MoveKind kind,
                           const std::string& category) {
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    std::set<std::string> moving(ids.begin(), ids.end());
    for (TaskList list : {TaskList::Downloading, TaskList::Completed, TaskList::Deleted}) {
        std::vector<std::string> order;
        std::vector<size_t> places;  // positions of the shown tasks in order
        std::vector<std::string> shown;
        bool any = false;
        for (const QueuedTask& task : queue_.Tasks(list)) {
            order.push_back(task.Id);
            if (category.empty() || EqualsNoCase(task.Category, category)) {
                places.push_back(order.size() - 1);
                shown.push_back(task.Id);
                any = any || moving.count(task.Id) > 0;
            }
        }
        if (!any) {
            continue;
        }
        if (kind == MoveKind::Top || kind == MoveKind::Bottom) {
            // As many single steps as it takes: a stable partition.
            std::stable_partition(shown.begin(), shown.end(), [&](const std::string& id) {
                return (moving.count(id) > 0) == (kind == MoveKind::Top);
            });
        } else {
            StepOrder(shown, moving, kind == MoveKind::Up);
        }
        for (size_t i = 0; i < places.size(); ++i) {
            order[places[i]] = shown[i];
        }
        if (!queue_.SetOrder(list, order)) {
            host_.ReportError("cannot write the task order");
        }
    }
}

void CMainFrame::DownloadAgain() {
    if (view_ == TaskView::Downloading || rows_.empty()) {
        return;
    }
    std::vector<std::string> ids = SelectedIds();
    if (!ids.empty() && RedownloadTasks(ids)) {
        SelectView(TaskView::Downloading);
    }
}

bool CMainFrame::RedownloadTasks(const std::vector<std::string>& ids) {
    if (ids.empty() || !Confirm("Msg_ReDownloadConfirm", false)) {
        return false;
    }
    host_.SetWaitCursor(true);
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        std::vector<std::string> old;
        std::vector<std::string> fresh;
        for (const std::string& id : ids) {
            if (queue_.ListOf(id).value_or(TaskList::Downloading) == TaskList::Downloading) {
                continue;
            }
            TaskProgressRecord record = ReadProgress(ProgressFilePath(ctx_.AppDir(), id));
            // A fresh record: Folder 0, the Download category, no progress.
            TaskProgressRecord task;
            task.BaseURL = record.BaseURL;
            task.LocalDir = record.LocalDir;
            task.LocalFileName = record.LocalFileName;
            task.ProxyHTTP = record.ProxyHTTP;
            task.ProxyFTP = record.ProxyFTP;
            task.ThreadCount = record.ThreadCount;
            task.State = IntToText(StoredState(TaskState::Stopped));
            const std::string newId = MakeTaskId(ctx_.AppDir());
            // Flushed all at once below, before any list names them.
            if (!WriteProgress(task, ProgressFilePath(ctx_.AppDir(), newId),
                               Durability::Deferred)) {
                host_.ReportError("cannot write task " + newId);
                continue;
            }
            old.push_back(id);
            fresh.push_back(newId);
        }
        if (!fresh.empty() && !SyncFileSystem(ctx_.AppDir() + "Tasks/")) {
            host_.ReportError("cannot flush the progress files");
        }
        queue_.BeginBatch();
        const bool removed = queue_.RemoveMany(old);
        const bool added = queue_.AppendMany(TaskList::Downloading, fresh);
        if (ctx_.settings.DownloadImmediately) {
            for (const std::string& id : fresh) {
                StartTaskById(id);
            }
        }
        if (!queue_.EndBatch() || !removed || !added) {
            host_.ReportError("cannot write the task lists");
        }
        for (const std::string& id : old) {
            if (!queue_.Find(id)) {
                RemoveFile(ProgressFilePath(ctx_.AppDir(), id));
            }
        }
    }
    host_.SetWaitCursor(false);
    return true;
}

// Path of the first selected row's target (its folder for folderOnly); ""
// when nothing is selected.
std::string CMainFrame::FirstSelectedLocalPath(bool folderOnly) {
    std::vector<std::string> selected = SelectedIds();
    if (selected.empty()) {
        return "";
    }
    TaskProgressRecord record = ReadProgress(ProgressFilePath(ctx_.AppDir(), selected[0]));
    return folderOnly ? record.LocalDir : record.LocalDir + record.LocalFileName;
}

void CMainFrame::OpenFile() {
    opener_.Open(FirstSelectedLocalPath(false));
}

void CMainFrame::OpenFolder() {
    opener_.Open(FirstSelectedLocalPath(true));
}

void CMainFrame::OnNewTaskAdded(const std::string& id, bool startNow) {
    SelectView(TaskView::Downloading);
    TaskAdded(id, startNow);
}

void CMainFrame::TaskAdded(const std::string& id, bool startNow) {
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        // The list file is flushed with the progress file below.
        if (!queue_.Append(TaskList::Downloading, id, true, Durability::Deferred)) {
            host_.ReportError("task " + id + " was not added");
            return;
        }
    }
    if (startNow) {
        StartTaskById(id);
    }
    recordSync_.Add(ProgressFilePath(ctx_.AppDir(), id));
    recordSync_.Add(ListFilePath(ctx_.AppDir(), TaskList::Downloading));
    RefreshFileCount();
}

void CMainFrame::OnTaskEdited(const std::string& id, bool startNow) {
    TaskEdited(id, startNow);
}

void CMainFrame::TaskEdited(const std::string& id, bool startNow) {
    queue_.Refresh(id);
    if (startNow && queue_.ListOf(id) == TaskList::Downloading) {
        StartTaskById(id);
    }
}

void CMainFrame::OnAddressHandedOver(const std::string& url) {
    host_.OpenNewTaskDialog(url);
}

}  // namespace vardane
