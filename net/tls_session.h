// A TLS client session over a connected non-blocking socket (OpenSSL 3).
//
// The event socket owns one session per slot that speaks TLS and drives it
// from its poll loop: the handshake advances on whichever readiness OpenSSL
// asked for, reads and writes go through the session once it is up. Nothing
// here blocks; Write waits for the socket at most a bounded time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct ssl_st;

namespace vardane {

// How a session checks the server.
struct TlsOptions {
    bool verify = true;  // false: any certificate is accepted (--insecure)
    std::string caFile;  // PEM file of trusted CAs; "" the system store
};

// Why a handshake failed.
enum class TlsFailure { None, Handshake, Verify };

class CTlsContext;

class CTlsSession {
  public:
    // Prepares a session on fd for host (SNI and the name check). Failed()
    // tells whether the set-up itself failed (an unreadable CA file). A
    // session of an earlier connection to host and port under the same
    // options is offered for resumption.
    CTlsSession(int fd, const std::string& host, int port, const TlsOptions& options);
    ~CTlsSession();
    CTlsSession(const CTlsSession&) = delete;
    CTlsSession& operator=(const CTlsSession&) = delete;

    enum class Step { Done, WantRead, WantWrite, Failed };
    // One handshake step; call again on the readiness it asks for.
    Step Handshake();
    // The poll events the unfinished handshake waits for.
    short WantedEvents() const { return wantWrite_ ? 0x004 /*POLLOUT*/ : 0x001 /*POLLIN*/; }

    // One read of up to size bytes, gathered over as many records as the
    // session holds or the socket delivers without waiting: the count, 0 when
    // the peer closed the session, -1 when there is nothing yet; `broken` is
    // set on a fatal error (the session is gone). An end met after some bytes
    // is reported by the next call.
    int64_t Read(char* data, size_t size, bool& broken);
    // Whether a read would make progress without the socket: bytes already
    // received into the session (a whole record at least) or an end still
    // to report.
    bool HasPending() const;
    // Whether the handshake resumed an earlier session.
    bool Resumed() const;
    // Writes all bytes, waiting a bounded time when the socket is full.
    bool Write(const void* data, size_t size);
    // Sends the close alert once, without waiting for the peer's.
    void Shutdown();

    TlsFailure Failure() const { return failure_; }
    // The reason of a failed handshake, fit for a log line.
    const std::string& FailureText() const { return failureText_; }
    // Protocol version and cipher of an established session ("TLSv1.3 ...").
    std::string Description() const;

  private:
    enum class End : uint8_t { None, Closed, Broken };

    void Fail(TlsFailure kind, std::string text);
    void TakeVerifyFailure();
    int64_t ReportEnd(bool& broken);

    std::shared_ptr<CTlsContext> ctx_;
    std::string sessionKey_;  // host and port: whose sessions may be resumed
    ssl_st* ssl_ = nullptr;
    int fd_ = 0;
    bool wantWrite_ = false;
    bool established_ = false;
    // The last read stopped for want of socket bytes: what the session still
    // holds is part of a record, and only the socket can complete it.
    bool starved_ = false;
    End end_ = End::None;
    bool endReported_ = false;
    TlsFailure failure_ = TlsFailure::None;
    std::string failureText_;
};

// The reason for a certificate check result, as the log names it.
std::string VerifyReason(long result);

}  // namespace vardane
