// The task list as desktop users expect it, drawn from the task list model:
// a progress bar behind the percent, sizes and speeds in KiB/MiB/GiB (or the
// list's own bytes and KB/s), the time left, and sorting by any column. A
// sort is only a view: the queue keeps its order, and a third click on a
// header shows the queue order again.
#pragma once

#include <QTableView>
#include <string>

namespace vardane::gui {

class TaskListModel;
class TaskSortModel;

class TaskListView : public QTableView {
    Q_OBJECT
  public:
    TaskListView(TaskListModel& model, QWidget* parent);

    TaskListModel& Source() { return model_; }
    // The source row shown in view row (and back); -1 when none.
    int SourceRow(int viewRow) const;
    int ViewRow(int sourceRow) const;
    std::string IdAtRow(int viewRow) const;

    // Readable units (true) or the list's own texts.
    void SetReadableUnits(bool on);
    bool ReadableUnits() const;

    // Widths that fit the viewport: each number column as wide as its
    // longest text in either unit, the file name the rest.
    void FitColumns();
    // The widths of the columns as "w0,w1,..."; Restore takes such a text
    // back (false, and nothing changed, when it does not fit this list).
    QString ColumnWidthsText() const;
    bool RestoreColumnWidths(const QString& text);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    TaskListModel& model_;
    TaskSortModel* sorted_ = nullptr;
    bool fitting_ = false;
    bool userWidths_ = false;  // sized by the user or restored
};

}  // namespace vardane::gui
