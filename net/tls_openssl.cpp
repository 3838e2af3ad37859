// The module that holds every call into OpenSSL (libvardane-tls.so): TLS
// client sessions and file digests, handed to the program through one table.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>

#include <csignal>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>

#include "net/tls_session.h"

namespace vardane {

namespace {

// A request never fills a socket buffer on its own; the bound only keeps a
// peer that stopped reading from holding the worker.
constexpr int kWriteStallMillis = 5000;

// What one read() from the socket may bring into the session: many records
// at once, so a download costs a few system calls per read instead of two
// per 16 KiB record.
constexpr size_t kReadAheadBytes = 128 * 1024;

// Sessions kept per server for later connections to resume, and servers
// kept per context; beyond that the oldest go.
constexpr size_t kSessionsPerServer = 4;
constexpr size_t kServersPerContext = 64;

bool IsIpLiteral(const std::string& host) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// The oldest error OpenSSL queued on this thread, then the queue is cleared
// so it cannot be blamed on a later call.
std::string TakeErrorText() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "connection closed during the handshake";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// OpenSSL writes to the socket with write(), which raises SIGPIPE on a
// connection the peer has closed; the write error is handled here, so the
// signal is held back on this thread for the call and a new one discarded.
// A thread that holds it back already (the engine's workers do, for their
// whole life) costs one system call here instead of four.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
        heldBefore_ = sigismember(&old_, SIGPIPE) == 1;
        if (!heldBefore_) {
            sigset_t pending;
            sigpending(&pending);
            wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        }
    }
    ~SigpipeGuard() {
        if (heldBefore_) {
            return;  // the thread's own choice, left as it was
        }
        sigset_t pending;
        if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            timespec zero{};
            sigtimedwait(&pipe_, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    sigset_t pipe_{};
    sigset_t old_{};
    bool heldBefore_ = false;
    bool wasPending_ = false;
};

// AES-GCM costs least where the processor has AES instructions, ChaCha20
// where it has not; with AES, 128-bit keys take fewer rounds than 256-bit.
bool HasAesInstructions() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("aes");
#else
    return true;
#endif
}

const char* Tls13Suites() {
    return HasAesInstructions()
               ? "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256"
               : "TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384";
}

const char* Tls12Ciphers() {
    // Only the order changes: DEFAULT appends what the first entries left out.
    return HasAesInstructions() ? "ECDHE+AES128+AESGCM:ECDHE+AESGCM:ECDHE+CHACHA20:DEFAULT"
                                : "ECDHE+CHACHA20:ECDHE+AESGCM:DEFAULT";
}

bool StillResumable(SSL_SESSION* session) {
    return SSL_SESSION_is_resumable(session) == 1 &&
           static_cast<long>(std::time(nullptr)) <
               static_cast<long>(SSL_SESSION_get_time(session) + SSL_SESSION_get_timeout(session));
}

// Tells apart CA files of one name whose contents changed.
std::string CaFileStamp(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return "";
    }
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "." +
           std::to_string(st.st_size);
}

// One client context per way of checking servers, shared by every
// connection of the process: the CA store is read once, not per connection,
// and the sessions servers hand out are kept per server (host and port) so
// the next connection to it resumes instead of repeating the full handshake
// with its certificate check. A context never serves another way of
// checking, so a session made without the check is never resumed by a
// connection that checks.
class TlsContext {
  public:
    // The context for options, made on first use; nullptr with error set
    // when it cannot be made (an unreadable CA file, which is tried again
    // next time).
    static std::shared_ptr<TlsContext> For(const TlsOptions& options, TlsFailure& failure,
                                           std::string& error);

    explicit TlsContext(SSL_CTX* ctx) : ctx_(ctx) {}
    ~TlsContext() {
        for (auto& [key, list] : sessions_) {
            for (SSL_SESSION* session : list) {
                SSL_SESSION_free(session);
            }
        }
        SSL_CTX_free(ctx_);
    }
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* Get() const { return ctx_; }

