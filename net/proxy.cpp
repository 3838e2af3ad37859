#include "net/proxy.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "net/proxy_text.h"
#include "platform/text.h"

namespace vardane {

namespace {

// One reply as the step functions see it.
struct Reply {
    const char* data = nullptr;
    size_t length = 0;

    // The first two bytes are b0 b1 (a reply too short to hold them matches
    // nothing).
    bool StartsWith(char b0, char b1) const {
        return length >= 2 && data[0] == b0 && data[1] == b1;
    }
};

// Sends one SOCKS request and logs its first two bytes.
void SendSocks(IConnectionOwner& owner, const EventSocket& conn, const std::string& request) {
    SendBytes(conn.Socket, request.data(), request.size());
    owner.ThreadLog(LogKind::Sent,
                    "Socks " + HexBytes(request.data(), std::min<size_t>(2, request.size())));
}

// The SOCKS requests name the target by its address, resolved here: an IPv4
// address when the target has one (what a proxy is most likely to reach),
// else an IPv6 one. A target that does not resolve fails the handshake rather
// than sending the address 0.0.0.0, which a proxy would take as its own host.
bool ResolveTarget(const EventSocket& conn, sockaddr_storage& target) {
    std::vector<sockaddr_storage> found = ResolveAddresses(conn.TargetHost, conn.TargetPort);
    if (found.empty()) {
        return false;
    }
    auto v4 = std::find_if(found.begin(), found.end(),
                           [](const sockaddr_storage& a) { return a.ss_family == AF_INET; });
    target = v4 != found.end() ? *v4 : found.front();
    return true;
}

int SendSocks5Connect(IConnectionOwner& owner, const EventSocket& conn) {
    sockaddr_storage target{};
    if (!ResolveTarget(conn, target)) {
        return proxyFailed;
    }
    SendSocks(owner, conn, Socks5ConnectRequest(target));
    return proxySocks5ConnectSent;
}

int SendHttpConnect(IConnectionOwner& owner, const EventSocket& conn, const ProxyRecord& proxy) {
    std::string request = ConnectRequestLine(conn.TargetHost, conn.TargetPort);
    owner.ThreadLog(LogKind::Sent, request.substr(0, request.size() - 2));
    if (proxy.Authenticate) {
        std::string auth = ProxyAuthorizationLine(proxy);
        owner.ThreadLog(LogKind::Sent, MaskCredentials(auth.substr(0, auth.size() - 2)));
        request += auth;
    }
    request += "\r\n";
    const std::string bytes = WideToAnsi(request);
    SendBytes(conn.Socket, bytes.data(), bytes.size());
    return proxyRequestSent;
}

// Step 1: the TCP connect succeeded; open the handshake.
int OnConnected(IConnectionOwner& owner, const EventSocket& conn, const ProxyRecord& proxy) {
    switch (proxy.Type) {
        case proxySocks5:
            SendSocks(owner, conn, Socks5Greeting(proxy.Authenticate));
            return proxyGreetingSent;
        case proxySocks4: {
            sockaddr_storage target{};
            if (!ResolveTarget(conn, target)) {
                return proxyFailed;
            }
            if (target.ss_family != AF_INET) {
                // The request has room for four address bytes only.
                owner.ThreadLog(LogKind::Error, "SOCKS4 cannot reach the IPv6 address of " +
                                                    conn.TargetHost + "; use SOCKS5");
                return proxyFailed;
            }
            SendSocks(owner, conn, Socks4Request(reinterpret_cast<const sockaddr_in&>(target)));
            return proxyRequestSent;
        }
        case proxyHttpConnect:
            return SendHttpConnect(owner, conn, proxy);
        case proxyHttpGet:
            return proxyReady;
        default:
            return conn.ProxyStep;
    }
}

// Step 2 (SOCKS5): the method the proxy chose.
int OnSocks5Method(IConnectionOwner& owner, const EventSocket& conn, const ProxyRecord& proxy,
                   const Reply& reply) {
    if (reply.StartsWith(0x05, 0x00)) {
        return SendSocks5Connect(owner, conn);
    }
    if (reply.StartsWith(0x05, 0x02)) {
        auto credentials = Socks5Credentials(proxy.User, proxy.Password);
        if (!credentials) {
            return proxyFailed;
        }
        SendSocks(owner, conn, *credentials);
        return proxyRequestSent;
    }
    return proxyFailed;
}

// Step 3, HTTP CONNECT: the proxy's reply header decides.
int OnHttpConnectReply(IConnectionOwner& owner, const Reply& reply, int64_t& consumed) {
    size_t headerLength = FindHeaderEnd(reply.data, reply.length);
    consumed = static_cast<int64_t>(headerLength);
    const std::string header = AnsiToWide(std::string_view(reply.data, headerLength));
    std::vector<std::string> lines;
    SplitLines(header, lines);
    for (const std::string& line : lines) {
        if (owner.IsStopped()) {
            break;
        }
        if (!line.empty()) {
            owner.ThreadLog(LogKind::Received, line);
        }
    }
    return ReplyStatus(header) == "200" ? proxyReady : proxyFailed;
}

// Step 3: the reply to the SOCKS4 request, the SOCKS5 credentials or the HTTP
// CONNECT request.
int OnRequestReply(IConnectionOwner& owner, const EventSocket& conn, const ProxyRecord& proxy,
                   const Reply& reply, int64_t& consumed) {
    switch (proxy.Type) {
        case proxySocks5:
            // RFC 1929 answers with version 01; some proxies answer 05.
            if (reply.StartsWith(0x01, 0x00) || reply.StartsWith(0x05, 0x00)) {
                return SendSocks5Connect(owner, conn);
            }
            return proxyFailed;
        case proxySocks4:
            if (reply.StartsWith(0x00, 0x5A)) {
                consumed = static_cast<int64_t>(std::min<size_t>(8, reply.length));
                return proxyReady;
            }
            return proxyFailed;
        case proxyHttpConnect:
            return OnHttpConnectReply(owner, reply, consumed);
        default:
            return conn.ProxyStep;
    }
}

// Step 4 (SOCKS5): the reply to the connect request.
int OnSocks5ConnectReply(const Reply& reply, int64_t& consumed) {
    if (!reply.StartsWith(0x05, 0x00)) {
        return proxyFailed;
    }
    size_t length = Socks5ReplyLength(reply.data, reply.length);
    consumed = static_cast<int64_t>(std::min(length, reply.length));
    return proxyReady;
}

int NextStep(IConnectionOwner& owner, const EventSocket& conn, const ProxyRecord& proxy,
             const Reply& reply, int64_t& consumed) {
    const bool socks5 = proxy.Type == proxySocks5;
    switch (conn.ProxyStep) {
        case proxyConnectStarted:
            return OnConnected(owner, conn, proxy);
        case proxyGreetingSent:
            return socks5 ? OnSocks5Method(owner, conn, proxy, reply) : conn.ProxyStep;
        case proxyRequestSent:
            return OnRequestReply(owner, conn, proxy, reply, consumed);
        case proxySocks5ConnectSent:
            return socks5 ? OnSocks5ConnectReply(reply, consumed) : conn.ProxyStep;
        default:
            return conn.ProxyStep;
    }
}

}  // namespace

int NegotiateProxy(IConnectionOwner& owner, EventSocket& conn, const ProxyRecord& proxy,
                   const char* data, int64_t length, int64_t& consumed) {
    if (proxy.Type == proxyDirect || conn.ProxyStep == proxyReady) {
        consumed = 0;
        conn.ProxyStep = proxyReady;
        return proxyReady;
    }
    Reply reply;
    if (data != nullptr && length > 0) {
        reply = Reply{data, static_cast<size_t>(length)};
    }
    if (data != nullptr && (proxy.Type == proxySocks4 || proxy.Type == proxySocks5)) {
        owner.ThreadLog(LogKind::Received,
                        "Socks " + HexBytes(reply.data, std::min<size_t>(2, reply.length)));
    }
    conn.ProxyStep = NextStep(owner, conn, proxy, reply, consumed);
    return conn.ProxyStep;
}

}  // namespace vardane
