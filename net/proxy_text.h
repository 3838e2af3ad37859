// Pure text and byte helpers of the network code: Base64, hex dumps for the
// log, HTTP header boundaries and status, credential masking, and the bytes of
// the proxy requests. No sockets here, so each is tested alone.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vardane {

struct ProxyRecord;

// Standard Base64 (with "=" padding, no line breaks) of the network bytes of
// text.
std::string Base64Encode(std::string_view text);

// Each byte as two upper-case hex digits followed by a blank ("05 01 ").
std::string HexBytes(const void* bytes, size_t n);

// Offset just past the first CR LF CR LF within the n bytes, 0 when there is
// none.
size_t FindHeaderEnd(const char* bytes, size_t n);

// The three characters after the first blank when text starts with "HTTP"
// (any case), else empty.
std::string ReplyStatus(std::string_view text);

// A line as it may appear in a log: the value of a Proxy-Authorization,
// Authorization or Cookie header is replaced by "******".
std::string MaskCredentials(std::string_view line);

// Proxy requests, byte for byte.
std::string Socks5Greeting(bool authenticate);
// RFC 1929 user/password request; nothing when either is longer than 255
// bytes (it would not fit the one-byte lengths).
std::optional<std::string> Socks5Credentials(std::string_view user, std::string_view password);
// CONNECT to an IPv4 target (address and port as stored, network order).
std::string Socks5ConnectRequest(const sockaddr_in& target);
// CONNECT to an IPv4 (ATYP 1) or IPv6 (ATYP 4) target.
std::string Socks5ConnectRequest(const sockaddr_storage& target);
std::string Socks4Request(const sockaddr_in& target);
// Length of a SOCKS5 reply by its address type (IPv4 10, IPv6 22, a name
// 7 + its length); 10 when the bytes do not tell.
size_t Socks5ReplyLength(const char* bytes, size_t n);

// The first line of an HTTP CONNECT request and, with authentication, the
// Proxy-Authorization line, each ending in CR LF; the request is the first
// line + (the auth line or "") + "\r\n".
std::string ConnectRequestLine(const std::string& targetHost, int targetPort);
std::string ProxyAuthorizationLine(const ProxyRecord& proxy);

}  // namespace vardane
