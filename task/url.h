// Address parsing, task identifiers and the progress file path.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vardane {

class CDownloadTask;
struct TaskDescriptor;

// A byte below 0x20 or DEL: no address, name or login may carry one into a
// protocol line.
bool HasControlCharacter(std::string_view text);

// Port of a protocol prefix without one in the address: "ftp://" 21,
// "https://" 443, else 80.
int DefaultPort(std::string_view protocol);
// Whether address starts with "http://" or "https://" (any case).
bool IsHttpAddress(std::string_view address);
// Whether address (or a protocol prefix) starts with "https://" (any case).
bool IsHttps(std::string_view address);

// Parses address into the task's descriptor under TaskLock: protocol, host,
// port, user, password, request path, URL, file name and Referer. Only
// "http://", "https://" and "ftp://" (any case) are accepted; control
// characters and ports above 65535 are refused. An http(s) address loses its
// "#fragment" and its blanks are sent as %20 (the file name keeps them). On false the fields
// changed before the failure keep their new values.
bool ParseUrl(CDownloadTask& task, std::string_view address);
// The same on a descriptor the caller guards.
bool ParseUrlInto(TaskDescriptor& d, std::string_view address);

struct PathParts {
    std::string Dir;   // up to and including the last '/' or '\'
    std::string Name;  // the rest up to its first '.'
    std::string Ext;   // from that '.' on, "" without a dot
};
PathParts SplitPath(std::string_view path);

// Local time with milliseconds, the parts of a task identifier.
struct TaskIdTime {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Milli = 0;
};
TaskIdTime LocalTaskIdTime();

// Decimal year, month, day, hour, minute, second, milliseconds and random
// (0..9999), unpadded and without separators.
std::string FormatTaskId(const TaskIdTime& t, int random);

// A new identifier whose progress file under appDir does not exist yet
// (a clash is drawn again with a fresh time and random number).
std::string MakeTaskId(const std::string& appDir);
// Same with the time and random sources given (tests).
std::string MakeTaskId(const std::string& appDir, const std::function<TaskIdTime()>& now,
                       const std::function<int()>& random);

// appDir + "Tasks/" + id + ".pro~"; appDir ends with '/'.
std::string ProgressFilePath(const std::string& appDir, std::string_view id);

}  // namespace vardane
