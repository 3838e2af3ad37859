#include <unistd.h>

#include "tests/support/ports.h"
#include "tests/support/servers.h"

namespace vardane::test {

MicroSocks::MicroSocks(std::string user, std::string password)
    : ServerBase("microsocks"), user_(std::move(user)), password_(std::move(password)) {}

bool MicroSocks::Start() {
    port_ = FreePort();
    std::vector<std::string> args{"-i", "127.0.0.1", "-p", std::to_string(port_)};
    if (!user_.empty()) {
        args.insert(args.end(), {"-u", user_, "-P", password_});
    }
    return Launch(kBinary, args);
}

DanteServer::DanteServer() : ServerBase("dante") {}

bool DanteServer::Start() {
    port_ = FreePort();
    const std::string& dir = WorkDir();
    std::string conf;
    conf += "logoutput: stderr\n";
    conf += "internal: 127.0.0.1 port = " + std::to_string(port_) + "\n";
    conf += "external: 127.0.0.1\n";
    conf += "clientmethod: none\n";
    conf += "socksmethod: none\n";
    if (::geteuid() == 0) {
        conf += "user.privileged: root\nuser.unprivileged: root\n";
    }
    conf += "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  log: error\n}\n";
    conf +=
        "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  command: connect\n  log: error\n}\n";
    WriteFile(dir + "danted.conf", conf);
    return Launch(kBinary, {"-f", dir + "danted.conf", "-p", dir + "danted.pid", "-N", "1"});
}

}  // namespace vardane::test
