// Task slots: task start, the worker threads a slot owns, the end of a worker
// and of a task, and the task log.
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "engine/checksum_check.h"
#include "engine/file_writer.h"
#include "engine/worker.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/progress_file.h"
#include "task/url.h"

namespace vardane {

TaskSlot::TaskSlot(AppContext& context) : ctx(context), task(context) {}

TaskSlot::~TaskSlot() {
    StopCommanded = true;
    task.Finish(true);
    JoinWorkers();
    StopSaver();
    CloseTempFile(*this);
}

void TaskSlot::StartSaver() {
    saver_.Start(kSaveInterval, [this] { SaveProgressIfDue(*this); });
}

void TaskSlot::Stop(bool noSuccessor) {
    std::lock_guard lock(task.TaskLock);
    StopCommanded = true;  // a restart for a new version of the file must not undo it
    task.FinishLocked(noSuccessor);
}

void TaskSlot::ReapFinished() {
    for (auto it = threads_.begin(); it != threads_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = threads_.erase(it);
        } else {
            ++it;
        }
    }
}

bool TaskSlot::Idle() {
    std::lock_guard lock(threadsLock_);
    ReapFinished();
    return threads_.empty();
}

void TaskSlot::JoinWorkers() {
    while (true) {
        std::list<WorkerThread> batch;
        {
            std::lock_guard lock(threadsLock_);
            batch.swap(threads_);
        }
        if (batch.empty()) {
            return;
        }
        for (WorkerThread& t : batch) {
            t.thread.join();
        }
    }
}

namespace {

// A worker never wants SIGPIPE: its own sends say MSG_NOSIGNAL, and the TLS
// module writes with write(), where a closed connection is an error it
// handles. Held back for the thread's life, it need not be held back and
// restored around every TLS call (four system calls per read).
void HoldBackSigpipe() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

}  // namespace

void TaskSlot::Launch(const ThreadRecord& launch, std::unique_ptr<IProtocolHandler> handler) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    // Counted before the thread runs: a worker that ends before the ones it
    // launched have started must not take itself for the last one (the task
    // would end twice).
    task.AddRunningThreads(1);
    std::lock_guard lock(threadsLock_);
    ReapFinished();
    IProtocolHandler* h = handler.release();
    threads_.push_back({std::thread([this, launch, h, done] {
                            HoldBackSigpipe();
                            std::unique_ptr<IProtocolHandler> own(h);
                            RunWorker(*this, launch, *own);
                            own.reset();
                            done->store(true);
                        }),
                        done});
}

namespace {

void Abandon(TaskSlot& slot, const std::string& id) {
    slot.ctx.EndTlsRun(id, &slot);
    slot.task.Active = false;
    slot.task.SetStop(true);
}

}  // namespace

