#include "dialogs/edit_proxy_dialog.h"

#include <cctype>

#include "dialogs/message_box.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "settings/registry_paths.h"

namespace vardane {

namespace {

// The stored record separates its fields by commas and only the password,
// its last field, may hold one: a comma elsewhere would shift every field
// behind it when the record is read again.
bool HoldsComma(const std::string& text) {
    return text.find(',') != std::string::npos;
}

// A port the proxy can be reached on: 1..65535. Longer digit strings would
// wrap around to some other port.
bool ValidPort(const std::string& digits) {
    if (digits.empty() || digits.size() > 5) {
        return false;
    }
    const int64_t port = TextToInt(digits);
    return port >= 1 && port <= 65535;
}

}  // namespace

EdtProxyDlg::EdtProxyDlg(AppContext& ctx, IQuestions& questions, ProxyRecord record, int row)
    : ctx_(ctx), questions_(questions), record_(std::move(record)), row_(row) {
    const LangTable& lang = ctx_.lang;
    labels_ = Labels{lang.GetAppTitle(),
                     lang.GetLangText("SettingDlg_Proxy_Name"),
                     lang.GetLangText("SettingDlg_Proxy_Type"),
                     lang.GetLangText("SettingDlg_Proxy_Server"),
                     lang.GetLangText("SettingDlg_Proxy_Port"),
                     lang.GetLangText("SettingDlg_PASV"),
                     lang.GetLangText("SettingDlg_Proxy_Login"),
                     lang.GetLangText("SettingDlg_Proxy_FTPDef"),
                     lang.GetLangText("SettingDlg_Proxy_Uid"),
                     lang.GetLangText("SettingDlg_Proxy_Pwd"),
                     lang.GetLangText("Menu_General_Ok"),
                     lang.GetLangText("Menu_General_Cancel")};
    name_ = record_.Name;
    pasv_ = record_.PASV;
    if (ServerEnabled()) {
        server_ = record_.Server;
        port_ = IntToText(record_.Port);
        authenticate_ = record_.Authenticate;
        user_ = record_.User;
        password_ = record_.Password;
    }
    ftpDefault_ = ctx_.settings.ProxyFTP == row_ + 1;
}

void EdtProxyDlg::SetPortText(std::string_view text) {
    port_.clear();
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            port_ += c;
        }
    }
}

void EdtProxyDlg::SetFtpDefault(bool checked) {
    if (FtpDefaultShown()) {
        ftpDefault_ = checked;
    }
}

bool EdtProxyDlg::Refuse(const char* key, const char* field) {
    focusField_ = field;
    ShowMessage(questions_, ctx_.lang, ctx_.lang.GetLangText(key), QuestionIcon::Error,
                QuestionButtons::Ok, QuestionAnswer::Ok, field);
    return false;
}

bool EdtProxyDlg::Ok() {
    focusField_.clear();
    if (name_.empty() || HoldsComma(name_)) {
        return Refuse("Msg_InputProxyName", kFieldName);
    }
    if (ServerEnabled()) {
        if (server_.empty() || HoldsComma(server_)) {
            return Refuse("Msg_InputProxyServer", kFieldServer);
        }
        if (!ValidPort(port_)) {
            return Refuse("Msg_InputProxyPort", kFieldPort);
        }
        if (authenticate_ && (user_.empty() || password_.empty() || HoldsComma(user_))) {
            return Refuse("Msg_InputProxyAuth", kFieldUser);
        }
    }
    // A direct connection keeps its disabled controls empty.
    const bool server = ServerEnabled();
    record_.Name = name_;
    record_.PASV = pasv_;
    record_.Server = server ? server_ : std::string();
    record_.Port = server ? static_cast<int>(TextToInt(port_)) : 0;
    record_.Authenticate = server && authenticate_;
    record_.User = server ? user_ : std::string();
    record_.Password = server ? password_ : std::string();
    if (FtpDefaultShown() && ftpDefault_) {
        WriteFtpDefault();
    }
    accepted_ = true;
    return true;
}

// The one value the sheet writes before its own OK: the settings record
// follows at the next LoadSettings.
void EdtProxyDlg::WriteFtpDefault() {
    RegistryKey key(ctx_.registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath("Default"), true);
    key.SetString("ProxyFTP", IntToText(row_ + 1));
}

}  // namespace vardane
