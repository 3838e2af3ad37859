// EdtProxyDlg: edits one proxy record of the settings sheet's proxy list.
// The front end shows the fields, forwards every change and the buttons; the
// model decides which controls are enabled and what OK accepts.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "dialogs/question.h"
#include "settings/proxy_record.h"

namespace vardane {

struct AppContext;

class EdtProxyDlg {
  public:
    // Fields named in Question::FocusField after a refusal.
    static constexpr const char* kFieldName = "ProxyName";
    static constexpr const char* kFieldServer = "ProxyServer";
    static constexpr const char* kFieldPort = "ProxyPort";
    static constexpr const char* kFieldUser = "ProxyUid";

    struct Labels {
        std::string Title, Name, Type, Server, Port, PASV, Login, FTPDefault, User, Password, Ok,
            Cancel;
    };

    // record: the row's record; row: its 0-based place in the list.
    EdtProxyDlg(AppContext& ctx, IQuestions& questions, ProxyRecord record, int row);

    const Labels& GetLabels() const { return labels_; }
    int Row() const { return row_; }

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    const std::string& TypeName() const { return record_.TypeName; }
    const std::string& Server() const { return server_; }
    void SetServer(std::string server) { server_ = std::move(server); }
    // The port edit takes digits only; anything else typed is dropped.
    const std::string& PortText() const { return port_; }
    void SetPortText(std::string_view text);
    bool PASV() const { return pasv_; }
    void SetPASV(bool pasv) { pasv_ = pasv; }
    bool Authenticate() const { return authenticate_; }
    void SetAuthenticate(bool checked) { authenticate_ = checked; }
    const std::string& User() const { return user_; }
    void SetUser(std::string user) { user_ = std::move(user); }
    const std::string& Password() const { return password_; }
    void SetPassword(std::string password) { password_ = std::move(password); }

    // "FTP Default": shown for every type but HTTP GET, which cannot carry
    // FTP; checked when this row is the FTP proxy of new tasks.
    bool FtpDefaultShown() const { return record_.Type != 2; }
    bool FtpDefault() const { return ftpDefault_; }
    void SetFtpDefault(bool checked);

    // A direct connection has no server, port or login.
    bool ServerEnabled() const { return record_.Type != 0; }
    bool LoginEnabled() const { return ServerEnabled() && authenticate_; }

    // OK: refuses an incomplete record (asked through IQuestions, FocusField
    // names the field, false); else takes the fields into the record, writes
    // ProxyFTP at once when "FTP Default" is checked, and accepts.
    bool Ok();
    void Cancel() { accepted_ = false; }

    bool Accepted() const { return accepted_; }
    const ProxyRecord& Record() const { return record_; }
    const std::string& FocusField() const { return focusField_; }

  private:
    bool Refuse(const char* key, const char* field);
    void WriteFtpDefault();

    AppContext& ctx_;
    IQuestions& questions_;
    Labels labels_;
    ProxyRecord record_;
    int row_;
    std::string name_, server_, port_, user_, password_;
    bool pasv_ = false;
    bool authenticate_ = false;
    bool ftpDefault_ = false;
    bool accepted_ = false;
    std::string focusField_;
};

// Runs the proxy dialog modally (the front end's part): it forwards the
// fields, OK and Cancel until the model accepted or the user cancelled.
using RunProxyDialog = std::function<void(EdtProxyDlg&)>;

}  // namespace vardane
