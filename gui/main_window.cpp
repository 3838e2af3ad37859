#include "gui/main_window.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/command_ids.h"
#include "app/main_frame.h"
#include "app/main_frame_host.h"
#include "app/task_rows.h"
#include "gui/access_keys.h"
#include "gui/icons.h"
#include "gui/readable_units.h"
#include "gui/task_list_model.h"
#include "gui/task_list_view.h"
#include "gui/window_layout.h"
#include "settings/app_context.h"

namespace vardane::gui {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

constexpr int kItemRole = Qt::UserRole + 1;

// The menu command a toolbar button shares its text with.
int MenuCommandOf(int toolbarCommand) {
    switch (toolbarCommand) {
        case ID_TB_NEW:
            return ID_NEW;
        case ID_TB_START:
            return ID_START;
        case ID_TB_STOP:
            return ID_STOP;
        case ID_TB_DELETE:
            return ID_DELETE;
        case ID_TB_PROPERTIES:
            return ID_PROPERTIES;
        default:
            return toolbarCommand;
    }
}

// The key of a menu command (none for those without one).
QKeySequence ShortcutOf(int command) {
    switch (command) {
        case ID_NEW:
            return QKeySequence::New;
        case ID_SELECT_ALL:
            return QKeySequence::SelectAll;
        case ID_DELETE:
            return QKeySequence::Delete;
        case ID_EXIT:
            return QKeySequence::Quit;
        case ID_START:
            return QKeySequence(Qt::CTRL | Qt::Key_S);
        case ID_STOP:
            return QKeySequence(Qt::CTRL | Qt::Key_T);
        case ID_PROPERTIES:
            return QKeySequence(Qt::ALT | Qt::Key_Return);
        case ID_MOVE_UP:
            return QKeySequence(Qt::CTRL | Qt::Key_Up);
        case ID_MOVE_DOWN:
            return QKeySequence(Qt::CTRL | Qt::Key_Down);
        default:
            return {};
    }
}

// The language key of a menu command's text.
const char* MenuKeyOf(int command) {
    switch (command) {
        case ID_NEW:
            return "Menu_Main_New";
        case ID_IMPORT:
            return "Menu_Main_Import";
        case ID_SITE_EXPLORER:
            return "Menu_Main_Site";
        case ID_SETTINGS:
            return "Menu_Main_Setting";
        case ID_EXIT:
            return "Menu_Main_Exit";
        case ID_SELECT_ALL:
            return "Menu_Main_SelectAll";
        case ID_START:
            return "Menu_Main_Start";
        case ID_STOP:
            return "Menu_Main_Stop";
        case ID_DELETE:
            return "Menu_Main_Delete";
        case ID_START_ALL:
            return "Menu_Main_StartAll";
        case ID_STOP_ALL:
            return "Menu_Main_StopAll";
        case ID_DELETE_ALL:
            return "Menu_Main_DeleteAll";
        case ID_PROPERTIES:
            return "Menu_Main_Properties";
        case ID_OPEN_FILE:
            return "Menu_Main_OpenFile";
        case ID_OPEN_FOLDER:
            return "Menu_Main_OpenFolder";
        case ID_REDOWNLOAD:
            return "Menu_Main_ReDownload";
        default:
            return "";
    }
}

QColor Colour(Rgb rgb) {
    return QColor(rgb.R, rgb.G, rgb.B);
}

}  // namespace

MainWindow::MainWindow(MainFrame& frame, std::function<void()> onClose)
    : frame_(frame), onClose_(std::move(onClose)) {
    setWindowIcon(ProgramIcon());
    BuildWidgets();
    RestoreWindowLayout(frame_.Context().registry, *this, *table_);
    readableUnits_->setChecked(table_->ReadableUnits());
    Render(~0u);
}

MainWindow::~MainWindow() = default;

QTableView& MainWindow::TaskTable() {
    return *table_;
}

QString MainWindow::MenuText(const MenuEntry& entry) const {
    const LangTable& lang = frame_.Context().lang;
    return WithAccessKey(entry.Text,
                         lang.GetLangText(std::string("Access_") + MenuKeyOf(entry.CommandId)));
}

