// A TLS client session over a connected non-blocking socket, and the digests
// of finished downloads.
//
// Both need OpenSSL, which costs a process about 1.7 MB the moment it is
// mapped; most downloads never use it. So the code that calls OpenSSL lives in
// a module of its own (libvardane-tls.so, tls_openssl.cpp) that is loaded on
// first use: beside the executable (a build tree), else in
// <prefix>/lib/vardane/ for an executable in <prefix>/bin/. When it cannot be
// loaded, a session fails its first handshake step with
// TlsFailure::Unavailable and NewDigest gives nullptr, both with the reason.
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
#include <string_view>

namespace vardane {

// How a session checks the server.
struct TlsOptions {
    bool verify = true;  // false: any certificate is accepted (--insecure)
    std::string caFile;  // PEM file of trusted CAs; "" the system store
};

// Why a handshake failed: Handshake is worth another try, Verify and
// Unavailable (no TLS module) are not.
enum class TlsFailure { None, Handshake, Verify, Unavailable };

class TlsSession {
  public:
    virtual ~TlsSession() = default;

    enum class Step { Done, WantRead, WantWrite, Failed };
    // One handshake step; call again on the readiness it asks for.
    virtual Step Handshake() = 0;
    // The poll events the unfinished handshake waits for.
    virtual short WantedEvents() const = 0;

    // One read of up to size bytes, gathered over as many records as the
    // session holds or the socket delivers without waiting: the count, 0 when
    // the peer closed the session, -1 when there is nothing yet; `broken` is
    // set on a fatal error (the session is gone). An end met after some bytes
    // is reported by the next call.
    virtual int64_t Read(char* data, size_t size, bool& broken) = 0;
    // Whether a read would make progress without the socket: bytes already
    // received into the session (a whole record at least) or an end still
    // to report.
    virtual bool HasPending() const = 0;
    // Whether the handshake resumed an earlier session.
    virtual bool Resumed() const = 0;
    // Writes all bytes, waiting a bounded time when the socket is full.
    virtual bool Write(const void* data, size_t size) = 0;
    // Sends the close alert once, without waiting for the peer's.
    virtual void Shutdown() = 0;

    virtual TlsFailure Failure() const = 0;
    // The reason of a failed handshake, fit for a log line.
    virtual const std::string& FailureText() const = 0;
    // Protocol version and cipher of an established session ("TLSv1.3 ...").
    virtual std::string Description() const = 0;
};

// A session on fd for host (SNI and the name check). A session of an earlier
// connection to host and port under the same options is offered for
// resumption. A set-up that failed (an unreadable CA file, no module) shows
// in the first Handshake step.
std::unique_ptr<TlsSession> NewTlsSession(int fd, const std::string& host, int port,
                                          const TlsOptions& options);

// A digest being computed.
class Digest {
  public:
    virtual ~Digest() = default;
    virtual bool Update(const void* data, size_t size) = 0;
    // The digest's bytes; the object is spent afterwards.
    virtual bool Final(std::string& digest) = 0;
};

// A digest by OpenSSL's name ("md5", "sha1", "sha256", "sha512"); nullptr
// with *why set when the module is missing or the name unknown.
std::unique_ptr<Digest> NewDigest(std::string_view algorithm, std::string* why = nullptr);

// What the module hands the program: one table, checked for the layout this
// build expects before anything in it is called.
struct TlsModuleApi {
    uint32_t abi;
    uint32_t size;  // sizeof(TlsModuleApi) in the module
    std::unique_ptr<TlsSession> (*newSession)(int fd, const std::string& host, int port,
                                              const TlsOptions& options);
    std::unique_ptr<Digest> (*newDigest)(std::string_view algorithm);
};
// Raised whenever the table or a class above changes its layout.
inline constexpr uint32_t kTlsModuleAbi = 1;
inline constexpr const char* kTlsModuleEntry = "vardane_tls_module";
inline constexpr const char* kTlsModuleFile = "libvardane-tls.so";

// The module at path, or nullptr with why set (no such file, not loadable, a
// module of another build). A module stays loaded for the life of the process.
const TlsModuleApi* LoadTlsModule(const std::string& path, std::string& why);
// The program's module, looked for once on first use; nullptr with why set.
const TlsModuleApi* TlsModule(std::string* why = nullptr);

}  // namespace vardane
