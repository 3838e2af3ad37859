#include "net/tls_session.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <pthread.h>

#include <csignal>

namespace vardane {

namespace {

// A request never fills a socket buffer on its own; the bound only keeps a
// peer that stopped reading from holding the worker.
constexpr int kWriteStallMillis = 5000;

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
class CSigpipeGuard {
  public:
    CSigpipeGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~CSigpipeGuard() {
        sigset_t pending;
        if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            timespec zero{};
            sigtimedwait(&pipe_, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    CSigpipeGuard(const CSigpipeGuard&) = delete;
    CSigpipeGuard& operator=(const CSigpipeGuard&) = delete;

  private:
    sigset_t pipe_{};
    sigset_t old_{};
    bool wasPending_ = false;
};

}  // namespace

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

CTlsSession::CTlsSession(int fd, const std::string& host, const TlsOptions& options) : fd_(fd) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (ctx_ == nullptr) {
        Fail(TlsFailure::Handshake, TakeErrorText());
        return;
    }
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx_, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (options.verify) {
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
        bool loaded = options.caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx_) == 1
                                             : SSL_CTX_load_verify_locations(
                                                   ctx_, options.caFile.c_str(), nullptr) == 1;
        if (!loaded) {
            // A CA file that cannot be read is a setting to fix, not a
            // network failure to retry.
            ERR_clear_error();
            Fail(TlsFailure::Verify, "CA file cannot be read: " + options.caFile);
            return;
        }
    } else {
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    }
    ssl_ = SSL_new(ctx_);
    if (ssl_ == nullptr || SSL_set_fd(ssl_, fd) != 1) {
        Fail(TlsFailure::Handshake, TakeErrorText());
        return;
    }
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
    if (IsIpLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        // Server name indication is for names only (RFC 6066).
        SSL_set_tlsext_host_name(ssl_, host.c_str());
        SSL_set1_host(ssl_, host.c_str());
    }
    SSL_set_connect_state(ssl_);
}

CTlsSession::~CTlsSession() {
    if (ssl_ != nullptr) {
        SSL_free(ssl_);
    }
    if (ctx_ != nullptr) {
        SSL_CTX_free(ctx_);
    }
}

void CTlsSession::Fail(TlsFailure kind, std::string text) {
    failure_ = kind;
    failureText_ = std::move(text);
}

void CTlsSession::TakeVerifyFailure() {
    long result = SSL_get_verify_result(ssl_);
    if (result != X509_V_OK) {
        ERR_clear_error();
        Fail(TlsFailure::Verify, VerifyReason(result));
    } else {
        Fail(TlsFailure::Handshake, TakeErrorText());
    }
}

CTlsSession::Step CTlsSession::Handshake() {
    if (failure_ != TlsFailure::None || ssl_ == nullptr) {
        return Step::Failed;
    }
    CSigpipeGuard guard;
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

int64_t CTlsSession::Read(char* data, size_t size, bool& broken) {
    broken = false;
    if (!established_ || size == 0) {
        return -1;
    }
    CSigpipeGuard guard;
    ERR_clear_error();
    size_t read = 0;
    if (SSL_read_ex(ssl_, data, size, &read) == 1) {
        return static_cast<int64_t>(read);
    }
    switch (SSL_get_error(ssl_, 0)) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            return -1;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        default:
            // A cut without the close alert or a damaged record: the stream
            // cannot be trusted from here on.
            ERR_clear_error();
            established_ = false;
            broken = true;
            return -1;
    }
}

bool CTlsSession::HasPending() const {
    return established_ && SSL_pending(ssl_) > 0;
}

bool CTlsSession::Write(const void* data, size_t size) {
    CSigpipeGuard guard;
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

void CTlsSession::Shutdown() {
    if (established_) {
        // One non-blocking call: the close alert goes out if the socket takes
        // it; the peer's answer is not awaited.
        CSigpipeGuard guard;
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
        established_ = false;
    }
}

std::string CTlsSession::Description() const {
    if (!established_) {
        return "";
    }
    return std::string(SSL_get_version(ssl_)) + " " + SSL_get_cipher_name(ssl_);
}

}  // namespace vardane
