// Shared pieces of the network tests: an owner that records its log, and a
// driver that runs a connection through connect and proxy handshake the way a
// worker does.
#pragma once

#include <atomic>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/connection_owner.h"
#include "net/event_socket.h"
#include "settings/proxy_record.h"
#include "tests/support/make_proxy.h"

namespace vardane::test {

// A string of the given byte values.
inline std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out += static_cast<char>(v);
    }
    return out;
}

class RecordingOwner : public IConnectionOwner {
  public:
    bool IsStopped() override { return stopped; }
    void ThreadLog(LogKind kind, const std::string& text) override {
        std::lock_guard<std::mutex> guard(lock_);
        log_.emplace_back(kind, text);
    }
    std::vector<std::pair<LogKind, std::string>> Log() {
        std::lock_guard<std::mutex> guard(lock_);
        return log_;
    }
    std::vector<std::string> Lines(LogKind kind) {
        std::vector<std::string> lines;
        for (auto& [k, text] : Log()) {
            if (k == kind) {
                lines.push_back(text);
            }
        }
        return lines;
    }

    std::atomic<bool> stopped{false};

  private:
    std::mutex lock_;
    std::vector<std::pair<LogKind, std::string>> log_;
};

// Waits (a bounded number of 500 ms slices) until slot is signalled and
// returns its events; NetworkEvents is 0 when nothing came. A lone kFdWrite
// (recorded when a connection is set up) is skipped.
NetworkEvents NextEvents(ConnectionSet& set, int slot, int slices = 20);

// True when the next wait on slot times out with nothing recorded.
bool StaysQuiet(ConnectionSet& set, int slot);

struct HandshakeResult {
    int step = -1;         // 5 ready, 0 failed, -1 the connection failed first
    std::string leftover;  // bytes after the proxy's reply in the same receive
};

// Connects slot 0 of set to host:port (the proxy, or the server itself for a
// direct record) with target as the server, and runs NegotiateProxy on the
// connect event and every receive until it returns 0 or 5.
HandshakeResult ConnectThrough(ConnectionSet& set, IConnectionOwner& owner,
                               const ProxyRecord& proxy, const std::string& host, int port,
                               const std::string& targetHost, int targetPort);

// Sends request on slot 0 and returns everything received until the peer
// closes, starting with leftover.
std::string ExchangeOnSlot(ConnectionSet& set, const std::string& request,
                           std::string leftover = {});

}  // namespace vardane::test
