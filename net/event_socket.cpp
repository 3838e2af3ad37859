#include "net/event_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace vardane {

namespace {

using Mode = SocketEvent::Mode;

SocketEvent& EventOf(ConnectionSet& set, int slot) {
    return set.events[static_cast<size_t>(slot)];
}

bool ValidSlot(int slot) {
    return slot >= 0 && slot < kConnectionSlots;
}

int CreationMask(int slot) {
    return slot == slotListen ? kMaskListenSlot : kMaskConnection;
}

// A fresh event: nothing recorded, everything armed.
void ResetEvent(SocketEvent& event, int mask, Mode mode) {
    event = SocketEvent{};
    event.Mask = mask;
    event.mode = mode;
}

void Record(SocketEvent& event, int bits) {
    event.Pending |= bits & event.Mask;
}

// 0 means "no socket" in a slot, so a descriptor that came out as 0 (stdin
// closed) is moved up; failures become 0 as well.
int SlotHandle(int fd) {
    if (fd == 0) {
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        fd = moved;
    }
    return fd < 0 ? 0 : fd;
}

int NewSocket(int family = AF_INET) {
    int fd = SlotHandle(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    // Every send here is a whole message (a command, a request, a TLS flight)
    // that the peer answers; Nagle would hold one sent right after another
    // (the request after the TLS Finished) for the peer's delayed ACK.
    int on = 1;
    if (fd != 0) {
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

int SocketFamily(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return AF_UNSPEC;
    }
    return address.ss_family;
}

socklen_t AddressLength(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

void ApplyReceiveBuffer(const EventSocket& conn) {
    if (conn.Socket != 0 && conn.ReceiveBuffer > 0) {
        ::setsockopt(conn.Socket, SOL_SOCKET, SO_RCVBUF, &conn.ReceiveBuffer,
                     sizeof conn.ReceiveBuffer);
    }
}

// Gives the slot a socket of family, replacing one of another family (a
// socket is created IPv4 before its host is known). A socket that has tried
// a connect cannot try another: reuse false always gives a fresh one.
bool EnsureFamily(EventSocket& conn, int family, bool reuse = true) {
    if (reuse && conn.Socket != 0 && SocketFamily(conn.Socket) == family) {
        return true;
    }
    int fresh = NewSocket(family);
    if (fresh == 0) {
        return false;
    }
    if (conn.Socket != 0) {
        ::close(conn.Socket);
    }
    conn.Socket = fresh;
    ApplyReceiveBuffer(conn);
    return true;
}

std::mutex gResolverLock;
TestResolver gTestResolver;

bool ParseLiteral(const std::string& text, int port, sockaddr_storage& address) {
    address = sockaddr_storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        return true;
    }
    address = sockaddr_storage{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        return true;
    }
    return false;
}

std::vector<sockaddr_storage> LookUp(const std::string& host, int port) {
    std::vector<sockaddr_storage> found;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) {
        return found;
    }
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) &&
            a->ai_addrlen <= sizeof(sockaddr_storage)) {
            sockaddr_storage address{};
            std::memcpy(&address, a->ai_addr, a->ai_addrlen);
            reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(static_cast<uint16_t>(port));
            found.push_back(address);
        }
    }
    ::freeaddrinfo(list);
    return found;
}

int SocketError(int fd) {
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

int QueuedBytes(int fd) {
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0) {
        return 0;
    }
    return count;
}

void ConnectDone(SocketEvent& event, int error) {
    event.ConnectError = error;
    Record(event, kFdConnect);
    if (error == 0) {
        event.mode = Mode::Connected;
        Record(event, kFdWrite);
    } else {
        event.mode = Mode::Closed;
    }
}

// Whether a slot is polled now and for which events. A connection whose read
// event is disarmed is still polled with no events, which poll answers only
// with a reset or a full hang-up; a slot that has nothing left to report is
// not polled at all, so a level-triggered condition never wakes the wait
// again.
bool PollSpec(const SocketEvent& event, short& wanted) {
    wanted = 0;
    switch (event.mode) {
        case Mode::Connecting:
            wanted = POLLOUT;
            return true;
        case Mode::Handshaking:
            return false;  // polled for what the session wants (PollEntry)
        case Mode::Listening:
            wanted = POLLIN;
            return event.AcceptArmed && (event.Mask & kFdAccept);
        case Mode::Connected:
            if (!(event.Mask & (kFdRead | kFdClose))) {
                return false;
            }
            wanted = event.ReadArmed ? POLLIN | POLLRDHUP : 0;
            return true;
        default:
            return false;
    }
}

