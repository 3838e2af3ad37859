// The worker frame shared by the HTTP and FTP workers: task start, the
// worker thread's main loop (connect, 500 ms event waits, retry wait),
// time-out and retry accounting, block claim and release, the end of a worker
// and of a task, and the task log.
//
// A protocol plugs into the frame through IProtocolHandler: one handler
// object per worker thread, so it may keep per-connection state. The frame
// picks the handler from the address's protocol prefix ("http://" or
// "ftp://"); an HTTP redirect to an ftp:// address sets tsSwitchToFtp and the
// frame restarts the task as FTP on the same slot.
//
// Threads: every worker thread of a slot is owned by its TaskSlot and joined
// by it, so no worker ever outlives the task object it works on.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "engine/digest_header.h"
#include "net/connection_owner.h"
#include "net/event_socket.h"
#include "platform/periodic_thread.h"
#include "task/download_task.h"

namespace vardane {

struct AppContext;
class TaskSlot;
class Worker;

// The part of a worker that speaks one protocol.
class IProtocolHandler {
  public:
    virtual ~IProtocolHandler() = default;
    // Connection slots the worker closes at its end: HTTP 1, FTP 3.
    virtual int ConnectionCount() const = 0;
    // Whether thread 0 of a resumed task (progress file with a FileSize)
    // prepares the local file and the blocks before its first connect
    // (HTTP: yes; FTP: no, it prepares after SIZE).
    virtual bool PreparesOnResume() const = 0;
    // State tsDisconnect or tsReconnect: close, reconnect.
    virtual void ConnectStep(Worker& w) = 0;
    // Every other state: wait up to 500 ms for network events and react.
    virtual void EventStep(Worker& w) = 0;
};

// Restarts of a single stream in a row that end no further than the best
// before, after which a worker gives up although RetryLimit is off.
inline constexpr int kMaxRepeatedStreams = 10;

// Handlers of the two protocols (engine/http_worker.cpp, engine/ftp_worker.cpp).
std::unique_ptr<IProtocolHandler> MakeHttpHandler();
std::unique_ptr<IProtocolHandler> MakeFtpHandler();
// By protocol prefix: "ftp://" gives FTP, anything else HTTP.
std::unique_ptr<IProtocolHandler> MakeProtocolHandler(std::string_view protocol);

// A worker's own record: the launch record it started from and its
// connections. Sockets belong to the worker thread alone, so they live here
// and never in the task.
struct WorkerRecord : ThreadRecord {
    explicit WorkerRecord(const ThreadRecord& launch) : ThreadRecord(launch) {}
    // Three connection slots with their network events; HTTP uses slot 0,
    // FTP also slots 1 and 2.
    ConnectionSet Connections;
};

// One running worker: its own copy of the launch record and what the steps
// need. Lives on the worker thread's stack; only that thread touches it.
class Worker : public IConnectionOwner {
  public:
    Worker(TaskSlot& slot, const ThreadRecord& launch, IProtocolHandler& handler);

    TaskSlot& slot;
    DownloadTask& task;
    AppContext& ctx;
    IProtocolHandler& handler;
    WorkerRecord rec;  // the thread's own record (connections, state, block)

    int ThreadNo() const { return rec.ThreadId; }
    int State() const { return rec.State; }

    // IConnectionOwner: the task's stop flag, and TaskLog for this thread.
    bool IsStopped() override;
    void ThreadLog(LogKind kind, const std::string& text) override;

    // Localized text of key (cached by the language table).
    std::string Text(std::string_view key) const;
    // TaskLog of the localized text of key, a space and values (just the
    // text when values is empty).
    void LogKey(LogKind kind, std::string_view key, std::string_view values = "");

    // True when the task is stopped or all bytes of a known size are in.
    bool AtEnd();
    // The task's RangeMode, under TaskLock.
    bool RangeMode();

    // Claims a block (FindFreeBlock under TaskLock) into rec.Id and sets
    // HasBlock. traceName is "HTTPCheckBlock" or "FTPCheckBlock". Fails
    // when stopped, complete or nothing is left (the caller sets tsStop).
    bool ClaimBlock(std::string_view traceName);
    // If HasBlock: trace, SetBlockUsedState(Id, false), clear HasBlock.
    void ReleaseBlock();

