// Reading an FTP control connection (slot 0 of a connection set): one
// receive, the bytes a proxy handshake still owns taken by it, the rest
// assembled into reply lines. Shared by every FTP client (a download worker,
// a folder lister).
#pragma once

#include <vector>

#include "engine/ftp_reply.h"
#include "net/connection_owner.h"
#include "net/event_socket.h"
#include "settings/proxy_record.h"

namespace vardane {

enum class ControlRead {
    Nothing,  // nothing received, or the proxy handshake goes on
    Failed,   // the proxy handshake failed
    Lines,    // the completed lines (maybe none) were appended
};

// bounded is false when the reply in progress outgrew the reader's bound
// (the lines before that point are still appended).
ControlRead ReadControlLines(CConnectionSet& set, IConnectionOwner& owner, const ProxyRecord& proxy,
                             CFtpReplyReader& reader, std::vector<CFtpReplyReader::Line>& lines,
                             bool& bounded);

}  // namespace vardane
