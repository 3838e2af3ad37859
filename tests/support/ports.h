// Loopback ports for test servers.
#pragma once

#include <chrono>

namespace vardane::test {

// A port on 127.0.0.1 that nothing listens on right now, chosen at random
// below the kernel's ephemeral range so outgoing connections do not take it.
int FreePort();
// count consecutive free ports; returns the first.
int FreePortRange(int count);

// True once a connect to 127.0.0.1:port or [::1]:port succeeds, false after
// timeout.
bool WaitForPort(int port, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A blocking TCP connection to 127.0.0.1:port, or -1.
int ConnectLoopback(int port);

}  // namespace vardane::test
