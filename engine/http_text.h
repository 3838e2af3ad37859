// HTTP protocol text, apart from the worker's state: the request, the status
// line, header values, Content-Range, redirect targets and the masking of
// secrets in logged header lines. Pure functions, tested alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vardane {

// What one GET request carries.
struct HttpRequest {
    std::string RequestPath;  // path and query sent to the server
    std::string Url;          // whole address (request line through an HTTP GET proxy)
    std::string Host;
    int Port = 80;
    std::string Referer;    // "" sends none
    std::string Cookie;     // "" sends none
    std::string UserAgent;  // "" sends none
    // A Range header is sent when RangeStart > 0 or RangeEnd >= 0:
    // "bytes=<start>-<end>", or "bytes=<start>-" without an end.
    int64_t RangeStart = 0;
    int64_t RangeEnd = -1;  // last byte wanted (0-based), -1 for the end of the file
    // Sent as If-Range with a Range header: the range only of this version
    // of the file, else the whole file with a 200. "" sends none.
    std::string IfRange;
    bool ViaGetProxy = false;
    // Base64 of "user:password" for an HTTP GET proxy; "" sends none.
    std::string ProxyCredentials;
};

// The request text, every line ended by CR LF, the last followed by an empty
// line. The port is always written in Host, also 80.
std::string BuildHttpRequest(const HttpRequest& request);

// The three-digit code of a status line "HTTP/<d>.<d> <ddd>[ reason]" (the
// name in any case); "" for anything else.
std::string StatusCode(std::string_view line);

// If line starts with name (any case): the line with name + ":" removed and
// then every blank removed; else "". "Content-Length: 1234" gives "1234".
std::string HeaderValue(std::string_view line, std::string_view name);

// The value of a header line with the given name (any case), trimmed of
// surrounding blanks and tabs, blanks inside kept; "" when the line is
// another header.
std::string HeaderField(std::string_view line, std::string_view name);

// A Content-Length value: decimal digits only (blanks around allowed), at most
// 18 of them. False for anything else.
bool ParseContentLength(std::string_view value, int64_t& out);

// "Content-Range: bytes <first>-<last>/<total>": first byte (0-based) and the
// total ("*" gives -1). False when the line is not a well-formed byte range.
struct ContentRange {
    int64_t First = -1;
    int64_t Last = -1;
    int64_t Total = -1;
};
bool ParseContentRange(std::string_view value, ContentRange& out);

// The end of the header: offset just past the first CR LF CR LF in the n
// bytes, 0 when there is none yet.
size_t HeaderEnd(const char* bytes, size_t n);

// A redirect target resolved against the address now in use: an absolute
// "scheme://" target is returned as it stands, "//host/p" takes the current
// scheme, "/p" the current scheme and authority, and any other relative
// target the current path's folder ("." and ".." segments folded).
// Returns "" when current is not an absolute http/ftp address.
std::string ResolveLocation(std::string_view current, std::string_view location);

// A header line as it may be logged: the values of Cookie, Set-Cookie,
// Authorization and Proxy-Authorization are replaced by "******", and so is
// a password inside a Location address.
std::string MaskHeaderLine(std::string_view line);

// The header lines (CR LF separated) of a reply header without its
// terminating empty line.
std::vector<std::string> HeaderLines(std::string_view header);

}  // namespace vardane

namespace vardane {

// Decodes a body sent with "Transfer-Encoding: chunked", in place and across
// any split of the input.
class ChunkDecoder {
  public:
    // Replaces the n bytes at data by the body bytes they carry and returns
    // their number (never more than n).
    size_t Decode(char* data, size_t n);
    // The terminating zero-size chunk and its trailer have been read.
    bool Done() const { return state_ == State::Done; }
    // The input is not chunked encoding.
    bool Failed() const { return state_ == State::Failed; }
    void Reset() { *this = ChunkDecoder(); }

  private:
    enum class State {
        Size,
        Extension,
        SizeLf,
        Data,
        DataCr,
        DataLf,
        Trailer,
        TrailerLf,
        Done,
        Failed
    };
    State state_ = State::Size;
    int64_t remaining_ = 0;
    int digits_ = 0;
    bool trailerLineEmpty_ = true;
};

}  // namespace vardane
