// The per-task progress file: UTF-16LE with byte-order mark, CR LF lines,
// section [FileInfo], sixteen keys in a fixed order, then the optional keys
// that are set.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "task/file_validators.h"
#include "task/request_headers.h"
#include "task/task_state.h"

namespace vardane {

struct AppSettings;

class DownloadTask;

inline constexpr std::string_view kDefaultCategoryPath = "SOFTWARE\\Vardane\\Categories\\Download";

// The text fields of a progress file, in file order; each holds the value
// text. Defaults are those of a missing key.
struct TaskProgressRecord {
    std::string BaseURL;
    std::string LocalDir;  // a folder ending with '/'
    std::string LocalFileName;
    std::string LocalTempFileName;  // LocalFileName + ".vd~" once created
    std::string ProxyHTTP = "1";
    std::string ProxyFTP = "1";
    std::string State = "2";
    std::string ThreadCount = "1";
    std::string Folder = "0";
    std::string Cat = std::string(kDefaultCategoryPath);
    std::string FileSize;  // empty while unknown
    std::string FilePos;
    std::array<std::string, 4> Block;  // "From-To"

    // Keys after the designed lines, each written only when it has a value
    // (a record without them is written as before and still loads).
    // The server's version of the file that the stored bytes come from:
    // keys ETag, LastModified and MDTM.
    FileValidators Validators;
    std::string Checksum;  // "sha256=<hex>" as given for the task; "" none
    // The task's own Cookie, Referer and User-Agent values (keys Cookie,
    // Referer and UserAgent).
    RequestHeaders Headers;
    // The line that said why the task failed last (key LastError): one
    // line, no control characters, passwords masked, at most
    // kMaxLastErrorBytes; "" once the task runs again.
    std::string LastError;
};

inline constexpr size_t kMaxLastErrorBytes = 300;

// A record in one block of memory: the fields' texts, each after its
// length. The task list keeps every task's record, and as sixteen and more
// separate strings the records of 100,000 tasks took three quarters of the
// window's memory. An empty text stands for the defaults.
std::string PackProgress(const TaskProgressRecord& record);
TaskProgressRecord UnpackProgress(std::string_view packed);
// BaseURL of a packed record, without unpacking the rest.
std::string_view PackedBaseUrl(std::string_view packed);

// File bytes <-> record. ParseProgress gives the defaults for anything that
// is not UTF-16LE with a byte-order mark.
std::string FormatProgress(const TaskProgressRecord& record);
TaskProgressRecord ParseProgress(std::string_view bytes);

// The fields of a record in file order, which is also their packed order.
enum class ProgressField : uint8_t {
    BaseURL,
    LocalDir,
    LocalFileName,
    LocalTempFileName,
    ProxyHTTP,
    ProxyFTP,
    State,
    ThreadCount,
    Folder,
    Cat,
    FileSize,
    FilePos,
    Block0,
    Block1,
    Block2,
    Block3,
    ETag,
    LastModified,
    MDTM,
    Checksum,
    Cookie,
    Referer,
    UserAgent,
    LastError,
};
inline constexpr size_t kProgressFieldCount = 24;

// Parses progress files one after another as ParseProgress does, into texts
// that view its own buffer: no string per key, and the packed record in one
// allocation. The load of a list of 100,000 tasks parses every file, and a
// record of two dozen strings for each was most of its time.
class ProgressParser {
  public:
    // The texts stay valid until the next Parse.
    void Parse(std::string_view bytes);
    std::string_view Text(ProgressField field) const { return texts_[static_cast<size_t>(field)]; }
    // PackProgress(Record()).
    std::string Packed() const;
    TaskProgressRecord Record() const;

