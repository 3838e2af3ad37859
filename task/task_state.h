// A task's state, one type for the queue, the engine and the progress file.
#pragma once

namespace vardane {

// The numbers are what the progress file's State key stores (4 is not used).
enum class TaskState : int {
    Running = 0,
    Completed = 1,
    Stopped = 2,
    Waiting = 3,
    Failed = 5,
};

// The stored number of a state and back; an unknown number reads as stopped.
inline int StoredState(TaskState state) {
    return static_cast<int>(state);
}

inline TaskState StateFromStored(int stored) {
    switch (stored) {
        case static_cast<int>(TaskState::Running):
        case static_cast<int>(TaskState::Completed):
        case static_cast<int>(TaskState::Waiting):
        case static_cast<int>(TaskState::Failed):
            return static_cast<TaskState>(stored);
        default:
            return TaskState::Stopped;
    }
}

inline const char* StateWord(TaskState state) {
    switch (state) {
        case TaskState::Waiting:
            return "waiting";
        case TaskState::Running:
            return "running";
        case TaskState::Completed:
            return "completed";
        case TaskState::Failed:
            return "failed";
        case TaskState::Stopped:
            break;
    }
    return "stopped";
}

}  // namespace vardane
