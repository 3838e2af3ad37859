// What a proxy answers: the HTTP CONNECT reply header and the SOCKS5 reply
// whose length decides how many bytes belong to the handshake.
#include <string>
#include <string_view>
#include <vector>

#include "engine/http_text.h"
#include "fuzz/fuzz_support.h"
#include "net/proxy_text.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    std::string text(bytes, size);

    // The proxy code and the HTTP worker find the end of a header alike.
    size_t end = vardane::FindHeaderEnd(bytes, size);
    FUZZ_CHECK(end == vardane::HeaderEnd(bytes, size), text);
    // As the CONNECT step reads it: the header in program text, its lines
    // logged, its status deciding.
    std::string header = vardane::AnsiToWide(std::string_view(bytes, end));
    std::vector<std::string> lines;
    vardane::SplitLines(header, lines);
    for (const std::string& line : lines) {
        (void)vardane::MaskCredentials(line);
    }
    std::string status = vardane::ReplyStatus(header);
    FUZZ_CHECK(status.size() <= 3 && (end > 0 || status.empty()), text);

    size_t length = vardane::Socks5ReplyLength(bytes, size);
    FUZZ_CHECK(length == 10 || length == 22 || (length >= 7 && length <= 7 + 255), text);
    (void)vardane::HexBytes(bytes, size < 64 ? size : 64);
    return 0;
}
