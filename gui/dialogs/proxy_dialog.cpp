#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "gui/dialogs/dialog_util.h"
#include "gui/dialogs/dialog_windows.h"

namespace vardane::gui {

ProxyDialog::ProxyDialog(QWidget* parent, EdtProxyDlg& model) : QDialog(parent), model_(model) {
    const EdtProxyDlg::Labels& labels = model_.GetLabels();
    setWindowTitle(ToQ(labels.Title));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    EdtProxyDlg& m = model_;
    form->addRow(KeyLabel(labels.Name, "SettingDlg_Proxy_Name", this),
                 BoundEdit(m.Name(), EdtProxyDlg::kFieldName, this,
                           [&m](std::string text) { m.SetName(std::move(text)); }));
    auto* type = new QLineEdit(ToQ(m.TypeName()), this);
    type->setReadOnly(true);
    form->addRow(KeyLabel(labels.Type, "SettingDlg_Proxy_Type", this), type);
    server_ = BoundEdit(m.Server(), EdtProxyDlg::kFieldServer, this,
                        [&m](std::string text) { m.SetServer(std::move(text)); });
    form->addRow(KeyLabel(labels.Server, "SettingDlg_Proxy_Server", this), server_);
    auto* port = BoundEdit(m.PortText(), EdtProxyDlg::kFieldPort, this,
                           [&m](const std::string& text) { m.SetPortText(text); });
    port->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), port));
    port_ = port;
    form->addRow(KeyLabel(labels.Port, "SettingDlg_Proxy_Port", this), port_);
    form->addRow(BoundCheck(labels.PASV, m.PASV(), "PASV", this, [&m](bool on) { m.SetPASV(on); }));
    authenticate_ =
        BoundCheck(labels.Login, m.Authenticate(), "Authenticate", this, [this](bool on) {
            model_.SetAuthenticate(on);
            ShowEnabledFields();
        });
    form->addRow(authenticate_);
    auto* ftpDefault = BoundCheck(labels.FTPDefault, m.FtpDefault(), "FtpDefault", this,
                                  [&m](bool on) { m.SetFtpDefault(on); });
    ftpDefault->setVisible(m.FtpDefaultShown());
    form->addRow(ftpDefault);
    user_ = BoundEdit(m.User(), EdtProxyDlg::kFieldUser, this,
                      [&m](std::string text) { m.SetUser(std::move(text)); });
    form->addRow(KeyLabel(labels.User, "SettingDlg_Proxy_Uid", this), user_);
    auto* password = BoundEdit(m.Password(), "ProxyPwd", this,
                               [&m](std::string text) { m.SetPassword(std::move(text)); });
    password->setEchoMode(QLineEdit::Password);
    password_ = password;
    form->addRow(KeyLabel(labels.Password, "SettingDlg_Proxy_Pwd", this), password_);
    layout->addWidget(OkCancelButtons(this, labels.Ok, labels.Cancel));
    ShowEnabledFields();
}

void ProxyDialog::ShowEnabledFields() {
    for (QWidget* widget : {server_, port_, authenticate_}) {
        widget->setEnabled(model_.ServerEnabled());
    }
    user_->setEnabled(model_.LoginEnabled());
    password_->setEnabled(model_.LoginEnabled());
}

void ProxyDialog::accept() {
    if (ModelAccepts(this, model_)) {
        QDialog::accept();
    }
}

void ProxyDialog::reject() {
    model_.Cancel();
    QDialog::reject();
}

}  // namespace vardane::gui
