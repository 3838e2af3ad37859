// What an FTP server sends on the control connection, read the way the FTP
// worker reads it: lines assembled across receives, reply codes, the SIZE
// reply and the PASV reply whose address and port the worker connects to.
// Listing lines, which the worker only logs, go through SplitLines.
#include <algorithm>
#include <string>
#include <vector>

#include "engine/ftp_reply.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

using vardane::FtpReplyReader;

namespace {

// Receives cut where the input says (1..16 bytes) or the whole input at once.
bool Assemble(const std::string& bytes, bool split, std::vector<FtpReplyReader::Line>& lines) {
    FtpReplyReader reader;
    for (size_t pos = 0; pos < bytes.size();) {
        size_t n = split ? std::min<size_t>(1 + (bytes[pos] & 0x0F), bytes.size() - pos)
                         : bytes.size() - pos;
        if (!reader.Feed(std::string_view(bytes).substr(pos, n), lines)) {
            return false;
        }
        pos += n;
    }
    return true;
}

void CheckReplyLine(const std::string& line) {
    std::string code = vardane::ReplyCode(line);
    FUZZ_CHECK(code.find(' ') == std::string::npos && code.size() <= line.size(), line);
    (void)vardane::ParseSizeReply(line);
    (void)vardane::IsPreliminary(code);
    (void)vardane::IsNegative(code);

    vardane::PasvReply pasv = vardane::ParsePasvReply(line);
    if (pasv.Found) {
        FUZZ_CHECK(pasv.port == -1 || (pasv.port >= 0 && pasv.port <= 65535 * 257), line);
        FUZZ_CHECK(pasv.host.find(',') == std::string::npos, line);
    } else {
        FUZZ_CHECK(pasv.host.empty() && pasv.port == 0, line);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<FtpReplyReader::Line> whole, pieces;
    bool wholeOk = Assemble(bytes, false, whole);
    FUZZ_CHECK(Assemble(bytes, true, pieces) == wholeOk, bytes);
    FUZZ_CHECK(whole.size() == pieces.size(), bytes);
    size_t total = 0;
    for (size_t i = 0; i < whole.size(); ++i) {
        FUZZ_CHECK(whole[i].text == pieces[i].text && whole[i].Last == pieces[i].Last, bytes);
        FUZZ_CHECK(whole[i].text.find('\n') == std::string::npos, bytes);
        total += whole[i].text.size() + 1;
        std::string line = vardane::AnsiToWide(whole[i].text);
        FUZZ_CHECK(vardane::fuzz::IsUtf8(line), bytes);
        CheckReplyLine(line);
    }
    FUZZ_CHECK(total <= size, bytes);

    std::vector<std::string> listing;
    FUZZ_CHECK(vardane::SplitLines(vardane::AnsiToWide(bytes), listing) ==
                   static_cast<int>(listing.size()),
               bytes);
    return 0;
}
