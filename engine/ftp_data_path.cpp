#include "engine/ftp_data_path.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "engine/ftp_reply.h"
#include "net/proxy.h"

namespace vardane {

namespace {

// Whether two addresses are the same host (the ports aside).
bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) {
        return false;
    }
    if (a.ss_family == AF_INET6) {
        return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                           &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr,
                           sizeof(in6_addr)) == 0;
    }
    return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
}

// Whether the control connection runs directly over IPv6.
bool DirectIpv6(const ConnectionSet& set, const ProxyRecord& proxy) {
    sockaddr_storage peer{};
    return proxy.Type == proxyDirect && PeerAddress(set[slotControl].Socket, peer) &&
           peer.ss_family == AF_INET6;
}

// "EPRT |2|address|port|", the extended form of PORT for an IPv6 address.
std::string EprtCommand(const sockaddr_storage& local, int port) {
    return "EPRT |2|" + AddressText(local) + "|" + std::to_string(port) + "|";
}

// The port a passive reply names: "229" carries only a port, "227" an
// address (which is never used) and a port. -1 when there is none.
int64_t PassivePort(const std::string& line) {
    if (line.compare(0, 3, "229") == 0) {
        return ParseEpsvPort(line);
    }
    const PasvReply reply = ParsePasvReply(line);
    return reply.Found ? reply.port : -1;
}

}  // namespace

std::string PassiveCommand(const ConnectionSet& set, const ProxyRecord& proxy) {
    return DirectIpv6(set, proxy) ? "EPSV" : "PASV";
}

std::string FtpDataHost(const ConnectionSet& set, const std::string& host,
                        const ProxyRecord& proxy) {
    sockaddr_storage peer{};
    if (proxy.Type != proxyDirect || !PeerAddress(set[slotControl].Socket, peer)) {
        return host;
    }
    std::string text = AddressText(peer);
    return text.empty() ? host : text;
}

bool ConnectPassiveData(ConnectionSet& set, const std::string& pasvLine, const std::string& host,
                        const ProxyRecord& proxy, FtpDataTarget& target, int receiveBuffer) {
    const int64_t passivePort = PassivePort(pasvLine);
    if (!IsValidPort(passivePort)) {
        return false;
    }
    CreateSocket(set, slotData);
    RearmSocket(set, slotData, kMaskConnection);
    BoundReceiveBuffer(set[slotData], receiveBuffer);
    const std::string dataHost = FtpDataHost(set, host, proxy);
    const int port = static_cast<int>(passivePort);
    if (proxy.Type == proxyDirect) {
        target = {dataHost, port};
    } else {
        target = {proxy.Server, proxy.Port};
    }
    ConnectSocket(set, slotData, target.host, target.port, dataHost, port);
    return true;
}

std::string OpenPortListener(ConnectionSet& set, int receiveBuffer) {
    sockaddr_storage local{};
    if (!LocalAddress(set, slotControl, local)) {
        return {};
    }
    CreateSocket(set, slotListen);
    RearmSocket(set, slotListen, kMaskListening);
    // Set before listen: the accepted connection inherits it.
    BoundReceiveBuffer(set[slotListen], receiveBuffer);
    if (local.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(local).sin6_port = 0;
    } else {
        reinterpret_cast<sockaddr_in&>(local).sin_port = 0;
    }
    sockaddr_storage bound{};
    if (!BindSocket(set, slotListen, local) || !LocalAddress(set, slotListen, bound) ||
        !ListenSocket(set, slotListen, 1)) {
        return {};
    }
    const int port = AddressPort(bound);
    if (local.ss_family == AF_INET6) {
        return EprtCommand(local, port);
    }
    return FormatPortCommand(reinterpret_cast<const sockaddr_in&>(local).sin_addr,
                             static_cast<uint16_t>(port));
}

bool AcceptServerData(ConnectionSet& set, const ProxyRecord& proxy) {
    const int accepted = AcceptSocket(set, slotListen);
    if (accepted == 0) {
        return false;
    }
    sockaddr_storage server{}, peer{};
    if (proxy.Type == proxyDirect && PeerAddress(set[slotControl].Socket, server) &&
        (!PeerAddress(accepted, peer) || !SameHost(peer, server))) {
        close(accepted);
        return false;
    }
    AdoptSocket(set, slotData, accepted);
    RearmSocket(set, slotData, kMaskAccepted);
    set[slotData].ProxyStep = proxyReady;
    CloseSocket(set, slotListen);
    return true;
}

}  // namespace vardane