void MainWindow::BuildWidgets() {
    fileMenu_ = menuBar()->addMenu(QString());
    controlMenu_ = menuBar()->addMenu(QString());
    BuildViewMenu();
    toolbar_ = addToolBar(QString());
    toolbar_->setObjectName(QStringLiteral("toolbar"));
    toolbar_->setMovable(false);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(BuildHeaderBar());

    folderTree_ = new QTreeWidget(central);
    folderTree_->setHeaderHidden(true);
    folderTree_->setContextMenuPolicy(Qt::CustomContextMenu);
    folderTree_->hide();
    layout->addWidget(folderTree_, 1);
    connect(folderTree_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { TapFolder(item->data(0, kItemRole).toInt()); });
    connect(folderTree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* item = folderTree_->itemAt(at);
        if (item == nullptr) {
            return;
        }
        const TreeItem node = item->data(0, kItemRole).toInt();
        QMenu* menu = MakeMenu(frame_.Pane().CategoryPopupMenu(node), this);
        if (QAction* chosen = menu->exec(folderTree_->viewport()->mapToGlobal(at))) {
            frame_.View().CategoryCommand(chosen->data().toInt(), node);
        }
        menu->deleteLater();
    });

    tabs_ = new QTabWidget(central);
    tabs_->setTabPosition(QTabWidget::South);
    model_ = new TaskListModel(frame_, this);
    table_ = new TaskListView(*model_, tabs_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setShowGrid(true);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Fixed row heights keep 10,000 rows as cheap as 10.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    // A reset (a bulk delete or import) clears the table's selection; the
    // frame's, which its commands act on, is shown again.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { SelectFrameRowsInView(); });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { SyncSelectionToFrame(); });
    connect(table_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = MakeMenu(TaskPopupEntries(), this);
        if (QAction* chosen = menu->exec(table_->viewport()->mapToGlobal(at))) {
            RunCommand(chosen->data().toInt());
        }
        menu->deleteLater();
    });
    connect(table_, &QAbstractItemView::doubleClicked, this, [this] { RunCommand(ID_PROPERTIES); });
    tabs_->addTab(table_, QString());
    tabs_->addTab(BuildLogPage(), QString());
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int tab) {
        if (!syncing_) {
            frame_.Pane().SelectTab(tab);
        }
    });
    layout->addWidget(tabs_, 1);
    setCentralWidget(central);
    BuildStatusLine();
    setAcceptDrops(true);
    // Ctrl+V anywhere in the window: the list has no text field of its own.
    auto* paste = new QAction(this);
    paste->setShortcut(QKeySequence::Paste);
    paste->setShortcutContext(Qt::WindowShortcut);
    connect(paste, &QAction::triggered, this, [this] { PasteLinks(); });
    addAction(paste);
    resize(760, 480);
}

QWidget* MainWindow::BuildHeaderBar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 2, 4, 2);
    folderButton_ = new QToolButton(bar);
    folderButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    folderButton_->setIcon(ImageIcon(imgDownloading));
    folderButton_->setObjectName(QStringLiteral("folderButton"));
    connect(folderButton_, &QToolButton::clicked, this,
            [this] { frame_.Pane().ToggleFolderTree(); });
    fileCount_ = new QLabel(bar);
    row->addWidget(folderButton_);
    row->addStretch(1);
    row->addWidget(fileCount_);
    return bar;
}

QWidget* MainWindow::BuildLogPage() {
    auto* split = new QSplitter(Qt::Horizontal, this);
    logTree_ = new QTreeWidget(split);
    logTree_->setHeaderHidden(true);
    logList_ = new QListWidget(split);
    logList_->setObjectName(QStringLiteral("logList"));
    logList_->setUniformItemSizes(true);
    split->setStretchFactor(1, 3);
    connect(logTree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        const int thread = item->data(0, kItemRole).toInt();
        if (thread > 0) {
            frame_.Log().SelectThread(thread);
        }
    });
    return split;
}

void MainWindow::BuildViewMenu() {
    viewMenu_ = menuBar()->addMenu(QString());
    readableUnits_ = viewMenu_->addAction(QString());
    readableUnits_->setObjectName(QStringLiteral("readableUnits"));
    readableUnits_->setCheckable(true);
    connect(readableUnits_, &QAction::toggled, this, [this](bool on) {
        table_->SetReadableUnits(on);
        StoreReadableUnits(frame_.Context().registry, on);
        ShowTotalSpeed();
    });
}

