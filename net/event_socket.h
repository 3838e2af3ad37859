// Event-driven, non-blocking TCP connections (IPv4 and IPv6) for the download
// workers and the FTP directory client.
//
// A record that owns connections (a worker's thread record, the explorer's
// record) embeds one ConnectionSet: exactly three connection slots and the
// event state of each. The owner creates sockets, starts connects, waits at
// most 500 ms for network events on all three slots at once, reads which
// events occurred and reacts. Nothing here blocks except the host name lookup.
//
// Events follow the Winsock event-selection rules the callers were written
// for, on top of level-triggered poll():
// - kFdConnect is recorded once per connect, with its error code (a failed
//   name lookup or an immediately refused connect arrives the same way);
// - kFdRead is recorded once and again only after the next Receive on that
//   slot, so a read event that the owner ignores never wakes the wait again;
// - kFdClose is recorded once per connection, after the data still queued
//   has been read;
// - kFdAccept is recorded once and again only after the next AcceptSocket;
// - kFdWrite is recorded once when a connection is established or re-armed.
// Recorded events stay pending until EnumNetworkEvents reads and resets them.
//
// A slot may carry a TLS session (StartTls) once its TCP connection, and a
// proxy tunnel if any, is up. The handshake runs inside WaitForEvents and ends
// in a second kFdConnect; from then on Receive, ReceiveBytes and SendOnSlot
// carry plain bytes through the session, and bytes that the session has
// already decrypted produce kFdRead like bytes queued in the socket. The end
// of a TLS stream is the session's to say: a receive that meets the peer's
// close alert returns 0 and records kFdClose with error 0, also while the
// peer keeps the connection open; a TCP close without that alert (a cut) or
// a damaged record records kFdClose with ECONNRESET.
//
// A set belongs to the one thread that owns its record. The set is a plain
// copyable value (a launch record is copied into the worker's own record
// before any socket exists); sockets are closed by CloseSockets, never by a
// destructor.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/tls_session.h"

namespace vardane {

// Network event bits, as Winsock numbers them.
constexpr int kFdRead = 0x01;
constexpr int kFdWrite = 0x02;
constexpr int kFdAccept = 0x08;
constexpr int kFdConnect = 0x10;
constexpr int kFdClose = 0x20;

// Event masks by use.
constexpr int kMaskConnection = 0x33;  // slots 0 and 1, a passive data socket
constexpr int kMaskListenSlot = 0x3B;  // slot 2 when created
constexpr int kMaskListening = 0x18;   // listening socket after the PORT set-up
constexpr int kMaskAccepted = 0x23;    // data socket obtained by accept

// Results of WaitForEvents besides a slot index.
constexpr int kWaitTimeout = 0x102;
constexpr int kWaitFailed = -1;
constexpr int kWaitMillis = 500;

constexpr int kConnectionSlots = 3;
enum ConnectionSlot : int { slotControl = 0, slotData = 1, slotListen = 2 };

// Receive size of the protocol readers.
constexpr size_t kReceiveSize = 4096;
// 4096 data bytes and a terminating zero byte.
using ReceiveBuffer = std::array<char, kReceiveSize + 1>;

// Error code of kFdConnect when the host name could not be resolved.
constexpr int kErrorHostNotFound = -2;
// Error code of the kFdConnect that ends a failed TLS handshake; the session
// tells why (TlsOf).
constexpr int kErrorTls = -3;

struct EventSocket {
    int Socket = 0;    // 0 when the slot has no socket (a socket is never fd 0)
    std::string Host;  // host actually connected to (the proxy when one is used)
    int Port = 0;
    int ProxyStep = 0;       // 1 connect started, 2..4 handshake, 5 ready, 0 failed
    std::string TargetHost;  // the server the protocol talks to
    int TargetPort = 0;
    std::shared_ptr<TlsSession> Tls;  // set by StartTls, dropped by CloseSocket
    // Addresses of Host still to try when the current connect is refused or
    // takes longer than kAttemptMillis.
    std::vector<sockaddr_storage> Fallbacks;
    std::chrono::steady_clock::time_point AttemptDeadline{};
    // SO_RCVBUF of the slot's socket (0: the system's), kept when a connect
    // or bind replaces the socket for another address family or attempt.
    int ReceiveBuffer = 0;
};

// How long a connect waits before the next address of the host is tried; the
// last address waits for the caller's own connection time-out.
constexpr int kAttemptMillis = 3000;

// The event of one slot: the selected mask, what was recorded and not yet
// read, and what the poll emulation needs to keep the Winsock rules.
struct SocketEvent {
    enum class Mode : uint8_t { Idle, Connecting, Handshaking, Connected, Listening, Closed };
    int Mask = 0;
    int Pending = 0;
    int ConnectError = 0;
    int AcceptError = 0;
    int CloseError = 0;
    Mode mode = Mode::Idle;
    bool ReadArmed = true;    // a read (or close) may be recorded
    bool AcceptArmed = true;  // an accept may be recorded
};

struct ConnectionSet {
    std::array<EventSocket, kConnectionSlots> connections{};
    std::array<SocketEvent, kConnectionSlots> events{};

