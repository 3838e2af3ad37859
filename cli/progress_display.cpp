#include "cli/progress_display.h"

#include <cstdlib>

#include "app/task_rows.h"
#include "platform/text.h"

namespace vardane {

std::string FormatDuration(int64_t seconds) {
    if (seconds < 0) {
        return "?";
    }
    auto two = [](int64_t v) { return (v < 10 ? "0" : "") + IntToText(v); };
    int64_t h = seconds / 3600;
    int64_t m = seconds / 60 % 60;
    int64_t s = seconds % 60;
    return h > 0 ? IntToText(h) + ":" + two(m) + ":" + two(s) : IntToText(m) + ":" + two(s);
}

int64_t RemainingSeconds(const TaskRow& row) {
    int64_t size = TextToInt(row.Columns[2]);
    int64_t pos = TextToInt(row.Columns[3]);
    double speed = std::strtod(row.Columns[4].c_str(), nullptr);
    if (size < 1 || speed <= 0 || pos > size) {
        return -1;
    }
    return static_cast<int64_t>(static_cast<double>(size - pos) / (speed * 1024.0));
}

namespace {

std::string Numbers(const TaskRow& row) {
    std::string speed = row.Columns[4].empty() ? "0.0 KB/s" : row.Columns[4];
    std::string pos = row.Columns[3].empty() ? "0" : row.Columns[3];
    return row.Columns[1] + "  " + pos + "/" + row.Columns[2] + " bytes  " + speed + "  ETA " +
           FormatDuration(RemainingSeconds(row));
}

}  // namespace

std::string ProgressLine(const TaskRow& row) {
    return row.Columns[0] + "  " + Numbers(row);
}

std::string ProgressBar(const TaskRow& row, int width) {
    int64_t percent = row.Columns[1] == "??%" ? 0 : TextToInt(row.Columns[1]);
    percent = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
    int filled = static_cast<int>(percent * width / 100);
    return row.Columns[0] + " [" + std::string(filled, '#') + std::string(width - filled, '.') +
           "] " + Numbers(row);
}

}  // namespace vardane
