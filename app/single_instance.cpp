#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace vardane {

namespace {

constexpr uint32_t kMaxFrame = 16 * 1024 * 1024;

// sockaddr_un holds about 108 bytes. A longer data root is reached through
// the descriptor of its folder, which the kernel resolves like the path.
struct SocketAddress {
    sockaddr_un addr{};
    int dirFd = -1;
    bool ok = false;
    ~SocketAddress() {
        if (dirFd >= 0) {
            close(dirFd);
        }
    }
};

void MakeAddress(const std::string& appDir, SocketAddress& out) {
    std::string path = InstanceSocketPath(appDir);
    out.addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(out.addr.sun_path)) {
        out.dirFd = open(appDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (out.dirFd < 0) {
            return;
        }
        path = "/proc/self/fd/" + std::to_string(out.dirFd) + "/vardane.sock";
        if (path.size() >= sizeof(out.addr.sun_path)) {
            return;
        }
    }
    std::memcpy(out.addr.sun_path, path.c_str(), path.size() + 1);
    out.ok = true;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, char* data, size_t size) {
    while (size > 0) {
        ssize_t n = recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string InstanceLockPath(const std::string& appDir) {
    return appDir + "vardane.lock";
}
std::string InstanceSocketPath(const std::string& appDir) {
    return appDir + "vardane.sock";
}

CInstanceLock::~CInstanceLock() {
    if (listenFd_ >= 0) {
        close(listenFd_);
        unlink(socketPath_.c_str());
    }
    if (lockFd_ >= 0) {
        close(lockFd_);  // releases the flock
    }
}

std::unique_ptr<CInstanceLock> CInstanceLock::TryAcquire(const std::string& appDir) {
    std::unique_ptr<CInstanceLock> lock(new CInstanceLock());
    lock->lockFd_ = open(InstanceLockPath(appDir).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock->lockFd_ < 0 || flock(lock->lockFd_, LOCK_EX | LOCK_NB) != 0) {
        return nullptr;
    }
    // The lock is ours: a socket file left by a crashed owner is stale.
    lock->socketPath_ = InstanceSocketPath(appDir);
    unlink(lock->socketPath_.c_str());
    SocketAddress address;
    MakeAddress(appDir, address);
    lock->listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (!address.ok || lock->listenFd_ < 0 ||
        bind(lock->listenFd_, reinterpret_cast<sockaddr*>(&address.addr), sizeof(address.addr)) !=
            0 ||
        listen(lock->listenFd_, 16) != 0) {
        // Still the only instance; it just cannot be reached from outside.
        if (lock->listenFd_ >= 0) {
            close(lock->listenFd_);
        }
        lock->listenFd_ = -1;
    } else {
        chmod(lock->socketPath_.c_str(), 0600);
    }
    return lock;
}

int CInstanceLock::Accept() const {
    if (listenFd_ < 0) {
        return -1;
    }
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    return fd;
}

int ConnectToInstance(const std::string& appDir, int timeoutMs) {
    SocketAddress address;
    MakeAddress(appDir, address);
    if (!address.ok) {
        return -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return -1;
        }
        if (connect(fd, reinterpret_cast<sockaddr*>(&address.addr), sizeof(address.addr)) == 0) {
            return fd;
        }
        close(fd);
        if (std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        // The owner took the lock but may not listen yet.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool HandOverAddress(const std::string& appDir, const std::string& url) {
    int fd = ConnectToInstance(appDir);
    if (fd < 0) {
        return false;
    }
    char type = 0;
    std::string payload;
    bool taken = SendFrame(fd, 'U', url) && SendFrame(fd, 'E', "") &&
                 ReadFrame(fd, type, payload) && type == 'X' && payload == "0";
    close(fd);
    return taken;
}

bool SendFrame(int fd, char type, std::string_view payload) {
    if (payload.size() > kMaxFrame) {
        return false;
    }
    auto size = static_cast<uint32_t>(payload.size());
    char header[5] = {type, static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                      static_cast<char>(size >> 8), static_cast<char>(size)};
    return WriteAll(fd, header, sizeof(header)) && WriteAll(fd, payload.data(), payload.size());
}

bool ReadFrame(int fd, char& type, std::string& payload) {
    unsigned char header[5];
    if (!ReadAll(fd, reinterpret_cast<char*>(header), sizeof(header))) {
        return false;
    }
    uint32_t size = (uint32_t{header[1]} << 24) | (uint32_t{header[2]} << 16) |
                    (uint32_t{header[3]} << 8) | uint32_t{header[4]};
    if (size > kMaxFrame) {
        return false;
    }
    type = static_cast<char>(header[0]);
    payload.assign(size, '\0');
    return ReadAll(fd, payload.data(), size);
}

}  // namespace vardane
