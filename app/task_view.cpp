// The views: folder tree, task list rows of one view, the per-thread log,
// menus and labels.
#include "app/main_frame.h"

#include <algorithm>

#include "app/command_ids.h"
#include "dialogs/category_commands.h"
#include "dialogs/category_tree.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

namespace {

TaskList ListOfView(TaskView view) {
    switch (view) {
        case TaskView::Completed:
            return TaskList::Completed;
        case TaskView::Deleted:
            return TaskList::Deleted;
        default:
            return TaskList::Downloading;
    }
}

// The view of a folder tree item: its first ancestor (or itself) with a
// folder icon; Downloading when there is none.
TaskView ViewOfItem(const CTreeModel& tree, TreeItem item) {
    for (TreeItem i = item; i != kNoItem; i = tree.Parent(i)) {
        switch (tree.Icon(i)) {
            case imgDownloading:
                return TaskView::Downloading;
            case imgCompleted:
                return TaskView::Completed;
            case imgDeleted:
                return TaskView::Deleted;
            default:
                break;
        }
    }
    return TaskView::Downloading;
}

}  // namespace

std::string CMainFrame::ListPath(TaskView view) const {
    return ListFilePath(ctx_.AppDir(), ListOfView(view));
}

// The category key of the selected folder item when it is a category (depth
// 3 or more), else "" (the whole view).
std::string CMainFrame::CategoryFilter() const {
    ItemTextPath path = GetItemTextPath(folders_, folders_.Selected());
    if (path.Depth < 3) {
        return "";
    }
    return TextPathToKeyPath(ctx_.registry, path.Path);
}

void CMainFrame::RebuildMenus() {
    fileMenu_ = BuildFileMenu(ctx_.lang);
    controlMenu_ = BuildControlMenu(view_, ctx_.lang);
    Notify(partMenus);
}

std::vector<std::string> CMainFrame::ColumnHeaders() const {
    std::vector<std::string> headers;
    for (const ColumnSpec& column : kTaskColumns) {
        headers.push_back(*column.HeaderKey ? ctx_.lang.GetLangText(column.HeaderKey) : "");
    }
    return headers;
}

void CMainFrame::SelectView(TaskView view) {
    view_ = view;
    RebuildMenus();
    const auto& folders = folders_.Children(folders_.Top());
    auto index = static_cast<size_t>(view);
    if (index < folders.size()) {
        folders_.Select(folders[index]);
        folderButtonText_ = folders_.Text(folders[index]);
    }
    Notify(partFolders);
    ReloadTaskList();
}

void CMainFrame::SelectFolderItem(TreeItem item) {
    if (!folders_.Exists(item)) {
        return;
    }
    if (item == folders_.Top()) {
        // The program's own node stands for no view: it selects Downloading,
        // and the list follows, so the shown rows always match the selection.
        item = folders_.FirstChild(item);
        if (item == kNoItem) {
            return;
        }
    }
    folders_.Select(item);
    treeVisible_ = false;
    folderButtonText_ = folders_.Text(item);
    view_ = ViewOfItem(folders_, item);
    Notify(partFolders);
    ReloadTaskList();
    RebuildMenus();
}

void CMainFrame::ToggleFolderTree() {
    treeVisible_ = !treeVisible_;
    Notify(partFolders);
}

void CMainFrame::SelectTab(int tab) {
    tab_ = tab == 1 ? 1 : 0;
    Notify(partTabs);
}

void CMainFrame::ReloadTaskList() {
    rows_.clear();
    ClearLog();
    const std::string path = ListPath(view_);
    if (!FileExists(path)) {
        RefreshFileCount();
        Notify(partRows);
        return;
    }
    host_.SetWaitCursor(true);
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        for (const std::string& id : ReadListIds(path)) {
            AddRow(id);
        }
    }
    RefreshFileCount();
    if (!rows_.empty()) {
        rows_[0].Selected = true;
    }
    Notify(partRows);
    OnRowSelectionChanged();
    host_.SetWaitCursor(false);
}

bool CMainFrame::AddRow(const std::string& id) {
    const std::string progress = ProgressFilePath(ctx_.AppDir(), id);
    if (!FileExists(progress)) {
        return false;
    }
    TaskProgressRecord record = ReadProgress(progress);
    std::string category = CategoryFilter();
    if (!category.empty() && !EqualsNoCase(record.Cat, category)) {
        return false;
    }
    TaskRow row = BuildTaskRow(id, record);
    // A complete file counts as completed whatever its state said.
    if (row.Columns[1] == "100%" && row.Icon != imgTaskCompleted) {
        row.Icon = imgTaskCompleted;
        SetTaskState(ctx_.AppDir(), id, stateCompleted);
    }
    rows_.push_back(std::move(row));
    Notify(partRows);
    return true;
}