void MainWindow::BuildStatusLine() {
    limitCheck_ = new QCheckBox(this);
    limitSlider_ = new QSlider(Qt::Horizontal, this);
    limitSlider_->setObjectName(QStringLiteral("speedLimit"));
    limitSlider_->setRange(1, 1024);
    // A click beside the handle moves a sixteenth of the range; the arrow
    // keys move by 1 KB/s.
    limitSlider_->setPageStep(64);
    limitSlider_->setSingleStep(1);
    limitSlider_->setMaximumWidth(200);
    totalSpeed_ = new QLabel(this);
    statusBar()->addWidget(limitCheck_);
    statusBar()->addWidget(limitSlider_, 1);
    statusBar()->addPermanentWidget(totalSpeed_);
    connect(limitCheck_, &QCheckBox::toggled, this, [this](bool on) {
        if (!syncing_) {
            frame_.Speed().SetSpeedLimitChecked(on);
        }
    });
    connect(limitSlider_, &QSlider::valueChanged, this, [this](int value) {
        if (!syncing_) {
            frame_.Speed().OnSpeedLimitValue(value);
        }
    });
}

void MainWindow::Render(unsigned parts) {
    syncing_ = true;
    if (parts & (partMenus | partTitle)) {
        FillMenus();
        FillToolbar();
    }
    if (parts & partTitle) {
        RelabelStatic();
    }
    if (parts & partFolders) {
        FillFolderTree();
        // The frame derives its rows after it announced the folder change:
        // follow once it is done.
        if (!followPending_) {
            followPending_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    followPending_ = false;
                    FollowView();
                },
                Qt::QueuedConnection);
        }
    }
    if (parts & partFileCount) {
        fileCount_->setText(Q(frame_.View().FileCountText()));
    }
    if (parts & partTotalSpeed) {
        ShowTotalSpeed();
    }
    if (parts & partSpeedLimit) {
        limitCheck_->setChecked(frame_.Speed().SpeedLimitChecked());
        limitCheck_->setText(Q(frame_.Speed().SpeedLimitCaption()));
        limitSlider_->setValue(frame_.Speed().SpeedLimitSliderValue());
        // Without a limit the value means nothing: it can be set only
        // while the box is ticked, so the caption always tells it.
        limitSlider_->setEnabled(frame_.Speed().SpeedLimitChecked());
    }
    if (parts & partTabs) {
        tabs_->setCurrentIndex(frame_.Pane().CurrentTab());
    }
    if (parts & partLogTree) {
        FillLogTree();
    }
    if (parts & partLogList) {
        FillLogList();
    }
    syncing_ = false;
}

void MainWindow::ShowTotalSpeed() {
    const QString text = Q(frame_.Speed().TotalSpeedText());
    bool ok = false;
    const double kb = text.section(QLatin1Char(' '), 0, 0).toDouble(&ok);
    totalSpeed_->setText(ok && table_->ReadableUnits() ? ReadableSpeed(kb) : text);
}

void MainWindow::RelabelStatic() {
    setWindowTitle(Q(frame_.Pane().Title()));
    const auto& lang = frame_.Context().lang;
    viewMenu_->setTitle(AccessText(lang, "Menu_Main_View"));
    readableUnits_->setText(AccessText(lang, "Menu_Main_ReadableSizes"));
    tabs_->setTabText(0, Q(frame_.Context().lang.GetLangText("MainDlg_Tab_Tasks")));
    tabs_->setTabText(1, Q(frame_.Context().lang.GetLangText("MainDlg_Tab_Log")));
    logList_->setToolTip(Q(frame_.Context().lang.GetLangText("MainDlg_Log_Desp")));
    folderButton_->setToolTip(Q(frame_.Context().lang.GetLangText("MainDlg_FolderTip")));
    model_->Relabel();
}

QMenu* MainWindow::MakeMenu(const std::vector<MenuEntry>& entries, QWidget* parent) {
    auto* menu = new QMenu(parent);
    for (const MenuEntry& entry : entries) {
        if (entry.Text.empty()) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(MenuText(entry));
        action->setData(entry.CommandId);
    }
    return menu;
}

void MainWindow::FillMenus() {
    const auto& lang = frame_.Context().lang;
    fileMenu_->setTitle(AccessText(lang, "Menu_Main_File"));
    controlMenu_->setTitle(AccessText(lang, "Menu_Main_Ctrl"));
    const std::pair<QMenu*, const std::vector<MenuEntry>*> menus[] = {
        {fileMenu_, &frame_.Pane().FileMenu()}, {controlMenu_, &frame_.Pane().ControlMenu()}};
    for (auto [menu, entries] : menus) {
        menu->clear();
        for (const MenuEntry& entry : *entries) {
            if (entry.Text.empty()) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(MenuText(entry));
            const int id = entry.CommandId;
            connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
            action->setShortcut(ShortcutOf(id));
        }
    }
}

