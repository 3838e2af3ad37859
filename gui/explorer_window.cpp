#include "gui/explorer_window.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "app/main_frame.h"
#include "app/task_rows.h"
#include "explorer/explorer_tasks.h"
#include "gui/access_keys.h"
#include "gui/dialogs/dialog_util.h"
#include "gui/icons.h"
#include "gui/site_dialog.h"
#include "platform/display_text.h"
#include "settings/app_context.h"

namespace vardane::gui {

namespace {

constexpr int kItemRole = Qt::UserRole + 1;
constexpr int kFolderRole = Qt::UserRole + 2;
// The tree's stand-in child that makes a folder not yet listed expandable.
constexpr const char* kPlaceholder = "Temp";

// The explorer's own image numbers: 0 folder, 1 file, 2 site, 4 to 7 the
// log kinds, 8 idle and 9 busy.
QIcon ExplorerIcon(int icon) {
    QStyle* style = QApplication::style();
    switch (icon) {
        case 0:
            return style->standardIcon(QStyle::SP_DirIcon);
        case 1:
            return style->standardIcon(QStyle::SP_FileIcon);
        case 2:
            return style->standardIcon(QStyle::SP_DriveNetIcon);
        case 4:
        case 5:
        case 6:
        case 7:
            return ImageIcon(imgLogKind0 + icon - 4);
        case SiteExplorer::kIconBusy:
            return ImageIcon(imgTaskRunning);
        default:
            return ImageIcon(imgDownloading);
    }
}

// Picked files go to the main window's queue, a copied URL to the desktop's
// clipboard.
class WindowExplorerHost : public IExplorerHost {
  public:
    explicit WindowExplorerHost(MainFrame& frame) : tasks_(frame) {}
    int AddExplorerTask(const std::string& folder, const std::string& url) override {
        return tasks_.AddExplorerTask(folder, url);
    }
    void SetClipboardText(const std::string& text) override {
        QGuiApplication::clipboard()->setText(ToQ(text));
    }

  private:
    FrameExplorerHost tasks_;
};

// Names, folders and log lines come from the server: shown without the
// control characters that could turn the text around.
QString ServerText(const std::string& text) {
    return ToQ(DisplayText(text));
}

bool ShowsRow(const QTreeWidgetItem* item, const ExplorerRow& row) {
    return item->data(0, kFolderRole).toBool() == row.Folder &&
           item->text(0) == ServerText(row.Name) && item->text(1) == ToQ(row.SizeText);
}

QTreeWidgetItem* RowItem(const ExplorerRow& row) {
    auto* item = new QTreeWidgetItem({ServerText(row.Name), ToQ(row.SizeText)});
    item->setIcon(0, ExplorerIcon(row.Icon()));
    item->setData(0, kFolderRole, row.Folder);
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// A folder whose only child is the stand-in: not listed yet.
bool OnlyPlaceholder(const TreeModel& tree, TreeItem item) {
    const std::vector<TreeItem>& children = tree.Children(item);
    return children.size() == 1 && tree.Text(children[0]) == kPlaceholder &&
           tree.Children(children[0]).empty();
}

}  // namespace

ExplorerWindow::ExplorerWindow(QWidget* parent, MainFrame& frame, IQuestions& questions)
    : QDialog(parent),
      frame_(frame),
      questions_(questions),
      modelQuestions_(questions),
      host_(std::make_unique<WindowExplorerHost>(frame)),
      model_(
          std::make_unique<SiteExplorer>(frame.Context(), frame.Loop(), modelQuestions_, *host_)) {
    setWindowTitle(ToQ(frame_.Pane().Title()));
    // On a desktop the saved sites are the first thing to pick from.
    model_->ToggleSiteList();
    BuildWidgets();
    Render();
}

// The model ends its client first (pumping the loop); the widgets go after.
ExplorerWindow::~ExplorerWindow() {
    model_.reset();
}

QuestionAnswer ExplorerWindow::CursorQuestions::Ask(const Question& question) {
    if (waiting) {
        waiting = false;
        QApplication::restoreOverrideCursor();
    }
    return questions_.Ask(question);
}

std::string ExplorerWindow::Text(const char* key) const {
    return frame_.Context().lang.GetLangText(key);
}

void ExplorerWindow::BuildWidgets() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildMenuBar();
    layout->addWidget(BuildHeaderBar());

