// The rows of the view shown, the selection and the file count.
#include "app/task_view_model.h"

#include <algorithm>
#include <set>

#include "app/folder_pane.h"
#include "app/log_view.h"
#include "app/main_frame_host.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/download_task.h"

namespace vardane {

TaskViewModel::TaskViewModel(AppContext& ctx, IMainFrameHost& host, TaskQueue& queue,
                             FolderPane& pane, LogView& log)
    : ctx_(ctx), host_(host), queue_(queue), pane_(pane), log_(log) {
    queue_.AddListener(this);
}

TaskViewModel::~TaskViewModel() {
    queue_.RemoveListener(this);
}

TaskList ListOfView(TaskView view) {
    static_assert(static_cast<int>(TaskList::Completed) == static_cast<int>(TaskView::Completed) &&
                  static_cast<int>(TaskList::Deleted) == static_cast<int>(TaskView::Deleted));
    return static_cast<TaskList>(static_cast<int>(view));
}

std::vector<std::string> TaskViewModel::ColumnHeaders() const {
    std::vector<std::string> headers;
    for (const ColumnSpec& column : kTaskColumns) {
        headers.push_back(*column.HeaderKey ? ctx_.lang.GetLangText(column.HeaderKey) : "");
    }
    return headers;
}

void TaskViewModel::SelectView(TaskView view) {
    pane_.ShowView(view);
    rows_.clear();
    DeriveRows();
}

void TaskViewModel::SelectFolderItem(TreeItem item) {
    if (!pane_.SelectItem(item)) {
        return;
    }
    rows_.clear();
    DeriveRows();
}

void TaskViewModel::ReloadTaskList() {
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
void TaskViewModel::DeriveRows(bool selectFirst) {
    std::set<std::string> selected;
    for (const TaskRow& row : rows_) {
        if (row.Selected) {
            selected.insert(row.Id());
        }
    }
    const size_t selectedBefore = selected.size();
    rows_.clear();
    size_t still = 0;
    const std::string category = pane_.CategoryFilter();
    const std::vector<QueuedTask>& tasks = queue_.Tasks(ListOfView(pane_.CurrentView()));
    // Sized once: grown as it filled, 100,000 rows were moved seventeen
    // times over.
    rows_.reserve(tasks.size());
    for (const QueuedTask& task : tasks) {
        if (category.empty() || EqualsNoCase(task.Category, category)) {
            rows_.push_back(BuildTaskRow(task));
            rows_.back().Selected = selected.count(task.Id) > 0;
            still += rows_.back().Selected ? 1 : 0;
        }
    }
    RefreshFileCount();
    host_.OnModelChanged(partRows);
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

void TaskViewModel::OnListReset(TaskList list) {
    if (list == ListOfView(pane_.CurrentView())) {
        DeriveRows();
    }
}

// A bulk change selects nothing new: a delete of the selection leaves none.
void TaskViewModel::OnListChanged(TaskList list, bool /*fieldsOnly*/) {
    if (list == ListOfView(pane_.CurrentView())) {
        DeriveRows(false);
    }
}

void TaskViewModel::OnListReordered(TaskList list, const std::vector<int>& /*newIndex*/) {
    if (list == ListOfView(pane_.CurrentView())) {
        DeriveRows(false);
    }
}

void TaskViewModel::OnTaskInserted(TaskList list, int index) {
    if (list != ListOfView(pane_.CurrentView())) {
        return;
    }
    const QueuedTask& task = queue_.Tasks(list)[index];
    const std::string category = pane_.CategoryFilter();
    if (!category.empty() && !EqualsNoCase(task.Category, category)) {
        return;
    }
    rows_.insert(rows_.begin() + RowForQueueIndex(list, index), BuildTaskRow(task));
    host_.OnModelChanged(partRows);
    // Whoever added the task (an import, another process, the explorer),
    // the count follows the rows.
    RefreshFileCount();
}

void TaskViewModel::OnTaskRemoved(TaskList list, int /*index*/, const std::string& id) {
    int row = list == ListOfView(pane_.CurrentView()) ? FindRow(id) : -1;
    if (row >= 0) {
        rows_.erase(rows_.begin() + row);
        host_.OnModelChanged(partRows);
        RefreshFileCount();
    }
}

void TaskViewModel::OnTaskMoved(TaskList list, int /*from*/, int to) {
    if (list != ListOfView(pane_.CurrentView())) {
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
    host_.OnModelChanged(partRows);
}

void TaskViewModel::OnTaskChanged(TaskList list, int index, unsigned fields) {
    if (list != ListOfView(pane_.CurrentView())) {
        return;
    }
    const QueuedTask& task = queue_.Tasks(list)[index];
    if ((fields & fieldCategory) != 0 && !pane_.CategoryFilter().empty()) {
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
std::ptrdiff_t TaskViewModel::RowForQueueIndex(TaskList list, int index) const {
    auto at = std::partition_point(rows_.begin(), rows_.end(), [&](const TaskRow& r) {
        return queue_.IndexOf(list, r.Id()) < index;
    });
    return at - rows_.begin();
}

int TaskViewModel::FindRow(const std::string& id) const {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].Id() == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void TaskViewModel::RefreshFileCount() {
    const auto count = static_cast<int64_t>(rows_.size());
    fileCountText_ = ctx_.lang.GetLangText("MainDlg_FileCount1") + " " + IntToText(count) + " " +
                     ctx_.lang.GetCountText("MainDlg_FileCount2", count);
    host_.OnModelChanged(partFileCount);
}

std::vector<int> TaskViewModel::SelectedRows() const {
    std::vector<int> selected;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].Selected) {
            selected.push_back(static_cast<int>(i));
        }
    }
    return selected;
}

std::vector<std::string> TaskViewModel::SelectedIds() const {
    return IdsOfRows(false);
}

std::string TaskViewModel::SelectedTaskId() const {
    std::vector<int> selected = SelectedRows();
    return selected.size() == 1 ? rows_[selected[0]].Id() : "";
}

void TaskViewModel::SetRowSelected(int row, bool selected) {
    if (row >= 0 && row < static_cast<int>(rows_.size()) && rows_[row].Selected != selected) {
        rows_[row].Selected = selected;
        host_.OnRowChanged(row);
        OnRowSelectionChanged();
    }
}

void TaskViewModel::SelectOnly(int row) {
    for (size_t i = 0; i < rows_.size(); ++i) {
        rows_[i].Selected = static_cast<int>(i) == row;
    }
    host_.OnModelChanged(partRows);
    OnRowSelectionChanged();
}

void TaskViewModel::ClearSelection() {
    SelectOnly(-1);
}

void TaskViewModel::SelectAll() {
    for (TaskRow& row : rows_) {
        row.Selected = true;
    }
    host_.OnModelChanged(partRows);
    OnRowSelectionChanged();
}

void TaskViewModel::OnRowSelectionChanged() {
    log_.Clear();
    std::string id = SelectedTaskId();
    if (pane_.CurrentView() == TaskView::Downloading && !id.empty()) {
        log_.Fill(id);
    }
}

bool TaskViewModel::CategoryCommand(int id, TreeItem item) {
    if (!pane_.CategoryCommand(id, item)) {
        return false;
    }
    // Renamed or deleted categories change the tasks' Cat values on disk.
    ReloadTaskList();
    if (pane_.Folders().Selected() == kNoItem) {
        // The shown category is gone: show its whole view.
        SelectView(pane_.CurrentView());
    }
    return true;
}

std::vector<std::string> TaskViewModel::IdsOfRows(bool all) const {
    std::vector<std::string> ids;
    for (const TaskRow& row : rows_) {
        if (all || row.Selected) {
            ids.push_back(row.Id());
        }
    }
    return ids;
}

void TaskViewModel::OnTaskLog(const TaskLogEntry& entry) {
    if (pane_.CurrentView() != TaskView::Downloading || !log_.ShowsThread(entry.ThreadNo)) {
        return;
    }
    bool selected = false;
    for (const TaskRow& row : rows_) {
        selected = selected || (row.Selected && row.Id() == entry.TaskId);
    }
    if (selected) {
        log_.Append(entry);
    }
}

void TaskViewModel::OnTaskThreads(const std::string& id) {
    if (SelectedTaskId() == id) {
        log_.Fill(id);
    }
}

void TaskViewModel::OnTaskCompleted() {
    if (pane_.CurrentView() == TaskView::Downloading) {
        log_.Clear();
    }
    RefreshFileCount();
}

void TaskViewModel::OnTasksDeleted() {
    log_.Clear();
    RefreshFileCount();
}

void TaskViewModel::OnTaskAdded() {
    RefreshFileCount();
}

}  // namespace vardane
