// Setting up an FTP data connection on a connection set whose slot 0 is the
// logged-in control connection: the passive connection to the port of a
// PASV reply, and the active-mode listener announced with PORT and the
// accept that takes only the server's connection. Free of any download
// state, so any FTP client (a download worker, a folder lister) can use it.
#pragma once

#include <string>

#include "net/event_socket.h"
#include "settings/proxy_record.h"

namespace vardane {

// The host a data connection goes to: the server of the control connection,
// never the address a PASV reply names, so that a server cannot send the
// client to another host. Direct: the address the control connection
// reached; through a proxy: host, the server as the proxy's target.
std::string FtpDataHost(const ConnectionSet& set, const std::string& host,
                        const ProxyRecord& proxy);

// "EPSV" when the control connection runs directly over IPv6, where PASV
// cannot name a port; "PASV" otherwise.
std::string PassiveCommand(const ConnectionSet& set, const ProxyRecord& proxy);

// Where a passive data connection is being opened (for the caller's log).
struct FtpDataTarget {
    std::string host;  // what the socket connects to: the data host or the proxy
    int port = 0;
};

// Connects the data slot to the port a "227" (or "229") reply line names, on
// FtpDataHost (through the proxy when one is set; its handshake then runs
// when the connection is made). False, with nothing opened, when the line
// names no usable port. receiveBuffer (when > 0) bounds what the kernel may
// buffer on the data connection.
bool ConnectPassiveData(ConnectionSet& set, const std::string& pasvLine, const std::string& host,
                        const ProxyRecord& proxy, FtpDataTarget& target, int receiveBuffer = 0);

// Active mode: a listener in the listen slot on the control connection's
// local address and a port of the system's choice. Returns the PORT command
// (EPRT for an IPv6 address) that announces it, empty when it cannot be set
// up. The accepted connection inherits the listener's receiveBuffer (when > 0).
std::string OpenPortListener(ConnectionSet& set, int receiveBuffer = 0);

// Accepts a pending connection on the listener. On a direct connection only
// the server itself may deliver the data: anyone else is turned away and the
// listener stays. The accepted connection becomes the data slot (no proxy
// handshake on it) and the listener is closed. True when it was adopted.
bool AcceptServerData(ConnectionSet& set, const ProxyRecord& proxy);

}  // namespace vardane
