#include <unistd.h>

#include "tests/support/ports.h"
#include "tests/support/require_server.h"
#include "tests/support/servers.h"

namespace vardane::test {

ServerBase::ServerBase(const std::string& name) : work_("vardane-" + name) {}

bool ServerBase::Launch(const std::string& binary, const std::vector<std::string>& args) {
    std::vector<std::string> argv{FindServer(binary)};
    if (argv[0].empty()) {
        argv[0] = binary;  // Start fails with the log naming the binary
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return process_.Start(argv, WorkDir() + "server.log", port_);
}

namespace {

// An IPv6 literal goes in brackets in a URL and a listen line.
std::string UrlHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

NginxServer::NginxServer(NginxOptions options) : ServerBase("nginx"), options_(std::move(options)) {
    root_ = options_.root.empty() ? work_.MakeDir("www") : options_.root;
}

std::string NginxServer::Url(const std::string& path) const {
    std::string scheme = options_.tlsCert.empty() ? "http" : "https";
    const std::string host = UrlHost(options_.listenHost);
    return scheme + "://" + host + ":" + std::to_string(port_) + "/" + path;
}

std::string NginxServer::AccessLog() const {
    return ReadFile(WorkDir() + "access.log");
}

bool NginxServer::Start() {
    port_ = FreePort();
    const std::string& dir = WorkDir();
    std::string conf;
    // As root, workers would switch to "nobody", who cannot enter the test's
    // private folders.
    if (::geteuid() == 0) {
        conf += "user root;\n";
    }
    conf += "worker_processes 1;\n";
    conf += "pid " + dir + "nginx.pid;\n";
    conf += "error_log " + dir + "error.log info;\n";
    conf += "events { worker_connections 256; }\n";
    conf += "http {\n";
    conf += "  access_log " + dir + "access.log;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        conf += "  " + std::string(temp) + "_temp_path " + dir + temp + ";\n";
    }
    conf += "  default_type application/octet-stream;\n";
    conf += "  sendfile on;\n";
    conf += "  server {\n";
    const std::string host = UrlHost(options_.listenHost);
    conf += "    listen " + host + ":" + std::to_string(port_) +
            (options_.tlsCert.empty() ? ";\n" : " ssl;\n");
    if (!options_.tlsCert.empty()) {
        conf += "    ssl_certificate " + options_.tlsCert + ";\n";
        conf += "    ssl_certificate_key " + options_.tlsKey + ";\n";
        conf += "    ssl_protocols TLSv1.2 TLSv1.3;\n";
    }
    conf += "    root " + root_ + ";\n";
    conf += "    location /redirect/ { rewrite ^/redirect/(.*)$ /$1 redirect; }\n";
    if (options_.limitRate > 0) {
        conf += "    location /slow/ { alias " + root_ + "; limit_rate " +
                std::to_string(options_.limitRate) + "; }\n";
    }
    conf += options_.extraConfig;
    conf += "  }\n}\n";
    WriteFile(dir + "nginx.conf", conf);
    return Launch(kBinary, {"-p", dir, "-e", dir + "error.log", "-c", dir + "nginx.conf", "-g",
                            "daemon off;"});
}

TinyProxy::TinyProxy(std::string user, std::string password)
    : ServerBase("tinyproxy"), user_(std::move(user)), password_(std::move(password)) {}

bool TinyProxy::Start() {
    port_ = FreePort();
    const std::string& dir = WorkDir();
    std::string conf;
    conf += "Port " + std::to_string(port_) + "\n";
    conf += "Listen 127.0.0.1\n";
    conf += "Timeout 30\n";
    conf += "MaxClients 64\n";
    conf += "LogLevel Info\n";
    conf += "LogFile \"" + dir + "tinyproxy.log\"\n";
    conf += "PidFile \"" + dir + "tinyproxy.pid\"\n";
    // No ConnectPort line: CONNECT is allowed to every port.
    if (!user_.empty()) {
        conf += "BasicAuth " + user_ + " " + password_ + "\n";
    }
    WriteFile(dir + "tinyproxy.conf", conf);
    return Launch(kBinary, {"-d", "-c", dir + "tinyproxy.conf"});
}

}  // namespace vardane::test