void RecordClose(SocketEvent& event, int fd, short revents) {
    event.CloseError = (revents & POLLERR) ? SocketError(fd) : 0;
    event.mode = Mode::Closed;
    Record(event, kFdClose);
}

// Turns what poll saw on a slot into recorded events. On a slot that speaks
// TLS the socket's end is not the stream's: only the session can tell a
// close alert (a clean end) from a cut, so readiness is handed to the next
// receive, which records the close (ReceiveBytes).
void TranslateReadiness(SocketEvent& event, int fd, short revents, bool tls) {
    if (revents == 0) {
        return;
    }
    if (tls && event.mode == Mode::Connected) {
        if (event.ReadArmed) {
            event.ReadArmed = false;
            Record(event, kFdRead);
        } else {
            // A reset or hang-up while a read is still owed: no close alert
            // came first, or the receive would have recorded it.
            RecordClose(event, fd, revents);
            if (event.CloseError == 0) {
                event.CloseError = ECONNRESET;
            }
        }
        return;
    }
    switch (event.mode) {
        case Mode::Connecting:
            ConnectDone(event, SocketError(fd));
            break;
        case Mode::Listening:
            event.AcceptArmed = false;
            event.AcceptError = (revents & POLLERR) ? SocketError(fd) : 0;
            Record(event, kFdAccept);
            break;
        case Mode::Connected:
            if (!event.ReadArmed) {
                // A reset: the kernel has dropped whatever was queued.
                RecordClose(event, fd, revents);
                break;
            }
            // Data still queued comes first; the close follows once it has
            // been read.
            event.ReadArmed = false;
            if (QueuedBytes(fd) > 0) {
                Record(event, kFdRead);
            } else {
                RecordClose(event, fd, revents);
            }
            break;
        default:
            break;
    }
}

// One handshake step; its end is reported like a connect.
void StepHandshake(EventSocket& conn, SocketEvent& event) {
    switch (conn.Tls->Handshake()) {
        case TlsSession::Step::Done:
            ConnectDone(event, 0);
            break;
        case TlsSession::Step::Failed:
            ConnectDone(event, kErrorTls);
            break;
        default:
            break;  // waits for the readiness the session asked for
    }
}

// Bytes the session decrypted ahead sit in user space, where poll cannot see
// them: they count as a read event of their own.
void RecordTlsPending(EventSocket& conn, SocketEvent& event) {
    if (conn.Tls && event.mode == Mode::Connected && event.ReadArmed && (event.Mask & kFdRead) &&
        conn.Tls->HasPending()) {
        event.ReadArmed = false;
        Record(event, kFdRead);
    }
}

// What a slot is polled for now, -1 when it is not polled.
pollfd PollEntry(const EventSocket& conn, const SocketEvent& event) {
    short wanted = 0;
    if (conn.Socket == 0) {
        return pollfd{-1, 0, 0};
    }
    if (event.mode == Mode::Handshaking) {
        return pollfd{conn.Socket, conn.Tls->WantedEvents(), 0};
    }
    return pollfd{PollSpec(event, wanted) ? conn.Socket : -1, wanted, 0};
}

// Starts a connect to the next address still to try; an address refused at
// once gives way to the one after it. With none left, the last error is the
// connect's outcome.
void ConnectNextAddress(EventSocket& conn, SocketEvent& event, bool first) {
    int error = ECONNREFUSED;
    for (bool reuse = first; !conn.Fallbacks.empty(); reuse = false) {
        sockaddr_storage address = conn.Fallbacks.front();
        conn.Fallbacks.erase(conn.Fallbacks.begin());
        if (!EnsureFamily(conn, address.ss_family, reuse)) {
            error = errno;
            continue;
        }
        event.mode = Mode::Connecting;
        conn.AttemptDeadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kAttemptMillis);
        if (::connect(conn.Socket, reinterpret_cast<const sockaddr*>(&address),
                      AddressLength(address)) == 0) {
            ConnectDone(event, 0);
            return;
        }
        if (errno == EINPROGRESS || errno == EINTR) {
            return;
        }
        error = errno;
    }
    ConnectDone(event, error);
}

// A connect that failed, or outlived its attempt while other addresses wait,
// moves on to the next address instead of reporting.
bool RetryConnect(EventSocket& conn, SocketEvent& event, short revents) {
    if (event.mode != Mode::Connecting || conn.Fallbacks.empty()) {
        return false;
    }
    bool failed = revents != 0 && SocketError(conn.Socket) != 0;
    bool late = std::chrono::steady_clock::now() >= conn.AttemptDeadline;
    if (!failed && !(revents == 0 && late)) {
        return false;
    }
    ConnectNextAddress(conn, event, false);
    return true;
}

