// A loopback TCP server for the replies real servers never send (odd HTTP
// status lines, cut bodies, stalls, hand-written FTP dialogues, proxy
// handshakes byte by byte). Each accepted connection runs the handler on its
// own thread; the handler talks through a ScriptedConnection, in plain TCP or
// TLS (StartTls) with the close alert sent or left out as the test chooses.
// Everything the helpers read is recorded, so a test can assert what went on the wire.
//
//   ScriptedServer server([](ScriptedConnection& c) {
//       c.ReadUntil("\r\n\r\n");
//       c.Write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
//   });
//   ... connect to server.Port() ...
//   EXPECT_EQ(server.Requests().at(0), "GET /x HTTP/1.1\r\n...\r\n\r\n");
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;

namespace vardane::test {

class ScriptedServer;

class ScriptedConnection {
  public:
    ScriptedConnection(ScriptedServer& server, int fd, int index);
    ~ScriptedConnection();
    ScriptedConnection(const ScriptedConnection&) = delete;
    ScriptedConnection& operator=(const ScriptedConnection&) = delete;

    int Fd() const { return fd_; }
    // 0 for the first connection the server accepted, 1 for the next...
    int Index() const { return index_; }

    // Reads until delimiter has arrived; returns everything up to and including
    // it (bytes after it stay buffered for the next read) and records it as one
    // request. nullopt when the peer closed, the server stops or timeout passes.
    std::optional<std::string> ReadUntil(const std::string& delimiter,
                                         std::chrono::milliseconds timeout = kTimeout);
    // A CR LF terminated line without its CR LF.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = kTimeout);
    // Exactly n bytes (recorded as one request).
    std::optional<std::string> ReadExactly(size_t n, std::chrono::milliseconds timeout = kTimeout);
    // What one read brings (over TLS one record, so a test sees how the
    // peer cut its writes); nullopt as for ReadUntil.
    std::optional<std::string> ReadOnce(std::chrono::milliseconds timeout = kTimeout);
    // Everything until the peer closes (recorded when not empty).
    std::string ReadToClose(std::chrono::milliseconds timeout = kTimeout);
    // True when the peer closed (EOF) within timeout, reading and dropping
    // whatever came before.
    bool WaitForClose(std::chrono::milliseconds timeout = kTimeout);

    bool Write(const std::string& bytes);
    // Closes at once with a reset instead of a graceful close.
    void Reset();
    // Closes the connection; a TLS connection without its close alert (a
    // cut, unless CloseNotify came first).
    void Close();

    // Speaks TLS as the server from here on (every read and write goes
    // through the session), with a PEM certificate and key; false when the
    // handshake failed.
    bool StartTls(const std::string& certFile, const std::string& keyFile);
    // Sends the TLS close alert; the connection stays open (WaitForClose
    // then waits for the peer's alert or its close).
    void CloseNotify();

    static constexpr std::chrono::milliseconds kTimeout{10000};

  private:
    // Reads more into buffer_; false on EOF, error, stop or deadline.
    bool Fill(std::chrono::steady_clock::time_point deadline);
    std::string Take(size_t n);

    ScriptedServer& server_;
    int fd_;
    int index_;
    std::string buffer_;
    ssl_ctx_st* tlsContext_ = nullptr;
    ssl_st* tls_ = nullptr;
};

class ScriptedServer {
  public:
    using Handler = std::function<void(ScriptedConnection&)>;

    // Listens on a free 127.0.0.1 port at once.
    explicit ScriptedServer(Handler handler);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return port_; }
    // Stops accepting, wakes and joins every handler. Idempotent.
    void Stop();
    bool Stopping() const { return stopping_; }

    // Every request the handlers read, in the order they completed.
    std::vector<std::string> Requests() const;
    // How many connections were accepted.
    int Connections() const { return accepted_; }
    // Waits until at least `connections` connections were accepted and the
    // handler of every accepted connection has returned (for example after the
    // client closed), so Requests() is complete. A connection the client made
    // may not have been accepted yet: pass how many are expected.
    bool WaitForHandlers(int connections,
                         std::chrono::milliseconds timeout = ScriptedConnection::kTimeout);
    // Waits until at least n connections were accepted.
    bool WaitForConnections(int n,
                            std::chrono::milliseconds timeout = ScriptedConnection::kTimeout);

  private:
    friend class ScriptedConnection;
    void AcceptLoop();
    void Record(const std::string& request);

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> finished_{0};
    std::thread acceptThread_;
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::vector<std::thread> handlers_;
    std::vector<int> openFds_;
};

}  // namespace vardane::test
