#include "engine/ftp_reply.h"

#include <cstdio>

#include "platform/text.h"

namespace vardane {

std::string ReplyCode(std::string_view line) {
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) {
        return {};
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
    // Hostile numbers must not overflow; anything this large is no port anyway.
    const bool sane = p1 >= 0 && p1 <= 65535 && p2 >= 0 && p2 <= 65535;
    reply.port = sane ? p1 * 256 + p2 : -1;
    reply.bFound = true;
    return reply;
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
    return "USER " + (user.empty() ? std::string("Anonymous") : std::string(user));
}

}  // namespace vardane