    // A 500 ms wait without events: counts the time-out (Log_TimeOut and
    // tsDisconnect at ConnectionTimeOut).
    void OnIdleTick();
    // Before a connect (the start of a try): a try that moved its block
    // forward resets the count of failed tries. With RetryLimit on, a worker
    // that has used up RetryCounts tries gives up (GiveUp) and gets false;
    // otherwise the try is counted. Only progress resets the count, so a
    // server that accepts and then fails every time is limited too.
    // restartsStream: the try fetches a cut single stream again from its
    // first byte. That always counts, and kMaxRepeatedStreams restarts in a
    // row that never got further than the best before end the worker even
    // with RetryLimit off.
    bool CountConnectAttempt(bool restartsStream = false);
    // A failed try that keeps its connection (a refused USER): counted like
    // a connect; false after GiveUp.
    bool CountFailedTry();
    // Too many tries: Log_TooManyRetry, the block goes back to the others,
    // the task fails unless its bytes all come in, tsStop.
    void GiveUp();
    // The server's file is another version than the one whose bytes are on
    // disk (a failed If-Range, another ETag or MDTM time, another size):
    // logs Log_FileChanged, stops every worker of the task and ends this
    // one; the last worker out drops the bytes and starts the task again
    // from the first byte (WorkerEnd). Call without any task lock.
    void FileChanged();
    // The protocol says the single stream ended completely (226 after RETR,
    // HTTP: the last chunk, or the close of a body without a length). Only
    // then does a stream of unknown length end as completed.
    void MarkStreamEnded();
    // After a step: notes progress of the try; releases the block on
    // tsDisconnect/tsReconnect; on tsDisconnect, and on a tsReconnect of a
    // try that wrote nothing, sets the retry wait and logs it.
    void AfterStep(const std::string& host, int port);
    // Logs the two lines of a failed connect ("Log_CanNotConnect host:port",
    // "Log_RetryWait1 <sec> Log_RetryWait2") and sets the retry wait.
    void LogRetry(const std::string& host, int port);

    // Thread 0, once: OnTaskThreads to the owner, then launches workers 1 to
    // ThreadCount - 1 with the same protocol (SizeChecked set, no block).
    void StartOtherThreads();

    // SendCommand on this worker's connections (slot 0), logged as sent with
    // secret and credential headers masked.
    void SendText(std::string_view text, std::string_view secret = "");

    // True when the current try has written bytes (or moved the task on: a
    // redirect, a fall-back to one stream).
    bool TryProgressed();
    // The next try will differ from this one (it asks in another way): it
    // follows at once, as after progress.
    void MarkTryProgressed();

    // Settings the steps use, read under SpeedLock (the settings reload runs
    // under it). Never call with a task lock held.
    struct Settings {
        int ConnectionTimeOut = 30, RetryWaitSec = 30, RetryCounts = 99;
        bool RetryLimit = false;
        int64_t MinBlock = 0;
        bool HTTPSendReferer = false, HTTPEnableCookies = false, RefuseHttpsDowngrade = false;
        std::string UserAgent, CookieFile, CAFile;
    };
    Settings ReadSettings() const;

  private:
    // What the current try started from, to see whether it got anywhere.
    struct TryMark {
        int block = -1;    // block observed, -1 when none is held
        int64_t from = 0;  // its From when observed
        std::string url;
        bool rangeMode = false;
        bool progressed = false;
        int64_t streamBest = 0;  // furthest a restarted single stream got
        int streamRepeats = 0;   // restarts in a row that got no further
    };
    void BeginTry();
    void ObserveProgress();
    TryMark try_;
};

// What a slot thread, a command or a test does with a task slot. Owns the
// DownloadTask and every worker thread started for it; the destructor stops
// the task and joins its workers. Destroy a slot only when no worker can be
// blocked in an owner call that the destroying thread would have to serve
// (pump the window loop until Idle(), or close the loop first).
class TaskSlot {
  public:
    explicit TaskSlot(AppContext& context);
    ~TaskSlot();
    TaskSlot(const TaskSlot&) = delete;
    TaskSlot& operator=(const TaskSlot&) = delete;

    AppContext& ctx;
    DownloadTask task;

    // Stop command: Finish(noSuccessor). The task reports its end later
    // through OnTaskState.
    void Stop(bool noSuccessor);
    // A stop command came since the task started (reset by StartTask under
    // TaskLock). The stop flag alone does not tell: a download that completes
    // sets it too.
    std::atomic<bool> StopCommanded{false};
    // True when no worker thread of this slot is alive.
    bool Idle();
    // Waits until every worker thread has ended and joins them. Never call it
    // on a thread that serves the owner's calls while workers may call it.
    void JoinWorkers();

    // Starts a worker thread on launch record `launch` with handler.
    void Launch(const ThreadRecord& launch, std::unique_ptr<IProtocolHandler> handler);

