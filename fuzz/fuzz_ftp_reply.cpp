// Lines of an FTP control connection: reply codes, the SIZE reply and the
// PASV reply whose address and port the worker connects to.
#include <string>
#include <string_view>

#include "engine/ftp_reply.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string line(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        std::string code = vardane::ReplyCode(line);
        FUZZ_CHECK(code.find(' ') == std::string::npos && code.size() < line.size() + 1, line);
        (void)vardane::ParseSizeReply(line);

        vardane::PasvReply pasv = vardane::ParsePasvReply(line);
        if (pasv.bFound) {
            FUZZ_CHECK(pasv.port == -1 || (pasv.port >= 0 && pasv.port <= 65535 * 257), line);
            FUZZ_CHECK(pasv.host.find(',') == std::string::npos, line);
        } else {
            FUZZ_CHECK(pasv.host.empty() && pasv.port == 0, line);
        }
    }
    return 0;
}
