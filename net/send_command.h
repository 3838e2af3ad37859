// Sends protocol lines (FTP commands, the HTTP request) on slot 0 of a
// connection set and logs each as sent, with secrets masked.
#pragma once

#include <string_view>

#include "net/connection_owner.h"
#include "net/event_socket.h"

namespace vardane {

// Splits command into CR LF separated lines (SplitLines) and sends each,
// followed by CR LF, with one send on slot 0. Every non-empty line is logged
// with kind LogKind::Sent: occurrences of secret (when not empty) become "******",
// and so do the values of Proxy-Authorization, Authorization and Cookie
// lines. Sends nothing when the owner is stopped or slot 0 has no socket.
void SendCommand(ConnectionSet& set, IConnectionOwner& owner, std::string_view command,
                 std::string_view secret);

// Sends "PASS <password>" and logs it as "PASS ******" whatever the password
// is (also an empty one, or one that occurs inside "PASS ").
void SendPassCommand(ConnectionSet& set, IConnectionOwner& owner, std::string_view password);

}  // namespace vardane
