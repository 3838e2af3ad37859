#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/dialogs/dialog_util.h"
#include "gui/dialogs/dialog_windows.h"
#include "gui/dialogs/gui_dialogs.h"

namespace vardane::gui {

SettingsSheetDialog::SettingsSheetDialog(QWidget* parent, SettingDlgSheet& model)
    : QDialog(parent), model_(model) {
    setWindowTitle(ToQ(model_.Title()));
    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName("Pages");
    QWidget* pages[] = {BuildGeneral(), BuildConnection(), BuildMessage(), BuildProtocol(),
                        BuildProxy()};
    for (int page = 0; page < SettingDlgSheet::kPageCount; ++page) {
        tabs_->addTab(pages[page], ToQ(model_.TabLabel(page)));
    }
    // Every page's tab stays in sight: the sheet is as wide as its tabs,
    // rather than hiding the last ones behind scroll arrows.
    tabs_->setUsesScrollButtons(false);
    tabs_->setCurrentIndex(model_.CurrentPage());
    connect(tabs_, &QTabWidget::currentChanged, this,
            [this](int page) { model_.SetCurrentPage(page); });
    layout->addWidget(tabs_);
    layout->addWidget(OkCancelButtons(this, model_.Label("Menu_General_Ok"),
                                      model_.Label("Menu_General_Cancel")));
}

QWidget* SettingsSheetDialog::BuildProxy() {
    auto* widget = new QWidget(tabs_);
    auto* layout = new QVBoxLayout(widget);
    proxies_ = new QTreeWidget(widget);
    proxies_->setObjectName("ProxyList");
    proxies_->setRootIsDecorated(false);
    proxies_->setAllColumnsShowFocus(true);
    proxies_->setHeaderLabels(
        {ToQ(model_.Label("SettingDlg_Proxy_Type")), ToQ(model_.Label("SettingDlg_Proxy_Server")),
         ToQ(model_.Label("SettingDlg_Proxy_Port")), ToQ(model_.Label("SettingDlg_Proxy_Name"))});
    const int widths[] = {100, 80, 50, 120};
    for (int column = 0; column < 4; ++column) {
        proxies_->header()->resizeSection(column, widths[column]);
    }
    connect(proxies_, &QTreeWidget::itemDoubleClicked, this, [this] { EditProxy(); });
    layout->addWidget(proxies_);
    auto* edit = new QPushButton(ToQ(model_.Label("SettingDlg_Pxoxy_Edit")), widget);
    edit->setObjectName("SettingDlg_Pxoxy_Edit");
    connect(edit, &QPushButton::clicked, this, [this] { EditProxy(); });
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(edit);
    layout->addLayout(row);
    ShowProxyRows();
    return widget;
}

void SettingsSheetDialog::ShowProxyRows() {
    const int current = proxies_->indexOfTopLevelItem(proxies_->currentItem());
    proxies_->clear();
    for (const ProxyRecord& record : model_.Proxy().Rows) {
        auto* item = new QTreeWidgetItem(proxies_);
        for (int column = 0; column < 4; ++column) {
            item->setText(column, ToQ(SettingDlgSheet::ProxyColumn(record, column)));
        }
    }
    if (current >= 0) {
        proxies_->setCurrentItem(proxies_->topLevelItem(current));
    }
}

void SettingsSheetDialog::EditProxy() {
    model_.Proxy().Selection = proxies_->indexOfTopLevelItem(proxies_->currentItem());
    if (model_.OnEditProxy([this](EdtProxyDlg& dlg) {
            ProxyDialog dialog(this, dlg);
            dialog.exec();
        })) {
        ShowProxyRows();
    }
}

// A refused OK brings the field's page to the front with its text selected.
void SettingsSheetDialog::accept() {
    if (model_.Ok()) {
        QDialog::accept();
        return;
    }
    tabs_->setCurrentIndex(model_.CurrentPage());
    FocusField(this, model_.FocusField());
}

void SettingsSheetDialog::reject() {
    model_.Cancel();
    QDialog::reject();
}

bool ExecSettingsSheet(QWidget* parent, AppContext& ctx, IQuestions& questions) {
    SettingDlgSheet model(ctx, questions);
    SettingsSheetDialog dialog(parent, model);
    dialog.exec();
    return model.Accepted();
}

}  // namespace vardane::gui
