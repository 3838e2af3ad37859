// The kind of a log line of a download worker or of the explorer's directory
// client. The views pick a line's icon and colours by it; the numbers are
// those the log has always used.
#pragma once

namespace vardane {

enum class LogKind : int {
    Sent = 0,      // command or request sent
    Received = 1,  // reply line received
    Info = 2,      // progress information
    Error = 3,     // error
    Listing = 4,   // directory listing line (FTP directory client)
};

}  // namespace vardane