    // Hands ssl a kept session of server, each session to one connection.
    void OfferSession(SSL* ssl, const std::string& server) {
        std::lock_guard lock(lock_);
        auto found = sessions_.find(server);
        while (found != sessions_.end() && !found->second.empty()) {
            SSL_SESSION* session = found->second.front();
            found->second.pop_front();
            bool usable = StillResumable(session) && SSL_set_session(ssl, session) == 1;
            SSL_SESSION_free(session);
            if (usable) {
                return;
            }
        }
    }

  private:
    // OpenSSL hands over each new session of a connection here. The one it
    // hands over stays the connection's current session, and the next
    // ticket on that connection is copied from it; a copy is kept instead,
    // so the connection that resumes it shares no session with a connection
    // still running on another thread.
    static int OnNewSession(SSL* ssl, SSL_SESSION* fresh) {
        auto* self = static_cast<TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
        auto* server = static_cast<const std::string*>(SSL_get_app_data(ssl));
        if (self == nullptr || server == nullptr || server->empty()) {
            return 0;
        }
        SSL_SESSION* session = SSL_SESSION_dup(fresh);
        if (session == nullptr) {
            return 0;
        }
        std::lock_guard lock(self->lock_);
        if (self->sessions_.size() >= kServersPerContext && !self->sessions_.count(*server)) {
            for (SSL_SESSION* old : self->sessions_.begin()->second) {
                SSL_SESSION_free(old);
            }
            self->sessions_.erase(self->sessions_.begin());
        }
        std::deque<SSL_SESSION*>& list = self->sessions_[*server];
        if (list.size() >= kSessionsPerServer) {
            SSL_SESSION_free(list.front());
            list.pop_front();
        }
        list.push_back(session);
        return 0;  // the copy is kept; OpenSSL drops its reference to fresh
    }

    SSL_CTX* ctx_;
    std::mutex lock_;
    std::map<std::string, std::deque<SSL_SESSION*>> sessions_;
};

std::shared_ptr<TlsContext> TlsContext::For(const TlsOptions& options, TlsFailure& failure,
                                            std::string& error) {
    // Kept for the life of the process and never destroyed: OpenSSL's own
    // clean-up at exit may run before a static destructor would.
    static auto* lock = new std::mutex;
    static auto* contexts = new std::map<std::string, std::shared_ptr<TlsContext>>;
    std::string key = (options.verify ? "1|" : "0|") + options.caFile + "|" +
                      (options.verify ? CaFileStamp(options.caFile) : "");
    std::lock_guard guard(*lock);
    if (auto found = contexts->find(key); found != contexts->end()) {
        return found->second;
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) {
        failure = TlsFailure::Handshake;
        error = TakeErrorText();
        return nullptr;
    }
    auto made = std::make_shared<TlsContext>(ctx);
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_read_ahead(ctx, 1);
    SSL_CTX_set_default_read_buffer_len(ctx, kReadAheadBytes);
    SSL_CTX_set_ciphersuites(ctx, Tls13Suites());
    SSL_CTX_set_cipher_list(ctx, Tls12Ciphers());
    ERR_clear_error();
    if (options.verify) {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        bool loaded = options.caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx) == 1
                                             : SSL_CTX_load_verify_locations(
                                                   ctx, options.caFile.c_str(), nullptr) == 1;
        if (!loaded) {
            // A CA file that cannot be read is a setting to fix, not a
            // network failure to retry.
            ERR_clear_error();
            failure = TlsFailure::Verify;
            error = "CA file cannot be read: " + options.caFile;
            return nullptr;
        }
    } else {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    }
    SSL_CTX_set_app_data(ctx, made.get());
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, &TlsContext::OnNewSession);
    (*contexts)[key] = made;
    return made;
}

// The reason for a certificate check result, as the log names it.
std::string VerifyReason(long result) {
    std::string detail = X509_verify_cert_error_string(result);
    switch (result) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "expired certificate (" + detail + ")";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "certificate not yet valid (" + detail + ")";
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return "self-signed certificate (" + detail + ")";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "wrong host name (" + detail + ")";
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return "untrusted CA (" + detail + ")";
        default:
            return detail;
    }
}