    sites_ = new QTreeWidget(this);
    sites_->setObjectName(QStringLiteral("sites"));
    sites_->setHeaderHidden(true);
    sites_->setRootIsDecorated(false);
    sites_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sites_, &QTreeWidget::itemActivated, this, [this] { RunCommand(ID_EXP_SITE_GO); });
    connect(sites_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = MakeMenu(SitePopupEntries());
        if (QAction* chosen = menu->exec(sites_->viewport()->mapToGlobal(at))) {
            RunCommand(chosen->data().toInt());
        }
        menu->deleteLater();
    });
    layout->addWidget(sites_, 1);

    folders_ = new QTreeWidget(this);
    folders_->setObjectName(QStringLiteral("folders"));
    folders_->setHeaderHidden(true);
    connect(folders_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { ListFolderLater(item->data(0, kItemRole).toInt()); });
    // Expanding a folder not listed yet lists it.
    connect(folders_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (item->childCount() == 0) {
            ListFolderLater(item->data(0, kItemRole).toInt());
        }
    });
    layout->addWidget(folders_, 1);

    tabs_ = new QTabWidget(this);
    files_ = new QTreeWidget(tabs_);
    files_->setObjectName(QStringLiteral("files"));
    files_->setColumnCount(2);
    files_->setHeaderLabels({ToQ(Text("SiteExp_Lv_Files")), ToQ(Text("SiteExp_Lv_Size"))});
    files_->setRootIsDecorated(false);
    files_->setUniformRowHeights(true);
    files_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    files_->setColumnWidth(0, 168 * 2);
    files_->setColumnWidth(1, 70 * 2);
    files_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(files_, &QTreeWidget::itemClicked, this, [this] { HideDropDowns(); });
    connect(files_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        const int row = files_->indexOfTopLevelItem(item);
        QTimer::singleShot(0, this, [this, row] {
            model_->TapRow(row);
            Render();
        });
    });
    connect(files_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = MakeMenu(FilePopupEntries());
        if (QAction* chosen = menu->exec(files_->viewport()->mapToGlobal(at))) {
            RunCommand(chosen->data().toInt());
        }
        menu->deleteLater();
    });
    log_ = new QListWidget(tabs_);
    log_->setObjectName(QStringLiteral("log"));
    log_->setUniformItemSizes(true);
    tabs_->addTab(files_, ToQ(Text("Menu_SiteExp_Tab_Files")));
    tabs_->addTab(log_, ToQ(Text("Menu_SiteExp_Tab_Log")));
    layout->addWidget(tabs_, 2);
    resize(560, 520);
}

QWidget* ExplorerWindow::BuildHeaderBar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 2, 4, 2);
    foldersButton_ = new QToolButton(bar);
    foldersButton_->setObjectName(QStringLiteral("foldersButton"));
    foldersButton_->setText(ToQ(Text("Menu_SiteExp_Folders")));
    sitesButton_ = new QToolButton(bar);
    sitesButton_->setObjectName(QStringLiteral("sitesButton"));
    sitesButton_->setText(ToQ(Text("Menu_SiteExp_Sites")));
    sitesButton_->setIcon(ExplorerIcon(2));
    for (QToolButton* button : {foldersButton_, sitesButton_}) {
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setCheckable(true);
        row->addWidget(button);
    }
    row->addStretch(1);
    connect(foldersButton_, &QToolButton::clicked, this, [this] {
        model_->ToggleFolderTree();
        Render();
    });
    connect(sitesButton_, &QToolButton::clicked, this, [this] {
        model_->ToggleSiteList();
        Render();
    });
    return bar;
}

void ExplorerWindow::BuildMenuBar() {
    auto* bar = new QMenuBar(this);
    const LangTable& lang = frame_.Context().lang;
    QAction* up = bar->addAction(AccessText(lang, "Menu_SiteExp_Up"));
    connect(up, &QAction::triggered, this, [this] { RunCommand(ID_EXP_UP); });
    QMenu* menu = bar->addMenu(AccessText(lang, "Menu_SiteExp_Ctrl"));
    std::vector<std::pair<int, std::string>> entries = FilePopupEntries();
    entries.emplace_back(0, std::string());
    entries.emplace_back(ID_EXP_EXIT, Text("Menu_SiteExp_Exit"));
    for (const auto& [id, text] : entries) {
        if (id == 0) {
            menu->addSeparator();
            continue;
        }
        // The access keys of the language file, by the entry's command.
        const std::pair<int, const char*> keys[] = {{ID_EXP_REFRESH, "Menu_SiteExp_Refresh"},
                                                    {ID_EXP_SELECT_ALL, "Menu_SiteExp_SelAll"},
                                                    {ID_EXP_DOWNLOAD, "Menu_SiteExp_Download"},
                                                    {ID_EXP_COPY_URL, "Menu_SiteExp_ClipBrd"},
                                                    {ID_EXP_EXIT, "Menu_SiteExp_Exit"}};
        std::string letter;
        for (const auto& [command, key] : keys) {
            if (command == id) {
                letter = lang.GetLangText(std::string("Access_") + key);
            }
        }
        QAction* action = menu->addAction(WithAccessKey(text, letter));
        connect(action, &QAction::triggered, this, [this, id = id] { RunCommand(id); });
        if (id == ID_EXP_SELECT_ALL) {
            action->setShortcut(QKeySequence::SelectAll);
        } else if (id == ID_EXP_REFRESH) {
            action->setShortcut(QKeySequence::Refresh);
        } else if (id == ID_EXP_COPY_URL) {
            action->setShortcut(QKeySequence::Copy);
        }
    }
    static_cast<QVBoxLayout*>(layout())->setMenuBar(bar);
}