  private:
    std::string decoded_;
    std::array<std::string_view, kProgressFieldCount> texts_{};
};

// Never fails: a missing or unreadable file gives the defaults.
TaskProgressRecord ReadProgress(const std::string& path);
// Replaces the file atomically with mode 0600 (BaseURL may hold a password).
// False when nothing was written; the old file then stays.
bool WriteProgress(const TaskProgressRecord& record, const std::string& path,
                   Durability durability = Durability::Now);

// The record of a new stopped task for url, saved as fileName in folder,
// with the proxies and connection count of settings, no temporary file,
// Folder 0 and the Download category (an import, a file picked in the site
// explorer).
TaskProgressRecord NewStoppedTaskRecord(const AppSettings& settings, std::string_view url,
                                        std::string_view folder, std::string_view fileName);
// Read, change, write back. Takes no lock.
bool UpdateProgress(const std::string& path, const std::function<void(TaskProgressRecord&)>& change,
                    Durability durability = Durability::Now);

// Clears what describes the bytes of an earlier run (temporary file name,
// size, position, blocks and the server's version): the task starts from
// the first byte.
void ForgetStoredBytes(TaskProgressRecord& record);

// False when FileSize, FilePos or a block holds what no file can have: not
// decimal digits, beyond 2^62 bytes, a position past the size.
bool ProgressNumbersValid(const TaskProgressRecord& record);
// A progress file whose numbers are not valid: a copy of it is kept as
// path + ".corrupt-<time>", the temporary file it names is deleted and the
// sizes, blocks and temporary name are cleared, so the task starts from
// zero. Returns the record as it is now. Takes no lock.
TaskProgressRecord SetAsideCorruptProgress(const std::string& path);

// The record of a running task lives in DownloadTask::Record, under its
// ProgressLock. The functions below change it there and write the progress
// file behind it; none reads the file. Call them without any task lock.

// Takes record as the task's record; fileBytes is what its progress file
// holds now (FormatProgress of record when the owner has just written it),
// so that a save with nothing new writes nothing.
void AdoptTaskRecord(DownloadTask& task, const TaskProgressRecord& record, std::string fileBytes);
// A copy of the task's record.
TaskProgressRecord TaskRecord(DownloadTask& task);
// Changes the record in memory only: the next save writes it. For values
// that matter only together with a later save (a size, a name, the
// temporary file before its first byte is written).
void StageTaskProgress(DownloadTask& task, const std::function<void(TaskProgressRecord&)>& change);
// Changes the record and writes the file when its content changed.
bool UpdateTaskProgress(DownloadTask& task, const std::function<void(TaskProgressRecord&)>& change,
                        Durability durability = Durability::Now);
// Merges the task's live values (BaseURL, ThreadCount, FileSize, FilePos,
// blocks) into its record and writes the file when it changed.
// Durability::Deferred is for the saves a running download makes as it
// goes: replaced by rename all the same, but not flushed (the bytes they
// count are not flushed either, and a flush waits behind every other writer
// of the disk while the workers wait for the lock).
void SaveProgress(DownloadTask& task, Durability durability = Durability::Now);
// SaveProgress(task, Durability::Deferred) unless another save holds the
// ProgressLock: a worker never waits behind a save that the disk holds up.
// False when it skipped.
bool TrySaveProgress(DownloadTask& task);

// Sees every read and write of a progress file (tests count them). One
// observer per process; nullptr removes it. Called without any lock held
// by this module; an observer must not call back into it.
class IProgressFileObserver {
  public:
    virtual ~IProgressFileObserver() = default;
    virtual void OnProgressRead(const std::string& path) = 0;
    virtual void OnProgressWritten(const std::string& path, const std::string& bytes) = 0;
};
void SetProgressFileObserver(IProgressFileObserver* observer);
// ReadFileBytes of a progress file, seen by the observer.
bool ReadProgressBytes(const std::string& path, std::string& bytes);

// State of a task that is not running (defaults give TaskState::Stopped 2).
TaskState GetTaskState(const std::string& appDir, std::string_view id);
void SetTaskState(const std::string& appDir, std::string_view id, TaskState state);

}  // namespace vardane
