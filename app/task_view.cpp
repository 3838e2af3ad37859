// The views: folder tree, task list rows of one view, the per-thread log,
// menus and labels.
#include "app/main_frame.h"

#include <algorithm>
#include <set>

#include "app/command_ids.h"
#include "dialogs/category_commands.h"
#include "dialogs/category_tree.h"
#include "platform/display_text.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

TaskList ListOfView(TaskView view) {
    static_assert(static_cast<int>(TaskList::Completed) == static_cast<int>(TaskView::Completed) &&
                  static_cast<int>(TaskList::Deleted) == static_cast<int>(TaskView::Deleted));
    return static_cast<TaskList>(static_cast<int>(view));
}

namespace {

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
    return CategoryOfFolder(folders_.Selected());
}

void CMainFrame::RebuildMenus() {
    fileMenu_ = BuildFileMenu(ctx_.lang);
    controlMenu_ = BuildControlMenu(view_, ctx_.lang);
    Notify(partMenus);
}

void CMainFrame::Relabel() {
    title_ = ctx_.lang.GetAppTitle();
    const TreeItem top = folders_.Top();
    if (top != kNoItem) {
        folders_.SetText(top, title_);
        const std::vector<TreeItem>& views = folders_.Children(top);
        for (size_t i = 0; i < views.size() && i < 3; ++i) {
            folders_.SetText(views[i], ctx_.lang.GetLangText(FolderTextKey(static_cast<int>(i))));
        }
    }
    if (folders_.Exists(folders_.Selected())) {
        folderButtonText_ = folders_.Text(folders_.Selected());
    }
    if (logTree_.HasRoot) {
        logTree_.RootText = ctx_.lang.GetLangText("MainDlg_Log");
    }
    RebuildMenus();
    RefreshFileCount();
    Notify(partTitle | partFolders | partLogTree);
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
    rows_.clear();
    DeriveRows();
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
    rows_.clear();
    DeriveRows();
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
    host_.SetWaitCursor(true);
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        for (const std::string& problem : queue_.Load()) {
            host_.ReportError(problem);
        }
    }
    host_.SetWaitCursor(false);
}

// The category is looked up once: it walks the folder tree and the
// registry, which once made a view of 10,000 rows cost seconds.
void CMainFrame::DeriveRows(bool selectFirst) {
    std::set<std::string> selected;
    for (const TaskRow& row : rows_) {
        if (row.Selected) {
            selected.insert(row.Id());
        }
    }
    const size_t selectedBefore = selected.size();
    rows_.clear();
    rows_.reserve(queue_.Tasks(ListOfView(view_)).size());
    size_t still = 0;
    const std::string category = CategoryFilter();
    for (const QueuedTask& task : queue_.Tasks(ListOfView(view_))) {
        if (category.empty() || EqualsNoCase(task.Category, category)) {
            rows_.push_back(BuildTaskRow(task));
            rows_.back().Selected = selected.count(task.Id) > 0;
            still += rows_.back().Selected ? 1 : 0;
        }
    }
    RefreshFileCount();
    Notify(partRows);
    if (still == 0 && selectFirst) {
        // A view just shown selects its first row, as a list control does.
        if (!rows_.empty()) {
            rows_[0].Selected = true;
        }
        OnRowSelectionChanged();
    } else if (still != selectedBefore) {
        OnRowSelectionChanged();
    }
}

void CMainFrame::OnListReset(TaskList list) {
    if (list == ListOfView(view_)) {
        DeriveRows();
    }
}

// A bulk change selects nothing new: a delete of the selection leaves none.
void CMainFrame::OnListChanged(TaskList list, bool /*fieldsOnly*/) {
    if (list == ListOfView(view_)) {
        DeriveRows(false);
    }
}

void CMainFrame::OnListReordered(TaskList list, const std::vector<int>& /*newIndex*/) {
    if (list == ListOfView(view_)) {
        DeriveRows(false);
    }
}

void CMainFrame::OnTaskInserted(TaskList list, int index) {
    if (list != ListOfView(view_)) {
        return;
    }
    const QueuedTask& task = queue_.Tasks(list)[index];
    const std::string category = CategoryFilter();
    if (!category.empty() && !EqualsNoCase(task.Category, category)) {
        return;
    }
    rows_.insert(rows_.begin() + RowForQueueIndex(list, index), BuildTaskRow(task));
    Notify(partRows);
    // Whoever added the task (an import, another process, the explorer),
    // the count follows the rows.
    RefreshFileCount();
}

