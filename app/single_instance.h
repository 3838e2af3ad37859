// One program per data root. The first process takes an exclusive lock on
// <root>vardane.lock and listens on the Unix domain socket <root>vardane.sock;
// a later process finds the lock taken and hands its request over that
// socket instead of starting a second set of task slots on the same files.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vardane {

// Names of the two files in the data root.
std::string InstanceLockPath(const std::string& appDir);
std::string InstanceSocketPath(const std::string& appDir);

// Held by the first process for its whole life.
class CInstanceLock {
  public:
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // The lock and a listening socket, or nullptr when another process holds
    // the data root (or the lock file cannot be made).
    static std::unique_ptr<CInstanceLock> TryAcquire(const std::string& appDir);

    // Non-blocking listening socket; readable when a client connects.
    int ListenFd() const { return listenFd_; }
    // Accepts one pending connection; -1 when none. The socket is blocking
    // with a receive time-out, so a silent client cannot stall the owner.
    int Accept() const;

  private:
    CInstanceLock() = default;
    int lockFd_ = -1;
    int listenFd_ = -1;
    std::string socketPath_;
};

// Connects to the process that holds appDir, retrying for up to timeoutMs
// while that process is still coming up. -1 when nobody listens.
int ConnectToInstance(const std::string& appDir, int timeoutMs = 3000);

// A second start of the program with an address: hands url to the process
// that owns appDir (it opens its New task flow with it). True when the owner
// took it.
bool HandOverAddress(const std::string& appDir, const std::string& url);

// Framed messages over the instance socket: one type byte, the payload
// length as 4 bytes big-endian, the payload.
bool SendFrame(int fd, char type, std::string_view payload);
// Blocking read of one frame; false at end of stream or on error.
bool ReadFrame(int fd, char& type, std::string& payload);

}  // namespace vardane
