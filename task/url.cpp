#include "task/url.h"

#include <arpa/inet.h>
#include <sys/time.h>

#include <algorithm>
#include <cctype>
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

std::string_view ProtocolOf(std::string_view address) {
    for (std::string_view scheme : {kFtp, kHttp, kHttps}) {
        if (StartsWithNoCase(address, scheme)) {
            return scheme;
        }
    }
    return {};
}

// A port number: "non-digits end the number" (an empty one is 0), but a
// larger number than 65535 must not wrap around into another port.
bool TakePort(std::string_view text, int& port) {
    int64_t number = TextToInt(text);
    if (number < 0 || number > kMaxPort) {
        return false;
    }
    port = static_cast<int>(number);
    return true;
}

// "[IPv6 literal]" or "[IPv6 literal]:port"; the host is kept without the
// brackets so that it connects and checks a certificate like any address.
// A missing ']', anything but a port after it, or a zone id ("%eth0") is
// refused.
bool TakeBracketedHost(UrlParts& p, std::string_view hostPort) {
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
    if (!after.empty() &&
        (after[0] != ':' || after.size() < 2 ||
         after.substr(1).find_first_not_of("0123456789") != std::string_view::npos ||
         !TakePort(after.substr(1), p.Port))) {
        return false;
    }
    p.Host = literal;
    return true;
}

bool TakeHostPort(UrlParts& p, std::string_view hostPort) {
    if (hostPort.empty() || hostPort.find(' ') != std::string_view::npos) {
        return false;
    }
    if (hostPort[0] == '[') {
        return TakeBracketedHost(p, hostPort);
    }
    size_t colon = hostPort.find(':');
    if (colon != std::string_view::npos && colon >= 1) {
        p.Host = hostPort.substr(0, colon);
        return TakePort(hostPort.substr(colon + 1), p.Port);
    }
    p.Host = hostPort;
    return true;
}

// A browser sends a typed blank as %20; sent raw it would split the request
// line.
std::string EncodeBlanks(std::string_view text) {
    return ReplaceCopy(text, " ", "%20");
}

// A decoded name is used when it is still one plain name: "a%2Fb" or "%2E%2E"
// must not become a path, nor "%0A" a line break in the progress file.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos && !HasControlCharacter(name) &&
           ValidUtf8(name) == name;
}

std::string FileNameOf(std::string_view requestPath) {
    PathParts parts = SplitPath(requestPath);
    std::string name = parts.Name + parts.Ext;
    name = name.substr(0, name.find('?'));
    name = name.substr(0, name.find('&'));
    std::string decoded = PercentDecode(name);
    return IsPlainName(decoded) ? decoded : name;
}

// Bytes that stand for themselves in a path, a login and a browser alike.
bool IsUnreserved(unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

std::string Encode(std::string_view text, std::string_view keep) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x80 && IsUnreserved(u)) || keep.find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
    }
    return out;
}