std::vector<std::pair<int, std::string>> ExplorerWindow::SitePopupEntries() const {
    return {{ID_EXP_SITE_GO, Text("Menu_SiteExp_Site_Go")},
            {0, ""},
            {ID_EXP_SITE_NEW, Text("Menu_SiteExp_Site_New")},
            {ID_EXP_SITE_EDIT, Text("Menu_SiteExp_Site_Edt")},
            {ID_EXP_SITE_DELETE, Text("Menu_SiteExp_Site_Del")}};
}

std::vector<std::pair<int, std::string>> ExplorerWindow::FilePopupEntries() const {
    return {{ID_EXP_REFRESH, Text("Menu_SiteExp_Refresh")},
            {ID_EXP_SELECT_ALL, Text("Menu_SiteExp_SelAll")},
            {0, ""},
            {ID_EXP_DOWNLOAD, Text("Menu_SiteExp_Download")},
            {ID_EXP_COPY_URL, Text("Menu_SiteExp_ClipBrd")}};
}

QMenu* ExplorerWindow::MakeMenu(const std::vector<std::pair<int, std::string>>& entries) {
    auto* menu = new QMenu(this);
    for (const auto& [id, text] : entries) {
        if (id == 0) {
            menu->addSeparator();
        } else {
            menu->addAction(ToQ(text))->setData(id);
        }
    }
    return menu;
}

// Listing a folder rebuilds the views: not from inside the signal of the
// item that asked for it.
void ExplorerWindow::ListFolderLater(TreeItem folder) {
    QTimer::singleShot(0, this, [this, folder] {
        model_->SelectFolder(folder);
        Render();
    });
}

int ExplorerWindow::SiteRow() const {
    QTreeWidgetItem* item = sites_->currentItem();
    return item != nullptr ? sites_->indexOfTopLevelItem(item) : -1;
}

// The model's commands read its own selection: it gets the rows selected
// here first.
void ExplorerWindow::PushSelection() {
    const int count =
        std::min(files_->topLevelItemCount(), static_cast<int>(model_->Rows().size()));
    for (int row = 0; row < count; ++row) {
        model_->SetRowSelected(row, files_->topLevelItem(row)->isSelected());
    }
}

void ExplorerWindow::HideDropDowns() {
    if (model_->FolderTreeVisible()) {
        model_->ToggleFolderTree();
    }
    if (model_->SiteListVisible()) {
        model_->ToggleSiteList();
    }
    Render();
}

void ExplorerWindow::EditSite(int number) {
    if (ExecSiteDialog(this, frame_.Context(), number, questions_)) {
        model_->LoadSiteList();
    }
}

void ExplorerWindow::RunCommand(int id) {
    switch (id) {
        case ID_EXP_REFRESH:
            model_->Refresh();
            break;
        case ID_EXP_SELECT_ALL:
            model_->SelectAll();
            files_->selectAll();
            break;
        case ID_EXP_DOWNLOAD:
            PushSelection();
            QApplication::setOverrideCursor(Qt::WaitCursor);
            modelQuestions_.waiting = true;
            model_->Download();
            if (modelQuestions_.waiting) {
                modelQuestions_.waiting = false;
                QApplication::restoreOverrideCursor();
            }
            break;
        case ID_EXP_COPY_URL:
            PushSelection();
            model_->CopyUrl();
            break;
        case ID_EXP_EXIT:
            accept();
            return;
        case ID_EXP_UP:
            model_->Up();
            break;
        case ID_EXP_SITE_GO:
            model_->OpenSite(SiteRow());
            break;
        case ID_EXP_SITE_NEW:
            EditSite(-1);
            break;
        case ID_EXP_SITE_EDIT:
            if (SiteRow() >= 0) {
                EditSite(SiteRow() + 1);
            }
            break;
        case ID_EXP_SITE_DELETE:
            model_->DeleteSiteRow(SiteRow());
            break;
        default:
            return;
    }
    Render();
}