void MainWindow::FillToolbar() {
    toolbar_->clear();
    std::vector<MenuEntry> known = frame_.Pane().FileMenu();
    for (const MenuEntry& entry : BuildControlMenu(TaskView::Downloading, frame_.Context().lang)) {
        known.push_back(entry);
    }
    for (const ToolbarButton& button : ToolbarButtons()) {
        if (button.Command == ID_SEPARATOR) {
            toolbar_->addSeparator();
            continue;
        }
        QAction* action = toolbar_->addAction(ImageIcon(button.Image), QString());
        for (const MenuEntry& entry : known) {
            if (entry.CommandId == MenuCommandOf(button.Command)) {
                action->setText(Q(entry.Text));
            }
        }
        const int id = button.Command;
        if (id == ID_MOVE_UP || id == ID_MOVE_DOWN) {
            // Toolbar-only commands: their keys live here (the others' keys
            // are on the menu items, and one key may serve only one action).
            action->setText(Q(frame_.Context().lang.GetLangText(
                id == ID_MOVE_UP ? "MainDlg_MoveUp" : "MainDlg_MoveDown")));
            action->setShortcut(ShortcutOf(id));
        }
        action->setObjectName(QStringLiteral("tool%1").arg(id));
        const QKeySequence key = ShortcutOf(MenuCommandOf(id));
        action->setToolTip(key.isEmpty() ? action->text()
                                         : action->text() + QStringLiteral(" (") +
                                               key.toString(QKeySequence::NativeText) + u')');
        connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    }
}

void MainWindow::FillFolderTree() {
    const TreeModel& tree = frame_.Pane().Folders();
    folderTree_->clear();
    std::function<void(TreeItem, QTreeWidgetItem*)> add = [&](TreeItem parent,
                                                              QTreeWidgetItem* into) {
        for (TreeItem child : tree.Children(parent)) {
            auto* item =
                into != nullptr ? new QTreeWidgetItem(into) : new QTreeWidgetItem(folderTree_);
            item->setText(0, Q(tree.Text(child)));
            item->setIcon(0, ImageIcon(tree.Icon(child)));
            item->setData(0, kItemRole, child);
            add(child, item);
            item->setExpanded(tree.IsExpanded(child) || into == nullptr);
            if (child == tree.Selected()) {
                folderTree_->setCurrentItem(item);
            }
        }
    };
    add(kNoItem, nullptr);
    folderTree_->setVisible(frame_.Pane().FolderTreeVisible());
    tabs_->setVisible(!frame_.Pane().FolderTreeVisible());
    folderButton_->setText(Q(frame_.Pane().FolderButtonText()));
    folderButton_->setIcon(
        ImageIcon(imgDownloading + static_cast<int>(frame_.Pane().CurrentView())));
}

// The model shows what the frame shows: its view, narrowed to the category
// of the selected folder.
void MainWindow::FollowView() {
    const int view = static_cast<int>(frame_.Pane().CurrentView());
    const std::string category = frame_.Pane().CategoryOfFolder(frame_.Pane().Folders().Selected());
    if (view == shownView_ && category == shownCategory_) {
        return;
    }
    shownView_ = view;
    shownCategory_ = category;
    // The model follows the queue on its own: only another view or category
    // needs a reset, which makes the sorted view map every row again.
    if (!model_->IsShowing(frame_.Pane().CurrentView(), category)) {
        model_->ShowView(frame_.Pane().CurrentView(), category);
    }
    SelectFrameRowsInView();
}

void MainWindow::SelectFrameRowsInView() {
    const bool was = syncing_;
    syncing_ = true;
    QItemSelection selection;
    const std::vector<TaskRow>& rows = frame_.View().Rows();
    QAbstractItemModel* shownModel = table_->model();
    for (int row : frame_.View().SelectedRows()) {
        const int shown = table_->ViewRow(model_->RowOf(rows[static_cast<size_t>(row)].Id()));
        if (shown >= 0) {
            selection.select(shownModel->index(shown, 0),
                             shownModel->index(shown, shownModel->columnCount() - 1));
        }
    }
    table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    syncing_ = was;
}

