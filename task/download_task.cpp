#include "task/download_task.h"

#include "platform/text.h"
#include "task/progress_file.h"

namespace vardane {

DownloadTask::DownloadTask(AppContext& context) : ctx(context) {
    for (ThreadRecord& record : threads) {
        record.Task = this;
    }
    Reset();
    SetStop(true);  // an idle slot counts as stopped
}

DownloadTask::~DownloadTask() {
    Finish(false);
}

void DownloadTask::Reset() {
    std::lock_guard lock(TaskLock);
    TaskDescriptor& d = descriptor;
    d.Blocks.reset();
    d.Host.clear();
    d.User.clear();
    d.Password.clear();
    d.RequestPath.clear();
    d.FileName.clear();
    d.LocalDir.clear();
    d.LocalFileName.clear();
    d.Port = 0;
    d.FileSize = 0;
    d.Downloaded = 0;
    d.PrevDownloaded = 0;
    d.RangeMode = true;
    d.Validators = {};
}

void DownloadTask::SetBlockUsedState(int index, bool lock) {
    if (index < 0) {
        return;
    }
    {
        std::lock_guard guard(TaskLock);
        if (descriptor.Blocks && index < kBlockCount) {
            (*descriptor.Blocks)[index].Lock = lock;
        }
    }
    Trace("SetBlockUsedState,iID=" + IntToText(index) + ",bLock=" + IntToText(lock ? 1 : 0));
}

bool DownloadTask::IsStopped() {
    std::lock_guard lock(StopLock);
    return Stop.load();
}

void DownloadTask::SetStop(bool stop) {
    std::lock_guard lock(StopLock);
    Stop.store(stop);
}

void DownloadTask::Finish(bool noSuccessor) {
    std::lock_guard lock(TaskLock);
    FinishLocked(noSuccessor);
}

void DownloadTask::FinishLocked(bool noSuccessor) {
    descriptor.NoSuccessor = noSuccessor;
    std::lock_guard lock(StopLock);
    if (!Stop.load()) {
        Stop.store(true);
    }
}

int DownloadTask::AddRunningThreads(int delta) {
    std::lock_guard lock(TaskLock);
    descriptor.RunningThreads += delta;
    return descriptor.RunningThreads;
}

int DownloadTask::GetRunningThreads() {
    std::lock_guard lock(TaskLock);
    return descriptor.RunningThreads;
}

int64_t DownloadTask::GetDownloaded() {
    std::lock_guard lock(TaskLock);
    return descriptor.Downloaded;
}

TaskDescriptor DownloadTask::Snapshot() {
    std::lock_guard lock(TaskLock);
    return descriptor;
}

void DownloadTask::SetState(TaskState state, Durability durability) {
    {
        std::lock_guard lock(TaskLock);
        descriptor.State = state;
    }
    UpdateTaskProgress(
        *this, [state](TaskProgressRecord& r) { r.State = IntToText(StoredState(state)); },
        durability);
}

void DownloadTask::SetFileSize(int64_t size) {
    {
        std::lock_guard lock(TaskLock);
        descriptor.FileSize = size;
    }
    // Written with the blocks, which follow at once (or with the task's end).
    StageTaskProgress(*this, [size](TaskProgressRecord& r) { r.FileSize = IntToText(size); });
}

bool DownloadTask::SetLocalFileName(const std::string& name) {
    std::lock_guard progress(ProgressLock);
    if (!Record.LocalTempFileName.empty()) {
        return false;  // the temporary file already carries the old name
    }
    {
        std::lock_guard lock(TaskLock);
        descriptor.LocalFileName = name;
    }
    // Written with the temporary file's name and the blocks: the name only
    // matters together with the temporary file.
    Record.LocalFileName = name;
    return true;
}

std::string DownloadTask::LocalPath() {
    std::lock_guard lock(TaskLock);
    return descriptor.LocalPath();
}

std::string DownloadTask::TempPath() {
    return LocalPath() + ".vd~";
}

void DownloadTask::AppendThreadLog(int n, TaskLogEntry entry) {
    if (n < 0 || n >= kMaxThreads) {
        return;
    }
    std::lock_guard lock(TaskLock);
    std::vector<TaskLogEntry>& log = threads[n].LogList;
    if (log.size() >= kMaxThreadLog) {
        log.clear();  // dropped in one go, as the log view expects
    }
    log.push_back(std::move(entry));
}

std::vector<TaskLogEntry> DownloadTask::ThreadLog(int n) {
    if (n < 0 || n >= kMaxThreads) {
        return {};
    }
    std::lock_guard lock(TaskLock);
    return threads[n].LogList;
}

void DownloadTask::ClearThreadLogs() {
    std::lock_guard lock(TaskLock);
    for (ThreadRecord& record : threads) {
        record.LogList.clear();
    }
}

void DownloadTask::Trace(const std::string& line) const {
    if (TraceHook) {
        TraceHook(line);
    }
}

}  // namespace vardane
