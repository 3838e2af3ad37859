#include "task/url.h"

#include <arpa/inet.h>
#include <sys/time.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <mutex>
#include <random>

#include "platform/file.h"
#include "platform/text.h"
#include "task/download_task.h"

namespace vardane {

namespace {

constexpr std::string_view kFtp = "ftp://";
constexpr std::string_view kHttp = "http://";
constexpr std::string_view kHttps = "https://";
constexpr int64_t kMaxPort = 65535;

// Strips the protocol prefix into d; the rest stays empty for other schemes.
std::string_view TakeProtocol(TaskDescriptor& d, std::string_view address) {
    if (StartsWithNoCase(address, kFtp)) {
        d.Protocol = kFtp;
        return address.substr(kFtp.size());
    }
    for (std::string_view scheme : {kHttp, kHttps}) {
        if (StartsWithNoCase(address, scheme)) {
            d.Protocol = scheme;
            size_t query = address.find('?');
            if (query != std::string_view::npos && query > 0) {
                d.Referer = address.substr(0, address.rfind('/'));
            }
            return address.substr(scheme.size());
        }
    }
    return {};
}

// user:password@ in front of the host; both parts must be non-empty.
bool TakeCredentials(TaskDescriptor& d, std::string_view& rest) {
    size_t at = rest.find('@');
    if (at == std::string_view::npos) {
        d.User.clear();
        d.Password.clear();
        return true;
    }
    std::string_view login = rest.substr(0, at);
    size_t colon = login.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 >= login.size()) {
        return false;
    }
    d.User = login.substr(0, colon);
    d.Password = login.substr(colon + 1);
    rest = rest.substr(at + 1);
    return true;
}

// "[IPv6 literal]" or "[IPv6 literal]:port"; the host is kept without the
// brackets so that it connects and checks a certificate like any address.
// A missing ']', anything but a port after it, or a zone id ("%eth0") is
// refused.
bool TakeBracketedHost(TaskDescriptor& d, std::string_view hostPort) {
    size_t close = hostPort.find(']');
    if (close == std::string_view::npos) {
        return false;
    }
    std::string literal(hostPort.substr(1, close - 1));
    in6_addr parsed{};
    if (inet_pton(AF_INET6, literal.c_str(), &parsed) != 1) {
        return false;
    }
    std::string_view after = hostPort.substr(close + 1);
    d.iPort = DefaultPort(d.Protocol);
    if (!after.empty()) {
        if (after[0] != ':' || after.size() < 2 ||
            after.substr(1).find_first_not_of("0123456789") != std::string_view::npos) {
            return false;
        }
        int64_t port = TextToInt(after.substr(1));
        if (port < 0 || port > kMaxPort) {
            return false;
        }
        d.iPort = static_cast<int>(port);
    }
    d.Host = literal;
    return true;
}

// False for a port outside 0..65535: a larger number must not wrap around
// into another port.
bool TakeHostPort(TaskDescriptor& d, std::string_view hostPort) {
    if (!hostPort.empty() && hostPort[0] == '[') {
        return TakeBracketedHost(d, hostPort);
    }
    size_t colon = hostPort.find(':');
    if (colon != std::string_view::npos && colon >= 1) {
        int64_t port = TextToInt(hostPort.substr(colon + 1));
        if (port < 0 || port > kMaxPort) {
            return false;
        }
        d.iPort = static_cast<int>(port);
        d.Host = hostPort.substr(0, colon);
        return true;
    }
    d.Host = hostPort;
    d.iPort = DefaultPort(d.Protocol);
    return true;
}

// A browser sends a typed blank as %20; sent raw it would split the request
// line.
std::string EncodeBlanks(std::string_view text) {
    return ReplaceCopy(text, " ", "%20");
}

std::string FileNameOf(std::string_view requestPath) {
    PathParts parts = SplitPath(requestPath);
    std::string name = parts.Name + parts.Ext;
    name = name.substr(0, name.find('?'));
    return name.substr(0, name.find('&'));
}

}  // namespace

