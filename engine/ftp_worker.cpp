// The FTP worker's connect and event steps and its control connection: the
// command sequence driven by the server's reply codes, one small function per
// state of the sequence.
#include "engine/ftp_worker.h"

#include <mutex>
#include <vector>

#include "engine/file_writer.h"
#include "engine/ftp_reply.h"
#include "net/proxy.h"
#include "net/send_command.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/progress_file.h"

namespace vardane {

std::unique_ptr<IProtocolHandler> MakeFtpHandler() {
    return std::make_unique<CFtpHandler>();
}

namespace {

// Logs the PASS line as "PASS ******" whatever the password looks like (a
// password that also occurs in "PASS " must not leave a part of it visible).
class CPassLineOwner : public IConnectionOwner {
  public:
    explicit CPassLineOwner(CWorker& w) : w_(w) {}
    bool IsStopped() override { return w_.IsStopped(); }
    void ThreadLog(int kind, const std::string& text) override {
        w_.ThreadLog(kind, kind == logSent ? std::string("PASS ******") : text);
    }

  private:
    CWorker& w_;
};

bool RangeMode(CWorker& w) {
    std::lock_guard lock(w.task.TaskLock);
    return w.task.descriptor.bRangeMode;
}

}  // namespace

void CFtpHandler::ConnectStep(CWorker& w) {
    if (w.IsStopped()) {
        return;
    }
    CConnectionSet& set = w.rec.Connections;
    w.SendText("QUIT");
    CloseSockets(set, kConnectionSlots);
    CreateSockets(set, kConnectionSlots);
    if (!w.CountConnectAttempt()) {
        return;
    }
    {
        std::lock_guard lock(w.task.TaskLock);
        const TaskDescriptor& d = w.task.descriptor;
        target_ = Target{d.Host, d.iPort, d.User, d.Password, d.RequestPath, d.ProxyFTP};
    }
    iHeld_ = 0;
    w.rec.iState = tsConnecting;
    const ProxyRecord& proxy = target_.proxy;
    if (proxy.Type == proxyDirect) {
        w.LogKey(logInfo, "Log_Connecting", target_.host + ":" + IntToText(target_.port));
        ConnectSocket(set, slotControl, target_.host, target_.port, target_.host, target_.port);
    } else {
        w.LogKey(logInfo, "Log_ConnectingProxy", proxy.Server + ":" + IntToText(proxy.Port));
        ConnectSocket(set, slotControl, proxy.Server, proxy.Port, target_.host, target_.port);
    }
}

void CFtpHandler::EventStep(CWorker& w) {
    if (w.IsStopped()) {
        return;
    }
    ThreadRecord& r = w.rec;
    const int slot = WaitForEvents(r.Connections, kConnectionSlots);
    if (slot == kWaitFailed) {
        if (r.iState == tsConnecting) {
            r.iState = tsDisconnect;
        }
    } else if (slot == kWaitTimeout) {
        if (w.OnIdleTick()) {
            return;
        }
    } else {
        r.iWaited = 0;
        NetworkEvents events;
        if (!EnumNetworkEvents(r.Connections, slot, events)) {
            if (r.iState == tsConnecting) {
                r.iState = tsDisconnect;
            }
        } else {
            OnEvents(w, slot, events);
        }
    }
    const CEventSocket& control = r.Connections[slotControl];
    w.AfterStep(control.Host, control.Port);
}

void CFtpHandler::OnEvents(CWorker& w, int slot, const NetworkEvents& events) {
    ThreadRecord& r = w.rec;
    const int happened = events.lNetworkEvents;
    if ((happened & FD_CONNECT) && !OnConnectEvent(w, slot, events)) {
        return;
    }
    if (happened & FD_CLOSE) {
        if (slot == slotControl) {
            r.iState = tsDisconnect;
        } else if (slot == slotData) {
            OnDataClosed(w);
        }
    }
    if ((happened & FD_ACCEPT) && !target_.proxy.PASV) {
        OnAccept(w, events);
    }
    if ((happened & FD_READ) && r.iState > tsConnecting) {
        if (slot == slotControl) {
            OnControlReply(w);
        } else if (slot == slotData) {
            FTPOnRecvData(w);
        }
    }
}

// False when the rest of the events must wait (handshake under way or
// failed).
bool CFtpHandler::OnConnectEvent(CWorker& w, int slot, const NetworkEvents& events) {
    ThreadRecord& r = w.rec;
    if (events.iConnectError != 0) {
        if (r.iState == tsConnecting) {
            r.iState = tsDisconnect;
        }
        return true;
    }
    w.OnConnected();
    CEventSocket& conn = r.Connections[slot];
    if (r.iState != tsListing && slot != slotData) {
        r.iState = tsConnected;
        w.ThreadLog(logInfo,
                    conn.Host + ":" + IntToText(conn.Port) + " " + w.Text("Log_Connected"));
    }
    int64_t consumed = 0;
    const int step = NegotiateProxy(w, conn, target_.proxy, nullptr, 0, consumed);
    if (step == proxyFailed) {
        r.iState = tsDisconnect;
        return false;
    }
    return step == proxyReady;
}

void CFtpHandler::OnControlReply(CWorker& w) {
    if (w.IsStopped()) {
        return;
    }
    ThreadRecord& r = w.rec;
    ReceiveBuffer buffer;
    const int n = Receive(r.Connections, slotControl, buffer);
    if (n < 0) {
        return;
    }
    int64_t consumed = 0;
    const int step =
        NegotiateProxy(w, r.Connections[slotControl], target_.proxy, buffer.data(), n, consumed);
    if (step == proxyFailed) {
        r.iState = tsDisconnect;
        return;
    }
    if (step != proxyReady) {
        return;
    }
    std::vector<std::string> lines;
    SplitLines(
        AnsiToWide(std::string_view(buffer.data() + consumed, static_cast<size_t>(n - consumed))),
        lines);
    std::string pending, lastCode;
    for (const std::string& line : lines) {
        const std::string code = ReplyCode(line);
        w.ThreadLog(logReceived, line);
        lastCode = code;
        // Checked first so that no command follows a "550".
        if (code == "550") {
            Fail550(w);
            return;
        }
        if (OnReplyLine(w, line, code, pending) == LineResult::Stop) {
            return;
        }
    }
    SendPending(w, pending, lastCode);
}

// One row of the command sequence per state: the reply that moves it on and
// the command it answers with (pending is sent after the last line).
CFtpHandler::LineResult CFtpHandler::OnReplyLine(CWorker& w, const std::string& line,
                                                 const std::string& code, std::string& pending) {
    ThreadRecord& r = w.rec;
    switch (r.iState) {
        case tsConnected:
            return OnGreeting(w, code, pending);
        case tsUserSent:
            return OnUserReply(w, code, pending);
        case tsPassSent:
            return OnPassReply(w, code, pending);
        case tsRestProbeSent:
            return OnRestProbeReply(w, code, pending);
        case tsRestResetSent:
            pending = "TYPE " + r.ListType;
            r.iState = tsListTypeSent;
            return LineResult::Next;
        case tsListTypeSent:
            if (!OpenDataPath(w)) {
                return LineResult::Stop;
            }
            r.iState = target_.proxy.PASV ? tsListPasvSent : tsListPortSent;
            return LineResult::Next;
        case tsListPasvSent:
            ConnectDataToPasv(w, line);
            pending = "LIST " + target_.path;
            r.iState = tsListing;
            return LineResult::Next;
        case tsListPortSent:
            pending = "LIST " + target_.path;
            r.iState = tsListing;
            return LineResult::Next;
        case tsSizeRestSent:
            pending = "SIZE " + target_.path;
            r.iState = tsSizeSent;
            return LineResult::Next;
        case tsTypeBinarySent:
            return OpenDataPath(w) ? LineResult::Next : LineResult::Stop;
        case tsSizeSent:
            return code == "213" ? OnSizeReply(w, line) : LineResult::Next;
        case tsRestSent:
            r.iState = tsRetrSent;
            w.SendText("RETR " + target_.path);
            return LineResult::Next;
        case tsPasvSent:
            if (code == "227") {
                ConnectDataToPasv(w, line);
                pending = "REST 0";
                r.iState = tsSizeRestSent;
            }
            return LineResult::Next;
        case tsPortSent:
            if (code == "200") {
                pending = "REST 0";
                r.iState = tsSizeRestSent;
            }
            return LineResult::Next;
        default:
            return LineResult::Next;
    }
}

CFtpHandler::LineResult CFtpHandler::OnGreeting(CWorker& w, const std::string& code,
                                                std::string& pending) {
    if (code == "220") {
        pending = UserCommand(target_.user);
        w.rec.iState = tsUserSent;
    }
    return LineResult::Next;
}

CFtpHandler::LineResult CFtpHandler::OnUserReply(CWorker& w, const std::string& code,
                                                 std::string& pending) {
    if (code == "331") {
        pending = "PASS " + target_.password;
        w.rec.iState = tsPassSent;
    } else if (code == "530") {
        // Refused: ask again on the same connection after the retry wait.
        w.LogRetry(target_.host, target_.port);
        pending = "USER " + target_.user;
    } else if (code == "230") {
        // Logged in without a password.
        return OnPassReply(w, code, pending);
    }
    return LineResult::Next;
}

CFtpHandler::LineResult CFtpHandler::OnPassReply(CWorker& w, const std::string& code,
                                                 std::string& pending) {
    ThreadRecord& r = w.rec;
    if (code == "530") {
        w.LogRetry(target_.host, target_.port);
        r.iState = tsReconnect;
    } else if (code == "230") {
        if (r.iThreadID == 0 && !r.bSizeChecked) {
            pending = "REST 100";
            r.iState = tsRestProbeSent;
        } else {
            r.iState = tsTypeBinarySent;
            w.SendText("TYPE I");
        }
    }
    return LineResult::Next;
}

// The probe: 350 and 501 both mean the server knows REST (501 only disliked
// the offset on an ASCII listing type); anything else means one stream.
CFtpHandler::LineResult CFtpHandler::OnRestProbeReply(CWorker& w, const std::string& code,
                                                      std::string& pending) {
    ThreadRecord& r = w.rec;
    const bool ranges = code == "350" || code == "501";
    if (code == "350") {
        r.ListType = "A";
    } else if (code == "501") {
        r.ListType = "I";
    }
    {
        std::lock_guard lock(w.task.TaskLock);
        w.task.descriptor.bRangeMode = ranges;
    }
    pending = "REST 0";
    r.iState = tsRestResetSent;
    return LineResult::Next;
}

CFtpHandler::LineResult CFtpHandler::OnSizeReply(CWorker& w, const std::string& line) {
    ThreadRecord& r = w.rec;
    const int64_t size = ParseSizeReply(line);
    const bool probe = r.iThreadID == 0 && !r.bSizeChecked;
    if (!CheckSizeUnchanged(w, size)) {
        return LineResult::Stop;
    }
    if (size == 0) {
        r.iState = tsStop;
        return LineResult::Stop;
    }
    if (probe) {
        w.task.SetFileSize(size);
        if (!RangeMode(w)) {
            if (!RestartSingleStream(w.slot, r.iThreadID)) {
                r.iState = tsStop;
                return LineResult::Stop;
            }
        } else if (!RangeStart(w)) {
            return LineResult::Stop;
        }
    }
    if (!RangeMode(w)) {
        if (!w.IsStopped()) {
            int64_t from = 1;
            {
                // A stream can only start at byte 0: the server has no REST,
                // so a new login fetches the whole file again.
                std::lock_guard lock(w.task.TaskLock);
                TaskDescriptor& d = w.task.descriptor;
                if (d.Blocks) {
                    TaskBlock& b = (*d.Blocks)[r.iID];
                    if (b.iFrom != 1) {
                        b.iFrom = 1;
                        d.iDownloaded = 0;
                    }
                    from = b.iFrom;
                }
            }
            FTPSetFilePos(w, from - 1);
        }
    } else if (!FTPCheckBlock(w)) {
        r.iState = tsStop;
        return LineResult::Stop;
    }
    r.bSizeChecked = true;
    return LineResult::Next;
}

// The size of a file must not change under a download: the blocks on disk
// would mix two files. Thread 0's probe compares with the size stored with a
// temporary file of an earlier run; every later login with the size known.
bool CFtpHandler::CheckSizeUnchanged(CWorker& w, int64_t size) {
    ThreadRecord& r = w.rec;
    int64_t known = 0;
    if (r.iThreadID == 0 && !r.bSizeChecked) {
        TaskProgressRecord record;
        {
            std::lock_guard lock(w.task.ProgressLock);
            record = ReadProgress(w.task.descriptor.ProgressPath);
        }
        if (!record.LocalTempFileName.empty()) {
            known = TextToInt(record.FileSize);
        }
    } else {
        std::lock_guard lock(w.task.TaskLock);
        known = w.task.descriptor.iFileSize;
    }
    if (known <= 0 || known == size) {
        return true;
    }
    w.LogKey(logError, "Log_FileSizeChange");
    w.task.SetState(stateError);
    w.task.Finish(false);
    r.iState = tsStop;
    return false;
}

// Thread 0, first SIZE reply, ranges accepted: the local file and the blocks,
// then the other threads.
bool CFtpHandler::RangeStart(CWorker& w) {
    if (!PrepareLocalFile(w.slot, w.rec.iThreadID)) {
        // Also when every byte is already in: the task then ends complete and
        // the temporary file becomes the target.
        w.rec.iState = tsStop;
        return false;
    }
    w.StartOtherThreads();
    return true;
}

bool CFtpHandler::FTPCheckBlock(CWorker& w) {
    ThreadRecord& r = w.rec;
    if (w.AtEnd() || !w.ClaimBlock("FTPCheckBlock")) {
        return false;
    }
    int64_t from;
    {
        std::lock_guard lock(w.task.TaskLock);
        from = (*w.task.descriptor.Blocks)[r.iID].iFrom;
    }
    w.task.Trace("FTPCheckBlock,iThreadID=" + IntToText(r.iThreadID) + ",iID=" + IntToText(r.iID) +
                 ",bHasBlock=1");
    iHeld_ = 0;
    FTPSetFilePos(w, from - 1);
    return true;
}

void CFtpHandler::FTPSetFilePos(CWorker& w, int64_t offset) {
    ThreadRecord& r = w.rec;
    r.iState = tsRestSent;
    w.SendText("REST " + IntToText(offset));
    w.task.Trace("FTPSetFilePos,iThreadID=" + IntToText(r.iThreadID) + ",iID=" + IntToText(r.iID) +
                 ",pos=" + IntToText(offset));
}

void CFtpHandler::SendPending(CWorker& w, const std::string& pending, const std::string& lastCode) {
    if (pending.empty()) {
        return;
    }
    if (lastCode == "331" && pending.rfind("PASS ", 0) == 0) {
        CPassLineOwner owner(w);
        SendCommand(w.rec.Connections, owner, pending, target_.password);
        return;
    }
    w.SendText(pending);
}

// The file is not there (or not readable): the task fails, nothing more is
// sent.
void CFtpHandler::Fail550(CWorker& w) {
    w.LogKey(logError, "Log_FileNotFound");
    {
        std::lock_guard lock(w.task.TaskLock);
        w.task.descriptor.iState = stateError;
    }
    w.rec.iState = tsStop;
}

}  // namespace vardane
