#include "gui/task_list_model.h"

#include <algorithm>

#include "app/main_frame.h"
#include "app/task_rows.h"
#include "gui/icons.h"
#include "gui/readable_units.h"
#include "platform/text.h"
#include "settings/app_context.h"

namespace vardane::gui {

TaskListModel::TaskListModel(MainFrame& frame, QObject* parent)
    : QAbstractTableModel(parent), frame_(frame) {
    Relabel();
    frame_.AddQueueListener(this);
    ShowView(TaskView::Downloading, "");
}

TaskListModel::~TaskListModel() {
    frame_.RemoveQueueListener(this);
}

void TaskListModel::ShowView(TaskView view, const std::string& category) {
    beginResetModel();
    list_ = ListOfView(view);
    category_ = category;
    indexes_.clear();
    const std::vector<QueuedTask>& tasks = frame_.Queue().Tasks(list_);
    for (size_t i = 0; i < tasks.size(); ++i) {
        if (Shows(list_, tasks[i])) {
            indexes_.push_back(static_cast<int>(i));
        }
    }
    endResetModel();
}

bool TaskListModel::IsShowing(TaskView view, const std::string& category) const {
    return list_ == ListOfView(view) && category_ == category;
}

void TaskListModel::Relabel() {
    headers_.clear();
    for (const std::string& text : frame_.View().ColumnHeaders()) {
        headers_.push_back(QString::fromStdString(text));
    }
    headers_.push_back(
        QString::fromStdString(frame_.Context().lang.GetLangText("MainDlg_Tasks_TimeLeft")));
    if (!headers_.empty()) {
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, static_cast<int>(headers_.size()) - 1);
    }
}

std::string TaskListModel::IdAt(int row) const {
    return row >= 0 && row < rowCount() ? TaskAt(row).Id : std::string();
}

int TaskListModel::RowOf(const std::string& id) const {
    int index = frame_.Queue().IndexOf(list_, id);
    auto at = std::lower_bound(indexes_.begin(), indexes_.end(), index);
    return index >= 0 && at != indexes_.end() && *at == index
               ? static_cast<int>(at - indexes_.begin())
               : -1;
}

int TaskListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(indexes_.size());
}

int TaskListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount + 1;
}

QVariant TaskListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    if (role == Qt::DisplayRole && index.column() == kTimeLeftColumn) {
        return TimeLeftText(SecondsLeft(TaskAt(index.row())));
    }
    if (role == Qt::ToolTipRole && TaskAt(index.row()).State == TaskState::Failed) {
        // The line came from a server: shown as text, never as markup.
        const std::string why = frame_.Log().LastErrorLine(TaskAt(index.row()).Id);
        return why.empty() ? QVariant()
                           : QVariant(QStringLiteral("<p>%1</p>")
                                          .arg(QString::fromStdString(why).toHtmlEscaped()));
    }
    if (role == Qt::DisplayRole) {
        // Built on demand: only the rows on screen are ever asked for.
        TaskRow row = BuildTaskRow(TaskAt(index.row()));
        return QString::fromStdString(row.Columns[static_cast<size_t>(index.column())]);
    }
    if (role == Qt::DecorationRole && index.column() == 0) {
        return ImageIcon(IconForState(TaskAt(index.row()).State));
    }
    if (role == Qt::TextAlignmentRole) {
        const bool centred = index.column() == kTimeLeftColumn ||
                             kTaskColumns[static_cast<size_t>(index.column())].Centered;
        return QVariant::fromValue(Qt::AlignVCenter | (centred ? Qt::AlignHCenter : Qt::AlignLeft));
    }
    return {};
}

