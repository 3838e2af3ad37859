// Cookies for a request, read from a Netscape cookies.txt file (the format
// curl and wget read and write).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vardane {

// The Cookie header value for host and request path from the text of a
// cookies.txt file: "name=value" pairs joined by "; ", longer paths first,
// for cookies whose domain matches host (exactly, or as a parent domain when
// the domain starts with '.' or its subdomain flag is TRUE), whose path is a
// prefix of the request path on a '/' boundary, that are not secure-only (no
// request here is encrypted) and that have not expired at now (unix seconds;
// an expiry of 0 is a session cookie and always matches). "" when none match.
std::string CookiesFor(std::string_view fileText, std::string_view host,
                       std::string_view requestPath, int64_t now);

// Reads the file at path and returns CookiesFor its text; "" when the file
// cannot be read.
std::string CookiesFromFile(const std::string& path, std::string_view host,
                            std::string_view requestPath, int64_t now);

}  // namespace vardane
