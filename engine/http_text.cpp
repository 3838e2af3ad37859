#include "engine/http_text.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"
#include "task/url.h"

namespace vardane {

std::string BuildHttpRequest(const HttpRequest& r) {
    std::string t;
    t.reserve(512);
    t += "GET ";
    t += r.ViaGetProxy ? r.Url : r.RequestPath;
    t += " HTTP/1.1\r\n";
    t += "Host: " + HostPortText(r.Host, r.Port) + "\r\n";
    t += "Accept: */*\r\n";
    if (!r.Referer.empty()) {
        t += "Referer: " + r.Referer + "\r\n";
    }
    if (!r.Cookie.empty()) {
        t += "Cookie: " + r.Cookie + "\r\n";
    }
    if (!r.UserAgent.empty()) {
        t += "User-Agent: " + r.UserAgent + "\r\n";
    }
    t += "Pragma: no-cache\r\n";
    t += "Cache-Control: no-cache\r\n";
    if (r.RangeStart > 0 || r.RangeEnd >= 0) {
        t += "Range: bytes=" + std::to_string(r.RangeStart) + "-";
        if (r.RangeEnd >= 0) {
            t += std::to_string(r.RangeEnd);
        }
        t += "\r\n";
        if (!r.IfRange.empty()) {
            t += "If-Range: " + r.IfRange + "\r\n";
        }
    }
    if (r.ViaGetProxy && !r.ProxyCredentials.empty()) {
        t += "Proxy-Authorization: Basic " + r.ProxyCredentials + "\r\n";
    }
    t += "Connection: close\r\n\r\n";
    return t;
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string StatusCode(std::string_view line) {
    // "HTTP/" digit "." digit, one blank, exactly three digits, then the end
    // or a blank: "HTTP/1.1 2000" is no status line.
    if (line.size() < 12 || !StartsWithNoCase(line, "HTTP/") || !IsDigit(line[5]) ||
        line[6] != '.' || !IsDigit(line[7]) || line[8] != ' ') {
        return "";
    }
    std::string_view code = line.substr(9, 3);
    if (!std::all_of(code.begin(), code.end(), IsDigit) || (line.size() > 12 && line[12] != ' ')) {
        return "";
    }
    return std::string(code);
}

std::string HeaderValue(std::string_view line, std::string_view name) {
    if (!StartsWithNoCase(line, name)) {
        return "";
    }
    std::string rest(line.substr(name.size()));
    if (!rest.empty() && rest[0] == ':') {
        rest.erase(0, 1);
    }
    rest.erase(std::remove(rest.begin(), rest.end(), ' '), rest.end());
    return rest;
}

static std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

std::string HeaderField(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || !StartsWithNoCase(line, name) || line[name.size()] != ':') {
        return "";
    }
    return std::string(Trim(line.substr(name.size() + 1)));
}

// Digits only, no sign; false on overflow or when there are none.
static bool ParseDigits(std::string_view s, int64_t& out) {
    s = Trim(s);
    if (s.empty() || s.size() > 18) {
        return false;
    }
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

bool ParseContentLength(std::string_view value, int64_t& out) {
    return ParseDigits(value, out);
}

bool ParseContentRange(std::string_view value, ContentRange& out) {
    value = Trim(value);
    if (!StartsWithNoCase(value, "bytes")) {
        return false;
    }
    value = Trim(value.substr(5));
    if (!value.empty() && value.front() == '=') {  // a few servers write "bytes=a-b/c"
        value.remove_prefix(1);
    }
    size_t dash = value.find('-');
    size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
        return false;
    }
    ContentRange r;
    if (!ParseDigits(value.substr(0, dash), r.First) ||
        !ParseDigits(value.substr(dash + 1, slash - dash - 1), r.Last) || r.Last < r.First) {
        return false;
    }
    std::string_view total = Trim(value.substr(slash + 1));
    if (total == "*") {
        r.Total = -1;
    } else if (!ParseDigits(total, r.Total) || r.Total <= r.Last) {
        return false;
    }
    out = r;
    return true;
}

size_t HeaderEnd(const char* bytes, size_t n) {
    static constexpr std::string_view kEnd = "\r\n\r\n";
    std::string_view s(bytes, n);
    size_t at = s.find(kEnd);
    return at == std::string_view::npos ? 0 : at + kEnd.size();
}

// Folds "." and ".." segments of an absolute path ("/a/./b/../c" -> "/a/c").
static std::string FoldDots(std::string_view path) {
    std::string query;
    size_t q = path.find('?');
    if (q != std::string_view::npos) {
        query = std::string(path.substr(q));
        path = path.substr(0, q);
    }
    std::vector<std::string> segs;
    size_t start = 1;
    bool trailing = false;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        std::string seg(path.substr(start, end - start));
        trailing = (seg == "." || seg == ".." || (seg.empty() && end == path.size()));
        if (seg == "..") {
            if (!segs.empty()) {
                segs.pop_back();
            }
        } else if (seg != ".") {
            segs.push_back(seg);
        }
        start = end + 1;
    }
    std::string out;
    for (size_t i = 0; i < segs.size(); ++i) {
        if (i + 1 == segs.size() && segs[i].empty()) {
            break;
        }
        out += "/" + segs[i];
    }
    if (out.empty() || trailing) {
        out += "/";
    }
    return out + query;
}

