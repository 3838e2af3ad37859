#include "cli/task_options.h"

#include <CLI/CLI.hpp>

#include "app/command_io.h"
#include "dialogs/edit_task_dialog.h"
#include "platform/file.h"
#include "task/checksum.h"
#include "task/request_headers.h"

namespace vardane {

void TaskOptions::Register(CLI::App& command) {
    command.add_option("--dir", Dir, "Folder to save the file in")->type_name("DIR");
    command.add_option("--name", Name, "File name to save as")->type_name("NAME");
    command.add_option("--connections", Connections, "Connections (segments), 1 to 4")
        ->check(CLI::Range(1, 4));
    command
        .add_option("--category", Category,
                    "Category: a text path such as Music or Downloading\\Music, or a key path")
        ->type_name("PATH");
    command.add_option("--user", User, "FTP user name");
    command.add_option("--password", Password, "FTP password");
    command.add_flag("--password-stdin")
        ->description("Read the FTP password from the first line of standard input");
    command.add_option("--http-proxy", HttpProxy, "Number of the proxy entry for HTTP")
        ->type_name("N");
    command.add_option("--ftp-proxy", FtpProxy, "Number of the proxy entry for FTP")
        ->type_name("N");
    command
        .add_option("--checksum", Checksum,
                    "Checksum the finished file must match: sha256, sha512, sha1 or md5, "
                    "then '=' and the hex digest")
        ->type_name("ALGO=HEX")
        ->check(CLI::Validator(
            [](const std::string& text) {
                // Blank clears the checksum (edit).
                return text.find_first_not_of(" \t") == std::string::npos
                           ? std::string()
                           : ChecksumTextProblem(text, ParseChecksumText(text).Error);
            },
            "", "checksum"));
    command
        .add_option("--cookie", Cookie,
                    "Cookie line sent to the address's host (name=value; name2=value2)")
        ->type_name("TEXT");
    command.add_option("--referer", Referer, "Referer sent with every request of the task")
        ->type_name("URL");
    command
        .add_option("--user-agent", UserAgent, "User-Agent of this task, instead of the set one")
        ->type_name("TEXT");
    command.add_flag("--manual", Manual, "Leave the task stopped instead of starting it");
    command.add_flag("--save-default", SaveDefault,
                     "Keep folder, start mode, connections and proxies as the defaults");
}

bool TaskOptions::ApplyTo(EdtTaskDlg& dialog, CliIo& io) const {
    if (Dir) {
        dialog.SetSaveTo(WithTrailingSlash(AbsolutePath(io, *Dir)));
    }
    if (Name) {
        dialog.SetFileName(*Name);
    }
    if (Connections && !dialog.SetConnections(*Connections)) {
        io.Err("vardane-cli: --connections must be 1 to 4\n");
        return false;
    }
    if (Category && !dialog.SelectCategory(*Category)) {
        io.Err("vardane-cli: no category '" + *Category + "'\n");
        return false;
    }
    if (User || Password) {
        dialog.SetLogin(true);
        dialog.SetUser(User.value_or(""));
        dialog.SetPassword(Password.value_or(""));
    }
    if (HttpProxy && !dialog.SetProxyHttp(*HttpProxy)) {
        io.Err("vardane-cli: no proxy entry " + std::to_string(*HttpProxy) + "\n");
        return false;
    }
    if (FtpProxy && !dialog.SetProxyFtp(*FtpProxy)) {
        io.Err("vardane-cli: no proxy entry " + std::to_string(*FtpProxy) + "\n");
        return false;
    }
    if (Checksum) {
        dialog.SetChecksumEntry(*Checksum);
    }
    if (HeadersGiven()) {
        RequestHeaders headers = dialog.Headers();
        ApplyHeaders(headers);
        dialog.SetHeaders(std::move(headers));
    }
    if (Manual) {
        dialog.SetImmediately(false);
    }
    if (SaveDefault) {
        dialog.SaveAsDefault();
    }
    return true;
}

void TaskOptions::ApplyHeaders(RequestHeaders& headers) const {
    if (Cookie) {
        headers.Cookie = *Cookie;
    }
    if (Referer) {
        headers.Referer = *Referer;
    }
    if (UserAgent) {
        headers.UserAgent = *UserAgent;
    }
}

bool TaskOptions::Accept(EdtTaskDlg& dialog, CliIo& io) const {
    if (!ApplyTo(dialog, io)) {
        return false;
    }
    if (!dialog.Ok()) {
        if (dialog.WriteFailed()) {
            io.Err("vardane-cli: cannot write the task's progress file or Downloading.lst\n");
        }
        return false;
    }
    if (!dialog.FolderNotCreated().empty()) {
        io.Err("vardane-cli: cannot create folder " + dialog.FolderNotCreated() + "\n");
    }
    return true;
}

}  // namespace vardane
