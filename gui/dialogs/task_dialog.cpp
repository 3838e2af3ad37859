#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/dialogs/dialog_util.h"
#include "gui/dialogs/dialog_windows.h"
#include "gui/dialogs/gui_dialogs.h"
#include "task/display_address.h"

namespace vardane::gui {

namespace {

constexpr int kItemRole = Qt::UserRole;

// Adds the model's children of item below parent (nullptr: top level).
void AddTreeItems(QTreeWidget* tree, QTreeWidgetItem* parent, const TreeModel& model,
                  TreeItem item) {
    for (TreeItem child : model.Children(item)) {
        auto* node = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
        node->setText(0, ToQ(model.Text(child)));
        node->setData(0, kItemRole, child);
        AddTreeItems(tree, node, model, child);
        node->setExpanded(model.IsExpanded(child));
    }
}

QTreeWidgetItem* FindTreeItem(QTreeWidget* tree, TreeItem handle) {
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        if ((*it)->data(0, kItemRole).toInt() == handle) {
            return *it;
        }
    }
    return nullptr;
}

// Enter in the address field accepts the dialog, as in every other field:
// the field holds one address, and a line break would only make it invalid.
class EnterAccepts : public QObject {
  public:
    explicit EnterAccepts(QDialog* dialog) : QObject(dialog), dialog_(dialog) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                dialog_->accept();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QDialog* dialog_;
};

}  // namespace

TaskDialog::TaskDialog(QWidget* parent, EdtTaskDlg& model) : QDialog(parent), model_(model) {
    const EdtTaskDlg::Labels& labels = model_.GetLabels();
    setWindowTitle(ToQ(labels.Title));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildUrlAndFile());
    layout->addWidget(BuildCategory());
    layout->addWidget(BuildLogin());
    layout->addWidget(BuildStartAndProxy());
    layout->addWidget(OkCancelButtons(this, labels.Ok, labels.Cancel));
    ShowLoginFields();
    ShowCategory();
}

QWidget* TaskDialog::BuildUrlAndFile() {
    const EdtTaskDlg::Labels& labels = model_.GetLabels();
    auto* box = new QWidget(this);
    auto* form = new QFormLayout(box);
    // The address shows its password masked (the password field holds it
    // behind dots); an edit that keeps the masked login keeps the real one.
    const std::string realUrl = model_.Url();
    url_ = new QPlainTextEdit(ToQ(MaskAddressForDisplay(realUrl)), box);
    url_->setObjectName(EdtTaskDlg::kFieldUrl);
    url_->setTabChangesFocus(true);
    url_->installEventFilter(new EnterAccepts(this));
    connect(url_, &QPlainTextEdit::textChanged, this, [this, realUrl] {
        model_.OnUrlChanged(UnmaskAddress(FromQ(url_->toPlainText()), realUrl));
        ShowLoginFields();
    });
    form->addRow(KeyLabel(labels.Url, "EdtTaskDlg_URL", box), url_);

    saveTo_ = new QLineEdit(ToQ(model_.SaveTo()), box);
    saveTo_->setObjectName("SaveTo");
    // A folder path is long: the field shows a whole usual one (up to 60
    // characters) rather than the few a line edit asks for.
    const QFontMetrics metrics = saveTo_->fontMetrics();
    saveTo_->setMinimumWidth(std::max(metrics.horizontalAdvance(saveTo_->text().left(60)),
                                      metrics.averageCharWidth() * 40) +
                             24);
    connect(saveTo_, &QLineEdit::textChanged, this,
            [this](const QString& text) { model_.SetSaveTo(FromQ(text)); });
    auto* browse = new QPushButton("...", box);
    connect(browse, &QPushButton::clicked, this, [this] {
        model_.OnBrowse(BrowseRunner(this));
        saveTo_->setText(ToQ(model_.SaveTo()));
    });
    auto* saveRow = new QHBoxLayout;
    saveRow->addWidget(saveTo_);
    saveRow->addWidget(browse);
    form->addRow(KeyLabel(labels.SaveTo, "EdtTaskDlg_SaveTo", box), saveRow);

    rename_ = new QLineEdit(ToQ(model_.FileName()), box);
    rename_->setObjectName("Rename");
    connect(rename_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!refreshing_) {
            model_.SetFileName(FromQ(text));
        }
    });
    form->addRow(KeyLabel(labels.Rename, "EdtTaskDlg_Rename", box), rename_);

    auto* split = BoundCombo(EdtTaskDlg::SplitEntries(), model_.SplitSelection(), "Block", box,
                             [this](int index) { model_.SetConnections(index + 1); });
    form->addRow(KeyLabel(labels.Block, "EdtTaskDlg_Block", box), split);

    auto* checksum = new QLineEdit(ToQ(model_.ChecksumEntry()), box);
    checksum->setObjectName(EdtTaskDlg::kFieldChecksum);
    checksum->setPlaceholderText("sha256=...");
    connect(checksum, &QLineEdit::textChanged, this,
            [this](const QString& text) { model_.SetChecksumEntry(FromQ(text)); });
    form->addRow(KeyLabel(labels.Checksum, "EdtTaskDlg_Checksum", box), checksum);

    // The page a browser handed the download over from: shown, not edited
    // (the cookie that came with it is never shown).
    if (const std::string& referer = model_.Headers().Referer; !referer.empty()) {
        auto* shown = new QLineEdit(ToQ(MaskAddressForDisplay(referer)), box);
        shown->setObjectName("Referer");
        shown->setReadOnly(true);
        form->addRow(KeyLabel(labels.Referer, "EdtTaskDlg_Referer", box), shown);
    }
    return box;
}

