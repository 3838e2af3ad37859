// The three list files of task identifiers: UTF-16LE with byte-order mark,
// one identifier and CR LF per line, in display (and queue) order. The
// operations take no lock; callers hold the context's ListLock around every
// walk-and-change sequence.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vardane {

struct CAppContext;

enum class TaskList { Downloading, Completed, Deleted };

// appDir + "Tasks/" + "Downloading.lst", "Completed.lst" or "Deleted.lst".
std::string ListFilePath(const std::string& appDir, TaskList list);

// The identifiers of a list in order; a missing file is an empty list. Lines
// are read in any encoding the line reader knows; empty lines are skipped
// (never the end of the list).
std::vector<std::string> ReadListIds(const std::string& path);

// Adds id at the end; a new or empty file gets the byte-order mark first.
bool AppendListLine(const std::string& path, std::string_view id);
// Removes every line equal to id (case matters). Missing file: nothing.
bool RemoveListLine(const std::string& path, std::string_view id);
// Exchanges a and b wherever they stand; other lines keep their places.
bool SwapListLines(const std::string& path, std::string_view a, std::string_view b);
// Rewrites path atomically as the byte-order mark and one line per id.
bool WriteListFile(const std::string& path, const std::vector<std::string>& ids);

// Whether a task of Downloading.lst was created with address (its progress
// file's BaseURL, ASCII case ignored). Takes ctx.ListLock.
bool IsUrlInDownloadList(CAppContext& ctx, std::string_view address);

}  // namespace vardane
