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

Worker::Worker(TaskSlot& s, const ThreadRecord& launch, IProtocolHandler& h)
    : slot(s), task(s.task), ctx(s.ctx), handler(h), rec(launch) {}

bool Worker::IsStopped() {
    return task.IsStopped();
}

void Worker::ThreadLog(LogKind kind, const std::string& text) {
    TaskLog(task, kind, rec.ThreadId, text);
}

std::string Worker::Text(std::string_view key) const {
    return ctx.lang.GetLangText(key);
}

void Worker::LogKey(LogKind kind, std::string_view key, std::string_view values) {
    std::string line = Text(key);
    if (!values.empty()) {
        line += " ";
        line += values;
    }
    TaskLog(task, kind, rec.ThreadId, line);
}

Worker::Settings Worker::ReadSettings() const {
    std::lock_guard lock(ctx.SpeedLock);
    const AppSettings& s = ctx.settings;
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

bool Worker::AtEnd() {
    if (task.IsStopped()) {
        return true;
    }
    std::lock_guard lock(task.TaskLock);
    const TaskDescriptor& d = task.descriptor;
    return d.FileSize > 0 && d.Downloaded >= d.FileSize;
}

bool Worker::RangeMode() {
    std::lock_guard lock(task.TaskLock);
    return task.descriptor.RangeMode;
}

bool Worker::ClaimBlock(std::string_view traceName) {
    if (task.IsStopped()) {
        return false;
    }
    int64_t minBlock = ReadSettings().MinBlock;
    int id;
    TaskBlock block;
    {
        std::lock_guard lock(task.TaskLock);
        TaskDescriptor& d = task.descriptor;
        if ((d.FileSize >= 1 && d.Downloaded == d.FileSize) || !d.RangeMode) {
            return false;
        }
        id = FindFreeBlock(d, minBlock);
        if (id >= 0) {
            block = (*d.Blocks)[id];
        }
    }
    std::string name(traceName);
    task.Trace(name + "Begin,iThreadID=" + IntToText(rec.ThreadId) + ",iID=" + IntToText(id));
    if (id < 0) {
        return false;
    }
    rec.Id = id;
    try_.block = id;  // the try's progress is measured from here
    try_.from = block.From;
    task.Trace(name + ",iThreadID=" + IntToText(rec.ThreadId) + ",iID=" + IntToText(id) +
               ",iFrom=" + IntToText(block.From) + ",iTo=" + IntToText(block.To));
    rec.HasBlock = true;
    return true;
}

void Worker::ReleaseBlock() {
    if (!rec.HasBlock) {
        return;
    }
    task.Trace("SetBlockUsedState,tsDisconnect,iThreadID=" + IntToText(rec.ThreadId) +
               ",iID=" + IntToText(rec.Id) + ",bHasBlock=1");
    task.SetBlockUsedState(rec.Id, false);
    rec.HasBlock = false;
}

void Worker::OnIdleTick() {
    const int timeOut = ReadSettings().ConnectionTimeOut;
    if (rec.Waited < timeOut * 1000) {
        rec.Waited += 500;
    } else {
        LogKey(LogKind::Error, "Log_TimeOut");
        rec.State = tsDisconnect;
        rec.Waited = 0;
    }
}

bool Worker::TryProgressed() {
    ObserveProgress();
    return try_.progressed;
}

void Worker::MarkTryProgressed() {
    std::lock_guard lock(task.TaskLock);
    try_.progressed = true;
}

// Bytes written move the From of the block this worker holds (in one-stream
// mode the only thread's block 0); a redirect changes the address and a
// fall-back to one stream the mode. Only the holder moves a block's From.
void Worker::ObserveProgress() {
    std::lock_guard lock(task.TaskLock);
    const TaskDescriptor& d = task.descriptor;
    if (d.URL != try_.url || d.RangeMode != try_.rangeMode) {
        try_.progressed = true;
        try_.url = d.URL;
        try_.rangeMode = d.RangeMode;
    }
    const bool holds = rec.HasBlock || !d.RangeMode;
    if (!d.Blocks || !holds || rec.Id < 0 || rec.Id >= kBlockCount) {
        try_.block = -1;
        return;
    }
    const int64_t from = (*d.Blocks)[rec.Id].From;
    if (try_.block == rec.Id && from > try_.from) {
        try_.progressed = true;
    }
    try_.block = rec.Id;
    try_.from = from;
}

void Worker::BeginTry() {
    std::lock_guard lock(task.TaskLock);
    try_.progressed = false;
    try_.url = task.descriptor.URL;
    try_.rangeMode = task.descriptor.RangeMode;
}

bool Worker::CountConnectAttempt(bool restartsStream) {
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
        rec.Retries = 0;
    }
    BeginTry();
    return CountFailedTry();
}

bool Worker::CountFailedTry() {
    Settings s = ReadSettings();
    if (!s.RetryLimit) {
        return true;
    }
    if (rec.Retries >= s.RetryCounts) {
        GiveUp();
        return false;
    }
    rec.Retries += 1;
    return true;
}

void Worker::GiveUp() {
    LogKey(LogKind::Error, "Log_TooManyRetry");
    ReleaseBlock();
    {
        std::lock_guard lock(task.TaskLock);
        slot.RetriesExhausted = true;
    }
    rec.State = tsStop;
}

