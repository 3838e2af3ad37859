// The task options of add, get and edit, applied to the task dialog model
// the way a person would fill in its fields.
#pragma once

#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace vardane {

class EdtTaskDlg;
class CliIo;
struct RequestHeaders;

struct TaskOptions {
    std::optional<std::string> Dir;
    std::optional<std::string> Name;
    std::optional<int> Connections;
    std::optional<std::string> Category;
    std::optional<std::string> User;
    std::optional<std::string> Password;
    std::optional<int> HttpProxy;
    std::optional<int> FtpProxy;
    std::optional<std::string> Checksum;  // ALGO=HEX, checked while parsing
    // The task's own request header values; "" clears one (edit).
    std::optional<std::string> Cookie, Referer, UserAgent;
    bool Manual = false;
    bool SaveDefault = false;

    void Register(CLI::App& command);
    // Fills the dialog's fields; an option the dialog cannot take is
    // reported on io and gives false.
    bool ApplyTo(EdtTaskDlg& dialog, CliIo& io) const;
    // ApplyTo, then OK: false when an option or the dialog refused or the
    // task's files could not be written (said on io). A save-to folder that
    // could not be made is a warning: the task stands.
    bool Accept(EdtTaskDlg& dialog, CliIo& io) const;
    // Whether --cookie, --referer or --user-agent was given.
    bool HeadersGiven() const { return Cookie || Referer || UserAgent; }
    // Those given replace their values in headers.
    void ApplyHeaders(RequestHeaders& headers) const;
};

}  // namespace vardane