QVariant TaskListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < static_cast<int>(headers_.size())) {
        return headers_[static_cast<size_t>(section)];
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

const QueuedTask& TaskListModel::TaskAt(int row) const {
    return frame_.Queue().Tasks(list_)[static_cast<size_t>(indexes_[static_cast<size_t>(row)])];
}

bool TaskListModel::Shows(TaskList list, const QueuedTask& task) const {
    return list == list_ && (category_.empty() || EqualsNoCase(task.Category, category_));
}

int TaskListModel::RowForIndex(int index) const {
    return static_cast<int>(std::lower_bound(indexes_.begin(), indexes_.end(), index) -
                            indexes_.begin());
}

void TaskListModel::InsertRow(int index) {
    const int row = RowForIndex(index);
    beginInsertRows({}, row, row);
    indexes_.insert(indexes_.begin() + row, index);
    endInsertRows();
}

void TaskListModel::RemoveRow(int row) {
    beginRemoveRows({}, row, row);
    indexes_.erase(indexes_.begin() + row);
    endRemoveRows();
}

void TaskListModel::OnTaskInserted(TaskList list, int index) {
    if (list != list_) {
        return;
    }
    // Tasks at or after index moved one place down in the queue.
    for (int& i : indexes_) {
        i += i >= index ? 1 : 0;
    }
    if (Shows(list, frame_.Queue().Tasks(list)[static_cast<size_t>(index)])) {
        InsertRow(index);
    }
}

void TaskListModel::OnTaskRemoved(TaskList list, int index, const std::string& /*id*/) {
    if (list != list_) {
        return;
    }
    const int row = RowForIndex(index);
    if (row < rowCount() && indexes_[static_cast<size_t>(row)] == index) {
        RemoveRow(row);
    }
    for (int& i : indexes_) {
        i -= i > index ? 1 : 0;
    }
}

void TaskListModel::OnTaskMoved(TaskList list, int from, int to) {
    if (list != list_ || from == to) {
        return;
    }
    const int row = RowForIndex(from);
    const bool shown = row < rowCount() && indexes_[static_cast<size_t>(row)] == from;
    if (shown) {
        indexes_.erase(indexes_.begin() + row);
    }
    for (int& i : indexes_) {
        if (from < to && i > from && i <= to) {
            --i;
        } else if (to < from && i >= to && i < from) {
            ++i;
        }
    }
    if (!shown) {
        return;
    }
    const int dest = RowForIndex(to);
    if (dest == row) {
        indexes_.insert(indexes_.begin() + row, to);
        return;
    }
    // Qt wants the destination as the row before which it lands, counted
    // before the move.
    indexes_.insert(indexes_.begin() + row, from);
    std::vector<int> after = indexes_;
    after.erase(after.begin() + row);
    after.insert(after.begin() + dest, to);
    beginMoveRows({}, row, row, {}, dest > row ? dest + 1 : dest);
    indexes_ = std::move(after);
    endMoveRows();
}

void TaskListModel::OnTaskChanged(TaskList list, int index, unsigned fields) {
    if (list != list_) {
        return;
    }
    const int row = RowForIndex(index);
    const bool shown = row < rowCount() && indexes_[static_cast<size_t>(row)] == index;
    const bool shows = Shows(list, frame_.Queue().Tasks(list)[static_cast<size_t>(index)]);
    if ((fields & fieldCategory) != 0 && shown != shows) {
        shows ? InsertRow(index) : RemoveRow(row);
        return;
    }
    if (shown) {
        Q_EMIT dataChanged(this->index(row, 0), this->index(row, kTimeLeftColumn));
    }
}

void TaskListModel::OnListReset(TaskList list) {
    if (list == list_) {
        ShowView(static_cast<TaskView>(static_cast<int>(list)), category_);
    }
}

void TaskListModel::OnListChanged(TaskList list, bool fieldsOnly) {
    if (list != list_) {
        return;
    }
    if (fieldsOnly && rowCount() > 0) {
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
        return;
    }
    ShowView(static_cast<TaskView>(static_cast<int>(list)), category_);
}

// The same rows in a new order: the selection and the current row follow
// their tasks.
void TaskListModel::OnListReordered(TaskList list, const std::vector<int>& newIndex) {
    if (list != list_) {
        return;
    }
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<std::pair<int, int>> moved;  // new queue index, old row
    moved.reserve(indexes_.size());
    for (size_t row = 0; row < indexes_.size(); ++row) {
        moved.emplace_back(newIndex[static_cast<size_t>(indexes_[row])], static_cast<int>(row));
    }
    std::sort(moved.begin(), moved.end());
    std::vector<int> rowOf(indexes_.size());
    for (size_t row = 0; row < moved.size(); ++row) {
        indexes_[row] = moved[row].first;
        rowOf[static_cast<size_t>(moved[row].second)] = static_cast<int>(row);
    }
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex& old : before) {
        after.append(index(rowOf[static_cast<size_t>(old.row())], old.column()));
    }
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace vardane::gui
