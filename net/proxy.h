// The proxy handshake of one connection, a small state machine kept in the
// connection's ProxyStep.
#pragma once

#include <cstdint>

#include "net/connection_owner.h"
#include "net/event_socket.h"
#include "settings/proxy_record.h"

namespace vardane {

// Proxy types of a ProxyRecord.
enum ProxyType : int {
    proxyDirect = 0,
    proxyHttpConnect = 1,
    proxyHttpGet = 2,
    proxySocks4 = 3,
    proxySocks5 = 4,
};

// Values of EventSocket::ProxyStep.
enum ProxyStepValue : int {
    proxyFailed = 0,
    proxyConnectStarted = 1,
    proxyGreetingSent = 2,  // SOCKS5 greeting
    proxyRequestSent = 3,   // SOCKS4 request, SOCKS5 credentials, HTTP CONNECT
    proxySocks5ConnectSent = 4,
    proxyReady = 5,
};

// Runs one step of the handshake and returns the new step (also stored in
// conn.ProxyStep). Called once with data == nullptr right after a successful
// connect, then with the bytes of every receive on the connection until it
// returns 0 or 5. When the handshake completes on a reply, consumed is set to
// the number of leading bytes that belonged to the proxy (never more than
// length); the bytes after them are protocol data. Otherwise consumed is left
// as the caller set it.
int NegotiateProxy(IConnectionOwner& owner, EventSocket& conn, const ProxyRecord& proxy,
                   const char* data, int64_t length, int64_t& consumed);

}  // namespace vardane
