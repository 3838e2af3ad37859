#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace vardane::test {

namespace {

constexpr int kSliceMillis = 20;

}  // namespace

ScriptedConnection::ScriptedConnection(ScriptedServer& server, int fd, int index)
    : server_(server), fd_(fd), index_(index) {}

ScriptedConnection::~ScriptedConnection() {
    Close();
}

bool ScriptedConnection::Fill(std::chrono::steady_clock::time_point deadline) {
    while (fd_ >= 0 && !server_.Stopping()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        int ready = tls_ != nullptr && SSL_pending(tls_) > 0 ? 1 : ::poll(&p, 1, kSliceMillis);
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready <= 0) {
            continue;
        }
        char chunk[16384];
        if (tls_ != nullptr) {
            int n = SSL_read(tls_, chunk, sizeof chunk);
            if (n <= 0) {
                return false;  // the peer's close alert, a cut or an error
            }
            buffer_.append(chunk, static_cast<size_t>(n));
            return true;
        }
        ssize_t n = ::recv(fd_, chunk, sizeof(chunk), 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        buffer_.append(chunk, static_cast<size_t>(n));
        return true;
    }
    return false;
}

std::string ScriptedConnection::Take(size_t n) {
    std::string out = buffer_.substr(0, n);
    buffer_.erase(0, n);
    server_.Record(out);
    return out;
}

std::optional<std::string> ScriptedConnection::ReadUntil(const std::string& delimiter,
                                                         std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t at = buffer_.find(delimiter);
        if (at != std::string::npos) {
            return Take(at + delimiter.size());
        }
        if (!Fill(deadline)) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> ScriptedConnection::ReadLine(std::chrono::milliseconds timeout) {
    auto line = ReadUntil("\r\n", timeout);
    if (line) {
        line->resize(line->size() - 2);
    }
    return line;
}

std::optional<std::string> ScriptedConnection::ReadExactly(size_t n,
                                                           std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (buffer_.size() < n) {
        if (!Fill(deadline)) {
            return std::nullopt;
        }
    }
    return Take(n);
}

std::optional<std::string> ScriptedConnection::ReadOnce(std::chrono::milliseconds timeout) {
    if (buffer_.empty() && !Fill(std::chrono::steady_clock::now() + timeout)) {
        return std::nullopt;
    }
    return Take(buffer_.size());
}

std::string ScriptedConnection::ReadToClose(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Fill(deadline)) {
    }
    return buffer_.empty() ? std::string() : Take(buffer_.size());
}

bool ScriptedConnection::WaitForClose(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Fill(deadline)) {
        buffer_.clear();
    }
    return std::chrono::steady_clock::now() < deadline && !server_.Stopping();
}

bool ScriptedConnection::Write(const std::string& bytes) {
    if (tls_ != nullptr) {
        return fd_ >= 0 &&
               (bytes.empty() || SSL_write(tls_, bytes.data(), static_cast<int>(bytes.size())) > 0);
    }
    size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return fd_ >= 0;
}

void ScriptedConnection::Reset() {
    if (fd_ >= 0) {
        linger hard{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    }
    Close();
}

bool ScriptedConnection::StartTls(const std::string& certFile, const std::string& keyFile) {
    // The session writes with write(): a peer that has gone raises SIGPIPE,
    // held back on this handler thread only.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    tlsContext_ = SSL_CTX_new(TLS_server_method());
    if (tlsContext_ == nullptr ||
        SSL_CTX_use_certificate_chain_file(tlsContext_, certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(tlsContext_, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        return false;
    }
    // No session tickets: what the client reads after the handshake is what
    // the test wrote.
    SSL_CTX_set_num_tickets(tlsContext_, 0);
    tls_ = SSL_new(tlsContext_);
    return tls_ != nullptr && SSL_set_fd(tls_, fd_) == 1 && SSL_accept(tls_) == 1;
}

void ScriptedConnection::CloseNotify() {
    if (tls_ != nullptr) {
        SSL_shutdown(tls_);
    }
}

void ScriptedConnection::Close() {
    if (tls_ != nullptr) {
        SSL_free(tls_);  // no close alert: the peer sees the TCP close alone
        tls_ = nullptr;
    }
    if (tlsContext_ != nullptr) {
        SSL_CTX_free(tlsContext_);
        tlsContext_ = nullptr;
    }
    if (fd_ < 0) {
        return;
    }
    std::lock_guard<std::mutex> guard(server_.lock_);
    auto& fds = server_.openFds_;
    fds.erase(std::remove(fds.begin(), fds.end(), fd_), fds.end());
    ::close(fd_);
    fd_ = -1;
}

ScriptedServer::ScriptedServer(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("scripted server: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    Stop();
}

void ScriptedServer::AcceptLoop() {
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kSliceMillis) <= 0) {
            continue;
        }
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        std::lock_guard<std::mutex> guard(lock_);
        openFds_.push_back(fd);
        int index = accepted_++;
        handlers_.emplace_back([this, fd, index] {
            {
                ScriptedConnection connection(*this, fd, index);
                handler_(connection);
            }
            ++finished_;
        });
    }
}

void ScriptedServer::Stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    {
        // Wakes a handler blocked in a send to a peer that stopped reading.
        std::lock_guard<std::mutex> guard(lock_);
        for (int fd : openFds_) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    for (std::thread& handler : handlers_) {
        handler.join();
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

void ScriptedServer::Record(const std::string& request) {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(request);
}

std::vector<std::string> ScriptedServer::Requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

bool ScriptedServer::WaitForHandlers(int connections, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (accepted_ < connections || finished_ < accepted_) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool ScriptedServer::WaitForConnections(int n, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (accepted_ < n) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace vardane::test
