// A reply header as a server sends it, read the way the HTTP worker reads it:
// header end, lines, status, the values it acts on, the line masking for the
// log and the redirect target.
#include <string>
#include <string_view>

#include "engine/http_text.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"
#include "task/url.h"

namespace {

void CheckLine(const std::string& line) {
    std::string status = vardane::StatusCode(line);
    FUZZ_CHECK(status.empty() || status.size() <= 3, line);
    (void)vardane::TextToInt(vardane::HeaderValue(line, "Content-Length"));
    (void)vardane::HeaderField(line, "Transfer-Encoding");

    vardane::ContentRange range;
    if (vardane::ParseContentRange(vardane::HeaderField(line, "Content-Range"), range)) {
        FUZZ_CHECK(range.First >= 0 && range.First <= range.Last, line);
        FUZZ_CHECK(range.Total == -1 || range.Total > range.Last, line);
    }

    // A secret must never reach the log: a credential header keeps its name
    // and nothing of its value.
    std::string masked = vardane::MaskHeaderLine(line);
    for (std::string_view name : {"Cookie", "Set-Cookie", "Authorization", "Proxy-Authorization"}) {
        if (vardane::StartsWithNoCase(line, std::string(name) + ":")) {
            FUZZ_CHECK(masked.size() == name.size() + 8 && masked.ends_with(": ******"), line);
        }
    }

    std::string location = vardane::HeaderValue(line, "Location");
    if (!location.empty()) {
        for (const char* current : {"http://host:8080/dir/sub/a.zip?x=1", "ftp://u:p@host/pub/f"}) {
            (void)vardane::MaskUrlPassword(vardane::ResolveLocation(current, location));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    size_t end = vardane::HeaderEnd(bytes.data(), bytes.size());
    FUZZ_CHECK(end == 0 || (end >= 4 && end <= size && bytes.compare(end - 4, 4, "\r\n\r\n") == 0),
               bytes);
    // Without a complete header the worker waits for more; read the lines
    // anyway so a truncated header is covered too.
    std::string head = end == 0 ? bytes : bytes.substr(0, end - 4);
    for (const std::string& line : vardane::HeaderLines(head)) {
        FUZZ_CHECK(line.find("\r\n") == std::string::npos, line);
        CheckLine(line);
    }
    return 0;
}
