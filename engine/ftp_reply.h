// FTP control-connection text, kept apart from the worker's state machine so
// each rule can be tested on its own: reply codes, the SIZE and PASV replies
// and the PORT command.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vardane {

// The text before the first blank of a reply line; empty when the line has no
// blank. A continuation line of a multi-line reply ("220-Welcome ...") thus
// yields "220-Welcome", which matches no code, so only the closing line
// ("220 ready") is acted upon.
std::string ReplyCode(std::string_view line);

// Size from a "213 <size>" line: the decimal value of the text after the first
// blank (0 when there is none or it is not a number).
int64_t ParseSizeReply(std::string_view line);

// What a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" line names.
struct PasvReply {
    bool bFound = false;  // "(" and four commas after it were present
    std::string host;     // "h1.h2.h3.h4" as written by the server
    int64_t port = 0;     // p1 * 256 + p2; -1 when a number is absurdly large
};

// From the first "(" the host runs up to the fourth comma after it, with every
// comma turned into a dot; p1 is the number after that comma, p2 the number
// after the next one.
PasvReply ParsePasvReply(std::string_view line);

// True when port is a usable TCP port (1..65535).
bool IsValidPort(int64_t port);

// "PORT a,b,c,d,p1,p2" for a local IPv4 address and port: the four address
// bytes in network order, then port / 256 and port % 256.
std::string FormatPortCommand(const in_addr& address, uint16_t port);

// "USER <user>", "USER Anonymous" when the address carried no user name.
std::string UserCommand(std::string_view user);

}  // namespace vardane
