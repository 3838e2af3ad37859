#include "gui/site_dialog.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "dialogs/message_box.h"
#include "explorer/site_list.h"
#include "gui/dialogs/dialog_util.h"
#include "settings/app_context.h"

namespace vardane::gui {

namespace {

// Object names of the fields, so that a refusal can put the focus there.
constexpr const char* kNameField = "Name";
constexpr const char* kUrlField = "Url";
constexpr const char* kUserField = "User";
constexpr const char* kPasswordField = "Password";

const char* FieldName(SiteField field) {
    switch (field) {
        case SiteField::Name:
            return kNameField;
        case SiteField::Url:
            return kUrlField;
        case SiteField::User:
            return kUserField;
        case SiteField::Password:
            return kPasswordField;
        case SiteField::None:
            break;
    }
    return "";
}

QLineEdit* Edit(const std::string& text, const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(ToQ(text), parent);
    edit->setObjectName(name);
    return edit;
}

}  // namespace

SiteDialog::SiteDialog(QWidget* parent, AppContext& ctx, int number, IQuestions& questions,
                       const std::string& clipboard)
    : QDialog(parent), ctx_(ctx), number_(number), questions_(questions) {
    const LangTable& lang = ctx_.lang;
    const SiteDialogFields fields = OpenSiteDialog(ctx_, number_, clipboard);
    setWindowTitle(ToQ(lang.GetAppTitle()));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    name_ = Edit(fields.Name, kNameField, this);
    form->addRow(KeyLabel(lang.GetLangText("EdtSite_Name"), "EdtSite_Name", this), name_);
    // The password shows only as the masked field's dots: OK rebuilds the
    // address from the login fields, so the address keeps a stand-in.
    url_ = new QPlainTextEdit(ToQ(fields.Login ? MaskedSiteUrl(fields.Url) : fields.Url), this);
    url_->setObjectName(kUrlField);
    url_->setTabChangesFocus(true);
    url_->setFixedHeight(url_->fontMetrics().lineSpacing() * 3 + 12);
    form->addRow(KeyLabel(lang.GetLangText("EdtSite_URL"), "EdtSite_URL", this), url_);
    login_ = new QCheckBox(ToQ(lang.GetLangText("EdtSite_Login")), this);
    login_->setObjectName("Login");
    login_->setChecked(fields.Login);
    form->addRow(login_);
    user_ = Edit(fields.User, kUserField, this);
    form->addRow(KeyLabel(lang.GetLangText("EdtSite_Uid"), "EdtSite_Uid", this), user_);
    password_ = Edit(fields.Password, kPasswordField, this);
    password_->setEchoMode(QLineEdit::Password);
    form->addRow(KeyLabel(lang.GetLangText("EdtSite_Pwd"), "EdtSite_Pwd", this), password_);
    layout->addLayout(form);
    layout->addWidget(OkCancelButtons(this, lang.GetLangText("Menu_General_Ok"),
                                      lang.GetLangText("Menu_General_Cancel")));
    connect(login_, &QCheckBox::toggled, this, [this] { ShowLoginFields(); });
    ShowLoginFields();
    resize(420, sizeHint().height());
}

void SiteDialog::ShowLoginFields() {
    user_->setEnabled(login_->isChecked());
    password_->setEnabled(login_->isChecked());
}

void SiteDialog::accept() {
    SiteDialogFields fields;
    fields.Name = FromQ(name_->text());
    fields.Url = FromQ(url_->toPlainText());
    fields.Login = login_->isChecked();
    fields.User = FromQ(user_->text());
    fields.Password = FromQ(password_->text());
    const SiteDialogResult result = SaveSiteDialog(ctx_, number_, fields);
    if (result.Saved) {
        QDialog::accept();
        return;
    }
    // A login half filled in is a slip, a bad name or address an error.
    const bool login = result.MessageKey.starts_with("EdtSite_");
    ShowMessage(questions_, ctx_.lang, ctx_.lang.GetLangText(result.MessageKey),
                login ? QuestionIcon::Exclamation : QuestionIcon::Error, QuestionButtons::Ok,
                QuestionAnswer::Ok, FieldName(result.Focus));
    FocusField(this, FieldName(result.Focus));
}

bool ExecSiteDialog(QWidget* parent, AppContext& ctx, int number, IQuestions& questions) {
    const std::string clipboard = FromQ(QGuiApplication::clipboard()->text());
    SiteDialog dialog(parent, ctx, number, questions, number == -1 ? clipboard : std::string());
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace vardane::gui