// The nearest end of a connect attempt that another address waits behind.
std::chrono::steady_clock::time_point NearestAttemptEnd(const ConnectionSet& set, int count,
                                                        std::chrono::steady_clock::time_point end) {
    for (int i = 0; i < count; ++i) {
        const EventSocket& conn = set[i];
        if (set.events[static_cast<size_t>(i)].mode == Mode::Connecting &&
            !conn.Fallbacks.empty() && conn.AttemptDeadline < end) {
            end = conn.AttemptDeadline;
        }
    }
    return end;
}

int FirstSignalled(const ConnectionSet& set, int count) {
    for (int i = 0; i < count; ++i) {
        if (set.events[static_cast<size_t>(i)].Pending != 0) {
            return i;
        }
    }
    return -1;
}

}  // namespace

bool CreateSocket(ConnectionSet& set, int slot) {
    if (!ValidSlot(slot)) {
        return false;
    }
    CloseSocket(set, slot);
    set[slot].Socket = NewSocket();
    set[slot].ReceiveBuffer = 0;
    ResetEvent(EventOf(set, slot), CreationMask(slot), Mode::Idle);
    return set[slot].Socket != 0;
}

bool CreateSockets(ConnectionSet& set, int n) {
    for (int i = 0; i < n && i < kConnectionSlots; ++i) {
        set[i].Socket = NewSocket();
        ResetEvent(EventOf(set, i), CreationMask(i), Mode::Idle);
    }
    return true;
}

void CloseSocket(ConnectionSet& set, int slot) {
    if (!ValidSlot(slot)) {
        return;
    }
    if (set[slot].Tls) {
        set[slot].Tls->Shutdown();
        set[slot].Tls.reset();
    }
    if (set[slot].Socket != 0) {
        ::close(set[slot].Socket);
        set[slot].Socket = 0;
    }
    SocketEvent& event = EventOf(set, slot);
    ResetEvent(event, event.Mask, Mode::Idle);
}

void CloseSockets(ConnectionSet& set, int n) {
    for (int i = 0; i < n && i < kConnectionSlots; ++i) {
        CloseSocket(set, i);
    }
}

bool ResolveAddress(const std::string& host, int port, sockaddr_in& address) {
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1) {
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

std::vector<sockaddr_storage> ResolveAddresses(const std::string& host, int port) {
    sockaddr_storage literal{};
    if (ParseLiteral(host, port, literal)) {
        return {literal};
    }
    std::vector<sockaddr_storage> found;
    {
        std::lock_guard lock(gResolverLock);
        if (gTestResolver) {
            for (const std::string& text : gTestResolver(host)) {
                if (ParseLiteral(text, port, literal)) {
                    found.push_back(literal);
                }
            }
        } else {
            found = LookUp(host, port);
        }
    }
    // A host with a working IPv6 route is reached over it; IPv4 follows.
    std::stable_partition(found.begin(), found.end(),
                          [](const sockaddr_storage& a) { return a.ss_family == AF_INET6; });
    return found;
}

void SetTestResolver(TestResolver resolver) {
    std::lock_guard lock(gResolverLock);
    gTestResolver = std::move(resolver);
}

std::string AddressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = nullptr;
    if (address.ss_family == AF_INET) {
        raw = &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr;
    } else if (address.ss_family == AF_INET6) {
        raw = &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr;
    }
    if (raw == nullptr || ::inet_ntop(address.ss_family, raw, text, sizeof text) == nullptr) {
        return {};
    }
    return text;
}

