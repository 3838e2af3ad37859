#include "engine/ftp_data_path.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/ftp_reply.h"
#include "engine/speed_limiter.h"
#include "net/proxy.h"

namespace vardane {

namespace {

// The IPv4 peer address of a socket; false when it has none.
bool PeerAddress(int hSocket, in_addr& address) {
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    if (hSocket == 0 || getpeername(hSocket, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.sin_family != AF_INET) {
        return false;
    }
    address = peer.sin_addr;
    return true;
}

}  // namespace

std::string FtpDataHost(const CConnectionSet& set, const std::string& host,
                        const ProxyRecord& proxy) {
    in_addr peer{};
    if (proxy.Type != proxyDirect || !PeerAddress(set[slotControl].hSocket, peer)) {
        return host;
    }
    char text[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &peer, text, sizeof text) != nullptr ? std::string(text) : host;
}

bool ConnectPassiveData(CConnectionSet& set, const std::string& pasvLine, const std::string& host,
                        const ProxyRecord& proxy, FtpDataTarget& target, int receiveBuffer) {
    const PasvReply reply = ParsePasvReply(pasvLine);
    if (!reply.bFound || !IsValidPort(reply.port)) {
        return false;
    }
    CreateSocket(set, slotData);
    RearmSocket(set, slotData, kMaskConnection);
    BoundReceiveBuffer(set[slotData].hSocket, receiveBuffer);
    const std::string dataHost = FtpDataHost(set, host, proxy);
    const int port = static_cast<int>(reply.port);
    if (proxy.Type == proxyDirect) {
        target = {dataHost, port};
    } else {
        target = {proxy.Server, proxy.Port};
    }
    ConnectSocket(set, slotData, target.host, target.port, dataHost, port);
    return true;
}

std::string OpenPortListener(CConnectionSet& set, int receiveBuffer) {
    sockaddr_in local{};
    if (!LocalAddress(set, slotControl, local)) {
        return {};
    }
    CreateSocket(set, slotListen);
    RearmSocket(set, slotListen, kMaskListening);
    BoundReceiveBuffer(set[slotListen].hSocket, receiveBuffer);
    local.sin_port = 0;
    sockaddr_in bound{};
    if (!BindSocket(set, slotListen, local) || !LocalAddress(set, slotListen, bound) ||
        !ListenSocket(set, slotListen, 1)) {
        return {};
    }
    return FormatPortCommand(local.sin_addr, ntohs(bound.sin_port));
}

bool AcceptServerData(CConnectionSet& set, const ProxyRecord& proxy) {
    const int accepted = AcceptSocket(set, slotListen);
    if (accepted == 0) {
        return false;
    }
    in_addr server{}, peer{};
    if (proxy.Type == proxyDirect && PeerAddress(set[slotControl].hSocket, server) &&
        (!PeerAddress(accepted, peer) || peer.s_addr != server.s_addr)) {
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