void CMainFrame::DeleteRow(int row) {
    if (row >= 0 && row < static_cast<int>(rows_.size())) {
        rows_.erase(rows_.begin() + row);
        Notify(partRows);
    }
}

int CMainFrame::FindRow(const std::string& id) const {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].Id() == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void CMainFrame::RefreshFileCount() {
    fileCountText_ = ctx_.lang.GetLangText("MainDlg_FileCount1") + " " + IntToText(rows_.size()) +
                     " " + ctx_.lang.GetLangText("MainDlg_FileCount2");
    Notify(partFileCount);
}

std::vector<int> CMainFrame::SelectedRows() const {
    std::vector<int> selected;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].Selected) {
            selected.push_back(static_cast<int>(i));
        }
    }
    return selected;
}

std::string CMainFrame::SelectedTaskId() const {
    std::vector<int> selected = SelectedRows();
    return selected.size() == 1 ? rows_[selected[0]].Id() : "";
}

void CMainFrame::SetRowSelected(int row, bool selected) {
    if (row >= 0 && row < static_cast<int>(rows_.size()) && rows_[row].Selected != selected) {
        rows_[row].Selected = selected;
        host_.OnRowChanged(row);
        OnRowSelectionChanged();
    }
}

void CMainFrame::SelectOnly(int row) {
    for (size_t i = 0; i < rows_.size(); ++i) {
        rows_[i].Selected = static_cast<int>(i) == row;
    }
    Notify(partRows);
    OnRowSelectionChanged();
}

void CMainFrame::ClearSelection() {
    SelectOnly(-1);
}

void CMainFrame::SelectAll() {
    for (TaskRow& row : rows_) {
        row.Selected = true;
    }
    Notify(partRows);
    OnRowSelectionChanged();
}

void CMainFrame::ClearLog() {
    logTree_ = LogTreeState{};
    logList_.clear();
    Notify(partLogTree | partLogList);
}

void CMainFrame::OnRowSelectionChanged() {
    ClearLog();
    std::string id = SelectedTaskId();
    if (view_ == TaskView::Downloading && !id.empty()) {
        FillLogTree(id);
    }
}

void CMainFrame::FillLogTree(const std::string& id) {
    TaskProgressRecord record = ReadProgress(ProgressFilePath(ctx_.AppDir(), id));
    logTree_ = LogTreeState{};
    logTree_.HasRoot = true;
    logTree_.RootText = ctx_.lang.GetLangText("MainDlg_Log");
    logTree_.ThreadCount =
        static_cast<int>(std::clamp<int64_t>(TextToInt(record.ThreadCount), 0, 4));
    logTree_.TaskId = id;
    Notify(partLogTree);
    if (logTree_.ThreadCount >= 1) {
        SelectLogThread(1);
    }
}

void CMainFrame::SelectLogThread(int n) {
    if (!logTree_.HasRoot || n < 1 || n > logTree_.ThreadCount) {
        return;
    }
    logTree_.SelectedThread = n;
    Notify(partLogTree);
    int slot = SlotOfTask(logTree_.TaskId);
    if (slot < 0) {
        return;
    }
    logList_.clear();
    for (const TaskLogEntry& entry : slots_[slot]->Task().ThreadLog(n - 1)) {
        logList_.push_back(LogLine{entry.Kind, entry.Text});
    }
    Notify(partLogList);
}

std::vector<MenuEntry> CMainFrame::TaskPopupMenu() const {
    return BuildTaskPopupMenu(view_, ctx_.lang);
}

std::vector<MenuEntry> CMainFrame::CategoryPopupMenu(TreeItem item) const {
    return CategoryMenu(folders_, ctx_.lang, item);
}

bool CMainFrame::CategoryCommand(int id, TreeItem item) {
    CategoryCommandEnv env{ctx_.registry, ctx_.lang, questions_,
                           [this](CEdtCatDlg& dialog) { host_.RunCategoryNameDialog(dialog); }};
    bool changed = false;
    if (id == ID_CATEGORY_NEW) {
        changed = AddCategory(env, folders_, item);
    } else if (id == ID_CATEGORY_EDIT) {
        changed = RenameCategory(env, folders_, item);
    } else if (id == ID_CATEGORY_DELETE) {
        changed = DeleteCategory(env, folders_, item);
    }
    if (!changed) {
        return false;
    }
    Notify(partFolders);
    if (folders_.Selected() == kNoItem) {
        // The shown category is gone: show its whole view.
        SelectView(view_);
    }
    return true;
}

}  // namespace vardane