void Worker::FileChanged() {
    bool first;
    {
        // Under TaskLock, which every write of received bytes holds: once
        // this is set no worker writes into the old version's file.
        std::lock_guard lock(task.TaskLock);
        first = !slot.FileChanged;
        slot.FileChanged = true;
        std::lock_guard stop(task.StopLock);
        task.Stop.store(true);
    }
    if (first) {
        LogKey(LogKind::Error, "Log_FileChanged");
    }
    ReleaseBlock();
    rec.State = tsStop;
}

void Worker::MarkStreamEnded() {
    std::lock_guard lock(task.TaskLock);
    slot.StreamEnded = true;
}

void Worker::LogRetry(const std::string& host, int port) {
    int wait = ReadSettings().RetryWaitSec;
    rec.RetryWait = wait;
    LogKey(LogKind::Info, "Log_CanNotConnect", HostPortText(host, port));
    TaskLog(task, LogKind::Info, rec.ThreadId,
            Text("Log_RetryWait1") + " " + IntToText(wait) + " " + Text("Log_RetryWait2"));
}

void Worker::AfterStep(const std::string& host, int port) {
    ObserveProgress();
    if (rec.State == tsDisconnect || rec.State == tsReconnect) {
        ReleaseBlock();
    }
    if (rec.State == tsDisconnect) {
        LogRetry(host, port);
    } else if (rec.State == tsReconnect && !try_.progressed) {
        // A new connection after a try that got nowhere waits like a failed
        // one, or a server that accepts and closes is hammered.
        int wait = ReadSettings().RetryWaitSec;
        rec.RetryWait = wait;
        TaskLog(task, LogKind::Info, rec.ThreadId,
                Text("Log_RetryWait1") + " " + IntToText(wait) + " " + Text("Log_RetryWait2"));
    }
}

void Worker::StartOtherThreads() {
    if (rec.ThreadsStarted) {
        return;
    }
    rec.ThreadsStarted = true;
    TaskDescriptor d = task.Snapshot();
    if (task.owner != nullptr) {
        task.owner->OnTaskThreads(d);
    }
    for (int i = 1; i < d.ThreadCount && i < kMaxThreads; ++i) {
        if (task.IsStopped()) {
            break;
        }
        ThreadRecord launch;
        launch.Task = &task;
        launch.ThreadId = i;
        launch.SizeChecked = true;
        launch.HasBlock = false;
        slot.Launch(launch, MakeProtocolHandler(d.Protocol));
    }
}

void Worker::SendText(std::string_view text, std::string_view secret) {
    SendCommand(rec.Connections, *this, text, secret);
}

void RetryWait(DownloadTask& task, int seconds) {
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
            if (d.FileSize > 0 && d.Downloaded >= d.FileSize) {
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

namespace {

void AddProcessThreads(AppContext& ctx, int delta) {
    std::lock_guard lock(ctx.SpeedLock);
    ctx.RunningThreads += delta;
}

// The loop head: a stopped or complete task, or a block that was taken away,
// ends the worker.
void CheckLoopHead(Worker& w) {
    if (w.task.IsStopped()) {
        w.rec.State = tsStop;
        return;
    }
    std::lock_guard lock(w.task.TaskLock);
    const TaskDescriptor& d = w.task.descriptor;
    if (d.FileSize > 0 && d.Downloaded == d.FileSize) {
        w.rec.State = tsStop;
    } else if (d.Blocks && w.rec.Id >= 0 && w.rec.Id < kBlockCount) {
        const TaskBlock& b = (*d.Blocks)[w.rec.Id];
        if (b.From == 0 && b.To == 0 && d.Downloaded > 0) {
            w.rec.State = tsStop;
        }
    }
}

// Thread 0 of a resumed task prepares the local file and blocks first.
void PrepareResume(Worker& w) {
    if (TaskRecord(w.task).FileSize.empty()) {
        return;  // a new task: the first reply tells the size
    }
    if (!PrepareLocalFile(w.slot, 0)) {
        w.rec.State = tsStop;
    }
    w.rec.SizeChecked = true;
}

// A redirect led to FTP: the last worker of the task restarts it as FTP.
void SwitchToFtp(Worker& w) {
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

void RunWorker(TaskSlot& slot, const ThreadRecord& launch, IProtocolHandler& handler) {
    Worker w(slot, launch, handler);
    WorkerRecord& r = w.rec;
    r.ThreadsStarted = false;
    r.PeerClosed = false;
    r.HasBlock = false;
    r.State = tsDisconnect;
    r.Id = 0;
    r.Retries = 0;
    r.Waited = 0;
    r.Connections = ConnectionSet{};
    if (handler.PreparesOnResume()) {
        r.SizeChecked = false;
        if (r.ThreadId == 0) {
            PrepareResume(w);
        }
    }
    AddProcessThreads(w.ctx, 1);
    while (true) {
        r.RetryWait = 0;
        CheckLoopHead(w);
        if (r.State == tsSwitchToFtp) {
            SwitchToFtp(w);
            return;
        }
        if (r.State == tsStop) {
            WorkerEnd(w, handler.ConnectionCount());
            return;
        }
        if (r.State == tsDisconnect || r.State == tsReconnect) {
            handler.ConnectStep(w);
        } else {
            handler.EventStep(w);
        }
        RetryWait(w.task, r.RetryWait);
    }
}

}  // namespace vardane
