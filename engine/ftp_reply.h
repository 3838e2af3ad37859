// FTP control-connection text, kept apart from the worker's state machine so
// each rule can be tested on its own and any FTP client (a download worker, a
// folder lister) can use it: reply codes, the reply reader that assembles
// lines and multi-line replies, the SIZE and PASV replies and the PORT and
// USER commands.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vardane {

// The text before the first blank of a reply line; a bare three-digit line
// is its own code; empty for any other line without a blank. A continuation line of a multi-line
// reply ("220-Welcome ...") thus yields "220-Welcome", which matches no code, so only the closing
// line
// ("220 ready") is acted upon.
std::string ReplyCode(std::string_view line);

// Size from a "213 <size>" line: the decimal value of the text after the first
// blank (0 when there is none or it is not a number).
int64_t ParseSizeReply(std::string_view line);

// The time of a "213 YYYYMMDDHHMMSS[.fff]" reply to MDTM, as written; "" for
// any other text.
std::string ParseMdtmReply(std::string_view line);

// What a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" line names.
struct PasvReply {
    bool Found = false;  // "(" and four commas after it were present
    std::string host;    // "h1.h2.h3.h4" as written by the server
    int64_t port = 0;    // p1 * 256 + p2; -1 when a number is not a byte
};

// From the first "(" the host runs up to the fourth comma after it, with every
// comma turned into a dot; p1 is the number after that comma, p2 the number
// after the next one.
PasvReply ParsePasvReply(std::string_view line);

// The port of a "229 Entering Extended Passive Mode (|||port|)" line: the
// character after "(" is the delimiter, three of them precede the port and
// one ends it. -1 when the line has no such port.
int64_t ParseEpsvPort(std::string_view line);

// Whether code answers a passive-mode request: "227" to PASV, "229" to EPSV.
bool IsPassiveReply(std::string_view code);

// True when port is a usable TCP port (1..65535).
bool IsValidPort(int64_t port);

// "PORT a,b,c,d,p1,p2" for a local IPv4 address and port: the four address
// bytes in network order, then port / 256 and port % 256.
std::string FormatPortCommand(const in_addr& address, uint16_t port);

// "USER <user>"; "USER anonymous" when the address carried no user name
// (the lower-case name of the anonymous-FTP convention: some servers accept
// no other spelling).
std::string UserCommand(std::string_view user);

// True for a positive preliminary reply ("1yz"): another reply follows.
bool IsPreliminary(std::string_view code);
// True for a transient or permanent negative reply ("4yz", "5yz").
bool IsNegative(std::string_view code);

// Assembles the control connection's bytes into lines (CR LF or LF ended, a
// line split across receives is joined) and tells which line ends a reply:
// a multi-line reply runs from "xyz-" to the line that starts with "xyz ".
// Every reply is bounded so that a server that never ends one (an endless
// greeting, a line without an end) cannot hold a client for ever.
class FtpReplyReader {
  public:
    struct Line {
        std::string text;  // without its line end
        bool Last;         // ends a reply: act on its ReplyCode
    };
    static constexpr size_t kMaxReplyBytes = 64 * 1024;

    // Adds received bytes and appends the lines they complete to out. False
    // when the reply in progress has grown past kMaxReplyBytes (the lines
    // before that point are still appended); the reader is then unusable
    // until Reset.
    bool Feed(std::string_view bytes, std::vector<Line>& out);
    // Forgets everything (a new connection).
    void Reset();

  private:
    std::string partial_;    // bytes of a line whose end has not come
    std::string multiCode_;  // "xyz" while a multi-line reply is open
    size_t replyBytes_ = 0;  // bytes of the reply in progress
    bool failed_ = false;
};

}  // namespace vardane