int DefaultPort(std::string_view protocol) {
    if (EqualsNoCase(protocol, kFtp)) {
        return 21;
    }
    return EqualsNoCase(protocol, kHttps) ? 443 : 80;
}

bool IsHttpAddress(std::string_view address) {
    return StartsWithNoCase(address, kHttp) || StartsWithNoCase(address, kHttps);
}

bool IsHttps(std::string_view address) {
    return StartsWithNoCase(address, kHttps);
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

bool ParseUrlInto(TaskDescriptor& d, std::string_view address) {
    d.Referer.clear();
    d.RequestPath.clear();
    // Line breaks and other control characters would end up inside protocol
    // lines (request line, FTP commands) and add lines of their own.
    if (HasControlCharacter(address)) {
        d.URL = address;
        return false;
    }
    if (IsHttpAddress(address)) {
        address = address.substr(0, address.find('#'));  // the fragment stays with the client
    }
    d.URL = address;
    std::string_view rest = TakeProtocol(d, address);
    if (rest.empty() || !TakeCredentials(d, rest)) {
        return false;
    }
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos || slash < 1) {
        return false;
    }
    std::string_view authority = rest.substr(0, slash);
    if (authority.find(' ') != std::string_view::npos || !TakeHostPort(d, authority)) {
        return false;
    }
    d.RequestPath = rest.substr(slash);
    if (d.RequestPath.find('.') == std::string::npos) {
        return false;
    }
    d.FileName = FileNameOf(d.RequestPath);
    if (d.Protocol != kFtp) {
        d.RequestPath = EncodeBlanks(d.RequestPath);
        d.URL = EncodeBlanks(d.URL);
        d.Referer = EncodeBlanks(d.Referer);
    }
    return true;
}

bool ParseUrl(CDownloadTask& task, std::string_view address) {
    std::lock_guard lock(task.TaskLock);
    return ParseUrlInto(task.descriptor, address);
}

PathParts SplitPath(std::string_view path) {
    PathParts parts;
    if (path.empty()) {
        return parts;
    }
    size_t sep = path.find_last_of("/\\");
    std::string_view rest = path;
    if (sep != std::string_view::npos) {
        parts.Dir = path.substr(0, sep + 1);
        rest = path.substr(sep + 1);
    }
    size_t dot = rest.find('.');
    parts.Name = rest.substr(0, dot);
    if (dot != std::string_view::npos) {
        parts.Ext = rest.substr(dot);
    }
    return parts;
}

TaskIdTime LocalTaskIdTime() {
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm local{};
    time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    return TaskIdTime{local.tm_year + 1900,
                      local.tm_mon + 1,
                      local.tm_mday,
                      local.tm_hour,
                      local.tm_min,
                      local.tm_sec,
                      static_cast<int>(now.tv_usec / 1000)};
}

std::string FormatTaskId(const TaskIdTime& t, int random) {
    std::string id;
    for (int part : {t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second, t.Milli, random}) {
        id += IntToText(part);
    }
    return id;
}

std::string MakeTaskId(const std::string& appDir, const std::function<TaskIdTime()>& now,
                       const std::function<int()>& random) {
    // Two identifiers of the same millisecond may draw the same random part;
    // reusing one would overwrite another task's progress file.
    for (;;) {
        std::string id = FormatTaskId(now(), random() % 10000);
        if (!FileExists(ProgressFilePath(appDir, id))) {
            return id;
        }
    }
}

std::string MakeTaskId(const std::string& appDir) {
    std::random_device device;
    std::uniform_int_distribution<int> draw(0, 9999);
    return MakeTaskId(appDir, LocalTaskIdTime, [&] { return draw(device); });
}

std::string ProgressFilePath(const std::string& appDir, std::string_view id) {
    std::string path = appDir + "Tasks/";
    path += id;
    return path + ".pro~";
}

}  // namespace vardane
