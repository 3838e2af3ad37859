#include "gui/task_list_view.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <algorithm>

#include "app/task_rows.h"
#include "gui/readable_units.h"
#include "gui/task_list_model.h"

namespace vardane::gui {
namespace {

constexpr int kNameColumn = 0;
constexpr int kPercentColumn = 1;
constexpr int kSizeColumn = 2;
constexpr int kPosColumn = 3;
constexpr int kSpeedColumn = 4;

// The percent a row shows, -1 while the size is unknown ("??%").
int PercentOf(const QModelIndex& index) {
    QString text = index.siblingAtColumn(kPercentColumn).data().toString();
    bool ok = false;
    const int percent = text.endsWith(QLatin1Char('%')) ? text.chopped(1).toInt(&ok) : 0;
    return ok ? std::clamp(percent, 0, 100) : -1;
}

// Draws the percent over a progress bar.
class ProgressDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &item, painter, widget);
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(2, 2, -2, -2);
        bar.state = option.state | QStyle::State_Horizontal;
        bar.direction = option.direction;
        bar.fontMetrics = option.fontMetrics;
        bar.palette = option.palette;
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = std::max(PercentOf(index), 0);
        bar.text = item.text;
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
    }
};

}  // namespace

// Sorts by the numbers behind the texts, and shows sizes and speeds in
// readable units when asked. Equal keys keep the queue order.
class TaskSortModel : public QSortFilterProxyModel {
  public:
    TaskSortModel(TaskListModel& source, QObject* parent)
        : QSortFilterProxyModel(parent), source_(source) {
        setSourceModel(&source);
    }

    void SetReadable(bool on) {
        if (readable_ != on) {
            readable_ = on;
            if (rowCount() > 0) {
                Q_EMIT dataChanged(index(0, kSizeColumn), index(rowCount() - 1, kSpeedColumn));
            }
        }
    }
    bool Readable() const { return readable_; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !readable_ || index.column() < kSizeColumn ||
            index.column() > kSpeedColumn) {
            return QSortFilterProxyModel::data(index, role);
        }
        const QueuedTask& task = source_.TaskAt(mapToSource(index).row());
        switch (index.column()) {
            case kSizeColumn:
                return task.Size > 0 ? ReadableBytes(task.Size) : QStringLiteral("??");
            case kPosColumn:
                return task.PosText.empty() ? QString() : ReadableBytes(task.Pos);
            default:
                return task.SpeedKb >= 0 ? ReadableSpeed(task.SpeedKb) : QString();
        }
    }

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override {
        const int column = left.column();
        const QueuedTask& a = source_.TaskAt(left.row());
        const QueuedTask& b = source_.TaskAt(right.row());
        int order = 0;
        auto compare = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
        switch (column) {
            case kNameColumn:
                order =
                    QString::localeAwareCompare(left.data().toString(), right.data().toString());
                break;
            case kPercentColumn:
                order = compare(PercentOf(left), PercentOf(right));
                break;
            case kSizeColumn:
                order = compare(a.Size, b.Size);
                break;
            case kPosColumn:
                order = compare(a.Pos, b.Pos);
                break;
            case kSpeedColumn:
                order = compare(a.SpeedKb, b.SpeedKb);
                break;
            case TaskListModel::kTimeLeftColumn:
                order = compare(SecondsLeft(a), SecondsLeft(b));
                break;
            default:
                break;
        }
        // Ties in queue order, whichever way the column sorts.
        if (order == 0) {
            const bool ascending = sortOrder() == Qt::AscendingOrder;
            return ascending ? left.row() < right.row() : left.row() > right.row();
        }
        return order < 0;
    }

  private:
    TaskListModel& source_;
    bool readable_ = true;
};

