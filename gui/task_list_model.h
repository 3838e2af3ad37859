// The task list of the shown view as a Qt item model. It follows the task
// queue notice by notice: an insert, removal, move or change of one task is
// one row signal, so 10,000 rows stay cheap and the selection stays put.
// A bulk change (a delete or import of thousands) is one reset, a bulk move
// one layout change; a reload of a whole list or a change of view resets it.
#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "app/menus.h"
#include "app/task_queue.h"
#include "app/task_rows.h"

namespace vardane {
class MainFrame;
}

namespace vardane::gui {

class TaskListModel : public QAbstractTableModel, private ITaskQueueListener {
    Q_OBJECT
  public:
    // After the list's six columns: the time left, which only the window
    // shows.
    static constexpr int kTimeLeftColumn = kColumnCount;

    explicit TaskListModel(MainFrame& frame, QObject* parent = nullptr);
    ~TaskListModel() override;

    // Shows list filtered to category ("" the whole list), as the frame does.
    void ShowView(TaskView view, const std::string& category);
    bool IsShowing(TaskView view, const std::string& category) const;
    // Column headers in the current language.
    void Relabel();

    std::string IdAt(int row) const;
    // Row of id, -1 when not shown.
    int RowOf(const std::string& id) const;
    // The task shown in row (0 <= row < rowCount()).
    const QueuedTask& TaskAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    bool Shows(TaskList list, const QueuedTask& task) const;
    // Row where the task at queue index goes (rows keep the queue's order).
    int RowForIndex(int index) const;
    void InsertRow(int index);
    void RemoveRow(int row);

    void OnTaskInserted(TaskList list, int index) override;
    void OnTaskRemoved(TaskList list, int index, const std::string& id) override;
    void OnTaskMoved(TaskList list, int from, int to) override;
    void OnTaskChanged(TaskList list, int index, unsigned fields) override;
    void OnListReset(TaskList list) override;
    void OnListChanged(TaskList list, bool fieldsOnly) override;
    void OnListReordered(TaskList list, const std::vector<int>& newIndex) override;

    MainFrame& frame_;
    TaskList list_ = TaskList::Downloading;
    std::string category_;
    // Queue index of each shown task, ascending.
    std::vector<int> indexes_;
    std::vector<QString> headers_;
};

}  // namespace vardane::gui
