#include "engine/ftp_reply.h"

#include <algorithm>
#include <cstdio>

#include "platform/text.h"

namespace vardane {

std::string ReplyCode(std::string_view line) {
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) {
        const bool bareCode =
            line.size() == 3 && line.find_first_not_of("0123456789") == std::string_view::npos;
        return bareCode ? std::string(line) : std::string();
    }
    return std::string(line.substr(0, blank));
}

int64_t ParseSizeReply(std::string_view line) {
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) {
        return 0;
    }
    return TextToInt(line.substr(blank + 1));
}

std::string ParseMdtmReply(std::string_view line) {
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) {
        return "";
    }
    std::string_view time = line.substr(blank + 1);
    time.remove_prefix(std::min(time.find_first_not_of(" \t"), time.size()));
    time = time.substr(0, time.find_last_not_of(" \t") + 1);
    constexpr std::string_view kDigits = "0123456789";
    const size_t digits = std::min(time.find_first_not_of(kDigits), time.size());
    const bool whole = digits == 14 && time.size() == 14;
    const bool fraction = digits == 14 && time.size() > 15 && time.size() <= 24 &&
                          time[14] == '.' &&
                          time.find_first_not_of(kDigits, 15) == std::string_view::npos;
    return whole || fraction ? std::string(time) : "";
}

PasvReply ParsePasvReply(std::string_view line) {
    PasvReply reply;
    const size_t open = line.find('(');
    if (open == std::string_view::npos) {
        return reply;
    }
    size_t comma = open;
    for (int i = 0; i < 4; ++i) {
        comma = line.find(',', comma + 1);
        if (comma == std::string_view::npos) {
            return reply;
        }
    }
    reply.host = ReplaceCopy(line.substr(open + 1, comma - open - 1), ",", ".");
    const std::string_view rest = line.substr(comma + 1);
    const size_t next = rest.find(',');
    const int64_t p1 = TextToInt(rest.substr(0, next));
    const int64_t p2 = next == std::string_view::npos ? 0 : TextToInt(rest.substr(next + 1));
    // Each number is one byte of the port; anything else is no port at all.
    const bool sane = p1 >= 0 && p1 <= 255 && p2 >= 0 && p2 <= 255;
    reply.port = sane ? p1 * 256 + p2 : -1;
    reply.Found = true;
    return reply;
}

int64_t ParseEpsvPort(std::string_view line) {
    const size_t open = line.find('(');
    if (open == std::string_view::npos || open + 4 >= line.size()) {
        return -1;
    }
    const char delimiter = line[open + 1];
    if (line.substr(open + 1, 3) != std::string(3, delimiter)) {
        return -1;
    }
    const std::string_view rest = line.substr(open + 4);
    const size_t end = rest.find(delimiter);
    if (end == std::string_view::npos || end == 0 ||
        rest.substr(0, end).find_first_not_of("0123456789") != std::string_view::npos) {
        return -1;
    }
    return end > 5 ? -1 : TextToInt(rest.substr(0, end));
}

bool IsPassiveReply(std::string_view code) {
    return code == "227" || code == "229";
}

bool IsValidPort(int64_t port) {
    return port >= 1 && port <= 65535;
}

std::string FormatPortCommand(const in_addr& address, uint16_t port) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address.s_addr);
    char text[64];
    std::snprintf(text, sizeof text, "PORT %d,%d,%d,%d,%d,%d", b[0], b[1], b[2], b[3], port / 256,
                  port % 256);
    return text;
}

std::string UserCommand(std::string_view user) {
    return "USER " + (user.empty() ? std::string("anonymous") : std::string(user));
}

bool IsPreliminary(std::string_view code) {
    return code.size() == 3 && code[0] == '1';
}

bool IsNegative(std::string_view code) {
    return code.size() == 3 && (code[0] == '4' || code[0] == '5');
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "xyz-" opens a multi-line reply; returns "xyz" or empty.
std::string OpensMultiLine(std::string_view line) {
    if (line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
        line[3] == '-') {
        return std::string(line.substr(0, 3));
    }
    return {};
}

}  // namespace

bool FtpReplyReader::Feed(std::string_view bytes, std::vector<Line>& out) {
    if (failed_) {
        return false;
    }
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find('\n', start);
        const size_t stop = end == std::string_view::npos ? bytes.size() : end;
        replyBytes_ += stop - start + (end == std::string_view::npos ? 0 : 1);
        if (replyBytes_ > kMaxReplyBytes) {
            failed_ = true;
            return false;
        }
        partial_.append(bytes.substr(start, stop - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
        std::string text = std::move(partial_);
        partial_.clear();
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        bool last = false;
        if (multiCode_.empty()) {
            multiCode_ = OpensMultiLine(text);
            last = multiCode_.empty();
        } else if (text.size() >= 4 && text.compare(0, 3, multiCode_) == 0 && text[3] == ' ') {
            multiCode_.clear();
            last = true;
        }
        if (last) {
            replyBytes_ = 0;
        }
        out.push_back({std::move(text), last});
    }
    return true;
}

void FtpReplyReader::Reset() {
    partial_.clear();
    multiCode_.clear();
    replyBytes_ = 0;
    failed_ = false;
}

}  // namespace vardane
