#include "engine/cookies.h"

#include <algorithm>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"

namespace vardane {

namespace {

struct Cookie {
    std::string Path;
    std::string Pair;
    size_t Order = 0;
};

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) {
            break;
        }
        start = tab + 1;
    }
    return fields;
}

bool DomainMatches(std::string_view domain, bool subdomains, std::string_view host) {
    if (!domain.empty() && domain.front() == '.') {
        domain.remove_prefix(1);
        subdomains = true;
    }
    if (domain.empty()) {
        return false;
    }
    if (EqualsNoCase(domain, host)) {
        return true;
    }
    return subdomains && host.size() > domain.size() &&
           EqualsNoCase(host.substr(host.size() - domain.size()), domain) &&
           host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(std::string_view cookiePath, std::string_view requestPath) {
    requestPath = requestPath.substr(0, requestPath.find('?'));
    if (requestPath.empty()) {
        requestPath = "/";
    }
    if (cookiePath.empty() || cookiePath == requestPath) {
        return true;
    }
    if (requestPath.substr(0, cookiePath.size()) != cookiePath) {
        return false;
    }
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

// A control character (a lone CR above all) would break the request header
// the pair is sent in.
bool HasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

}  // namespace

std::string CookiesFor(std::string_view fileText, std::string_view host,
                       std::string_view requestPath, int64_t now) {
    std::vector<Cookie> found;
    size_t start = 0;
    while (start < fileText.size()) {
        size_t end = fileText.find('\n', start);
        std::string_view line =
            fileText.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? fileText.size() : end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (StartsWithNoCase(line, "#HttpOnly_")) {
            line.remove_prefix(10);
        } else if (line.empty() || line.front() == '#') {
            continue;
        }
        std::vector<std::string_view> f = SplitTabs(line);
        if (f.size() < 7) {
            continue;
        }
        bool subdomains = EqualsNoCase(f[1], "TRUE");
        bool secure = EqualsNoCase(f[3], "TRUE");
        int64_t expiry = TextToInt(f[4]);
        if (secure || (expiry != 0 && expiry <= now) || !DomainMatches(f[0], subdomains, host) ||
            !PathMatches(f[2], requestPath) || HasControl(f[5]) || HasControl(f[6])) {
            continue;
        }
        found.push_back(
            {std::string(f[2]), std::string(f[5]) + "=" + std::string(f[6]), found.size()});
    }
    std::stable_sort(found.begin(), found.end(), [](const Cookie& a, const Cookie& b) {
        return a.Path.size() > b.Path.size();
    });
    std::string header;
    for (const Cookie& c : found) {
        if (!header.empty()) {
            header += "; ";
        }
        header += c.Pair;
    }
    return header;
}

std::string CookiesFromFile(const std::string& path, std::string_view host,
                            std::string_view requestPath, int64_t now) {
    std::string text;
    if (path.empty() || !ReadFileBytes(path, text)) {
        return "";
    }
    return CookiesFor(text, host, requestPath, now);
}

}  // namespace vardane