namespace {

// Where a run takes the task's record from.
enum class RecordFrom {
    File,   // read once from the progress file
    Given,  // handed over by the owner, who has just written it
    Kept,   // the record of the run before (a restart inside the engine)
};

bool StartRun(TaskSlot& slot, const std::string& id, const std::string& urlOverride,
              RecordFrom from, const TaskProgressRecord* given) {
    DownloadTask& task = slot.task;
    task.Active = true;
    task.SetStop(false);
    task.ClearThreadLogs();
    std::string progressPath = ProgressFilePath(slot.ctx.AppDir(), id);
    {
        std::lock_guard lock(task.TaskLock);
        task.descriptor.TaskId = id;
        task.descriptor.NoSuccessor = false;
        task.descriptor.ProgressPath = progressPath;
        task.SpeedSamples = {};
        task.SampleCount = 0;
        slot.FilePrepared = false;
        slot.StreamOwner = 0;
        slot.FtpSwitchUrl.clear();
        slot.StreamEnded = false;
        slot.RetriesExhausted = false;
        slot.FileChanged = false;
        slot.StopCommanded = false;
        slot.ServerDigest.reset();
        slot.lastSave = std::chrono::steady_clock::now();
        slot.SavedDownloaded = -1;
    }
    if (!FileExists(progressPath)) {
        Abandon(slot, id);
        return false;
    }
    // A certificate choice of the command that started this run holds for
    // this run only (kept across the restart of a redirect to FTP).
    slot.ctx.ClaimTlsChoice(id, &slot);
    TaskProgressRecord record;
    bool corrupt = false;
    {
        std::lock_guard lock(task.ProgressLock);
        if (from == RecordFrom::Given) {
            task.Record = *given;
            task.RecordWritten = FormatProgress(*given);
        } else if (from == RecordFrom::File) {
            std::string bytes;
            task.Record = ReadProgressBytes(progressPath, bytes) ? ParseProgress(bytes)
                                                                 : TaskProgressRecord{};
            task.RecordWritten = std::move(bytes);
        }
        task.RecordDurable = false;
        record = task.Record;
    }
    if (!ProgressNumbersValid(record)) {
        std::lock_guard lock(task.ProgressLock);
        record = SetAsideCorruptProgress(progressPath);
        task.Record = record;
        task.RecordWritten = FormatProgress(record);
        corrupt = true;
    }
    if (corrupt) {
        TaskLog(task, LogKind::Error, 0, slot.ctx.lang.GetLangText("Log_ProgressCorrupt"));
    }
    ProxyRecord http = LoadProxyRecord(slot.ctx, static_cast<int>(TextToInt(record.ProxyHTTP)));
    ProxyRecord ftp = LoadProxyRecord(slot.ctx, static_cast<int>(TextToInt(record.ProxyFTP)));
    {
        std::lock_guard lock(task.TaskLock);
        TaskDescriptor& d = task.descriptor;
        d.BaseURL = record.BaseURL;
        int threads = static_cast<int>(TextToInt(record.ThreadCount));
        d.ThreadCount = threads < 1 ? 1 : (threads > kMaxThreads ? kMaxThreads : threads);
        d.SaveCounter = 0;
        d.ProxyHTTP = http;
        d.ProxyFTP = ftp;
    }
    task.SetState(TaskState::Running);
    task.Reset();
    std::string address = urlOverride.empty() ? record.BaseURL : urlOverride;
    if (!ParseUrl(task, address)) {
        task.SetState(TaskState::Failed, Durability::Now);
        TaskLog(task, LogKind::Error, 0, slot.ctx.lang.GetLangText("Log_InvalidURL"));
        Abandon(slot, id);
        return false;
    }
    std::string dir = WithTrailingSlash(record.LocalDir);
    if (!MakeDirectories(dir)) {
        int error = errno;
        task.SetState(TaskState::Failed, Durability::Now);
        TaskLog(task, LogKind::Error, 0,
                slot.ctx.lang.GetLangText("Log_CreateLocalFileFailed") + " " + dir + " " +
                    ErrorText(error));
        Abandon(slot, id);
        return false;
    }
    std::string protocol;
    {
        std::lock_guard lock(task.TaskLock);
        TaskDescriptor& d = task.descriptor;
        d.LocalDir = dir;
        d.LocalFileName = record.LocalFileName;
        d.FileSize = 0;
        d.BestPercent = -1;
        d.RunningThreads = 0;
        d.Downloaded = 0;
        // The version of the stored bytes; without a stored size there are none.
        d.Validators =
            record.FileSize.empty() ? FileValidators{} : UsableValidators(record.Validators);
        d.TaskHeaders = record.Headers;
        protocol = d.Protocol;
    }
    task.SetState(TaskState::Running);
    ThreadRecord launch;
    launch.Task = &task;
    launch.ThreadId = 0;
    launch.SizeChecked = false;
    slot.StartSaver();
    slot.Launch(launch, MakeProtocolHandler(protocol));
    return true;
}

}  // namespace

bool StartTask(TaskSlot& slot, const std::string& id, const std::string& urlOverride,
               const TaskProgressRecord* record) {
    return StartRun(slot, id, urlOverride, record != nullptr ? RecordFrom::Given : RecordFrom::File,
                    record);
}

bool RestartTask(TaskSlot& slot, const std::string& urlOverride) {
    std::string id;
    {
        std::lock_guard lock(slot.task.TaskLock);
        id = slot.task.descriptor.TaskId;
    }
    return StartRun(slot, id, urlOverride, RecordFrom::Kept, nullptr);
}

namespace {

// Every worker has ended after one saw a new version of the file on the
// server: the old version's bytes are dropped (temporary file, stored size,
// blocks and validators) and the task starts again from the first byte,
// unless the owner stopped it meanwhile or the file keeps changing. False
// when the task is to end instead.
bool RestartForNewVersion(TaskSlot& slot) {
    DownloadTask& task = slot.task;
    bool again;
    std::string id, url;
    {
        std::lock_guard lock(task.TaskLock);
        TaskDescriptor& d = task.descriptor;
        again = !slot.StopCommanded && ++slot.FileChanges <= TaskSlot::kMaxFileChanges;
        if (!again && !slot.StopCommanded) {
            d.State = TaskState::Failed;
        }
        id = d.TaskId;
        // FTP starts again at the address in use (it may have come by a
        // redirect); HTTP follows its redirects again.
        url = d.Protocol == "ftp://" ? d.URL : "";
        d.Blocks.reset();
        d.FileSize = 0;
        d.Downloaded = d.PrevDownloaded = 0;
        d.Validators = {};
    }
    slot.StopSaver();
    bool recorded = false;
    UpdateTaskProgress(
        task,
        [&recorded](TaskProgressRecord& r) {
            recorded = !r.LocalTempFileName.empty();
            ForgetStoredBytes(r);
        },
        Durability::Deferred);
    if (recorded) {
        DeleteTempFile(slot);
    }
    if (!again) {
        return false;
    }
    if (!RestartTask(slot, url)) {
        TaskEnd(slot);
    }
    return true;
}

}  // namespace

