// The task list of the view shown: its rows in the queue's order, the
// selection, the file count, and the log of the single selected task. The
// rows follow the queue's notices; a view change or a category change
// derives them again.
//
// Threading: every member runs on the window thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/menus.h"
#include "app/task_operations.h"
#include "app/task_queue.h"
#include "app/task_rows.h"
#include "app/task_scheduler.h"
#include "dialogs/tree_model.h"

namespace vardane {

struct AppContext;
class FolderPane;
class IMainFrameHost;
class LogView;

// The task list a view shows.
TaskList ListOfView(TaskView view);

class TaskViewModel : private ITaskQueueListener,
                      public ISchedulerListener,
                      public IOperationsListener {
  public:
    // Follows queue from now until it goes.
    TaskViewModel(AppContext& ctx, IMainFrameHost& host, TaskQueue& queue, FolderPane& pane,
                  LogView& log);
    ~TaskViewModel() override;
    TaskViewModel(const TaskViewModel&) = delete;
    TaskViewModel& operator=(const TaskViewModel&) = delete;

    void SelectView(TaskView view);
    // Selects the folder tree item (a tap); the root selects Downloading.
    void SelectFolderItem(TreeItem item);
    // A category command of the folder tree pop-up; true when the tree and
    // the registry changed (the tasks' categories are read again).
    bool CategoryCommand(int id, TreeItem item);
    // The lists read again from disk.
    void ReloadTaskList();

    const std::vector<TaskRow>& Rows() const { return rows_; }
    std::vector<std::string> ColumnHeaders() const;
    const std::string& FileCountText() const { return fileCountText_; }
    void RefreshFileCount();
    // Index of the row of id, -1 when not shown.
    int FindRow(const std::string& id) const;
    // Position in the rows for the task at index of list (rows follow the
    // queue).
    std::ptrdiff_t RowForQueueIndex(TaskList list, int index) const;

    void SetRowSelected(int row, bool selected);
    void SelectOnly(int row);
    void ClearSelection();
    void SelectAll();
    std::vector<int> SelectedRows() const;
    std::vector<std::string> SelectedIds() const;
    // The ids of every row (all) or of the selected ones.
    std::vector<std::string> IdsOfRows(bool all) const;

    // What running tasks report: a log line, and a change of their threads.
    void OnTaskLog(const TaskLogEntry& entry);
    void OnTaskThreads(const std::string& id);
    void OnTaskCompleted() override;
    void OnTasksDeleted() override;
    void OnTaskAdded() override;

  private:
    // The rows of the shown view from the queue; the selection stays with
    // its tasks. selectFirst: a view just shown selects its first row when
    // none of them is left.
    void DeriveRows(bool selectFirst = true);
    // Rebuilds the log tree for the selection.
    void OnRowSelectionChanged();
    std::string SelectedTaskId() const;

    void OnTaskInserted(TaskList list, int index) override;
    void OnTaskRemoved(TaskList list, int index, const std::string& id) override;
    void OnTaskMoved(TaskList list, int from, int to) override;
    void OnTaskChanged(TaskList list, int index, unsigned fields) override;
    void OnListReset(TaskList list) override;
    void OnListChanged(TaskList list, bool fieldsOnly) override;
    void OnListReordered(TaskList list, const std::vector<int>& newIndex) override;

    AppContext& ctx_;
    IMainFrameHost& host_;
    TaskQueue& queue_;
    FolderPane& pane_;
    LogView& log_;
    std::vector<TaskRow> rows_;
    std::string fileCountText_ = "0 Files";
};

}  // namespace vardane
