#include "app/task_rows.h"

#include <cstdio>

#include "platform/text.h"
#include "task/download_task.h"

namespace vardane {

const std::array<ColumnSpec, kColumnCount> kTaskColumns = {{
    {"MainDlg_Tasks_FileName", 110, false},
    {"MainDlg_Tasks_Percent", 55, true},
    {"MainDlg_Tasks_FileSize", 75, true},
    {"MainDlg_Tasks_FilePos", 80, true},
    {"MainDlg_Tasks_Speed", 80, true},
    {"", 0, true},
}};

int IconForState(int state) {
    switch (state) {
        case stateRunning:
            return imgTaskRunning;
        case stateCompleted:
            return imgTaskCompleted;
        case stateQueued:
            return imgTaskWaiting;
        case stateError:
            return imgTaskFailed;
        default:
            return imgTaskStopped;
    }
}

TaskRow BuildTaskRow(const std::string& id, const TaskProgressRecord& record) {
    TaskRow row;
    int64_t size = TextToInt(record.FileSize);
    int64_t pos = TextToInt(record.FilePos);
    row.Columns[0] = record.LocalFileName;
    if (size < 1) {
        // The quotient would divide by zero; the list shows an unknown size
        // the way a running task shows it.
        row.Columns[1] = "??%";
        row.Columns[2] = "??";
    } else {
        double percent = static_cast<double>(pos) / static_cast<double>(size) * 100.0;
        row.Columns[1] = IntToText(static_cast<int64_t>(percent)) + "%";
        row.Columns[2] = record.FileSize;
    }
    row.Columns[3] = record.FilePos;
    row.Columns[kIdColumn] = id;
    row.Icon = IconForState(static_cast<int>(TextToInt(record.State)));
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
        case 0:
        case 1:
            return {0, 0, 139};
        case 3:
            return {139, 0, 0};
        default:
            return {0, 147, 0};
    }
}

Rgb LogLine::Background() const {
    switch (Kind) {
        case 0:
            return {175, 238, 238};
        case 1:
            return {230, 230, 250};
        case 3:
            return {255, 192, 203};
        default:
            return {152, 251, 152};
    }
}

}  // namespace vardane
