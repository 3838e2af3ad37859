// What an FTP server sends on the control connection (and the listing lines
// that are only logged), split and read the way the FTP worker does: reply
// codes, the SIZE reply and the PASV reply whose address and port the worker
// connects to.
#include <string>
#include <vector>

#include "engine/ftp_reply.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string text = vardane::AnsiToWide(bytes);
    FUZZ_CHECK(vardane::fuzz::IsUtf8(text), bytes);
    std::vector<std::string> lines;
    FUZZ_CHECK(vardane::SplitLines(text, lines) == static_cast<int>(lines.size()), bytes);
    for (const std::string& line : lines) {
        std::string code = vardane::ReplyCode(line);
        FUZZ_CHECK(code.find(' ') == std::string::npos && code.size() <= line.size(), line);
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
