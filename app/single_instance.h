// One program per data root. The first process takes an exclusive lock on
// <root>vardane.lock and listens on the Unix domain socket <root>vardane.sock;
// a later process finds the lock taken and hands its request over that
// socket instead of starting a second set of task slots on the same files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vardane {

// Names of the two files in the data root.
std::string InstanceLockPath(const std::string& appDir);
std::string InstanceSocketPath(const std::string& appDir);

// Held by the first process for its whole life.
class InstanceLock {
  public:
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // The lock and a listening socket, or nullptr when another process holds
    // the data root or the lock cannot be taken at all. In the second case
    // error (when given) says why, naming the path and, when the lock file or
    // the folder belongs to another user, that user ("cannot lock
    // /x/vardane.lock: owned by root"); it stays empty when the lock is
    // merely held, so waiting for the holder makes sense.
    static std::unique_ptr<InstanceLock> TryAcquire(const std::string& appDir,
                                                    std::string* error = nullptr);

    // Non-blocking listening socket; readable when a client connects.
    int ListenFd() const { return listenFd_; }
    // Accepts one pending connection; -1 when none. The socket is
    // non-blocking: the owner reads and writes it only when poll says so.
    int Accept() const;

  private:
    InstanceLock() = default;
    int lockFd_ = -1;
    int listenFd_ = -1;
    std::string socketPath_;
};

// Connects to the process that holds appDir, retrying for up to timeoutMs
// while that process is still coming up. -1 when nobody listens; also when
// cancelFd (a signalfd, -1 for none) becomes readable meanwhile.
int ConnectToInstance(const std::string& appDir, int timeoutMs = 3000, int cancelFd = -1);

// A second start of the program with an address: hands url to the process
// that owns appDir (it opens its New task flow with it); without one ("")
// the owner shows its window. True when the owner took it (an owner without
// a window says no to ""); gives up after timeoutMs without an answer.
bool HandOverAddress(const std::string& appDir, const std::string& url, int timeoutMs = 30000);

// Framed messages over the instance socket: one type byte, the payload
// length as 4 bytes big-endian, the payload.
inline constexpr uint32_t kMaxFrame = 16 * 1024 * 1024;
std::string EncodeFrame(char type, std::string_view payload);
// Blocking write of one frame (on a non-blocking socket it waits for room).
bool SendFrame(int fd, char type, std::string_view payload);
// Blocking read of one frame; false at end of stream or on error.
bool ReadFrame(int fd, char& type, std::string& payload);

// Frames taken from a non-blocking socket as its bytes arrive, so a peer
// that sends slowly, or not at all, holds nobody up. maxBytes caps what the
// peer may send in all (a frame announcing more is refused before its bytes
// come); the buffer never grows beyond it.
class FrameReader {
  public:
    enum class Status { Open, Closed, TooLarge };
    explicit FrameReader(size_t maxBytes) : maxBytes_(maxBytes) {}
    // Reads what the socket holds now. Closed: end of stream or an error.
    Status ReadFrom(int fd);
    // The next complete frame; false when none is complete yet.
    bool Next(char& type, std::string& payload);
    // Starts a new allowance of maxBytes from here (the bytes already
    // buffered count against it).
    void Allow(size_t maxBytes);

  private:
    std::string buffer_;
    size_t pos_ = 0;
    size_t taken_ = 0;
    size_t maxBytes_;
    bool tooLarge_ = false;
};

// Writes as much of out as the non-blocking socket takes now and removes it
// from out; false when the peer is gone.
bool WriteSome(int fd, std::string& out);

}  // namespace vardane