std::string EncodeUserInfo(std::string_view text) {
    return Encode(text, "!$'()*+,=");
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

std::string PercentDecode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string EncodeUrlPath(std::string_view path) {
    return Encode(path, "/!$'()*+,=:@");
}

UrlAuthority FindAuthority(std::string_view address) {
    UrlAuthority a;
    size_t scheme = address.find("://");
    if (scheme == std::string_view::npos) {
        return a;
    }
    a.Begin = scheme + 3;
    a.End = std::min(address.find_first_of("/?#", a.Begin), address.size());
    size_t at = address.substr(a.Begin, a.End - a.Begin).rfind('@');
    if (at != std::string_view::npos) {
        a.At = a.Begin + at;
    }
    return a;
}

bool SplitUrl(std::string_view address, UrlParts& p) {
    p = UrlParts{};
    p.Protocol = ProtocolOf(address);
    if (p.Protocol.empty() || HasControlCharacter(address)) {
        return false;
    }
    if (p.Protocol != kFtp) {
        address = address.substr(0, address.find('#'));  // the fragment stays with the client
    }
    p.Port = DefaultPort(p.Protocol);
    UrlAuthority a = FindAuthority(address);
    size_t hostBegin = a.Begin;
    if (a.At != UrlAuthority::npos) {
        std::string_view info = address.substr(a.Begin, a.At - a.Begin);
        size_t colon = info.find(':');
        p.UserInfo = true;
        p.User = PercentDecode(info.substr(0, colon));
        if (colon != std::string_view::npos) {
            p.Password = PercentDecode(info.substr(colon + 1));
        }
        // A decoded line break would end the USER or PASS line early.
        if (HasControlCharacter(p.User) || HasControlCharacter(p.Password)) {
            return false;
        }
        hostBegin = a.At + 1;
    }
    if (!TakeHostPort(p, address.substr(hostBegin, a.End - hostBegin))) {
        return false;
    }
    p.Tail = address.substr(a.End);
    // An FTP path goes decoded into CWD, SIZE, RETR and LIST.
    return p.Protocol != kFtp ||
           PercentDecode(p.Tail).find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

std::string MaskUrlPassword(std::string_view address) {
    UrlAuthority a = FindAuthority(address);
    if (a.Begin == UrlAuthority::npos || a.At == UrlAuthority::npos) {
        return std::string(address);
    }
    size_t colon = address.find(':', a.Begin);
    if (colon == std::string_view::npos || colon > a.At) {
        return std::string(address);
    }
    return std::string(address.substr(0, colon + 1)) + "******" + std::string(address.substr(a.At));
}

std::string BuildUrl(std::string_view protocol, std::string_view user, std::string_view password,
                     std::string_view host, int port, std::string_view path) {
    std::string url(protocol);
    if (!user.empty()) {
        url += EncodeUserInfo(user);
        if (!password.empty()) {
            url += ":" + EncodeUserInfo(password);
        }
        url += '@';
    }
    url += host.find(':') != std::string_view::npos ? "[" + std::string(host) + "]"
                                                    : std::string(host);
    if (port != DefaultPort(protocol)) {
        url += ":" + IntToText(port);
    }
    return url + std::string(path);
}

std::string WithLogin(std::string_view address, std::string_view user, std::string_view password) {
    UrlAuthority a = FindAuthority(address);
    if (a.Begin == UrlAuthority::npos) {
        return std::string(address);
    }
    std::string url(address.substr(0, a.Begin));
    if (!user.empty()) {
        url += EncodeUserInfo(user) + ":" + EncodeUserInfo(password) + "@";
    }
    return url + std::string(address.substr(a.At == UrlAuthority::npos ? a.Begin : a.At + 1));
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
    UrlParts p;
    if (!SplitUrl(address, p)) {
        return false;
    }
    d.Protocol = p.Protocol;
    size_t query = address.find('?');
    if (p.Protocol != kFtp && query != std::string_view::npos && query > 0) {
        // Without the login: the header line is logged as sent.
        d.Referer = WithLogin(address.substr(0, address.rfind('/')), "", "");
    }
    // user:password@ in front of the host; both parts must be non-empty.
    if (p.UserInfo && (p.User.empty() || p.Password.empty())) {
        return false;
    }
    d.User = p.User;
    d.Password = p.Password;
    d.Host = p.Host;
    d.Port = p.Port;
    if (p.Tail.empty() || p.Tail.front() != '/' || p.Tail.find('.') == std::string::npos) {
        return false;
    }
    d.RequestPath = p.Tail;
    d.FileName = FileNameOf(d.RequestPath);
    if (d.Protocol != kFtp) {
        d.RequestPath = EncodeBlanks(d.RequestPath);
        d.URL = EncodeBlanks(d.URL);
        d.Referer = EncodeBlanks(d.Referer);
    }
    return true;
}

bool ParseUrl(DownloadTask& task, std::string_view address) {
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