class OpenSslSession final : public TlsSession {
  public:
    OpenSslSession(int fd, const std::string& host, int port, const TlsOptions& options);
    ~OpenSslSession() override;
    OpenSslSession(const OpenSslSession&) = delete;
    OpenSslSession& operator=(const OpenSslSession&) = delete;

    Step Handshake() override;
    short WantedEvents() const override { return wantWrite_ ? POLLOUT : POLLIN; }
    int64_t Read(char* data, size_t size, bool& broken) override;
    bool HasPending() const override;
    bool Resumed() const override;
    bool Write(const void* data, size_t size) override;
    void Shutdown() override;
    TlsFailure Failure() const override { return failure_; }
    const std::string& FailureText() const override { return failureText_; }
    std::string Description() const override;

  private:
    enum class End : uint8_t { None, Closed, Broken };

    void Fail(TlsFailure kind, std::string text);
    void TakeVerifyFailure();
    int64_t ReportEnd(bool& broken);

    std::shared_ptr<TlsContext> ctx_;
    std::string sessionKey_;  // host and port: whose sessions may be resumed
    SSL* ssl_ = nullptr;
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

OpenSslSession::OpenSslSession(int fd, const std::string& host, int port, const TlsOptions& options)
    : sessionKey_(host + ":" + std::to_string(port)), fd_(fd) {
    TlsFailure failure = TlsFailure::None;
    std::string error;
    ctx_ = TlsContext::For(options, failure, error);
    if (ctx_ == nullptr) {
        Fail(failure, std::move(error));
        return;
    }
    ssl_ = SSL_new(ctx_->Get());
    if (ssl_ == nullptr || SSL_set_fd(ssl_, fd) != 1) {
        Fail(TlsFailure::Handshake, TakeErrorText());
        return;
    }
    SSL_set_app_data(ssl_, &sessionKey_);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
    if (IsIpLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        // Server name indication is for names only (RFC 6066).
        SSL_set_tlsext_host_name(ssl_, host.c_str());
        SSL_set1_host(ssl_, host.c_str());
    }
    ctx_->OfferSession(ssl_, sessionKey_);
    SSL_set_connect_state(ssl_);
}

OpenSslSession::~OpenSslSession() {
    if (ssl_ != nullptr) {
        SSL_free(ssl_);
    }
}

void OpenSslSession::Fail(TlsFailure kind, std::string text) {
    failure_ = kind;
    failureText_ = std::move(text);
}

void OpenSslSession::TakeVerifyFailure() {
    long result = SSL_get_verify_result(ssl_);
    if (result != X509_V_OK) {
        ERR_clear_error();
        Fail(TlsFailure::Verify, VerifyReason(result));
    } else {
        Fail(TlsFailure::Handshake, TakeErrorText());
    }
}

TlsSession::Step OpenSslSession::Handshake() {
    if (failure_ != TlsFailure::None || ssl_ == nullptr) {
        return Step::Failed;
    }
    SigpipeGuard guard;
    ERR_clear_error();
    int result = SSL_do_handshake(ssl_);
    if (result == 1) {
        established_ = true;
        return Step::Done;
    }
    switch (SSL_get_error(ssl_, result)) {
        case SSL_ERROR_WANT_READ:
            wantWrite_ = false;
            return Step::WantRead;
        case SSL_ERROR_WANT_WRITE:
            wantWrite_ = true;
            return Step::WantWrite;
        default:
            TakeVerifyFailure();
            return Step::Failed;
    }
}

int64_t OpenSslSession::Read(char* data, size_t size, bool& broken) {
    broken = false;
    if (end_ != End::None) {
        return ReportEnd(broken);
    }
    if (!established_ || size == 0) {
        return -1;
    }
    SigpipeGuard guard;
    starved_ = false;
    size_t total = 0;
    // One SSL_read gives at most one record; the bytes of the records that
    // are there already are gathered in one go.
    while (total < size && !starved_ && end_ == End::None) {
        ERR_clear_error();
        size_t read = 0;
        if (SSL_read_ex(ssl_, data + total, size - total, &read) == 1) {
            total += read;
            continue;
        }
        switch (SSL_get_error(ssl_, 0)) {
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE:
                starved_ = true;
                break;
            case SSL_ERROR_ZERO_RETURN:
                end_ = End::Closed;
                break;
            default:
                // A cut without the close alert or a damaged record: the
                // stream cannot be trusted from here on.
                ERR_clear_error();
                established_ = false;
                end_ = End::Broken;
                break;
        }
    }
    if (total > 0) {
        return static_cast<int64_t>(total);
    }
    return end_ != End::None ? ReportEnd(broken) : -1;
}

int64_t OpenSslSession::ReportEnd(bool& broken) {
    bool first = !endReported_;
    endReported_ = true;
    if (end_ == End::Broken) {
        broken = first;
        return -1;
    }
    return 0;
}

bool OpenSslSession::HasPending() const {
    if (end_ != End::None) {
        return !endReported_;
    }
    // Read-ahead may hold the start of a record that only the socket can
    // complete; that is no reason to read before poll says so.
    return established_ && (SSL_pending(ssl_) > 0 || (!starved_ && SSL_has_pending(ssl_) == 1));
}

bool OpenSslSession::Resumed() const {
    return established_ && SSL_session_reused(ssl_) == 1;
}

bool OpenSslSession::Write(const void* data, size_t size) {
    SigpipeGuard guard;
    const char* next = static_cast<const char*>(data);
    while (established_ && size > 0) {
        ERR_clear_error();
        size_t written = 0;
        if (SSL_write_ex(ssl_, next, size, &written) == 1) {
            next += written;
            size -= written;
            continue;
        }
        int error = SSL_get_error(ssl_, 0);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            return false;
        }
        pollfd fd{fd_, static_cast<short>(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
        if (::poll(&fd, 1, kWriteStallMillis) <= 0) {
            return false;
        }
    }
    return size == 0;
}

void OpenSslSession::Shutdown() {
    if (established_) {
        // One non-blocking call: the close alert goes out if the socket takes
        // it; the peer's answer is not awaited.
        SigpipeGuard guard;
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
        established_ = false;
    }
}

std::string OpenSslSession::Description() const {
    if (!established_) {
        return "";
    }
    return std::string(SSL_get_version(ssl_)) + " " + SSL_get_cipher_name(ssl_);
}

class OpenSslDigest final : public Digest {
  public:
    explicit OpenSslDigest(EVP_MD_CTX* ctx) : ctx_(ctx) {}
    ~OpenSslDigest() override { EVP_MD_CTX_free(ctx_); }
    OpenSslDigest(const OpenSslDigest&) = delete;
    OpenSslDigest& operator=(const OpenSslDigest&) = delete;

    bool Update(const void* data, size_t size) override {
        return EVP_DigestUpdate(ctx_, data, size) == 1;
    }
    bool Final(std::string& digest) override {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(ctx_, out, &size) != 1) {
            return false;
        }
        digest.assign(reinterpret_cast<const char*>(out), size);
        return true;
    }

  private:
    EVP_MD_CTX* ctx_;
};

std::unique_ptr<TlsSession> NewSession(int fd, const std::string& host, int port,
                                       const TlsOptions& options) {
    return std::make_unique<OpenSslSession>(fd, host, port, options);
}

std::unique_ptr<Digest> NewDigestByName(std::string_view algorithm) {
    const EVP_MD* md = EVP_get_digestbyname(std::string(algorithm).c_str());
    EVP_MD_CTX* ctx = md != nullptr ? EVP_MD_CTX_new() : nullptr;
    if (ctx == nullptr) {
        return nullptr;
    }
    if (EVP_DigestInit_ex(ctx, md, nullptr) != 1) {
        EVP_MD_CTX_free(ctx);
        ERR_clear_error();
        return nullptr;
    }
    return std::make_unique<OpenSslDigest>(ctx);
}

const TlsModuleApi kApi{kTlsModuleAbi, sizeof(TlsModuleApi), &NewSession, &NewDigestByName};

}  // namespace

}  // namespace vardane

// The one symbol the module exports (the rest is hidden).
extern "C" __attribute__((visibility("default"))) const vardane::TlsModuleApi*
vardane_tls_module() {
    return &vardane::kApi;
}
