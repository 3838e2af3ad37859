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
        for (const std::string& id : IdsOfRows(all)) {
            if (kind == TaskCommandKind::Start) {
                StartTaskById(id);
            } else {
                StopTaskById(id, all);
            }
        }
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
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
            DeleteOne(*it);
        }
    }
    RefreshFileCount();
    return true;
}

void CMainFrame::DeleteOne(const std::string& id) {
    std::optional<TaskList> list = queue_.ListOf(id);
    // A line whose record could not be read goes as its line only: a record
    // that cannot be read is never rewritten from defaults.
    const bool unreadable = !list;
    if (unreadable) {
        list = queue_.UnreadableListOf(id);
    }
    if (!list) {
        return;
    }
    const std::string progress = ProgressFilePath(ctx_.AppDir(), id);
    TaskProgressRecord record = unreadable ? TaskProgressRecord{} : ReadProgress(progress);
    bool running = false;
    int slot = SlotOfTask(id);
    if (*list == TaskList::Downloading && slot >= 0) {
        // The next waiting task may start once this one has ended.
        running = true;
        pendingDeletes_.insert(id);
        StopSlot(slot, false);
    }
    if (*list == TaskList::Deleted) {
        if (!queue_.Remove(id)) {
            host_.ReportError("cannot write the list of task " + id);
            return;
        }
        if (PathExists(progress) && !RemoveFile(progress)) {
            host_.ReportError("cannot remove " + progress);
        }
    } else {
        // In the file and in the queue: a waiting task must not stay
        // "waiting" in the deleted list. A running one is stopped again in
        // FinishDeletedTask, once its end has rewritten its record.
        if (!unreadable && FileExists(progress)) {
            WriteState(id, TaskStatus::Stopped);
        }
        // Deleted.lst first, as on completion: a crash never loses the task.
        if (!queue_.MoveToList(id, TaskList::Deleted)) {
            host_.ReportError("cannot add task " + id + " to Deleted.lst");
            return;
        }
    }
    // A running task still writes its temporary file: it goes when the task
    // has ended. A completed file already has its final name and is kept.
    const std::string temp = record.LocalDir + record.LocalFileName + ".vd~";
    // Only our own: another user's file or a planted link of that name stays.
    if (!running && !record.LocalFileName.empty() && !RemoveOwnFile(temp)) {
        host_.ReportError("cannot remove " + temp);
    }
    ClearLog();
}

// Each task moves one place (or to an end); a block of moved tasks moves as
// a whole, and a task at the edge (or behind one that cannot move) stays.
// Neighbours are the tasks of the category when one is given, as the
// category's view shows them; the exchange is made in the whole list.
void CMainFrame::MoveTasks(const std::vector<std::string>& ids, MoveKind kind,
                           const std::string& category) {
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    std::set<std::string> moving(ids.begin(), ids.end());
    for (TaskList list : {TaskList::Downloading, TaskList::Completed, TaskList::Deleted}) {
        std::vector<std::string> shown;
        for (const QueuedTask& task : queue_.Tasks(list)) {
            if (category.empty() || EqualsNoCase(task.Category, category)) {
                shown.push_back(task.Id);
            }
        }
        const int count = static_cast<int>(shown.size());
        auto exchange = [&](int a, int b) {
            if (!queue_.Swap(shown[a], shown[b])) {
                host_.ReportError("cannot write the task order");
            }
            std::swap(shown[a], shown[b]);
        };
        if (kind == MoveKind::Up || kind == MoveKind::Top) {
            for (int pass = 0; pass < (kind == MoveKind::Top ? count : 1); ++pass) {
                for (int i = 1; i < count; ++i) {
                    if (moving.count(shown[i]) > 0 && moving.count(shown[i - 1]) == 0) {
                        exchange(i, i - 1);
                    }
                }
            }
        } else {
            for (int pass = 0; pass < (kind == MoveKind::Bottom ? count : 1); ++pass) {
                for (int i = count - 2; i >= 0; --i) {
                    if (moving.count(shown[i]) > 0 && moving.count(shown[i + 1]) == 0) {
                        exchange(i, i + 1);
                    }
                }
            }
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
    std::vector<std::string> started;
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        for (const std::string& id : ids) {
            if (queue_.ListOf(id).value_or(TaskList::Downloading) == TaskList::Downloading ||
                !queue_.Remove(id)) {
                continue;
            }
            const std::string oldPath = ProgressFilePath(ctx_.AppDir(), id);
            TaskProgressRecord old = ReadProgress(oldPath);
            // A fresh record: Folder 0, the Download category, no progress.
            TaskProgressRecord fresh;
            fresh.BaseURL = old.BaseURL;
            fresh.LocalDir = old.LocalDir;
            fresh.LocalFileName = old.LocalFileName;
            fresh.ProxyHTTP = old.ProxyHTTP;
            fresh.ProxyFTP = old.ProxyFTP;
            fresh.ThreadCount = old.ThreadCount;
            fresh.State = IntToText(stateStopped);
            const std::string newId = MakeTaskId(ctx_.AppDir());
            if (!WriteProgress(fresh, ProgressFilePath(ctx_.AppDir(), newId)) ||
                !queue_.Append(TaskList::Downloading, newId)) {
                host_.ReportError("cannot write task " + newId);
                continue;
            }
            RemoveFile(oldPath);
            if (ctx_.settings.DownloadImmediately) {
                started.push_back(newId);
            }
        }
    }
    for (const std::string& id : started) {
        StartTaskById(id);
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
