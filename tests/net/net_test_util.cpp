#include "tests/net/net_test_util.h"

#include "net/proxy.h"

namespace vardane::test {

NetworkEvents NextEvents(ConnectionSet& set, int slot, int slices) {
    NetworkEvents events;
    for (int i = 0; i < slices; ++i) {
        int result = WaitForEvents(set);
        if (result == slot) {
            EnumNetworkEvents(set, slot, events);
            if (events.NetworkEvents != kFdWrite) {
                return events;
            }
            events = NetworkEvents{};
            continue;
        }
        if (result == kWaitFailed) {
            break;
        }
        if (result >= 0) {
            NetworkEvents other;
            EnumNetworkEvents(set, result, other);
        }
    }
    return events;
}

bool StaysQuiet(ConnectionSet& set, int slot) {
    return WaitForEvents(set, slot + 1) == kWaitTimeout;
}

HandshakeResult ConnectThrough(ConnectionSet& set, IConnectionOwner& owner,
                               const ProxyRecord& proxy, const std::string& host, int port,
                               const std::string& targetHost, int targetPort) {
    HandshakeResult result;
    ConnectSocket(set, slotControl, host, port, targetHost, targetPort);
    NetworkEvents events = NextEvents(set, slotControl);
    if (!(events.NetworkEvents & kFdConnect) || events.ConnectError != 0) {
        return result;
    }
    int64_t consumed = 0;
    result.step = NegotiateProxy(owner, set[slotControl], proxy, nullptr, 0, consumed);
    while (result.step != proxyFailed && result.step != proxyReady) {
        events = NextEvents(set, slotControl);
        if (!(events.NetworkEvents & kFdRead)) {
            result.step = -1;
            return result;
        }
        ReceiveBuffer buffer;
        int received = Receive(set, slotControl, buffer);
        if (received < 0) {
            continue;
        }
        consumed = 0;
        result.step =
            NegotiateProxy(owner, set[slotControl], proxy, buffer.data(), received, consumed);
        if (result.step == proxyReady) {
            result.leftover.assign(buffer.data() + consumed,
                                   static_cast<size_t>(received - consumed));
        }
    }
    return result;
}

std::string ExchangeOnSlot(ConnectionSet& set, const std::string& request, std::string leftover) {
    SendBytes(set[slotControl].Socket, request.data(), request.size());
    std::string reply = std::move(leftover);
    for (;;) {
        NetworkEvents events = NextEvents(set, slotControl);
        if (events.NetworkEvents & kFdRead) {
            ReceiveBuffer buffer;
            int received = Receive(set, slotControl, buffer);
            if (received > 0) {
                reply.append(buffer.data(), static_cast<size_t>(received));
            }
        } else if (events.NetworkEvents == 0 || (events.NetworkEvents & kFdClose)) {
            return reply;
        }
    }
}

}  // namespace vardane::test
