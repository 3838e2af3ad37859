// The receiver of a running task's notifications (the main window).
#pragma once

#include <string>

#include "platform/log_kind.h"

namespace vardane {

struct TaskDescriptor;

// One log line of a worker or of the explorer client.
struct TaskLogEntry {
    std::string TaskId;
    int ThreadNo;
    LogKind Kind;
    std::string Text;
};

// Receives what running tasks report: log lines, state, progress, threads
// and the speed tick (the frame that owns the tasks).
class ITaskOwner {
  public:
    virtual ~ITaskOwner() = default;
    virtual void OnTaskLog(const TaskLogEntry& e) = 0;
    virtual void OnTaskState(const TaskDescriptor& d) = 0;
    virtual void OnTaskProgress(const TaskDescriptor& d) = 0;
    virtual void OnTaskThreads(const TaskDescriptor& d) = 0;
    virtual void OnSpeedTick() = 0;
};

}  // namespace vardane
