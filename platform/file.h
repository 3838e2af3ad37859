// File system helpers. Paths use '/', folders end with '/'.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vardane {

// Replaces path with bytes atomically: a temporary file in the same folder is
// written, fsync'ed and renamed over path, so a crash leaves either the old or
// the new file. The file gets mode `mode` (before umask is not applied: the
// mode is set explicitly). Returns false and leaves path untouched on failure.
// Durability::Deferred skips both fsyncs: for a batch of new files the caller
// calls SyncFileSystem once before anything names them; for a single file it
// may call SyncExistingFile later, off the path that wrote it.
enum class Durability { Now, Deferred };
[[nodiscard]] bool WriteFileAtomic(const std::string& path, std::string_view bytes,
                                   mode_t mode = 0644, Durability durability = Durability::Now);
// Makes an existing file and its name durable (fsync of the file and its
// folder): a write left unflushed, or one skipped because the file already
// held its bytes.
[[nodiscard]] bool SyncExistingFile(const std::string& path);
// Flushes the file system that holds folder (syncfs); false on failure.
[[nodiscard]] bool SyncFileSystem(const std::string& folder);

// The fsync every durable write goes through. Tests replace it to see that
// the file and its folder are synced (and to make a sync fail); pass nullptr
// to restore the system's.
using SyncFunction = int (*)(int fd);
void SetSyncFunctionForTest(SyncFunction sync);

// Appends bytes to path, creating it with `mode` when missing.
[[nodiscard]] bool AppendFile(const std::string& path, std::string_view bytes, mode_t mode = 0644);

// Reads the whole file; false when it cannot be opened or read.
bool ReadFileBytes(const std::string& path, std::string& out);

bool FileExists(const std::string& path);
// A file, folder or link of that name exists (one trailing '/' ignored; a
// dangling link counts, as it blocks the name).
bool PathExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates the folder and its parents (mode 0755); true when it exists
// afterwards.
bool MakeDirectories(const std::string& path);
bool RemoveFile(const std::string& path);

// What stands at a name in a folder that others may write. Only a regular
// file of this user with no other name is ever opened or removed there: a
// link (or a second name of a file) would lead elsewhere, and a file another
// user made is theirs.
enum class OwnFileCheck { Absent, Ours, NotRegular, HasLinks, NotOwned };
// st from lstat or fstat.
OwnFileCheck CheckOwnFile(const struct stat& st);
// Absent also when the name cannot be looked at.
OwnFileCheck CheckOwnFilePath(const std::string& path);
// Removes path when it is this user's own plain file and leaves anything
// else alone; false only when such a file could not be removed.
bool RemoveOwnFile(const std::string& path);
// Size in bytes, -1 when the file does not exist.
int64_t FileSize(const std::string& path);

// Ensures a trailing '/'.
std::string WithTrailingSlash(std::string path);
// The folder part of path with its trailing '/'; "" when path has no '/'.
std::string FolderOf(const std::string& path);

}  // namespace vardane
