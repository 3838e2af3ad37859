#include "app/task_rows.h"

#include <cstdio>

#include "platform/display_text.h"
#include "platform/text.h"

namespace vardane {

const std::array<ColumnSpec, kColumnCount> kTaskColumns = {{
    {"MainDlg_Tasks_FileName", 110, false},
    {"MainDlg_Tasks_Percent", 55, true},
    {"MainDlg_Tasks_FileSize", 75, true},
    {"MainDlg_Tasks_FilePos", 80, true},
    {"MainDlg_Tasks_Speed", 80, true},
    {"", 0, true},
}};

int IconForState(TaskState state) {
    switch (state) {
        case TaskState::Waiting:
            return imgTaskWaiting;
        case TaskState::Running:
            return imgTaskRunning;
        case TaskState::Completed:
            return imgTaskCompleted;
        case TaskState::Failed:
            return imgTaskFailed;
        case TaskState::Stopped:
            break;
    }
    return imgTaskStopped;
}

TaskRow BuildTaskRow(const QueuedTask& task) {
    TaskRow row;
    row.Icon = IconForState(task.State);
    // The name may come from a server (Content-Disposition, a listing): no
    // control of it reaches a terminal or a row, nor a tab into a field.
    row.Columns[0] = DisplayText(task.Name, false);
    row.Columns[1] =
        PercentText(task.Size, task.BestPercent >= 0 ? task.BestPercent : task.Percent());
    row.Columns[2] = SizeText(task.Size);
    row.Columns[3] = task.PosText;
    row.Columns[4] = task.SpeedKb >= 0 ? TaskSpeedText(task.SpeedKb) : "";
    row.Columns[kIdColumn] = task.Id;
    return row;
}

std::string PercentText(int64_t fileSize, int bestPercent) {
    if (fileSize < 1) {
        return "??%";
    }
    return IntToText(bestPercent) + "%";
}

std::string SizeText(int64_t fileSize) {
    return fileSize < 1 ? "??" : IntToText(fileSize);
}

std::string TaskSpeedText(double kbPerSecond) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.1f KB/s", kbPerSecond);
    return text;
}

std::string TotalSpeedText(double kbPerSecond) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.0f KB/s", kbPerSecond);
    return text;
}

Rgb LogLine::TextColour() const {
    switch (Kind) {
        case LogKind::Sent:
        case LogKind::Received:
            return {0, 0, 139};
        case LogKind::Error:
            return {139, 0, 0};
        default:
            return {0, 147, 0};
    }
}

Rgb LogLine::Background() const {
    switch (Kind) {
        case LogKind::Sent:
            return {175, 238, 238};
        case LogKind::Received:
            return {230, 230, 250};
        case LogKind::Error:
            return {255, 192, 203};
        default:
            return {152, 251, 152};
    }
}

}  // namespace vardane
