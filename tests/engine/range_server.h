// A scripted HTTP server for the engine tests: serves one body with byte
// ranges, and misbehaves on request (ignores ranges, answers with a wrong
// range, cuts or stalls a connection, sends no length or chunks, answers
// given replies first). Counts the body bytes it managed to send.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "tests/support/scripted_server.h"

namespace vardane::test {

struct RangeServerOptions {
    std::string body;
    bool ignoreRange = false;       // always 200 with the whole body
    int64_t wrongRangeShift = 0;    // ranged replies start this many bytes later ...
    int wrongRangeTimes = 1 << 30;  // ... this many times; the body agrees with the header
    bool contentLength = true;      // false: no length, the end is the close
    bool chunked = false;           // Transfer-Encoding: chunked, no length
    std::string extraHeaders;       // added to every reply, each line ending CR LF
    // Sent when not empty; an If-Range naming neither gets the whole body.
    std::string etag, lastModified;
    // A whole reply for the connection with this index, "" to serve normally.
    std::function<std::string(int index)> reply;
    int cutConnection = -1;  // this connection is cut (kEveryConnection: all) ...
    int64_t cutAfter = 0;    // ... after this many body bytes
    bool cutWithReset = false;
    int stallConnection = -1;  // this connection stops sending ...
    int64_t stallAfter = 0;    // ... after this many bytes and waits for the close
    int pieceDelayMs = 0;      // pause after each 16 KiB piece
    // https with this certificate: a reply that ends sends the close alert
    // and waits for the client's; a cut closes without it.
    std::string tlsCert, tlsKey;
    static constexpr int kEveryConnection = -2;
};

class RangeServer {
  public:
    explicit RangeServer(RangeServerOptions options);
    int Port() const { return server_.Port(); }
    std::string Url(const std::string& path) const;
    int64_t BytesSent() const { return sent_.load(); }
    void ResetBytesSent() { sent_ = 0; }
    std::vector<std::string> Requests() const { return server_.Requests(); }
    int Connections() const { return server_.Connections(); }
    void Stop() { server_.Stop(); }
    // The file changes: transfers under way end (as when the server restarts),
    // later requests get this body and these validators, served without the
    // piece delay.
    void Replace(std::string body, std::string etag, std::string lastModified);

  private:
    struct Version {
        std::string body, etag, lastModified;
        int pieceDelayMs = 0;
    };
    void Serve(ScriptedConnection& c);
    std::shared_ptr<const Version> Current();
    RangeServerOptions options_;
    std::mutex versionLock_;
    std::shared_ptr<const Version> version_;
    std::atomic<int64_t> sent_{0};
    std::atomic<int> shifted_{0};
    ScriptedServer server_;
};

}  // namespace vardane::test
