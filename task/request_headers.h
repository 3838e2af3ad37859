// Header values a task carries of its own, usually those of the browser that
// handed the download over: the session's cookies for the address, the page
// the link was on and the browser's agent. A download behind a login fails
// without them. Kept in the progress file (mode 0600); the cookie is a secret
// and is never shown.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vardane {

struct RequestHeaders {
    std::string Cookie;     // value of a Cookie line: "name=value; name2=value2"
    std::string Referer;    // the page the address came from
    std::string UserAgent;  // replaces the configured user agent

    bool Empty() const { return Cookie.empty() && Referer.empty() && UserAgent.empty(); }
    bool operator==(const RequestHeaders&) const = default;
};

// Longest value taken: browsers send no longer cookie lines, and a progress
// file is rewritten every megabyte of a download.
inline constexpr size_t kMaxRequestHeaderValue = 16 * 1024;

// Whether value may stand in a header line: no control character (a CR or
// LF would start a header line of its own) and at most
// kMaxRequestHeaderValue bytes.
inline bool RequestHeaderValueUsable(std::string_view value) {
    if (value.size() > kMaxRequestHeaderValue) {
        return false;
    }
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            return false;
        }
    }
    return true;
}

inline bool RequestHeadersUsable(const RequestHeaders& h) {
    return RequestHeaderValueUsable(h.Cookie) && RequestHeaderValueUsable(h.Referer) &&
           RequestHeaderValueUsable(h.UserAgent);
}

}  // namespace vardane
