// Rows of the task list and lines of the log view, as data.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/task_queue.h"
#include "platform/log_kind.h"

namespace vardane {

// Indexes of the shared image list.
enum Image : int {
    imgProgram = 0,
    imgDownloading = 1,
    imgCompleted = 2,
    imgDeleted = 3,
    imgTaskCompleted = 4,
    imgTaskRunning = 5,
    imgTaskFailed = 6,
    imgTaskStopped = 7,
    imgTaskWaiting = 8,
    imgLogRoot = 16,
    imgLogThread = 17,
    imgLogKind0 = 19,  // 19..22: log lines of kind 0..3
};

inline constexpr int kColumnCount = 6;
inline constexpr int kIdColumn = 5;
inline constexpr size_t kMaxLogLines = 30;

struct ColumnSpec {
    const char* HeaderKey;  // "" for the hidden id column
    int Width;
    bool Centered;
};
extern const std::array<ColumnSpec, kColumnCount> kTaskColumns;

// One row: icon and six column texts (file name, percent, size, position,
// speed, task id).
struct TaskRow {
    int Icon = imgTaskStopped;
    std::array<std::string, kColumnCount> Columns;
    bool Selected = false;
    const std::string& Id() const { return Columns[kIdColumn]; }
};

int IconForState(TaskState state);

// The row of a task: a running task shows the percent it reported, others
// the truncated FilePos / FileSize; an unknown size shows "??%" and "??";
// the speed shows once the task ran in this session.
TaskRow BuildTaskRow(const QueuedTask& task);

// Texts of a row refresh from the task's numbers.
std::string PercentText(int64_t fileSize, int bestPercent);
std::string SizeText(int64_t fileSize);
std::string TaskSpeedText(double kbPerSecond);   // "%.1f KB/s"
std::string TotalSpeedText(double kbPerSecond);  // "%.0f KB/s"

struct Rgb {
    int R, G, B;
};

// One line of the log list with its kind's icon and colours.
struct LogLine {
    LogKind Kind = LogKind::Info;
    std::string Text;
    // A listing line (no worker writes one) shows as information.
    int Icon() const {
        return imgLogKind0 + (Kind == LogKind::Listing ? 2 : static_cast<int>(Kind));
    }
    Rgb TextColour() const;
    Rgb Background() const;
};

// The log tree: a root and one node per thread ("1".."n") of the selected
// task; empty when no single downloading task is selected.
struct LogTreeState {
    bool HasRoot = false;
    std::string RootText;
    int ThreadCount = 0;
    int SelectedThread = 0;  // 1-based node number, 0 none
    std::string TaskId;
};

}  // namespace vardane
