#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/ports.h"
#include "tests/support/servers.h"

namespace vardane::test {

namespace {

constexpr int kPassivePorts = 16;

}  // namespace

FtpServer::FtpServer(std::string root, bool ipv6)
    : ServerBase("vsftpd"), root_(std::move(root)), ipv6_(ipv6) {
    if (root_.empty()) {
        root_ = work_.MakeDir("ftp");
    }
}

std::string FtpServer::Url(const std::string& path) const {
    return std::string(ipv6_ ? "ftp://[::1]:" : "ftp://127.0.0.1:") + std::to_string(port_) + "/" +
           path;
}

std::string FtpServer::Log() const {
    return ReadFile(WorkDir() + "vsftpd.log");
}

bool FtpServer::Start() {
    port_ = FreePort();
    int pasvFirst = FreePortRange(kPassivePorts);
    const std::string& dir = WorkDir();
    // The anonymous session runs as an unprivileged user inside root_, which
    // must therefore be readable (and not writable) by it.
    ::chmod(root_.c_str(), 0755);
    std::string empty = work_.MakeDir("empty");
    ::chmod(empty.c_str(), 0555);
    std::string conf;
    conf += ipv6_ ? "listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n"
                  : "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n";
    conf += "listen_port=" + std::to_string(port_) + "\n";
    conf += "background=NO\n";
    conf += "anonymous_enable=YES\nno_anon_password=NO\nanon_root=" + root_ + "\n";
    conf += "local_enable=NO\nwrite_enable=NO\n";
    conf += ipv6_ ? "pasv_enable=YES\n" : "pasv_enable=YES\npasv_address=127.0.0.1\n";
    conf += "pasv_min_port=" + std::to_string(pasvFirst) + "\n";
    conf += "pasv_max_port=" + std::to_string(pasvFirst + kPassivePorts - 1) + "\n";
    conf += "port_enable=YES\nconnect_from_port_20=NO\n";
    conf += "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n";
    conf += "secure_chroot_dir=" + empty.substr(0, empty.size() - 1) + "\n";
    conf += "xferlog_enable=YES\nvsftpd_log_file=" + dir + "vsftpd.log\n";
    conf += "log_ftp_protocol=YES\n";
    conf += "max_clients=64\nmax_per_ip=64\n";
    if (::geteuid() != 0) {
        conf += "run_as_launching_user=YES\n";
    }
    WriteFile(dir + "vsftpd.conf", conf);
    return Launch(kBinary, {dir + "vsftpd.conf"});
}

}  // namespace vardane::test

namespace vardane::test {

namespace {

// The server, written into its folder at start: the arguments are the root,
// the port, the passive port range and the user's name and password.
constexpr const char* kPyFtpScript = R"(import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class Handler(FTPHandler):
    # After an active data connection is made, pyftpdlib keeps its connector
    # and closes it again with the session, which takes the connector's old
    # socket number out of the event loop. When another session's data socket
    # has been given that number meanwhile, that transfer stalls for good.
    def _on_dtp_connection(self):
        self._dtp_connector = None
        super()._on_dtp_connection()


root, port, first, last, user, password = sys.argv[1:7]
authorizer = DummyAuthorizer()
authorizer.add_anonymous(root)
authorizer.add_user(user, password, root, perm="elr")
Handler.authorizer = authorizer
Handler.passive_ports = range(int(first), int(last) + 1)
Handler.timeout = 60
server = FTPServer(("127.0.0.1", int(port)), Handler)
server.max_cons = 64
server.serve_forever()
)";

}  // namespace

PyFtpServer::PyFtpServer(std::string root, std::string password)
    : ServerBase("pyftpdlib"), root_(std::move(root)), password_(std::move(password)) {
    if (root_.empty()) {
        root_ = work_.MakeDir("ftp");
    }
}

std::string PyFtpServer::Url(const std::string& path, const std::string& userInfo) const {
    return "ftp://" + userInfo + "127.0.0.1:" + std::to_string(port_) + "/" + path;
}

bool PyFtpServer::Start() {
    port_ = FreePort();
    const int pasvFirst = FreePortRange(kPassivePorts);
    const std::string script = WorkDir() + "server.py";
    WriteFile(script, kPyFtpScript);
    // The system's interpreter: the module is a Debian package.
    return Launch("/usr/bin/python3",
                  {script, root_, std::to_string(port_), std::to_string(pasvFirst),
                   std::to_string(pasvFirst + kPassivePorts - 1), kUser, password_});
}

PureFtpServer::PureFtpServer(std::string root) : ServerBase("pure-ftpd"), root_(std::move(root)) {
    if (root_.empty()) {
        root_ = work_.MakeDir("ftp");
    }
}

std::string PureFtpServer::Url(const std::string& path) const {
    return std::string("ftp://") + kUser + ":" + kPassword + "@127.0.0.1:" + std::to_string(port_) +
           "/" + path;
}

bool PureFtpServer::Start() {
    port_ = FreePort();
    const int pasvFirst = FreePortRange(kPassivePorts);
    const std::string& dir = WorkDir();
    // The session runs as nobody inside root_, which must be readable by it.
    ::chmod(root_.c_str(), 0755);
    // A SHA-512 crypt of kPassword: the tool's default hash costs about a
    // second per login.
    const std::string hash =
        "$6$vardanetest$z3O5U1xDplWlpsBjkXOm7.c1FU3kfkJFD6b31yn1icw5e0DAGWasx4nes.v9cD."
        "KIcWS0OPG242wR9T9eliB.1";
    WriteFile(dir + "pureftpd.passwd",
              std::string(kUser) + ":" + hash + ":65534:65534::" + root_ + "./::::::::::::\n");
    const std::string mkdb = std::string(kPasswordTool) + " mkdb '" + dir + "pureftpd.pdb' -f '" +
                             dir + "pureftpd.passwd' >'" + dir + "mkdb.log' 2>&1";
    if (std::system(mkdb.c_str()) != 0) {
        return false;
    }
    return Launch(
        kBinary,
        {"-S", "127.0.0.1," + std::to_string(port_), "-l", "puredb:" + dir + "pureftpd.pdb", "-E",
         "-H", "-u", "1", "-c", "64", "-C", "64", "-P", "127.0.0.1", "-p",
         std::to_string(pasvFirst) + ":" + std::to_string(pasvFirst + kPassivePorts - 1)});
}

}  // namespace vardane::test
