// The three list files of task identifiers: UTF-16LE with byte-order mark,
// one identifier and CR LF per line, in display (and queue) order. The
// operations take no lock; callers hold the context's ListLock around every
// walk-and-change sequence.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace vardane {

struct AppContext;

enum class TaskList { Downloading, Completed, Deleted };

// appDir + "Tasks/" + "Downloading.lst", "Completed.lst" or "Deleted.lst".
std::string ListFilePath(const std::string& appDir, TaskList list);

// The identifiers of a list in order; a missing file is an empty list. Lines
// are read in any encoding the line reader knows; empty lines are skipped
// (never the end of the list).
std::vector<std::string> ReadListIds(const std::string& path);

// Adds id at the end; a new or empty file gets the byte-order mark first.
bool AppendListLine(const std::string& path, std::string_view id,
                    Durability durability = Durability::Now);
// Removes every line equal to id (case matters). Missing file: nothing.
bool RemoveListLine(const std::string& path, std::string_view id);
// Exchanges a and b wherever they stand; other lines keep their places.
bool SwapListLines(const std::string& path, std::string_view a, std::string_view b);
// Rewrites path atomically as the byte-order mark and one line per id.
bool WriteListFile(const std::string& path, const std::vector<std::string>& ids,
                   Durability durability = Durability::Now);

// Whether path can be read as a list: missing (an empty list), or a file
// whose every line is a task id (digits). Random bytes, a folder or an
// unreadable file in its place are not.
bool IsListFileSound(const std::string& path);
// The ids of a sound list, as ReadListIds gives them, from one read of the
// file; false (and no ids) when IsListFileSound would say it is not. The
// load of 100,000 tasks read each list three times through the line reader.
bool ReadSoundListIds(const std::string& path, std::vector<std::string>& ids);
// Moves a bad list out of the way as path + ".corrupt-<time>"; the new name,
// "" when it could not be moved.
std::string SetAsideListFile(const std::string& path);
// The ids of every progress file of appDir + "Tasks/", oldest id first.
std::vector<std::string> ProgressFileIds(const std::string& appDir);

// Whether a task of Downloading.lst was created with address (its progress
// file's BaseURL, ASCII case ignored). Takes ctx.ListLock.
bool IsUrlInDownloadList(AppContext& ctx, std::string_view address);

}  // namespace vardane
