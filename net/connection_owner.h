// How the connection code reaches the record that owns a connection set: the
// stop check and the record's thread log. A download worker's record and the
// FTP directory client implement it.
#pragma once

#include <string>

#include "platform/log_kind.h"

namespace vardane {

class IConnectionOwner {
  public:
    virtual ~IConnectionOwner() = default;
    // The owner's stop flag (a task's Stop, the explorer's paused flag).
    virtual bool IsStopped() = 0;
    // Adds a log line for the owner's thread.
    virtual void ThreadLog(LogKind kind, const std::string& text) = 0;
};

}  // namespace vardane