void WorkerEnd(Worker& w, int n) {
    CloseSockets(w.rec.Connections, n);
    int left = w.task.AddRunningThreads(-1);
    {
        std::lock_guard lock(w.ctx.SpeedLock);
        w.ctx.RunningThreads -= 1;
    }
    // Logged before the task end so that nothing touches the task after the
    // owner has been told it ended (it may start another task in the slot).
    w.LogKey(LogKind::Info, "Log_Disconnected");
    if (left != 0) {
        return;
    }
    std::string ftpUrl;
    bool changed;
    {
        std::lock_guard lock(w.task.TaskLock);
        ftpUrl = w.slot.FtpSwitchUrl;
        changed = w.slot.FileChanged;
    }
    if (changed) {
        if (!RestartForNewVersion(w.slot)) {
            TaskEnd(w.slot);
        }
        return;
    }
    if (!ftpUrl.empty()) {
        SaveProgress(w.task);
        RestartTask(w.slot, ftpUrl);
        return;
    }
    TaskEnd(w.slot);
}

namespace {

TaskState FinalState(const TaskSlot& slot, const TaskDescriptor& d) {
    if (d.State == TaskState::Failed) {
        return TaskState::Failed;
    }
    if (d.FileSize > 0 && d.Downloaded >= d.FileSize) {
        return TaskState::Completed;
    }
    // One stream of unknown length is complete only when its protocol said
    // it ended; a close or a stop part-way leaves its bytes for the next run.
    if (!d.RangeMode && d.FileSize <= 0 && slot.StreamEnded) {
        return TaskState::Completed;
    }
    return slot.RetriesExhausted ? TaskState::Failed : TaskState::Stopped;
}

}  // namespace

void TaskEnd(TaskSlot& slot) {
    DownloadTask& task = slot.task;
    TaskState state;
    int64_t downloaded;
    bool singleStream;
    {
        std::lock_guard lock(task.TaskLock);
        slot.FileChanges = 0;
        state = FinalState(slot, task.descriptor);
        downloaded = task.descriptor.Downloaded;
        singleStream = !task.descriptor.RangeMode;
    }
    // No periodic save may follow the final one (nor rewrite the progress
    // file of a task that has just completed).
    slot.StopSaver();
    if (state == TaskState::Completed) {
        // All bytes are in: the file gets its name only if it matches its
        // checksum (a mismatch leaves it under the temporary name).
        state = VerifyDownload(slot, downloaded);
    }
    // The final state and the live values in one write.
    {
        std::lock_guard lock(task.TaskLock);
        task.descriptor.State = state;
    }
    StageTaskProgress(task,
                      [state](TaskProgressRecord& r) { r.State = IntToText(StoredState(state)); });
    SaveProgress(task);
    // An empty file is complete too (a stream that ended at once): it must
    // arrive under its name, not stay behind as a one-byte temporary file.
    if (state == TaskState::Completed) {
        // The file was created with one byte; cut it to what came.
        if (singleStream && !TruncateTempFile(slot, downloaded)) {
            // Left as it is; the rename below still happens.
        }
        int error = 0;
        if (!RenameAtCompletion(slot, &error)) {
            // The data is whole but still under the temporary name: no
            // completion to report.
            TaskLog(task, LogKind::Error, 0,
                    slot.ctx.lang.GetLangText("Log_RenameFailed") + " " + task.LocalPath() + " " +
                        ErrorText(error));
            state = TaskState::Failed;
            task.SetState(state, Durability::Now);
        }
    }
    CloseTempFile(slot);
    TaskDescriptor snapshot;
    {
        std::lock_guard lock(task.TaskLock);
        task.descriptor.SaveCounter = 0;
        snapshot = task.descriptor;
    }
    snapshot.FinalRecord = TaskRecord(task);
    slot.ctx.EndTlsRun(snapshot.TaskId, &slot);
    task.Active = false;
    if (task.owner != nullptr) {
        task.owner->OnTaskState(snapshot);
    }
}

void SaveProgressIfDue(TaskSlot& slot) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(slot.task.TaskLock);
        const int64_t downloaded = slot.task.descriptor.Downloaded;
        if (downloaded == slot.SavedDownloaded || now - slot.lastSave < TaskSlot::kSaveInterval) {
            return;
        }
        slot.SavedDownloaded = downloaded;
        slot.lastSave = now;
    }
    // Skipped while another save is under way (the next tick catches up).
    (void)TrySaveProgress(slot.task);
}

void TaskLog(DownloadTask& task, LogKind kind, int n, std::string_view text) {
    if (text.empty() || text == "\r\n" || text == "\r\n\r\n") {
        return;
    }
    TaskLogEntry entry;
    entry.ThreadNo = n;
    entry.Kind = kind;
    entry.Text.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n') {
            entry.Text += c;
        }
    }
    {
        std::lock_guard lock(task.TaskLock);
        entry.TaskId = task.descriptor.TaskId;
    }
    if (n >= 0 && n < kMaxThreads) {
        task.AppendThreadLog(n, entry);
    }
    if (task.owner != nullptr) {
        task.owner->OnTaskLog(entry);
    }
}

}  // namespace vardane
