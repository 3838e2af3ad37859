// The in-memory state of one task slot: address fields, local names, blocks,
// counters, the launch records of its workers and its locks.
//
// Lock order (never wait for a lock that comes earlier than one you hold):
//   CreateFileLock (process-wide) -> ProgressLock -> TaskLock -> FileLock -> StopLock.
// ListLock and SpeedLock (process-wide) are never taken while a task lock is
// held, and no owner notification is sent while a task lock is held.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "settings/proxy_record.h"
#include "task/file_validators.h"
#include "task/progress_file.h"
#include "task/request_headers.h"
#include "task/task_owner.h"
#include "task/task_state.h"

namespace vardane {

struct AppContext;
class DownloadTask;

// Worker thread states of the HTTP side. The FTP worker uses its own values
// 3..21 (engine/), so a record keeps its state as a plain int.
enum ThreadState : int {
    tsDisconnect = 0,    // not connected; wait the retry time, then connect
    tsConnecting = 1,    // connect under way
    tsConnected = 2,     // connection (or proxy tunnel) up, request not sent
    tsReconnect = 22,    // close and connect again at once, no retry wait
    tsReceiving = 23,    // receiving body bytes
    tsRequestSent = 24,  // request sent, reading the response header
    tsSwitchToFtp = 26,  // a redirect led to an FTP address: restart as FTP
    tsStop = 27,         // the worker ends
};

inline constexpr int kMaxThreads = 4;
inline constexpr int kBlockCount = 4;
inline constexpr size_t kMaxThreadLog = 30;
inline constexpr size_t kReplyBufferSize = 4096;

// One byte range, 1-based and inclusive. From = To = 0: unused element;
// From = To != 0: finished; From < To: bytes outstanding. Single-stream
// mode uses element 0 as [From, 0] and only advances From.
struct TaskBlock {
    int64_t From = 0;   // position of the next byte to fetch (file offset From - 1)
    int64_t To = 0;     // position of the last byte of the block
    bool Lock = false;  // a worker has claimed the block
    // Last byte position that the claiming worker's request asked for (0:
    // none known). The server is already sending those bytes, so a split
    // leaves them to that worker. Kept in memory only.
    int64_t Asked = 0;
};

using TaskBlocks = std::array<TaskBlock, kBlockCount>;

// Connection and progress fields of a task; copied whole into worker steps
// and owner notifications. The live copy in DownloadTask is guarded by
// TaskLock.
struct TaskDescriptor {
    std::string Host;
    int Port = 0;
    std::string User, Password;
    std::string LocalDir;       // target folder, ends with '/'
    std::string LocalFileName;  // target file name inside LocalDir
    std::string RequestPath;    // path and query sent to the server
    std::string URL;            // address now in use (redirects replace it)
    std::string BaseURL;        // address the task was created with
    std::string FileName;       // from the address or a Content-Disposition header
    std::string Protocol;       // "http://" or "ftp://"
    std::string ProgressPath;   // full path of the progress file
    bool NoSuccessor = false;   // start no waiting task after this one; set by Finish
    std::string Referer;
    int64_t FileSize = 0;              // 0 while unknown
    int ThreadCount = 1;               // worker threads, 1..4
    int RunningThreads = 0;            // worker threads of this task now alive
    int64_t Downloaded = 0;            // bytes received and accounted to blocks
    std::optional<TaskBlocks> Blocks;  // none before the file size is known
    // Bytes from the start that the first request asked for (0: all or
    // none); the first block of a fresh split covers at least those.
    int64_t FirstAsked = 0;
    int BestPercent = -1;        // highest completion percentage seen
    int64_t PrevDownloaded = 0;  // Downloaded at the last one-second tick
    double AvgSpeedKB = 0;       // mean of the speed samples, KB/s
    bool RangeMode = true;       // size known, byte ranges used; false: one stream
    std::string TaskId;
    TaskState State = TaskState::Stopped;
    ProxyRecord ProxyHTTP;
    ProxyRecord ProxyFTP;
    int64_t SaveCounter = 0;  // KB received since the progress file was rewritten
    // The server's version of the file whose bytes the task holds (empty
    // while unknown); a ranged request asks for that version only.
    FileValidators Validators;
    // The task's own Cookie, Referer and User-Agent (engine/task_headers.h
    // says which request gets which).
    RequestHeaders TaskHeaders;
    // The task's record as its progress file holds it, handed back to the
    // owner with the task's end (OnTaskState); empty in every other notice.
    std::optional<TaskProgressRecord> FinalRecord;