    EventSocket& operator[](int slot) { return connections[static_cast<size_t>(slot)]; }
    const EventSocket& operator[](int slot) const { return connections[static_cast<size_t>(slot)]; }
};

// What EnumNetworkEvents reports for one slot.
struct NetworkEvents {
    int NetworkEvents = 0;
    int ConnectError = 0;  // errno of kFdConnect (kErrorHostNotFound for a lookup failure)
    int AcceptError = 0;
    int CloseError = 0;  // 0 for a graceful close, else errno (a reset)
};

// Creates a TCP socket in each of the slots 0..n-1 with a fresh event selecting
// kMaskConnection (kMaskListenSlot for slot 2). Close the old sockets first:
// creation overwrites the handle. Returns true.
bool CreateSockets(ConnectionSet& set, int n);
// Closes the sockets of slots 0..n-1 and clears their handles and pending
// events.
void CloseSockets(ConnectionSet& set, int n);
// Closes one slot's socket.
void CloseSocket(ConnectionSet& set, int slot);
// Closes slot's socket (if any) and creates a new one with a fresh event.
// Bounds what the kernel may buffer for the slot's connection (bytes > 0),
// now and on every socket that later replaces this one.
void BoundReceiveBuffer(EventSocket& conn, int bytes);
bool CreateSocket(ConnectionSet& set, int slot);

// IPv4 address of host (dotted form used as is, else a name lookup) and port.
// False when the lookup fails.
bool ResolveAddress(const std::string& host, int port, sockaddr_in& address);

// Every address of host (an IPv4 or IPv6 literal is used as is, else a name
// lookup) with port: IPv6 addresses first, then IPv4. Empty when none.
std::vector<sockaddr_storage> ResolveAddresses(const std::string& host, int port);

// Replaces the name lookup by resolver (address literals for a host name)
// until it is reset with nullptr. Tests only; set it while no connect runs.
using TestResolver = std::function<std::vector<std::string>(const std::string& host)>;
void SetTestResolver(TestResolver resolver);

// Numeric text of an address ("127.0.0.1", "::1"); empty for another family.
std::string AddressText(const sockaddr_storage& address);
// The port of an IPv4 or IPv6 address.
int AddressPort(const sockaddr_storage& address);

// Stores host, proxy step 1, port, target host and port in the slot and
// starts a non-blocking connect to the first address of host; a refused or
// slow connect goes on with the next one (the slot's socket is replaced when
// the address family changes). The outcome arrives as kFdConnect with the
// error code of the last attempt, also for a failed lookup or a connect
// refused at once.
bool ConnectSocket(ConnectionSet& set, int slot, const std::string& host, int port,
                   const std::string& targetHost, int targetPort);

// Starts a TLS session for host on a connected slot. The outcome arrives as
// kFdConnect: error 0 when the session is up (with kFdWrite), kErrorTls when
// it failed. False when the slot is not connected.
bool StartTls(ConnectionSet& set, int slot, const std::string& host, const TlsOptions& options);
// The slot's TLS session, nullptr when it has none.
TlsSession* TlsOf(const ConnectionSet& set, int slot);

// Replaces the slot's event by a new one selecting mask; pending events are
// dropped and the read/accept events are armed again.
void RearmSocket(ConnectionSet& set, int slot, int mask);

// Waits at most timeoutMs (at most 500 ms) for an event on slots 0..count-1.
// Returns the lowest signalled slot, kWaitTimeout or kWaitFailed.
int WaitForEvents(ConnectionSet& set, int count = kConnectionSlots, int timeoutMs = kWaitMillis);

// Reads and resets the events recorded for slot. False when the slot has no
// socket.
bool EnumNetworkEvents(ConnectionSet& set, int slot, NetworkEvents& events);

// One recv of up to kReceiveSize bytes into buffer, cleared first, followed by
// a zero byte. Returns the count, 0 when the peer closed, -1 when there is
// nothing to process. Arms the read event again.
int Receive(ConnectionSet& set, int slot, ReceiveBuffer& buffer);
// One recv of up to size bytes. Same results and re-arming as Receive; a
// size of 0 receives nothing and returns -1.
int64_t ReceiveBytes(ConnectionSet& set, int slot, char* data, size_t size);
// ReceiveBytes for a plain connection (no TLS session) whose bytes go to a
// file: up to size bytes are moved into the empty pipe pipeWrite (splice)
// instead of being copied to user space. Same results and re-arming.
int64_t ReceiveIntoPipe(ConnectionSet& set, int slot, int pipeWrite, size_t size);

// Sends all of bytes on a socket, waiting (bounded) while the send buffer is
// full. False on an error, a closed peer or a stall.
bool SendBytes(int socketFd, const void* bytes, size_t size);

// SendBytes on a slot, through its TLS session when it has one.
bool SendOnSlot(ConnectionSet& set, int slot, const void* bytes, size_t size);

// FTP active mode: local address of a slot's socket, bind, listen, accept.
bool LocalAddress(const ConnectionSet& set, int slot, sockaddr_in& address);
bool BindSocket(ConnectionSet& set, int slot, const sockaddr_in& address);
// The same for either family; BindSocket replaces the slot's socket by one of
// the address's family first when they differ.
bool LocalAddress(const ConnectionSet& set, int slot, sockaddr_storage& address);
bool BindSocket(ConnectionSet& set, int slot, const sockaddr_storage& address);
// The peer address of a connected socket; false when it has none.
bool PeerAddress(int socketFd, sockaddr_storage& address);
bool ListenSocket(ConnectionSet& set, int slot, int backlog);
// Accepts one pending connection on a listening slot and arms kFdAccept again.
// Returns the new non-blocking socket, or 0 when there is none.
int AcceptSocket(ConnectionSet& set, int slot);
// Puts a connected socket (from AcceptSocket) into slot, closing what the slot
// held; follow with RearmSocket to select its events.
void AdoptSocket(ConnectionSet& set, int slot, int socketFd);

}  // namespace vardane
