#include "tests/support/ports.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace vardane::test {

namespace {

constexpr int kLowestPort = 20000;
constexpr int kPortCount = 12000;  // up to 31999, below the ephemeral range

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool CanBind(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address = Loopback(port);
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

// ctest runs test processes side by side: a port handed out here stays
// reserved by a lock file until this process ends, so two tests never start
// servers on the same port (the loser's server would fail to bind while the
// winner's answers its readiness probe).
bool ReservePort(int port) {
    static std::mutex lock;
    static std::vector<int> held;
    static std::once_flag raised;
    // Every reservation holds a descriptor; allow as many as the system does.
    std::call_once(raised, [] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
    });
    const char* dir = "/tmp/vardane-test-ports";
    ::mkdir(dir, 01777);
    std::string path = std::string(dir) + "/" + std::to_string(port);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return true;  // no reservations possible; the bind check still applies
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    std::lock_guard<std::mutex> guard(lock);
    held.push_back(fd);
    return true;
}

int RandomPort() {
    static std::mutex lock;
    static std::mt19937 random(std::random_device{}());
    std::lock_guard<std::mutex> guard(lock);
    return kLowestPort + static_cast<int>(random() % kPortCount);
}

}  // namespace

int FreePortRange(int count) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        int first = RandomPort();
        bool free = first + count <= kLowestPort + kPortCount;
        for (int i = 0; free && i < count; ++i) {
            free = CanBind(first + i);
        }
        for (int i = 0; free && i < count; ++i) {
            free = ReservePort(first + i);
        }
        if (free) {
            return first;
        }
    }
    return 0;
}

int FreePort() {
    return FreePortRange(1);
}

int ConnectLoopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A blocking TCP connection to [::1]:port, or -1.
int ConnectLoopback6(int port) {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool WaitForPort(int port, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int fd = ConnectLoopback(port);
        if (fd < 0) {
            fd = ConnectLoopback6(port);  // a server that listens on [::1] only
        }
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace vardane::test