// The frame keeps its own selection (its commands and the log tree read it):
// it gets the rows the user selected here, by task id.
void MainWindow::SyncSelectionToFrame() {
    if (syncing_) {
        return;
    }
    std::vector<int> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        // The list may be sorted: rows are told apart by their task.
        const int source = table_->SourceRow(index.row());
        const std::string id = model_->IdAt(source);
        const std::vector<TaskRow>& frameRows = frame_.View().Rows();
        int row = source >= 0 && source < static_cast<int>(frameRows.size()) &&
                          frameRows[static_cast<size_t>(source)].Id() == id
                      ? source
                      : frame_.View().FindRow(id);
        if (row >= 0) {
            rows.push_back(row);
        }
    }
    syncing_ = true;
    if (rows.size() == 1) {
        frame_.View().SelectOnly(rows[0]);
    } else if (!rows.empty() && rows.size() == frame_.View().Rows().size()) {
        frame_.View().SelectAll();  // one pass, however many rows
    } else {
        frame_.View().ClearSelection();
        for (int row : rows) {
            frame_.View().SetRowSelected(row, true);
        }
    }
    syncing_ = false;
}

std::vector<MenuEntry> MainWindow::TaskPopupEntries() const {
    return frame_.Pane().TaskPopupMenu();
}

void MainWindow::RunCommand(int id) {
    frame_.OnCommand(id);
    if (id == ID_SELECT_ALL) {
        syncing_ = true;
        table_->selectAll();
        syncing_ = false;
    }
}

void MainWindow::TapFolder(TreeItem item) {
    frame_.View().SelectFolderItem(item);
}

void MainWindow::FillLogTree() {
    logTree_->clear();
    const LogTreeState& state = frame_.Log().LogTree();
    if (!state.HasRoot) {
        return;
    }
    auto* root = new QTreeWidgetItem(logTree_, {Q(state.RootText)});
    root->setIcon(0, ImageIcon(imgLogRoot));
    for (int n = 1; n <= state.ThreadCount; ++n) {
        auto* item = new QTreeWidgetItem(root, {QString::number(n)});
        item->setIcon(0, ImageIcon(imgLogThread));
        item->setData(0, kItemRole, n);
        if (n == state.SelectedThread) {
            logTree_->setCurrentItem(item);
        }
    }
    root->setExpanded(true);
}

// A download logs hundreds of lines a second: each is appended to what is
// shown, and the list is rebuilt only when the frame replaced it.
void MainWindow::FillLogList() {
    const std::vector<LogLine>& lines = frame_.Log().LogList();
    size_t from = static_cast<size_t>(logList_->count());
    if (frame_.Log().LogListGeneration() != logGeneration_ || from > lines.size()) {
        logList_->clear();
        logGeneration_ = frame_.Log().LogListGeneration();
        from = 0;
    }
    for (size_t i = from; i < lines.size(); ++i) {
        const LogLine& line = lines[i];
        auto* item = new QListWidgetItem(ImageIcon(line.Icon()), Q(line.Text), logList_);
        item->setForeground(Colour(line.TextColour()));
        item->setBackground(Colour(line.Background()));
    }
    logList_->scrollToBottom();
}

void MainWindow::Quit() {
    quitting_ = true;
    close();
}

void MainWindow::PasteLinks() {
    if (const QMimeData* data = QGuiApplication::clipboard()->mimeData()) {
        DroppedLinks links = LinksOf(*data);
        if (!links.Empty() && linkHandler_) {
            linkHandler_(links);
        }
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData() != nullptr && !LinksOf(*event->mimeData()).Empty()) {
        event->acceptProposedAction();
    }
}

// Handled once the drop is over: the dialog it opens must not run inside
// the drag's own event.
void MainWindow::dropEvent(QDropEvent* event) {
    if (event->mimeData() == nullptr) {
        return;
    }
    DroppedLinks links = LinksOf(*event->mimeData());
    if (links.Empty()) {
        return;
    }
    event->acceptProposedAction();
    QMetaObject::invokeMethod(
        this,
        [this, links] {
            if (linkHandler_) {
                linkHandler_(links);
            }
        },
        Qt::QueuedConnection);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!quitting_ && !closed_ && hideOnClose_ && hideOnClose_()) {
        hide();
        event->ignore();
        return;
    }
    if (!closed_) {
        closed_ = true;
        SaveWindowLayout(frame_.Context().registry, *this, *table_);
        if (onClose_) {
            onClose_();
        }
    }
    event->accept();
}

}  // namespace vardane::gui