    // LocalDir followed by LocalFileName.
    std::string LocalPath() const { return LocalDir + LocalFileName; }
    // The temporary file beside the target.
    std::string TempPath() const { return LocalPath() + ".vd~"; }
};

// Launch record of one worker. The worker runs on its own copy; the copy in
// the task is the launch record and holds the thread's log list.
struct ThreadRecord {
    DownloadTask* Task = nullptr;
    int64_t Quota = 0;         // bytes this thread may read now
    int Id = 0;                // index of the claimed block (see HasBlock)
    int ThreadId = 0;          // 0..3; thread 0 probes and starts the others
    int State = tsDisconnect;  // ThreadState or an FTP state
    int RetryWait = 0;         // seconds before the next connect
    int Retries = 0;           // failed connects counted under RetryLimit
    int Waited = 0;            // milliseconds without network events
    bool SizeChecked = false;  // local file and blocks are ready
    std::array<char, kReplyBufferSize> ReplyBuffer{};  // response header so far
    int ReplyLength = 0;
    bool ThreadsStarted = false;  // thread 0 has launched the others
    bool PeerClosed = false;      // the server closed the connection
    // Recent log entries of this thread (launch record only), at most
    // kMaxThreadLog; guarded by the task's TaskLock.
    std::vector<TaskLogEntry> LogList;
    bool HasBlock = false;  // holds a claimed block to release on disconnect
    std::string ListType;   // TYPE argument before an FTP listing: "A", "I" or ""
};

// One task slot, constructed once and reused for every task run in it.
class DownloadTask {
  public:
    // Builds the records and descriptor, resets, and leaves the slot idle
    // (stopped).
    explicit DownloadTask(AppContext& context);
    ~DownloadTask();
    DownloadTask(const DownloadTask&) = delete;
    DownloadTask& operator=(const DownloadTask&) = delete;

    // Releases the blocks and clears the address and local name fields;
    // port, sizes and counters 0, range mode on. Locks stay in place.
    // Takes TaskLock.
    void Reset();

    // index >= 0 only: sets the element's Lock (when blocks exist) under
    // TaskLock, then sends a trace line. Call without TaskLock.
    void SetBlockUsedState(int index, bool lock);

    bool IsStopped();
    void SetStop(bool stop);
    // Sets NoSuccessor to noSuccessor and the stop flag. Takes TaskLock then
    // StopLock; a caller that already holds TaskLock uses FinishLocked.
    void Finish(bool noSuccessor);
    void FinishLocked(bool noSuccessor);

    // Adds delta under TaskLock and returns the new count, so exactly one
    // ending worker sees 0.
    int AddRunningThreads(int delta);
    int GetRunningThreads();
    int64_t GetDownloaded();
    // Copy of the descriptor under TaskLock (for notifications and steps).
    TaskDescriptor Snapshot();

    // Store under TaskLock, then set the record's key under ProgressLock:
    // SetState writes the progress file at once (when the state changed),
    // SetFileSize leaves it to the next save. Call without any task lock. A running task's own
    // rewrites are not flushed (Durability::Deferred): the task's end
    // flushes the whole record once, and until then a flush per change would
    // hold the download up behind every other writer of the disk.
    void SetState(TaskState state, Durability durability = Durability::Deferred);
    void SetFileSize(int64_t size);
    // Under ProgressLock: only while the record has no LocalTempFileName,
    // sets LocalFileName in the descriptor and the record (written by the
    // next save). Returns whether the name was set.
    bool SetLocalFileName(const std::string& name);

    std::string LocalPath();  // under TaskLock
    std::string TempPath();   // LocalPath() + ".vd~"

    // Log list of launch record n (0..3): appends under TaskLock, emptying a
    // full list first. Call without TaskLock (the owner is told afterwards by
    // the caller, outside every lock).
    void AppendThreadLog(int n, TaskLogEntry entry);
    std::vector<TaskLogEntry> ThreadLog(int n);  // copy under TaskLock
    void ClearThreadLogs();                      // under TaskLock

    // Sends a fixed-format trace line to TraceHook (no-op when unset).
    void Trace(const std::string& line) const;

    AppContext& ctx;
    std::atomic<bool> Active{false};                // the slot holds a started task
    std::array<ThreadRecord, kMaxThreads> threads;  // launch records; LogList under TaskLock
    TaskDescriptor descriptor;                      // under TaskLock
    std::mutex ProgressLock;                        // the record and the progress file
    // The running task's record: handed over by the owner at the start (or
    // read once when none is handed over), changed in memory and written
    // behind to the progress file; the engine never reads that file back.
    // Guarded by ProgressLock, like the bytes last written to the file.
    TaskProgressRecord Record;
    std::string RecordWritten;             // FormatProgress of what the file holds
    bool RecordDurable = false;            // that content has been flushed
    std::mutex FileLock;                   // the temporary file
    std::mutex TaskLock;                   // descriptor, blocks, counters, log lists, speed samples
    std::mutex StopLock;                   // the stop flag
    std::array<double, 5> SpeedSamples{};  // last five one-second speeds, KB/s
    int SampleCount = 0;                   // valid samples, 0..5
    // Written under StopLock; atomic as well so that hot loops may peek
    // without the lock. Use IsStopped/SetStop.
    std::atomic<bool> Stop{true};
    ITaskOwner* owner = nullptr;  // receiver of notifications; nullptr = none
    // Receiver of the fixed-format trace lines; set before the task runs.
    std::function<void(const std::string&)> TraceHook;
};

}  // namespace vardane
