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

class ITaskOwner {  // hMainWnd: the window that owns running tasks
  public:
    virtual ~ITaskOwner() = default;
    virtual void OnTaskLog(const TaskLogEntry& e) = 0;         // WM_TASK_LOG
    virtual void OnTaskState(const TaskDescriptor& d) = 0;     // WM_TASK_STATE
    virtual void OnTaskProgress(const TaskDescriptor& d) = 0;  // WM_TASK_PROGRESS
    virtual void OnTaskThreads(const TaskDescriptor& d) = 0;   // WM_TASK_THREADS
    virtual void OnSpeedTick() = 0;                            // WM_SPEED_TICK
};

}  // namespace vardane
