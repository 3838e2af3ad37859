// Sizes, speeds and times as people read them (1.5 MiB, 230.4 KiB/s,
// 1:02:03), for the window's task list. The list's own texts (bytes and
// KB/s, as the command line prints them) stay in the model.
#pragma once

#include <QString>
#include <cstdint>

namespace vardane {
struct QueuedTask;
}

namespace vardane::gui {

// "512 B", "1.5 KiB", "20.0 MiB", "1.2 GiB" (powers of 1024).
QString ReadableBytes(int64_t bytes);
// A speed in KB/s (1024 bytes) as "230.4 KiB/s".
QString ReadableSpeed(double kbPerSecond);
// Seconds until a running task is done at its current speed; -1 when that
// cannot be told (not running, size unknown, no speed yet).
int64_t SecondsLeft(const QueuedTask& task);
// "0:07", "12:30", "1:02:03"; "" for -1.
QString TimeLeftText(int64_t seconds);

}  // namespace vardane::gui