void ExplorerWindow::Render() {
    foldersButton_->setIcon(ExplorerIcon(model_->FoldersButtonIcon()));
    foldersButton_->setChecked(model_->FolderTreeVisible());
    sitesButton_->setChecked(model_->SiteListVisible());
    sites_->setVisible(model_->SiteListVisible());
    folders_->setVisible(model_->FolderTreeVisible());
    FillSites();
    FillFolders();
    FillFiles();
    FillLog();
}

void ExplorerWindow::FillSites() {
    const std::vector<SiteEntry>& sites = model_->Sites();
    const bool same = sites.size() == shownSites_.size() &&
                      std::equal(sites.begin(), sites.end(), shownSites_.begin(),
                                 [](const SiteEntry& a, const SiteEntry& b) {
                                     return a.Name == b.Name && a.Url == b.Url;
                                 });
    if (same) {
        return;
    }
    shownSites_ = sites;
    const int current = SiteRow();
    sites_->clear();
    for (const SiteEntry& site : sites) {
        auto* item = new QTreeWidgetItem(sites_, {ToQ(site.Name)});
        item->setIcon(0, ExplorerIcon(2));
        // The password stays inside the store.
        item->setToolTip(0, ToQ(MaskedSiteUrl(site.Url)));
    }
    if (current >= 0 && current < sites_->topLevelItemCount()) {
        sites_->setCurrentItem(sites_->topLevelItem(current));
    }
}

// Folders not listed yet show as expandable without their stand-in child.
void ExplorerWindow::FillFolders() {
    const TreeModel& tree = model_->Folders();
    if (tree.Revision() == shownTreeRevision_) {
        return;
    }
    shownTreeRevision_ = tree.Revision();
    const QSignalBlocker blocker(folders_);
    folders_->clear();
    std::function<void(TreeItem, QTreeWidgetItem*)> add = [&](TreeItem parent,
                                                              QTreeWidgetItem* into) {
        for (TreeItem child : tree.Children(parent)) {
            auto* item =
                into != nullptr ? new QTreeWidgetItem(into) : new QTreeWidgetItem(folders_);
            item->setText(0, ServerText(tree.Text(child)));
            item->setIcon(0, ExplorerIcon(tree.Icon(child)));
            item->setData(0, kItemRole, child);
            if (OnlyPlaceholder(tree, child)) {
                item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
            } else {
                add(child, item);
                item->setExpanded(tree.IsExpanded(child));
            }
            if (child == tree.Selected()) {
                folders_->setCurrentItem(item);
            }
        }
    };
    add(kNoItem, nullptr);
}

// Listing lines arrive one at a time: rows are inserted where the model
// put them (folders above files) instead of rebuilding the list per line.
void ExplorerWindow::FillFiles() {
    const std::vector<ExplorerRow>& rows = model_->Rows();
    int shown = 0;
    for (const ExplorerRow& row : rows) {
        if (shown < files_->topLevelItemCount() && ShowsRow(files_->topLevelItem(shown), row)) {
            ++shown;
            continue;
        }
        files_->insertTopLevelItem(shown++, RowItem(row));
    }
    if (shown == files_->topLevelItemCount()) {
        return;
    }
    // Rows went away (a new folder or site): show the model's rows afresh.
    files_->clear();
    QList<QTreeWidgetItem*> items;
    for (const ExplorerRow& row : rows) {
        items.append(RowItem(row));
    }
    files_->addTopLevelItems(items);
}

void ExplorerWindow::FillLog() {
    const std::vector<ExplorerLogLine>& lines = model_->LogLines();
    int shown = log_->count();
    if (shown > static_cast<int>(lines.size()) ||
        (shown > 0 &&
         log_->item(shown - 1)->text() != ServerText(lines[static_cast<size_t>(shown - 1)].Text))) {
        log_->clear();
        shown = 0;
    }
    if (shown == static_cast<int>(lines.size())) {
        return;
    }
    for (size_t i = static_cast<size_t>(shown); i < lines.size(); ++i) {
        new QListWidgetItem(ExplorerIcon(lines[i].Icon), ServerText(lines[i].Text), log_);
    }
    log_->scrollToBottom();
}

}  // namespace vardane::gui