std::string ResolveLocation(std::string_view current, std::string_view location) {
    location = Trim(location);
    size_t scheme = current.find("://");
    if (scheme == std::string_view::npos ||
        !(StartsWithNoCase(current, "http://") || StartsWithNoCase(current, "https://") ||
          StartsWithNoCase(current, "ftp://"))) {
        return "";
    }
    size_t colon = location.find(':');
    size_t firstSep = location.find_first_of("/?#");
    if (colon != std::string_view::npos && colon > 0 &&
        (firstSep == std::string_view::npos || colon < firstSep)) {
        return std::string(location);  // has its own scheme
    }
    std::string_view schemePart = current.substr(0, scheme + 1);  // "http:"
    if (location.substr(0, 2) == "//") {
        return std::string(schemePart) + std::string(location);
    }
    size_t authEnd = FindAuthority(current).End;
    std::string_view authority = current.substr(0, authEnd);
    std::string_view path =
        authEnd == current.size() ? std::string_view("/") : current.substr(authEnd);
    if (size_t hash = location.find('#'); hash != std::string_view::npos) {
        location = location.substr(0, hash);
    }
    if (location.empty()) {
        return std::string(current);
    }
    if (location.front() == '/') {
        return std::string(authority) + FoldDots(location);
    }
    size_t q = path.find('?');
    std::string_view basePath = path.substr(0, q);
    if (location.front() == '?') {
        return std::string(authority) + std::string(basePath) + std::string(location);
    }
    std::string_view folder = basePath.substr(0, basePath.rfind('/') + 1);
    return std::string(authority) + FoldDots(std::string(folder) + std::string(location));
}

std::string MaskHeaderLine(std::string_view line) {
    static constexpr std::string_view kSecret[] = {"Cookie", "Set-Cookie", "Authorization",
                                                   "Proxy-Authorization"};
    for (std::string_view name : kSecret) {
        if (line.size() > name.size() && StartsWithNoCase(line, name) && line[name.size()] == ':') {
            return std::string(line.substr(0, name.size())) + ": ******";
        }
    }
    if (StartsWithNoCase(line, "Location:")) {
        return std::string(line.substr(0, 9)) + MaskUrlPassword(line.substr(9));
    }
    return std::string(line);
}

std::vector<std::string> HeaderLines(std::string_view header) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < header.size()) {
        size_t end = header.find("\r\n", start);
        if (end == std::string_view::npos) {
            end = header.size();
        }
        if (end > start) {
            lines.emplace_back(header.substr(start, end - start));
        }
        start = end + 2;
    }
    return lines;
}

}  // namespace vardane

namespace vardane {

size_t ChunkDecoder::Decode(char* data, size_t n) {
    size_t out = 0;
    for (size_t i = 0; i < n && state_ != State::Done && state_ != State::Failed; ++i) {
        char c = data[i];
        switch (state_) {
            case State::Size:
                if (HexDigitValue(c) >= 0 && digits_ < 15) {
                    remaining_ = remaining_ * 16 + HexDigitValue(c);
                    ++digits_;
                } else if (digits_ > 0 && (c == ';' || c == ' ' || c == '\t')) {
                    state_ = State::Extension;
                } else if (digits_ > 0 && c == '\r') {
                    state_ = State::SizeLf;
                } else {
                    state_ = State::Failed;
                }
                break;
            case State::Extension:
                if (c == '\r') {
                    state_ = State::SizeLf;
                }
                break;
            case State::SizeLf:
                if (c != '\n') {
                    state_ = State::Failed;
                } else if (remaining_ == 0) {
                    state_ = State::Trailer;
                    trailerLineEmpty_ = true;
                } else {
                    state_ = State::Data;
                }
                break;
            case State::Data: {
                size_t take = std::min(static_cast<size_t>(remaining_), n - i);
                std::memmove(data + out, data + i, take);
                out += take;
                remaining_ -= static_cast<int64_t>(take);
                i += take - 1;
                if (remaining_ == 0) {
                    state_ = State::DataCr;
                }
                break;
            }
            case State::DataCr:
                state_ = c == '\r' ? State::DataLf : State::Failed;
                break;
            case State::DataLf:
                state_ = c == '\n' ? State::Size : State::Failed;
                digits_ = 0;
                remaining_ = 0;
                break;
            case State::Trailer:
                if (c == '\r') {
                    state_ = State::TrailerLf;
                } else {
                    trailerLineEmpty_ = false;
                }
                break;
            case State::TrailerLf:
                if (c != '\n') {
                    state_ = State::Failed;
                } else if (trailerLineEmpty_) {
                    state_ = State::Done;
                } else {
                    state_ = State::Trailer;
                    trailerLineEmpty_ = true;
                }
                break;
            case State::Done:
            case State::Failed:
                break;
        }
    }
    return out;
}

}  // namespace vardane
