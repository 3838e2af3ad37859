#include "engine/task_headers.h"

#include "platform/text.h"
#include "task/url.h"

namespace vardane {

bool TaskCookieGoesTo(std::string_view baseUrl, std::string_view protocol, std::string_view host) {
    UrlParts base;
    if (!SplitUrl(baseUrl, base) || base.Protocol == "ftp://") {
        return false;
    }
    // Another name for the same machine (localhost for 127.0.0.1) is another
    // host to a browser too.
    return EqualsNoCase(base.Host, host) && (IsHttps(protocol) || !IsHttps(base.Protocol));
}

void ApplyTaskHeaders(const RequestHeaders& own, std::string_view baseUrl,
                      std::string_view protocol, std::string_view host, HttpRequest& q) {
    if (!own.UserAgent.empty() && RequestHeaderValueUsable(own.UserAgent)) {
        q.UserAgent = own.UserAgent;
    }
    // Given for this download: sent whatever the setting for the referer
    // derived from the address says.
    if (!own.Referer.empty() && RequestHeaderValueUsable(own.Referer)) {
        q.Referer = own.Referer;
    }
    // The session's cookies for the address replace those of the cookie file
    // there; elsewhere the cookie file alone speaks.
    if (!own.Cookie.empty() && RequestHeaderValueUsable(own.Cookie) &&
        TaskCookieGoesTo(baseUrl, protocol, host)) {
        q.Cookie = own.Cookie;
    }
}

}  // namespace vardane
