#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace vardane {

namespace {

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
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd, POLLOUT, 0};
            poll(&pfd, 1, 1000);
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

// The name of user uid, or its number.
std::string UserName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

// Why path cannot be locked: the user that owns the lock file (or, when it
// cannot be made, its folder) if that is not us, else the system's reason.
std::string LockError(const std::string& appDir, const std::string& path, int error) {
    struct stat st {};
    std::string owner;
    if (stat(path.c_str(), &st) == 0) {
        if (st.st_uid != geteuid()) {
            owner = "owned by " + UserName(st.st_uid);
        }
    } else if (stat(appDir.c_str(), &st) == 0 && st.st_uid != geteuid()) {
        owner = "the folder is owned by " + UserName(st.st_uid);
    }
    return "cannot lock " + path + ": " + (owner.empty() ? "" : owner + " (") +
           std::strerror(error) + (owner.empty() ? "" : ")");
}

}  // namespace

std::string InstanceLockPath(const std::string& appDir) {
    return appDir + "vardane.lock";
}
std::string InstanceSocketPath(const std::string& appDir) {
    return appDir + "vardane.sock";
}

InstanceLock::~InstanceLock() {
    if (listenFd_ >= 0) {
        close(listenFd_);
        unlink(socketPath_.c_str());
    }
    if (lockFd_ >= 0) {
        close(lockFd_);  // releases the flock
    }
}

std::unique_ptr<InstanceLock> InstanceLock::TryAcquire(const std::string& appDir,
                                                       std::string* error) {
    std::unique_ptr<InstanceLock> lock(new InstanceLock());
    const std::string path = InstanceLockPath(appDir);
    lock->lockFd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // Only a lock another process holds is worth waiting for; a file we may
    // not open (left by a run as another user) never becomes ours.
    int failure = 0;
    if (lock->lockFd_ < 0) {
        failure = errno;
    } else if (flock(lock->lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return nullptr;
        }
        failure = errno;
    }
    if (failure != 0) {
        if (error != nullptr) {
            *error = LockError(appDir, path, failure);
        }
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

int InstanceLock::Accept() const {
    if (listenFd_ < 0) {
        return -1;
    }
    return accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
}

int ConnectToInstance(const std::string& appDir, int timeoutMs, int cancelFd) {
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
        pollfd cancel{cancelFd, POLLIN, 0};
        if (poll(&cancel, 1, 50) > 0) {
            return -1;
        }
    }
}

bool HandOverAddress(const std::string& appDir, const std::string& url, int timeoutMs) {
    int fd = ConnectToInstance(appDir);
    if (fd < 0) {
        return false;
    }
    bool taken = false;
    if (SendFrame(fd, 'U', url) && SendFrame(fd, 'E', "")) {
        // The owner answers at once; one that does not is not waited for.
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        FrameReader reader(64 * 1024);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char type = 0;
        std::string payload;
        while (!taken && std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{fd, POLLIN, 0};
            poll(&pfd, 1, 200);
            const FrameReader::Status status = reader.ReadFrom(fd);
            while (reader.Next(type, payload)) {
                taken = taken || (type == 'X' && payload == "0");
            }
            if (status != FrameReader::Status::Open) {
                break;
            }
        }
    }
    close(fd);
    return taken;
}

std::string EncodeFrame(char type, std::string_view payload) {
    auto size = static_cast<uint32_t>(payload.size());
    std::string frame = {type, static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                         static_cast<char>(size >> 8), static_cast<char>(size)};
    frame.append(payload);
    return frame;
}

bool SendFrame(int fd, char type, std::string_view payload) {
    if (payload.size() > kMaxFrame) {
        return false;
    }
    const std::string frame = EncodeFrame(type, payload);
    return WriteAll(fd, frame.data(), frame.size());
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

FrameReader::Status FrameReader::ReadFrom(int fd) {
    if (tooLarge_) {
        return Status::TooLarge;
    }
    // Never more than the allowance: the buffer stays within the cap.
    char chunk[64 * 1024];
    for (;;) {
        if (taken_ >= maxBytes_) {
            tooLarge_ = true;
            return Status::TooLarge;
        }
        const size_t room = std::min(sizeof(chunk), maxBytes_ - taken_);
        ssize_t n = recv(fd, chunk, room, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Status::Open;
        }
        if (n <= 0) {
            return Status::Closed;
        }
        if (pos_ > 0 && pos_ == buffer_.size()) {
            buffer_.clear();
            pos_ = 0;
        }
        buffer_.append(chunk, static_cast<size_t>(n));
        taken_ += static_cast<size_t>(n);
        // A frame that announces more than the allowance left is refused now,
        // before its bytes are waited for.
        if (buffer_.size() - pos_ >= 5) {
            const auto* header = reinterpret_cast<const unsigned char*>(buffer_.data() + pos_);
            const uint32_t size = (uint32_t{header[1]} << 24) | (uint32_t{header[2]} << 16) |
                                  (uint32_t{header[3]} << 8) | uint32_t{header[4]};
            if (size > kMaxFrame || size > maxBytes_ - (taken_ - (buffer_.size() - pos_)) - 5) {
                tooLarge_ = true;
                return Status::TooLarge;
            }
        }
    }
}

bool FrameReader::Next(char& type, std::string& payload) {
    if (tooLarge_ || buffer_.size() - pos_ < 5) {
        return false;
    }
    const auto* header = reinterpret_cast<const unsigned char*>(buffer_.data() + pos_);
    const uint32_t size = (uint32_t{header[1]} << 24) | (uint32_t{header[2]} << 16) |
                          (uint32_t{header[3]} << 8) | uint32_t{header[4]};
    if (buffer_.size() - pos_ - 5 < size) {
        return false;
    }
    type = static_cast<char>(header[0]);
    payload.assign(buffer_, pos_ + 5, size);
    pos_ += 5 + size;
    if (pos_ == buffer_.size()) {
        buffer_.clear();
        pos_ = 0;
    } else if (pos_ > 64 * 1024) {
        buffer_.erase(0, pos_);
        pos_ = 0;
    }
    return true;
}

void FrameReader::Allow(size_t maxBytes) {
    maxBytes_ = maxBytes;
    taken_ = buffer_.size() - pos_;
}

bool WriteSome(int fd, std::string& out) {
    while (!out.empty()) {
        ssize_t n = send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        if (n <= 0) {
            return false;
        }
        out.erase(0, static_cast<size_t>(n));
    }
    return true;
}

}  // namespace vardane