QWidget* TaskDialog::BuildCategory() {
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    row->addWidget(KeyLabel(model_.GetLabels().Cat, "EdtTaskDlg_Cat", box));
    category_ = new QLabel(box);
    category_->setObjectName("CategoryText");
    row->addWidget(category_, 1);
    auto* button = new QPushButton("...", box);
    button->setObjectName("CategoryButton");
    connect(button, &QPushButton::clicked, this, [this] {
        model_.OnCategoryButton();
        ShowCategory();
    });
    row->addWidget(button);
    layout->addLayout(row);

    tree_ = new QTreeWidget(box);
    tree_->setObjectName("CategoryTree");
    tree_->setHeaderHidden(true);
    AddTreeItems(tree_, nullptr, model_.CategoryTree(), kNoItem);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { OnCategoryItem(item, false); });
    connect(tree_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { OnCategoryItem(item, true); });
    layout->addWidget(tree_);
    return box;
}

QWidget* TaskDialog::BuildLogin() {
    const EdtTaskDlg::Labels& labels = model_.GetLabels();
    auto* box = new QWidget(this);
    auto* form = new QFormLayout(box);
    login_ = new QCheckBox(ToQ(labels.Login), box);
    login_->setObjectName("Login");
    connect(login_, &QCheckBox::toggled, this, [this](bool checked) {
        if (!refreshing_) {
            model_.SetLogin(checked);
            ShowLoginFields();
        }
    });
    form->addRow(login_);
    user_ = new QLineEdit(box);
    user_->setObjectName(EdtTaskDlg::kFieldUid);
    connect(user_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!refreshing_) {
            model_.SetUser(FromQ(text));
        }
    });
    form->addRow(KeyLabel(labels.Uid, "EdtTaskDlg_Uid", box), user_);
    password_ = new QLineEdit(box);
    password_->setObjectName(EdtTaskDlg::kFieldPwd);
    password_->setEchoMode(QLineEdit::Password);
    connect(password_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!refreshing_) {
            model_.SetPassword(FromQ(text));
        }
    });
    form->addRow(KeyLabel(labels.Pwd, "EdtTaskDlg_Pwd", box), password_);
    return box;
}

QWidget* TaskDialog::BuildStartAndProxy() {
    const EdtTaskDlg::Labels& labels = model_.GetLabels();
    auto* box = new QWidget(this);
    auto* layout = new QHBoxLayout(box);
    auto* start = new QGroupBox(ToQ(labels.Start), box);
    auto* startLayout = new QVBoxLayout(start);
    auto* immediately = new QRadioButton(ToQ(labels.Immediately), start);
    immediately->setObjectName("Immediately");
    auto* manual = new QRadioButton(ToQ(labels.Manual), start);
    manual->setObjectName("Manual");
    (model_.Immediately() ? immediately : manual)->setChecked(true);
    connect(immediately, &QRadioButton::toggled, this,
            [this](bool checked) { model_.SetImmediately(checked); });
    startLayout->addWidget(immediately);
    startLayout->addWidget(manual);
    layout->addWidget(start);

    auto* proxy = new QGroupBox(ToQ(labels.Proxy), box);
    auto* proxyForm = new QFormLayout(proxy);
    auto* http = BoundCombo(model_.ProxyNames(), model_.ProxyHttpSelection(), "ProxyHTTP", proxy,
                            [this](int index) { model_.SetProxyHttp(index + 1); });
    proxyForm->addRow(new QLabel(ToQ(labels.ProxyHttp), proxy), http);
    auto* ftp = BoundCombo(model_.ProxyNames(), model_.ProxyFtpSelection(), "ProxyFTP", proxy,
                           [this](int index) { model_.SetProxyFtp(index + 1); });
    proxyForm->addRow(new QLabel(ToQ(labels.ProxyFtp), proxy), ftp);
    auto* save = new QPushButton(ToQ(labels.Default), proxy);
    save->setObjectName("EdtTaskDlg_Default");
    connect(save, &QPushButton::clicked, this, [this] { model_.SaveAsDefault(); });
    proxyForm->addRow(save);
    layout->addWidget(proxy);
    return box;
}

// The URL fills the login data and, for a new task, the file name.
void TaskDialog::ShowLoginFields() {
    refreshing_ = true;
    login_->setChecked(model_.Login());
    user_->setText(ToQ(model_.User()));
    password_->setText(ToQ(model_.Password()));
    user_->setEnabled(model_.Login());
    password_->setEnabled(model_.Login());
    if (rename_->text() != ToQ(model_.FileName())) {
        rename_->setText(ToQ(model_.FileName()));
    }
    refreshing_ = false;
}

void TaskDialog::ShowCategory() {
    const QSignalBlocker blocker(tree_);
    category_->setText(ToQ(model_.CategoryText()));
    tree_->setCurrentItem(FindTreeItem(tree_, model_.CategoryTree().Selected()));
    tree_->setVisible(model_.CategoryTreeShown());
}

void TaskDialog::OnCategoryItem(QTreeWidgetItem* item, bool byMouse) {
    if (item == nullptr) {
        return;
    }
    model_.OnCategorySelected(item->data(0, kItemRole).toInt(), byMouse);
    ShowCategory();
}

void TaskDialog::accept() {
    if (ModelAccepts(this, model_)) {
        QDialog::accept();
    }
}

void TaskDialog::reject() {
    model_.Cancel();
    QDialog::reject();
}

bool ExecTaskDialog(QWidget* parent, EdtTaskDlg& model) {
    TaskDialog dialog(parent, model);
    dialog.exec();
    return model.Accepted();
}

void InitNewTask(EdtTaskDlg& model, const std::string& url) {
    std::string clipboard;
    if (url.empty()) {
        clipboard = FromQ(QGuiApplication::clipboard()->text());
    }
    model.InitNew(url, clipboard);
}

}  // namespace vardane::gui