void CMainFrame::OnTaskRemoved(TaskList list, int /*index*/, const std::string& id) {
    int row = list == ListOfView(view_) ? FindRow(id) : -1;
    if (row >= 0) {
        rows_.erase(rows_.begin() + row);
        Notify(partRows);
        RefreshFileCount();
    }
}

void CMainFrame::OnTaskMoved(TaskList list, int /*from*/, int to) {
    if (list != ListOfView(view_)) {
        return;
    }
    // The moved row goes before the row of the next shown task.
    const std::vector<QueuedTask>& tasks = queue_.Tasks(list);
    int row = FindRow(tasks[to].Id);
    if (row < 0) {
        return;
    }
    TaskRow moved = std::move(rows_[row]);
    rows_.erase(rows_.begin() + row);
    rows_.insert(rows_.begin() + RowForQueueIndex(list, to), std::move(moved));
    Notify(partRows);
}

void CMainFrame::OnTaskChanged(TaskList list, int index, unsigned fields) {
    if (list != ListOfView(view_)) {
        return;
    }
    const QueuedTask& task = queue_.Tasks(list)[index];
    if ((fields & fieldCategory) != 0 && !CategoryFilter().empty()) {
        DeriveRows();
        return;
    }
    int row = FindRow(task.Id);
    if (row >= 0) {
        TaskRow fresh = BuildTaskRow(task);
        fresh.Selected = rows_[row].Selected;
        rows_[row] = std::move(fresh);
        host_.OnRowChanged(row);
    }
}

// Rows keep the queue's order, so the row of the task at index goes before
// the first row whose task stands later in the queue. A binary search: an
// import appends tens of thousands of rows one notice at a time.
std::ptrdiff_t CMainFrame::RowForQueueIndex(TaskList list, int index) const {
    auto at = std::partition_point(rows_.begin(), rows_.end(), [&](const TaskRow& r) {
        return queue_.IndexOf(list, r.Id()) < index;
    });
    return at - rows_.begin();
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
    const auto count = static_cast<int64_t>(rows_.size());
    fileCountText_ = ctx_.lang.GetLangText("MainDlg_FileCount1") + " " + IntToText(count) + " " +
                     ctx_.lang.GetCountText("MainDlg_FileCount2", count);
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

std::vector<std::string> CMainFrame::SelectedIds() const {
    std::vector<std::string> ids;
    for (const TaskRow& row : rows_) {
        if (row.Selected) {
            ids.push_back(row.Id());
        }
    }
    return ids;
}

TaskView CMainFrame::ViewOfFolder(TreeItem item) const {
    return ViewOfItem(folders_, item);
}

std::string CMainFrame::CategoryOfFolder(TreeItem item) const {
    ItemTextPath path = GetItemTextPath(folders_, item);
    return path.Depth < 3 ? "" : TextPathToKeyPath(ctx_.registry, path.Path);
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
    ++logListGeneration_;
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
    // A task that is not running opens on the thread that said why it
    // failed.
    int first = SlotOfTask(id) < 0 ? keptLogs_.LastErrorThread(id) : 0;
    if (first < 1 || first > logTree_.ThreadCount) {
        first = 1;
    }
    if (logTree_.ThreadCount >= 1) {
        SelectLogThread(first);
    }
}

void CMainFrame::SelectLogThread(int n) {
    if (!logTree_.HasRoot || n < 1 || n > logTree_.ThreadCount) {
        return;
    }
    logTree_.SelectedThread = n;
    Notify(partLogTree);
    logList_.clear();
    ++logListGeneration_;
    int slot = SlotOfTask(logTree_.TaskId);
    if (slot < 0) {
        // Its run has ended: what it logged in this session (nothing for a
        // task that last ran in an earlier one).
        logList_ = keptLogs_.Lines(logTree_.TaskId, n - 1, queue_.Find(logTree_.TaskId));
    } else {
        for (const TaskLogEntry& entry : slots_[slot]->Task().ThreadLog(n - 1)) {
            logList_.push_back(LogLine{entry.Kind, DisplayText(entry.Text)});
        }
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
    // Renamed or deleted categories change the tasks' Cat values on disk.
    ReloadTaskList();
    if (folders_.Selected() == kNoItem) {
        // The shown category is gone: show its whole view.
        SelectView(view_);
    }
    return true;
}

}  // namespace vardane
