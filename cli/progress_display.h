// How get and run show a running task: a bar on a terminal, one plain line
// per second otherwise.
#pragma once

#include <cstdint>
#include <string>

namespace vardane {

struct TaskRow;

// "1:05", "1:02:03"; "?" for a negative count.
std::string FormatDuration(int64_t seconds);
// Seconds left at the row's speed, -1 when size or speed is unknown.
int64_t RemainingSeconds(const TaskRow& row);
// name, percent, position/size, speed, remaining time, tab-free.
std::string ProgressLine(const TaskRow& row);
// The same with a bar of width characters before the numbers.
std::string ProgressBar(const TaskRow& row, int width);

}  // namespace vardane