int AddressPort(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

bool ConnectSocket(ConnectionSet& set, int slot, const std::string& host, int port,
                   const std::string& targetHost, int targetPort) {
    if (!ValidSlot(slot)) {
        return false;
    }
    EventSocket& conn = set[slot];
    conn.Host = host;
    conn.ProxyStep = 1;
    conn.Port = port;
    conn.TargetHost = targetHost;
    conn.TargetPort = targetPort;
    if (conn.Socket == 0) {
        return false;
    }
    SocketEvent& event = EventOf(set, slot);
    event.Pending = 0;
    conn.Fallbacks = ResolveAddresses(host, port);
    if (conn.Fallbacks.empty()) {
        ConnectDone(event, kErrorHostNotFound);
        return true;
    }
    ConnectNextAddress(conn, event, true);
    return true;
}

void RearmSocket(ConnectionSet& set, int slot, int mask) {
    if (!ValidSlot(slot)) {
        return;
    }
    SocketEvent& event = EventOf(set, slot);
    Mode mode = event.mode;
    ResetEvent(event, mask, mode);
    if (mode == Mode::Connected) {
        Record(event, kFdWrite);
    }
}

int WaitForEvents(ConnectionSet& set, int count, int timeoutMs) {
    if (count < 1 || count > kConnectionSlots) {
        return kWaitFailed;
    }
    if (timeoutMs < 0 || timeoutMs > kWaitMillis) {
        timeoutMs = kWaitMillis;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int signalled = FirstSignalled(set, count);
        if (signalled >= 0) {
            return signalled;
        }
        for (int i = 0; i < count; ++i) {
            RecordTlsPending(set[i], EventOf(set, i));
        }
        if (int pending = FirstSignalled(set, count); pending >= 0) {
            return pending;
        }
        pollfd fds[kConnectionSlots];
        for (int i = 0; i < count; ++i) {
            fds[i] = PollEntry(set[i], set.events[static_cast<size_t>(i)]);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        auto wake = std::chrono::duration_cast<std::chrono::milliseconds>(
                        NearestAttemptEnd(set, count, deadline) - std::chrono::steady_clock::now())
                        .count();
        int ready = ::poll(fds, static_cast<nfds_t>(count), static_cast<int>(wake > 0 ? wake : 0));
        if (ready < 0 && errno != EINTR) {
            return kWaitFailed;
        }
        for (int i = 0; i < count; ++i) {
            short revents = ready > 0 && fds[i].fd >= 0 ? fds[i].revents : 0;
            if (RetryConnect(set[i], EventOf(set, i), revents) || revents == 0) {
                continue;
            }
            if (EventOf(set, i).mode == Mode::Handshaking) {
                StepHandshake(set[i], EventOf(set, i));
            } else {
                TranslateReadiness(EventOf(set, i), fds[i].fd, fds[i].revents,
                                   set[i].Tls != nullptr);
            }
        }
        if (FirstSignalled(set, count) < 0 && left <= 0) {
            return kWaitTimeout;
        }
    }
}

bool EnumNetworkEvents(ConnectionSet& set, int slot, NetworkEvents& events) {
    events = NetworkEvents{};
    if (!ValidSlot(slot) || set[slot].Socket == 0) {
        return false;
    }
    SocketEvent& event = EventOf(set, slot);
    events.NetworkEvents = event.Pending;
    events.ConnectError = (event.Pending & kFdConnect) ? event.ConnectError : 0;
    events.AcceptError = (event.Pending & kFdAccept) ? event.AcceptError : 0;
    events.CloseError = (event.Pending & kFdClose) ? event.CloseError : 0;
    event.Pending = 0;
    return true;
}

int64_t ReceiveBytes(ConnectionSet& set, int slot, char* data, size_t size) {
    // A zero-byte receive would read as "peer closed"; it is "nothing" here.
    if (!ValidSlot(slot) || set[slot].Socket == 0 || size == 0) {
        return -1;
    }
    SocketEvent& event = EventOf(set, slot);
    event.ReadArmed = true;
    if (set[slot].Tls) {
        bool broken = false;
        int64_t received = set[slot].Tls->Read(data, size, broken);
        if ((broken || received == 0) && event.mode == Mode::Connected) {
            // The session's word on the end: its close alert is a clean
            // close (the peer may hold the connection open for ours); a cut
            // without it or a damaged record is a reset, whatever TCP says.
            event.CloseError = broken ? ECONNRESET : 0;
            event.mode = Mode::Closed;
            Record(event, kFdClose);
        }
        return received;
    }
    ssize_t received = ::recv(set[slot].Socket, data, size, 0);
    return received < 0 ? -1 : static_cast<int64_t>(received);
}

int64_t ReceiveIntoPipe(ConnectionSet& set, int slot, int pipeWrite, size_t size) {
    if (!ValidSlot(slot) || set[slot].Socket == 0 || set[slot].Tls || size == 0 || pipeWrite < 0) {
        return -1;
    }
    EventOf(set, slot).ReadArmed = true;
    ssize_t moved =
        ::splice(set[slot].Socket, nullptr, pipeWrite, nullptr, size, SPLICE_F_NONBLOCK);
    return moved < 0 ? -1 : static_cast<int64_t>(moved);
}

int Receive(ConnectionSet& set, int slot, ReceiveBuffer& buffer) {
    buffer.fill(0);
    int64_t received = ReceiveBytes(set, slot, buffer.data(), kReceiveSize);
    if (received > 0) {
        buffer[static_cast<size_t>(received)] = 0;
    }
    return static_cast<int>(received);
}

bool SendBytes(int socketFd, const void* bytes, size_t size) {
    // A command or request never fills a socket buffer on its own; the bound
    // only keeps a peer that stopped reading from holding the thread.
    constexpr int kStallMillis = 5000;
    if (socketFd <= 0) {
        return false;
    }
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        ssize_t sent = ::send(socketFd, next, size, MSG_NOSIGNAL);
        if (sent > 0) {
            next += sent;
            size -= static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd fd{socketFd, POLLOUT, 0};
            if (::poll(&fd, 1, kStallMillis) > 0 && (fd.revents & POLLOUT)) {
                continue;
            }
        }
        return false;
    }
    return true;
}

bool SendOnSlot(ConnectionSet& set, int slot, const void* bytes, size_t size) {
    if (!ValidSlot(slot)) {
        return false;
    }
    if (set[slot].Tls) {
        return set[slot].Tls->Write(bytes, size);
    }
    return SendBytes(set[slot].Socket, bytes, size);
}

bool StartTls(ConnectionSet& set, int slot, const std::string& host, const TlsOptions& options) {
    if (!ValidSlot(slot) || set[slot].Socket == 0 || EventOf(set, slot).mode != Mode::Connected) {
        return false;
    }
    EventSocket& conn = set[slot];
    SocketEvent& event = EventOf(set, slot);
    conn.Tls = NewTlsSession(conn.Socket, host, conn.TargetPort, options);
    event.Pending &= ~(kFdWrite | kFdRead);
    event.ReadArmed = true;
    event.mode = Mode::Handshaking;
    StepHandshake(conn, event);
    return true;
}

TlsSession* TlsOf(const ConnectionSet& set, int slot) {
    return ValidSlot(slot) ? set[slot].Tls.get() : nullptr;
}

bool LocalAddress(const ConnectionSet& set, int slot, sockaddr_in& address) {
    if (!ValidSlot(slot) || set[slot].Socket == 0) {
        return false;
    }
    socklen_t length = sizeof(address);
    return ::getsockname(set[slot].Socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
           address.sin_family == AF_INET;
}

bool BindSocket(ConnectionSet& set, int slot, const sockaddr_in& address) {
    if (!ValidSlot(slot) || set[slot].Socket == 0) {
        return false;
    }
    return ::bind(set[slot].Socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
           0;
}

bool LocalAddress(const ConnectionSet& set, int slot, sockaddr_storage& address) {
    if (!ValidSlot(slot) || set[slot].Socket == 0) {
        return false;
    }
    socklen_t length = sizeof(address);
    return ::getsockname(set[slot].Socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
           (address.ss_family == AF_INET || address.ss_family == AF_INET6);
}

bool BindSocket(ConnectionSet& set, int slot, const sockaddr_storage& address) {
    if (!ValidSlot(slot) || set[slot].Socket == 0 || !EnsureFamily(set[slot], address.ss_family)) {
        return false;
    }
    return ::bind(set[slot].Socket, reinterpret_cast<const sockaddr*>(&address),
                  AddressLength(address)) == 0;
}

bool PeerAddress(int socketFd, sockaddr_storage& address) {
    address = sockaddr_storage{};
    socklen_t length = sizeof(address);
    return socketFd > 0 &&
           ::getpeername(socketFd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
           (address.ss_family == AF_INET || address.ss_family == AF_INET6);
}

bool ListenSocket(ConnectionSet& set, int slot, int backlog) {
    if (!ValidSlot(slot) || set[slot].Socket == 0 || ::listen(set[slot].Socket, backlog) != 0) {
        return false;
    }
    SocketEvent& event = EventOf(set, slot);
    event.mode = Mode::Listening;
    event.AcceptArmed = true;
    return true;
}

int AcceptSocket(ConnectionSet& set, int slot) {
    if (!ValidSlot(slot) || set[slot].Socket == 0) {
        return 0;
    }
    EventOf(set, slot).AcceptArmed = true;
    return SlotHandle(::accept4(set[slot].Socket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

void AdoptSocket(ConnectionSet& set, int slot, int socketFd) {
    if (!ValidSlot(slot)) {
        return;
    }
    CloseSocket(set, slot);
    set[slot].Socket = socketFd;
    SocketEvent& event = EventOf(set, slot);
    ResetEvent(event, event.Mask, socketFd != 0 ? Mode::Connected : Mode::Idle);
}

void BoundReceiveBuffer(EventSocket& conn, int bytes) {
    conn.ReceiveBuffer = bytes > 0 ? bytes : 0;
    ApplyReceiveBuffer(conn);
}

}  // namespace vardane
