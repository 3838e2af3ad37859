#include "task/download_task.h"

#include "platform/text.h"
#include "task/progress_file.h"

namespace vardane {

CDownloadTask::CDownloadTask(CAppContext& context) : ctx(context) {
    for (ThreadRecord& record : threads) {
        record.pTask = this;
    }
    Reset();
    SetStop(true);  // an idle slot counts as stopped
}

CDownloadTask::~CDownloadTask() {
    Finish(false);
}

void CDownloadTask::Reset() {
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
    d.iPort = 0;
    d.iFileSize = 0;
    d.iDownloaded = 0;
    d.iPrevDownloaded = 0;
    d.bRangeMode = true;
    d.Validators = {};
}

void CDownloadTask::SetBlockUsedState(int index, bool lock) {
    if (index < 0) {
        return;
    }
    {
        std::lock_guard guard(TaskLock);
        if (descriptor.Blocks && index < kBlockCount) {
            (*descriptor.Blocks)[index].bLock = lock;
        }
    }
    Trace("SetBlockUsedState,iID=" + IntToText(index) + ",bLock=" + IntToText(lock ? 1 : 0));
}

bool CDownloadTask::IsStopped() {
    std::lock_guard lock(StopLock);
    return bStop.load();
}

void CDownloadTask::SetStop(bool stop) {
    std::lock_guard lock(StopLock);
    bStop.store(stop);
}

void CDownloadTask::Finish(bool noSuccessor) {
    std::lock_guard lock(TaskLock);
    FinishLocked(noSuccessor);
}

void CDownloadTask::FinishLocked(bool noSuccessor) {
    descriptor.bNoSuccessor = noSuccessor;
    std::lock_guard lock(StopLock);
    if (!bStop.load()) {
        bStop.store(true);
    }
}

int CDownloadTask::AddRunningThreads(int delta) {
    std::lock_guard lock(TaskLock);
    descriptor.iRunningThreads += delta;
    return descriptor.iRunningThreads;
}

int CDownloadTask::GetRunningThreads() {
    std::lock_guard lock(TaskLock);
    return descriptor.iRunningThreads;
}

int64_t CDownloadTask::GetDownloaded() {
    std::lock_guard lock(TaskLock);
    return descriptor.iDownloaded;
}

TaskDescriptor CDownloadTask::Snapshot() {
    std::lock_guard lock(TaskLock);
    return descriptor;
}

void CDownloadTask::SetState(TaskState state, Durability durability) {
    {
        std::lock_guard lock(TaskLock);
        descriptor.iState = state;
    }
    UpdateTaskProgress(
        *this, [state](TaskProgressRecord& r) { r.State = IntToText(StoredState(state)); },
        durability);
}

void CDownloadTask::SetFileSize(int64_t size) {
    {
        std::lock_guard lock(TaskLock);
        descriptor.iFileSize = size;
    }
    // Written with the blocks, which follow at once (or with the task's end).
    StageTaskProgress(*this, [size](TaskProgressRecord& r) { r.FileSize = IntToText(size); });
}

bool CDownloadTask::SetLocalFileName(const std::string& name) {
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

std::string CDownloadTask::LocalPath() {
    std::lock_guard lock(TaskLock);
    return descriptor.LocalPath();
}

std::string CDownloadTask::TempPath() {
    return LocalPath() + ".vd~";
}

void CDownloadTask::AppendThreadLog(int n, TaskLogEntry entry) {
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

std::vector<TaskLogEntry> CDownloadTask::ThreadLog(int n) {
    if (n < 0 || n >= kMaxThreads) {
        return {};
    }
    std::lock_guard lock(TaskLock);
    return threads[n].LogList;
}

void CDownloadTask::ClearThreadLogs() {
    std::lock_guard lock(TaskLock);
    for (ThreadRecord& record : threads) {
        record.LogList.clear();
    }
}

void CDownloadTask::Trace(const std::string& line) const {
    if (TraceHook) {
        TraceHook(line);
    }
}

}  // namespace vardane