TaskListView::TaskListView(TaskListModel& model, QWidget* parent)
    : QTableView(parent), model_(model), sorted_(new TaskSortModel(model, this)) {
    setObjectName(QStringLiteral("taskList"));
    setModel(sorted_);
    setItemDelegateForColumn(kPercentColumn, new ProgressDelegate(this));
    QHeaderView* header = horizontalHeader();
    header->setStretchLastSection(false);
    header->setSortIndicatorClearable(true);
    // Shown in queue order until a header is clicked: ascending, descending,
    // then the queue order again.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
    setColumnHidden(kIdColumn, true);
    connect(header, &QHeaderView::sectionResized, this, [this] {
        if (!fitting_) {
            userWidths_ = true;
        }
    });
    FitColumns();
}

int TaskListView::SourceRow(int viewRow) const {
    return sorted_->mapToSource(sorted_->index(viewRow, 0)).row();
}

int TaskListView::ViewRow(int sourceRow) const {
    if (sourceRow < 0 || sourceRow >= model_.rowCount()) {
        return -1;
    }
    return sorted_->mapFromSource(model_.index(sourceRow, 0)).row();
}

std::string TaskListView::IdAtRow(int viewRow) const {
    return model_.IdAt(SourceRow(viewRow));
}

void TaskListView::SetReadableUnits(bool on) {
    sorted_->SetReadable(on);
}

bool TaskListView::ReadableUnits() const {
    return sorted_->Readable();
}

void TaskListView::FitColumns() {
    const QFontMetrics cells = fontMetrics();
    const QFontMetrics heads = horizontalHeader()->fontMetrics();
    const int pad = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 12;
    // Room for the header's text and its sort arrow.
    auto fit = [&](int column, std::initializer_list<const char*> samples) {
        int width = heads.horizontalAdvance(
                        model_.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString()) +
                    heads.height() + pad;
        for (const char* sample : samples) {
            width = std::max(width, cells.horizontalAdvance(QLatin1String(sample)) + pad);
        }
        return width;
    };
    const int widths[] = {
        0,
        fit(kPercentColumn, {"100%"}),
        fit(kSizeColumn, {"999999999999", "1023.9 MiB"}),
        fit(kPosColumn, {"999999999999", "1023.9 MiB"}),
        fit(kSpeedColumn, {"99999.9 KB/s", "1023.9 MiB/s"}),
        0,
        fit(TaskListModel::kTimeLeftColumn, {"999:59:59"}),
    };
    int used = 0;
    for (int width : widths) {
        used += width;
    }
    // A vertical scroll bar may come with more rows: its room is kept.
    const int room = viewport()->width() - verticalScrollBar()->sizeHint().width() - used;
    fitting_ = true;
    for (int column = 0; column < static_cast<int>(std::size(widths)); ++column) {
        if (column == kNameColumn) {
            setColumnWidth(column, std::max(room, cells.averageCharWidth() * 12));
        } else if (column != kIdColumn) {
            setColumnWidth(column, widths[column]);
        }
    }
    fitting_ = false;
}

QString TaskListView::ColumnWidthsText() const {
    QStringList widths;
    for (int column = 0; column < model_.columnCount(); ++column) {
        widths << QString::number(columnWidth(column));
    }
    return widths.join(QLatin1Char(','));
}

bool TaskListView::RestoreColumnWidths(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != model_.columnCount()) {
        return false;
    }
    std::vector<int> widths;
    for (const QString& part : parts) {
        bool ok = false;
        const int width = part.toInt(&ok);
        if (!ok || width < 0 || width > 4000) {
            return false;
        }
        widths.push_back(width);
    }
    for (int column = 0; column < model_.columnCount(); ++column) {
        if (column != kIdColumn) {
            setColumnWidth(column, std::max(widths[static_cast<size_t>(column)], 16));
        }
    }
    userWidths_ = true;
    return true;
}

void TaskListView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    // Until the user sizes a column, the file name takes what the window
    // gives.
    if (!userWidths_) {
        FitColumns();
    }
}

}  // namespace vardane::gui
