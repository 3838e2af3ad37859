// The task commands of the menus, toolbar and pop-up menus.
#include <algorithm>

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
            std::vector<int> selected = SelectedRows();
            if (!selected.empty()) {
                host_.OpenTaskProperties(rows_[selected[0]].Id());
            }
            break;
        }
        case ID_MOVE_DOWN:
            MoveSelected(false);
            break;
        case ID_MOVE_UP:
            MoveSelected(true);
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

void CMainFrame::TaskCommand(TaskCommandKind kind, bool all) {
    if (rows_.empty()) {
        return;
    }
    if (kind == TaskCommandKind::Delete) {
        DeleteRows(all);
    } else if (view_ == TaskView::Downloading) {
        StartOrStopRows(kind, all);
    }
}

void CMainFrame::StartOrStopRows(TaskCommandKind kind, bool all) {
    host_.SetWaitCursor(true);
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        // Rows never move during the walk: starting and stopping change icons only.
        for (int row = 0; row < static_cast<int>(rows_.size()); ++row) {
            if (!all && !rows_[row].Selected) {
                continue;
            }
            if (kind == TaskCommandKind::Start) {
                StartTaskByRow(row);
            } else {
                StopTaskByRow(row, all);
            }
        }
    }
    host_.SetWaitCursor(false);
}

void CMainFrame::DeleteRows(bool all) {
    if (!Confirm("Msg_DeleteConfirm", true)) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        std::vector<std::string> ids;
        for (int row = static_cast<int>(rows_.size()) - 1; row >= 0; --row) {
            if (all || rows_[row].Selected) {
                ids.push_back(rows_[row].Id());
            }
        }
        for (const std::string& id : ids) {
            DeleteOne(id);
        }
    }
    RefreshFileCount();
}

void CMainFrame::DeleteOne(const std::string& id) {
    const std::string progress = ProgressFilePath(ctx_.AppDir(), id);
    TaskProgressRecord record = ReadProgress(progress);
    bool running = false;
    if (view_ == TaskView::Downloading) {
        int slot = SlotOfTask(id);
        if (slot >= 0) {
            // The next waiting task may start once this one has ended.
            running = true;
            pendingDeletes_.insert(id);
            StopSlot(slot, false);
        }
    }
    DeleteRow(FindRow(id));
    RemoveListLine(ListPath(view_), id);
    if (view_ == TaskView::Deleted) {
        RemoveFile(progress);
    } else {
        AppendListLine(ListFilePath(ctx_.AppDir(), TaskList::Deleted), id);
        if (FileExists(progress)) {
            UpdateProgress(progress,
                           [](TaskProgressRecord& r) { r.State = IntToText(stateStopped); });
        }
    }
    // A running task still writes its temporary file: it goes when the task
    // has ended. A completed file already has its final name and is kept.
    if (!running && !record.LocalFileName.empty()) {
        RemoveFile(record.LocalDir + record.LocalFileName + ".vd~");
    }
    ClearLog();
}

// Moves every selected row one place; a block of selected rows moves as a
// whole, and a row at the edge (or behind one that cannot move) stays. Each
// exchange is made in the list file too, which is the queue order.
void CMainFrame::MoveSelected(bool up) {
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    const int count = static_cast<int>(rows_.size());
    const std::string list = ListPath(view_);
    auto exchange = [&](int row, int other) {
        SwapListLines(list, rows_[row].Id(), rows_[other].Id());
        std::swap(rows_[row], rows_[other]);
    };
    if (up) {
        for (int row = 1; row < count; ++row) {
            if (rows_[row].Selected && !rows_[row - 1].Selected) {
                exchange(row, row - 1);
            }
        }
    } else {
        for (int row = count - 2; row >= 0; --row) {
            if (rows_[row].Selected && !rows_[row + 1].Selected) {
                exchange(row, row + 1);
            }
        }
    }
    Notify(partRows);
}

void CMainFrame::DownloadAgain() {
    if (view_ == TaskView::Downloading || rows_.empty()) {
        return;
    }
    if (!Confirm("Msg_ReDownloadConfirm", false)) {
        return;
    }
    host_.SetWaitCursor(true);
    bool any = false;
    std::vector<std::string> started;
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        const std::string downloading = ListFilePath(ctx_.AppDir(), TaskList::Downloading);
        for (const TaskRow& row : rows_) {
            if (!row.Selected) {
                continue;
            }
            any = true;
            const std::string id = row.Id();
            RemoveListLine(ListPath(view_), id);
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
            RemoveFile(oldPath);
            const std::string newId = MakeTaskId(ctx_.AppDir());
            WriteProgress(fresh, ProgressFilePath(ctx_.AppDir(), newId));
            AppendListLine(downloading, newId);
            if (ctx_.settings.DownloadImmediately) {
                started.push_back(newId);
            }
        }
    }
    if (any) {
        SelectView(TaskView::Downloading);
        for (const std::string& id : started) {
            StartTaskById(id);
        }
    }
    host_.SetWaitCursor(false);
}

// Path of the first selected row's target (its folder for folderOnly); ""
// when nothing is selected.
std::string CMainFrame::FirstSelectedLocalPath(bool folderOnly) {
    std::vector<int> selected = SelectedRows();
    if (rows_.empty() || selected.empty()) {
        return "";
    }
    TaskProgressRecord record =
        ReadProgress(ProgressFilePath(ctx_.AppDir(), rows_[selected[0]].Id()));
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
    if (startNow) {
        StartTaskById(id);
    }
    RefreshFileCount();
}

void CMainFrame::OnTaskEdited(const std::string& id, bool startNow) {
    ItemTextPath path = GetItemTextPath(folders_, folders_.Selected());
    if (path.Depth >= 3) {
        TaskProgressRecord record = ReadProgress(ProgressFilePath(ctx_.AppDir(), id));
        if (!EqualsNoCase(record.Cat, CategoryFilter())) {
            DeleteRow(FindRow(id));
        }
    }
    if (view_ == TaskView::Downloading && startNow) {
        StartTaskById(id);
    }
}

void CMainFrame::OnAddressHandedOver(const std::string& url) {
    host_.OpenNewTaskDialog(url);
}

}  // namespace vardane
