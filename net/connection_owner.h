// How the connection code reaches the record that owns a connection set: the
// stop check and the record's thread log. A download worker's record and the
// FTP directory client implement it.
#pragma once

#include <string>

namespace vardane {

// Log kinds of a thread log line.
enum LogKind : int {
    logSent = 0,      // command or request sent
    logReceived = 1,  // reply line received
    logInfo = 2,      // progress information
    logError = 3,     // error
    logListing = 4,   // directory listing line (FTP directory client)
};

class IConnectionOwner {
  public:
    virtual ~IConnectionOwner() = default;
    // The owner's stop flag (a task's bStop, the explorer's paused flag).
    virtual bool IsStopped() = 0;
    // Adds a log line for the owner's thread.
    virtual void ThreadLog(int kind, const std::string& text) = 0;
};

}  // namespace vardane
