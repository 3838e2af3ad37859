#include "gui/readable_units.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "app/task_queue.h"

namespace vardane::gui {

QString ReadableBytes(int64_t bytes) {
    if (bytes < 1024) {
        return QString::number(bytes) + QStringLiteral(" B");
    }
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    // Rounded as shown: 1023.96 KiB reads "1.0 MiB", never "1024.0 KiB".
    while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    return QString::number(value, 'f', 1) + QLatin1Char(' ') + QLatin1String(kUnits[unit]);
}

QString ReadableSpeed(double kbPerSecond) {
    if (!(kbPerSecond > 0)) {
        return QStringLiteral("0 B/s");
    }
    return ReadableBytes(static_cast<int64_t>(std::llround(std::min(kbPerSecond, 1e12) * 1024.0))) +
           QStringLiteral("/s");
}

int64_t SecondsLeft(const QueuedTask& task) {
    if (task.State != TaskState::Running || task.Size <= 0 || !(task.SpeedKb > 0)) {
        return -1;
    }
    const int64_t left = task.Size > task.Pos ? task.Size - task.Pos : 0;
    return static_cast<int64_t>(std::ceil(static_cast<double>(left) / (task.SpeedKb * 1024.0)));
}

QString TimeLeftText(int64_t seconds) {
    if (seconds < 0) {
        return {};
    }
    const int64_t hours = seconds / 3600;
    const int minutes = static_cast<int>(seconds / 60 % 60);
    const int secs = static_cast<int>(seconds % 60);
    const QString tail = QStringLiteral("%1").arg(secs, 2, 10, QLatin1Char('0'));
    if (hours == 0) {
        return QString::number(minutes) + QLatin1Char(':') + tail;
    }
    return QString::number(hours) + QLatin1Char(':') +
           QStringLiteral("%1").arg(minutes, 2, 10, QLatin1Char('0')) + QLatin1Char(':') + tail;
}

}  // namespace vardane::gui