    // The thread that rewrites the progress file while the task runs
    // (SaveProgressIfDue every kSaveInterval). A rename on a busy disk can
    // take a second; on its own thread it never holds a connection's reads.
    // StartSaver restarts it; StopSaver returns once it has ended.
    void StartSaver();
    void StopSaver() { saver_.Stop(); }

    // The temporary file kept open between writes (engine/file_writer.cpp);
    // -1 when closed. Guarded by task.FileLock.
    int TempFd = -1;
    std::string TempFdPath;
    // Changes whenever the kept-open file is closed or replaced (written
    // under task.FileLock), so that a write decided under TaskLock and made
    // after it was released never lands in a file that came after
    // (WriteTempIfSameFile).
    std::atomic<uint64_t> FileEpoch{0};

    // Per-run engine state, reset by StartTask; guarded by task.TaskLock.
    bool FilePrepared = false;      // local file and blocks prepared for this run
    int StreamOwner = 0;            // single-stream mode: the one thread that reads
    std::string FtpSwitchUrl;       // a redirect to FTP waits for the last worker
    bool StreamEnded = false;       // the single stream ended as its protocol says
    bool RetriesExhausted = false;  // a worker gave up after too many tries
    bool FileChanged = false;       // a new version on the server: the last worker restarts
    // Restarts for a new version since the owner started the task; a file
    // that keeps changing fails the task at kMaxFileChanges.
    int FileChanges = 0;
    static constexpr int kMaxFileChanges = 3;
    // The whole file's digest as the first whole-file reply announced it.
    std::optional<AnnouncedDigest> ServerDigest;
    // The progress file is rewritten while bytes flow, at most this often,
    // so a killed process loses at most this much transfer.
    static constexpr std::chrono::milliseconds kSaveInterval{500};
    std::chrono::steady_clock::time_point lastSave{};
    int64_t SavedDownloaded = -1;

  private:
    struct WorkerThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void ReapFinished();  // joins threads that have finished (under threadsLock_)

    std::mutex threadsLock_;
    std::list<WorkerThread> threads_;

    PeriodicThread saver_;
};

// Starts task id in slot: takes its record (record, which its owner has
// just written to the progress file; without one the file is read once),
// loads the HTTP and FTP proxy records, parses the address (urlOverride when
// not empty, else BaseURL), creates the target folder and launches worker 0.
// Without a progress file nothing happens; an unparsable address sets
// TaskState::Failed and logs Log_InvalidURL. Returns whether worker 0 was started.
bool StartTask(TaskSlot& slot, const std::string& id, const std::string& urlOverride = "",
               const TaskProgressRecord* record = nullptr);
// Starts the slot's task again on the record it has in memory (a redirect to
// FTP, a new version of the file on the server).
bool RestartTask(TaskSlot& slot, const std::string& urlOverride);

// The worker thread body: main loop until tsStop (or tsSwitchToFtp).
void RunWorker(TaskSlot& slot, const ThreadRecord& launch, IProtocolHandler& handler);

// Sleeps up to seconds in 100 ms slices; returns early when the task is
// stopped or complete. 0 returns at once.
void RetryWait(DownloadTask& task, int seconds);

// Under TaskLock: index of a block to work on (claimed), or -1. First an
// unclaimed block with bytes outstanding; else the upper half of the largest
// outstanding block is split off into a free element, when that remainder is
// at least minBlock bytes.
int FindFreeBlock(TaskDescriptor& d, int64_t minBlock);

// First split of the file into ThreadCount blocks, or the blocks stored in
// the progress file (resume); then the progress file is rewritten.
bool PrepareBlocks(DownloadTask& task);

// Closes the first n connections of the worker, counts the thread out, logs
// Log_Disconnected and, for the last thread of the task, runs TaskEnd.
void WorkerEnd(Worker& w, int n);
// Rewrites the progress file when bytes came in since the last save and
// kSaveInterval has passed (the slot's saver thread calls it).
void SaveProgressIfDue(TaskSlot& slot);
// Final state, SaveProgress, rename of the temporary file on completion,
// Active cleared, OnTaskState to the owner.
void TaskEnd(TaskSlot& slot);

// Adds a log line of thread n (0..3) to the task's log list and sends it to
// the owner. Empty texts, "\r\n" and "\r\n\r\n" are dropped; CR and LF are
// removed. Call without any task lock.
void TaskLog(DownloadTask& task, LogKind kind, int n, std::string_view text);

}  // namespace vardane
