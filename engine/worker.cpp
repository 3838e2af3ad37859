// The worker thread's main loop and the frame services shared by the HTTP and
// FTP steps.
#include "engine/worker.h"

#include <chrono>
#include <thread>

#include "engine/file_writer.h"
#include "net/send_command.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/progress_file.h"

namespace vardane {

std::unique_ptr<IProtocolHandler> MakeProtocolHandler(std::string_view protocol) {
    return EqualsNoCase(protocol, "ftp://") ? MakeFtpHandler() : MakeHttpHandler();
}

CWorker::CWorker(CTaskSlot& s, const ThreadRecord& launch, IProtocolHandler& h)
    : slot(s), task(s.task), ctx(s.ctx), handler(h), rec(launch) {}

bool CWorker::IsStopped() {
    return task.IsStopped();
}

void CWorker::ThreadLog(LogKind kind, const std::string& text) {
    TaskLog(task, kind, rec.iThreadID, text);
}

std::string CWorker::Text(std::string_view key) const {
    return ctx.lang.GetLangText(key);
}

void CWorker::LogKey(LogKind kind, std::string_view key, std::string_view values) {
    std::string line = Text(key);
    if (!values.empty()) {
        line += " ";
        line += values;
    }
    TaskLog(task, kind, rec.iThreadID, line);
}

CWorker::Settings CWorker::ReadSettings() const {
    std::lock_guard lock(ctx.SpeedLock);
    const CAppSettings& s = ctx.settings;
    Settings out;
    out.ConnectionTimeOut = s.ConnectionTimeOut;
    out.RetryWaitSec = s.RetryWaitSec;
    out.RetryCounts = s.RetryCounts;
    out.RetryLimit = s.RetryLimit;
    out.MinBlock = s.MinBlock;
    out.HTTPSendReferer = s.HTTPSendReferer;
    out.HTTPEnableCookies = s.HTTPEnableCookies;
    out.UserAgent = s.UserAgent;
    out.CookieFile = s.CookieFile;
    out.CAFile = s.CAFile;
    out.RefuseHttpsDowngrade = s.RefuseHttpsDowngrade;
    return out;
}

bool CWorker::AtEnd() {
    if (task.IsStopped()) {
        return true;
    }
    std::lock_guard lock(task.TaskLock);
    const TaskDescriptor& d = task.descriptor;
    return d.iFileSize > 0 && d.iDownloaded >= d.iFileSize;
}

bool CWorker::RangeMode() {
    std::lock_guard lock(task.TaskLock);
    return task.descriptor.bRangeMode;
}

bool CWorker::ClaimBlock(std::string_view traceName) {
    if (task.IsStopped()) {
        return false;
    }
    int64_t minBlock = ReadSettings().MinBlock;
    int id;
    TaskBlock block;
    {
        std::lock_guard lock(task.TaskLock);
        TaskDescriptor& d = task.descriptor;
        if ((d.iFileSize >= 1 && d.iDownloaded == d.iFileSize) || !d.bRangeMode) {
            return false;
        }
        id = FindFreeBlock(d, minBlock);
        if (id >= 0) {
            block = (*d.Blocks)[id];
        }
    }
    std::string name(traceName);
    task.Trace(name + "Begin,iThreadID=" + IntToText(rec.iThreadID) + ",iID=" + IntToText(id));
    if (id < 0) {
        return false;
    }
    rec.iID = id;
    try_.block = id;  // the try's progress is measured from here
    try_.from = block.iFrom;
    task.Trace(name + ",iThreadID=" + IntToText(rec.iThreadID) + ",iID=" + IntToText(id) +
               ",iFrom=" + IntToText(block.iFrom) + ",iTo=" + IntToText(block.iTo));
    rec.bHasBlock = true;
    return true;
}

void CWorker::ReleaseBlock() {
    if (!rec.bHasBlock) {
        return;
    }
    task.Trace("SetBlockUsedState,tsDisconnect,iThreadID=" + IntToText(rec.iThreadID) +
               ",iID=" + IntToText(rec.iID) + ",bHasBlock=1");
    task.SetBlockUsedState(rec.iID, false);
    rec.bHasBlock = false;
}

void CWorker::OnIdleTick() {
    const int timeOut = ReadSettings().ConnectionTimeOut;
    if (rec.iWaited < timeOut * 1000) {
        rec.iWaited += 500;
    } else {
        LogKey(LogKind::Error, "Log_TimeOut");
        rec.iState = tsDisconnect;
        rec.iWaited = 0;
    }
}

bool CWorker::TryProgressed() {
    ObserveProgress();
    return try_.progressed;
}

void CWorker::MarkTryProgressed() {
    std::lock_guard lock(task.TaskLock);
    try_.progressed = true;
}

// Bytes written move the iFrom of the block this worker holds (in one-stream
// mode the only thread's block 0); a redirect changes the address and a
// fall-back to one stream the mode. Only the holder moves a block's iFrom.
void CWorker::ObserveProgress() {
    std::lock_guard lock(task.TaskLock);
    const TaskDescriptor& d = task.descriptor;
    if (d.URL != try_.url || d.bRangeMode != try_.rangeMode) {
        try_.progressed = true;
        try_.url = d.URL;
        try_.rangeMode = d.bRangeMode;
    }
    const bool holds = rec.bHasBlock || !d.bRangeMode;
    if (!d.Blocks || !holds || rec.iID < 0 || rec.iID >= kBlockCount) {
        try_.block = -1;
        return;
    }
    const int64_t from = (*d.Blocks)[rec.iID].iFrom;
    if (try_.block == rec.iID && from > try_.from) {
        try_.progressed = true;
    }
    try_.block = rec.iID;
    try_.from = from;
}

void CWorker::BeginTry() {
    std::lock_guard lock(task.TaskLock);
    try_.progressed = false;
    try_.url = task.descriptor.URL;
    try_.rangeMode = task.descriptor.bRangeMode;
}

bool CWorker::CountConnectAttempt(bool restartsStream) {
    const bool progressed = TryProgressed();
    if (restartsStream) {
        // The stream's bytes are thrown away, so the try counts however far
        // it got. A stream that never gets past its best is given up on
        // even without a retry limit: the server cuts it where it always
        // does, and fetching it again changes nothing.
        const int64_t reached = task.GetDownloaded();
        if (reached > try_.streamBest) {
            try_.streamBest = reached;
            try_.streamRepeats = 0;
        } else if (++try_.streamRepeats >= kMaxRepeatedStreams && !ReadSettings().RetryLimit) {
            GiveUp();
            return false;
        }
    } else if (progressed) {
        rec.iRetries = 0;
    }
    BeginTry();
    return CountFailedTry();
}

bool CWorker::CountFailedTry() {
    Settings s = ReadSettings();
    if (!s.RetryLimit) {
        return true;
    }
    if (rec.iRetries >= s.RetryCounts) {
        GiveUp();
        return false;
    }
    rec.iRetries += 1;
    return true;
}

void CWorker::GiveUp() {
    LogKey(LogKind::Error, "Log_TooManyRetry");
    ReleaseBlock();
    {
        std::lock_guard lock(task.TaskLock);
        slot.bRetriesExhausted = true;
    }
    rec.iState = tsStop;
}

void CWorker::FileChanged() {
    bool first;
    {
        // Under TaskLock, which every write of received bytes holds: once
        // this is set no worker writes into the old version's file.
        std::lock_guard lock(task.TaskLock);
        first = !slot.bFileChanged;
        slot.bFileChanged = true;
        std::lock_guard stop(task.StopLock);
        task.bStop.store(true);
    }
    if (first) {
        LogKey(LogKind::Error, "Log_FileChanged");
    }
    ReleaseBlock();
    rec.iState = tsStop;
}

void CWorker::MarkStreamEnded() {
    std::lock_guard lock(task.TaskLock);
    slot.bStreamEnded = true;
}

void CWorker::LogRetry(const std::string& host, int port) {
    int wait = ReadSettings().RetryWaitSec;
    rec.iRetryWait = wait;
    LogKey(LogKind::Info, "Log_CanNotConnect", HostPortText(host, port));
    TaskLog(task, LogKind::Info, rec.iThreadID,
            Text("Log_RetryWait1") + " " + IntToText(wait) + " " + Text("Log_RetryWait2"));
}

void CWorker::AfterStep(const std::string& host, int port) {
    ObserveProgress();
    if (rec.iState == tsDisconnect || rec.iState == tsReconnect) {
        ReleaseBlock();
    }
    if (rec.iState == tsDisconnect) {
        LogRetry(host, port);
    } else if (rec.iState == tsReconnect && !try_.progressed) {
        // A new connection after a try that got nowhere waits like a failed
        // one, or a server that accepts and closes is hammered.
        int wait = ReadSettings().RetryWaitSec;
        rec.iRetryWait = wait;
        TaskLog(task, LogKind::Info, rec.iThreadID,
                Text("Log_RetryWait1") + " " + IntToText(wait) + " " + Text("Log_RetryWait2"));
    }
}

void CWorker::StartOtherThreads() {
    if (rec.bThreadsStarted) {
        return;
    }
    rec.bThreadsStarted = true;
    TaskDescriptor d = task.Snapshot();
    if (task.owner != nullptr) {
        task.owner->OnTaskThreads(d);
    }
    for (int i = 1; i < d.ThreadCount && i < kMaxThreads; ++i) {
        if (task.IsStopped()) {
            break;
        }
        ThreadRecord launch;
        launch.pTask = &task;
        launch.iThreadID = i;
        launch.bSizeChecked = true;
        launch.bHasBlock = false;
        slot.Launch(launch, MakeProtocolHandler(d.Protocol));
    }
}

void CWorker::SendText(std::string_view text, std::string_view secret) {
    SendCommand(rec.Connections, *this, text, secret);
}

void RetryWait(CDownloadTask& task, int seconds) {
    if (seconds <= 0) {
        return;
    }
    for (int i = 0; i < seconds * 10 + 1; ++i) {
        if (task.IsStopped()) {
            return;
        }
        {
            std::lock_guard lock(task.TaskLock);
            const TaskDescriptor& d = task.descriptor;
            if (d.iFileSize > 0 && d.iDownloaded >= d.iFileSize) {
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

namespace {

void AddProcessThreads(CAppContext& ctx, int delta) {
    std::lock_guard lock(ctx.SpeedLock);
    ctx.iRunningThreads += delta;
}

// The loop head: a stopped or complete task, or a block that was taken away,
// ends the worker.
void CheckLoopHead(CWorker& w) {
    if (w.task.IsStopped()) {
        w.rec.iState = tsStop;
        return;
    }
    std::lock_guard lock(w.task.TaskLock);
    const TaskDescriptor& d = w.task.descriptor;
    if (d.iFileSize > 0 && d.iDownloaded == d.iFileSize) {
        w.rec.iState = tsStop;
    } else if (d.Blocks && w.rec.iID >= 0 && w.rec.iID < kBlockCount) {
        const TaskBlock& b = (*d.Blocks)[w.rec.iID];
        if (b.iFrom == 0 && b.iTo == 0 && d.iDownloaded > 0) {
            w.rec.iState = tsStop;
        }
    }
}

// Thread 0 of a resumed task prepares the local file and blocks first.
void PrepareResume(CWorker& w) {
    if (TaskRecord(w.task).FileSize.empty()) {
        return;  // a new task: the first reply tells the size
    }
    if (!PrepareLocalFile(w.slot, 0)) {
        w.rec.iState = tsStop;
    }
    w.rec.bSizeChecked = true;
}

// A redirect led to FTP: the last worker of the task restarts it as FTP.
void SwitchToFtp(CWorker& w) {
    CloseSockets(w.rec.Connections, w.handler.ConnectionCount());
    std::string url;
    {
        std::lock_guard lock(w.task.TaskLock);
        url = w.task.descriptor.URL;
        w.slot.FtpSwitchUrl = url;
    }
    int left = w.task.AddRunningThreads(-1);
    AddProcessThreads(w.ctx, -1);
    if (left > 0) {
        // The other workers end at their next loop turn; the last one out
        // restarts the task (WorkerEnd).
        w.task.SetStop(true);
        return;
    }
    SaveProgress(w.task);
    RestartTask(w.slot, url);
}

}  // namespace

void RunWorker(CTaskSlot& slot, const ThreadRecord& launch, IProtocolHandler& handler) {
    CWorker w(slot, launch, handler);
    WorkerRecord& r = w.rec;
    r.bThreadsStarted = false;
    r.bPeerClosed = false;
    r.bHasBlock = false;
    r.iState = tsDisconnect;
    r.iID = 0;
    r.iRetries = 0;
    r.iWaited = 0;
    r.Connections = CConnectionSet{};
    if (handler.PreparesOnResume()) {
        r.bSizeChecked = false;
        if (r.iThreadID == 0) {
            PrepareResume(w);
        }
    }
    AddProcessThreads(w.ctx, 1);
    while (true) {
        r.iRetryWait = 0;
        CheckLoopHead(w);
        if (r.iState == tsSwitchToFtp) {
            SwitchToFtp(w);
            return;
        }
        if (r.iState == tsStop) {
            WorkerEnd(w, handler.ConnectionCount());
            return;
        }
        if (r.iState == tsDisconnect || r.iState == tsReconnect) {
            handler.ConnectStep(w);
        } else {
            handler.EventStep(w);
        }
        RetryWait(w.task, r.iRetryWait);
    }
}

}  // namespace vardane
