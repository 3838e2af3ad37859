// The FTP worker's connect and event steps and its control connection: the
// command sequence driven by the server's reply codes, one small function per
// state of the sequence.
#include "engine/ftp_worker.h"

#include <mutex>
#include <vector>

#include "engine/file_writer.h"
#include "engine/ftp_reply.h"
#include "engine/ftp_session.h"
#include "net/proxy.h"
#include "net/send_command.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/progress_file.h"
#include "task/url.h"

namespace vardane {

std::unique_ptr<IProtocolHandler> MakeFtpHandler() {
    return std::make_unique<FtpHandler>();
}

void FtpHandler::ConnectStep(Worker& w) {
    if (w.IsStopped()) {
        return;
    }
    ConnectionSet& set = w.rec.Connections;
    w.SendText("QUIT");
    CloseSockets(set, kConnectionSlots);
    CreateSockets(set, kConnectionSlots);
    if (!w.CountConnectAttempt()) {
        return;
    }
    FtpServer server;
    {
        std::lock_guard lock(w.task.TaskLock);
        const TaskDescriptor& d = w.task.descriptor;
        server = FtpServer{d.Host, d.Port, d.User, d.Password, d.ProxyFTP};
        // The path of an ftp:// address names its bytes with %XX; the
        // parser has refused one that decodes to a CR, LF or NUL.
        path_ = PercentDecode(d.RequestPath);
    }
    held_ = 0;
    lastMove_ = std::chrono::steady_clock::now();
    Enter(w, FtpState::Connecting);
    if (!session_) {
        session_ = std::make_unique<FtpSession>(set, w, w.ctx.lang);
    }
    session_->Connect(server);
}

void FtpHandler::EventStep(Worker& w) {
    if (w.IsStopped()) {
        return;
    }
    WorkerRecord& r = w.rec;
    const FtpState stateBefore = StateOf(w);
    moved_ = false;
    const int slot = WaitForEvents(r.Connections, kConnectionSlots);
    if (slot == kWaitFailed) {
        if (StateOf(w) == FtpState::Connecting) {
            Enter(w, FtpState::Disconnect);
        }
    } else if (slot == kWaitTimeout) {
        w.OnIdleTick();
    } else {
        r.Waited = 0;
        NetworkEvents events;
        if (!EnumNetworkEvents(r.Connections, slot, events)) {
            if (StateOf(w) == FtpState::Connecting) {
                Enter(w, FtpState::Disconnect);
            }
        } else {
            OnEvents(w, slot, events);
        }
    }
    CheckStall(w, stateBefore);
    const EventSocket& control = r.Connections[slotControl];
    w.AfterStep(control.Host, control.Port);
}

void FtpHandler::OnEvents(Worker& w, int slot, const NetworkEvents& events) {
    const int happened = events.NetworkEvents;
    if ((happened & kFdConnect) && !OnConnectEvent(w, slot, events)) {
        return;
    }
    if ((happened & kFdAccept) && !Proxy().PASV) {
        OnAccept(w, events);
    }
    // What came before a close is read first: the last reply or the last
    // bytes of the data.
    if ((happened & (kFdRead | kFdClose)) && StateOf(w) > FtpState::Connecting) {
        if (slot == slotControl) {
            OnControlReply(w);
        } else if (slot == slotData && (happened & kFdRead)) {
            FTPOnRecvData(w);
        }
    }
    if (happened & kFdClose) {
        if (slot == slotControl && StateOf(w) != FtpState::Stop) {
            Enter(w, FtpState::Disconnect);
        } else if (slot == slotData) {
            OnDataClosed(w);
        }
    }
}

// Any state that waits for the server ends after ConnectionTimeOut without
// moving on, also when the server keeps sending lines that change nothing.
void FtpHandler::CheckStall(Worker& w, FtpState stateBefore) {
    WorkerRecord& r = w.rec;
    const auto now = std::chrono::steady_clock::now();
    if (StateOf(w) != stateBefore || moved_) {
        lastMove_ = now;
        return;
    }
    if (StateOf(w) == FtpState::Disconnect || StateOf(w) == FtpState::Reconnect ||
        StateOf(w) == FtpState::Stop) {
        return;
    }
    if (now - lastMove_ >= std::chrono::seconds(w.ReadSettings().ConnectionTimeOut)) {
        w.LogKey(LogKind::Error, "Log_TimeOut");
        Enter(w, FtpState::Disconnect);
        r.Waited = 0;
    }
}

// False when the rest of the events must wait (handshake under way or
// failed).
bool FtpHandler::OnConnectEvent(Worker& w, int slot, const NetworkEvents& events) {
    if (events.ConnectError != 0) {
        if (StateOf(w) == FtpState::Connecting) {
            Enter(w, FtpState::Disconnect);
        }
        return true;
    }
    const bool control = StateOf(w) != FtpState::Listing && slot != slotData;
    if (control) {
        Enter(w, FtpState::Connected);
    }
    const int step = session_->OnConnected(slot, control);
    if (step == proxyFailed) {
        Enter(w, FtpState::Disconnect);
        return false;
    }
    return step == proxyReady;
}

void FtpHandler::OnControlReply(Worker& w) {
    if (w.IsStopped()) {
        return;
    }
    std::vector<FtpReplyReader::Line> lines;
    bool bounded = true;
    const ControlRead read = session_->ReadReplies(lines, bounded);
    if (read == ControlRead::Failed) {
        Enter(w, FtpState::Disconnect);
        return;
    }
    if (read == ControlRead::Nothing) {
        return;
    }
    std::string pending;
    for (const FtpReplyReader::Line& raw : lines) {
        const std::string line = session_->LogReply(raw);
        if (line.empty() || !raw.Last) {
            continue;  // a reply is acted upon at its last line
        }
        const std::string code = ReplyCode(line);
        // Checked first so that no command follows a "550" (to MDTM it only
        // says that the server keeps no time).
        if (code == "550" && StateOf(w) != FtpState::MdtmSent) {
            Fail550(w);
            return;
        }
        if (IsPreliminary(code)) {
            continue;  // another reply to the same command follows
        }
        if (OnReplyLine(w, line, code, pending) == LineResult::Stop) {
            return;
        }
    }
    if (!bounded) {
        Enter(w, FtpState::Disconnect);  // a reply without an end
        return;
    }
    session_->SendPending(pending);
}

// One row of the command sequence per state: the reply that moves it on and
// the command it answers with (pending is sent after the last line). A
// refusal the sequence cannot go on from fails the try.
FtpHandler::LineResult FtpHandler::OnReplyLine(Worker& w, const std::string& line,
                                               const std::string& code, std::string& pending) {
    WorkerRecord& r = w.rec;
    switch (StateOf(w)) {
        case FtpState::Connected:
        case FtpState::UserSent:
        case FtpState::PassSent:
            return OnLoginReply(w, code, pending);
        case FtpState::RestProbeSent:
            return OnRestProbeReply(w, code, pending);
        case FtpState::RestResetSent:
            // Without a type of its own the listing goes in ASCII, the
            // default of every server.
            pending = session_->TypeCommand(r.ListType.empty() ? std::string("A") : r.ListType);
            Enter(w, FtpState::ListTypeSent);
            return LineResult::Next;
        case FtpState::ListTypeSent:
            if (!OpenDataPath(w)) {
                return LineResult::Stop;
            }
            Enter(w, Proxy().PASV ? FtpState::ListPasvSent : FtpState::ListPortSent);
            return LineResult::Next;
        case FtpState::ListPasvSent:
        case FtpState::ListPortSent:
            if (!OnDataPathReply(w, line, code)) {
                Enter(w, FtpState::Disconnect);
                return LineResult::Stop;
            }
            pending = "LIST " + path_;
            listDataDone_ = listReplyDone_ = false;
            Enter(w, FtpState::Listing);
            return LineResult::Next;
        case FtpState::Listing:
            OnListingReply(w, code);
            return LineResult::Next;
        case FtpState::SizeRestSent:
            pending = "SIZE " + path_;
            Enter(w, FtpState::SizeSent);
            return LineResult::Next;
        case FtpState::TypeBinarySent:
            if (IsNegative(code)) {
                Enter(w, FtpState::Disconnect);  // text mode would alter the bytes
                return LineResult::Stop;
            }
            return OpenDataPath(w) ? LineResult::Next : LineResult::Stop;
        case FtpState::SizeSent:
            if (code == "213") {
                return OnSizeReply(w, line);
            }
            return IsNegative(code) ? OnSizeUnknown(w) : LineResult::Next;
        case FtpState::MdtmSent:
            return OnMdtmReply(w, line, code);
        default:
            return OnTransferReply(w, line, code, pending);
    }
}

// The states of the transfer itself: the data path, the position, RETR.
FtpHandler::LineResult FtpHandler::OnTransferReply(Worker& w, const std::string& line,
                                                   const std::string& code, std::string& pending) {
    switch (StateOf(w)) {
        case FtpState::RestSent:
            if (code != "350" && restOffset_ > 0) {
                // The data would start at byte 0, not where the block is.
                Enter(w, FtpState::Disconnect);
                return LineResult::Stop;
            }
            Enter(w, FtpState::RetrSent);
            dataClosed_ = retrReplyDone_ = false;
            w.SendText("RETR " + path_);
            return LineResult::Next;
        case FtpState::PasvSent:
        case FtpState::PortSent:
            if (!OnDataPathReply(w, line, code)) {
                Enter(w, FtpState::Disconnect);
                return LineResult::Stop;
            }
            pending = "REST 0";
            Enter(w, FtpState::SizeRestSent);
            return LineResult::Next;
        case FtpState::RetrSent:
        case FtpState::Receiving:
            OnRetrReply(w, code);
            return StateOf(w) == FtpState::Disconnect ? LineResult::Stop : LineResult::Next;
        default:
            return LineResult::Next;
    }
}

// The login; a refused USER is a failed try, asked again on the same
// connection after the retry wait. A refused PASS (or an account we do not
// have) fails the try, counted at the next connect.
FtpHandler::LineResult FtpHandler::OnLoginReply(Worker& w, const std::string& code,
                                                std::string& pending) {
    WorkerRecord& r = w.rec;
    const bool afterUser = StateOf(w) == FtpState::UserSent;
    switch (session_->OnLoginReply(code, pending)) {
        case FtpReply::Next:
            Enter(w,
                  session_->Step() == FtpStep::UserSent ? FtpState::UserSent : FtpState::PassSent);
            return LineResult::Next;
        case FtpReply::LoggedIn:
            if (r.ThreadId == 0 && !r.SizeChecked) {
                pending = "REST 100";
                Enter(w, FtpState::RestProbeSent);
            } else {
                Enter(w, FtpState::TypeBinarySent);
                w.SendText(session_->TypeCommand("I"));
            }
            return LineResult::Next;
        case FtpReply::Refused:
            if (afterUser) {
                if (!w.CountFailedTry()) {
                    return LineResult::Stop;
                }
                w.LogRetry(session_->Server().host, session_->Server().port);
                session_->RetryLogin(pending);
                return LineResult::Next;
            }
            Enter(w, FtpState::Disconnect);
            return LineResult::Stop;
        case FtpReply::Failed:
            Enter(w, FtpState::Disconnect);
            return LineResult::Stop;
        default:
            return LineResult::Next;
    }
}

// The probe: 350 and 501 both mean the server knows REST (501 only disliked
// the offset on an ASCII listing type); anything else means one stream.
FtpHandler::LineResult FtpHandler::OnRestProbeReply(Worker& w, const std::string& code,
                                                    std::string& pending) {
    WorkerRecord& r = w.rec;
    const bool ranges = code == "350" || code == "501";
    if (code == "350") {
        r.ListType = "A";
    } else if (code == "501") {
        r.ListType = "I";
    }
    {
        std::lock_guard lock(w.task.TaskLock);
        w.task.descriptor.RangeMode = ranges;
    }
    pending = "REST 0";
    Enter(w, FtpState::RestResetSent);
    return LineResult::Next;
}

FtpHandler::LineResult FtpHandler::OnSizeReply(Worker& w, const std::string& line) {
    const int64_t size = ParseSizeReply(line);
    if (w.rec.ThreadId == 0 && !w.rec.SizeChecked && size > 0 && w.RangeMode()) {
        // With the size, the file's time names the version whose bytes a
        // resumed download continues.
        probedSize_ = size;
        Enter(w, FtpState::MdtmSent);
        w.SendText("MDTM " + path_);
        return LineResult::Next;
    }
    return OnSizeKnown(w, size, "");
}

// Any final reply but "213 <time>" means the server keeps no time for the
// file: the size alone is compared, as it always was.
FtpHandler::LineResult FtpHandler::OnMdtmReply(Worker& w, const std::string& line,
                                               const std::string& code) {
    return OnSizeKnown(w, probedSize_, code == "213" ? ParseMdtmReply(line) : "");
}

FtpHandler::LineResult FtpHandler::OnSizeKnown(Worker& w, int64_t size,
                                               const std::string& modTime) {
    WorkerRecord& r = w.rec;
    const bool probe = r.ThreadId == 0 && !r.SizeChecked;
    if (!CheckVersionUnchanged(w, size, modTime)) {
        return LineResult::Stop;
    }
    if (size == 0) {
        Enter(w, FtpState::Stop);
        return LineResult::Stop;
    }
    if (probe) {
        w.task.SetFileSize(size);
        if (!w.RangeMode()) {
            if (!RestartSingleStream(w.slot, r.ThreadId)) {
                Enter(w, FtpState::Stop);
                return LineResult::Stop;
            }
        } else if (!RangeStart(w)) {
            return LineResult::Stop;
        }
    }
    if (!w.RangeMode()) {
        StartStream(w);
    } else if (!FTPCheckBlock(w)) {
        Enter(w, FtpState::Stop);
        return LineResult::Stop;
    }
    r.SizeChecked = true;
    return LineResult::Next;
}

// SIZE refused (not "550"): the length is unknown, so the file comes as one
// stream that ends when the server says the transfer is complete. A later
// login of a ranged download knew the size: only this try fails.
FtpHandler::LineResult FtpHandler::OnSizeUnknown(Worker& w) {
    WorkerRecord& r = w.rec;
    const bool probe = r.ThreadId == 0 && !r.SizeChecked;
    if (!probe && w.RangeMode()) {
        Enter(w, FtpState::Disconnect);
        return LineResult::Stop;
    }
    if (probe) {
        {
            std::lock_guard lock(w.task.TaskLock);
            w.task.descriptor.RangeMode = false;
        }
        if (!RestartSingleStream(w.slot, r.ThreadId)) {
            Enter(w, FtpState::Stop);
            return LineResult::Stop;
        }
    }
    StartStream(w);
    r.SizeChecked = true;
    return LineResult::Next;
}

// A stream always starts at byte 0 (the server has no REST, or no size to
// split by), so a new login fetches the whole file again.
void FtpHandler::StartStream(Worker& w) {
    WorkerRecord& r = w.rec;
    if (w.IsStopped()) {
        return;
    }
    {
        std::lock_guard lock(w.task.TaskLock);
        TaskDescriptor& d = w.task.descriptor;
        if (d.Blocks) {
            TaskBlock& b = (*d.Blocks)[r.Id];
            b.From = 1;
            d.Downloaded = 0;
        }
    }
    FTPSetFilePos(w, 0);
}

// The final reply to LIST. An error means no listing comes: its data
// connection is dropped and the download goes on without it.
void FtpHandler::OnListingReply(Worker& w, const std::string& code) {
    listReplyDone_ = true;
    if (IsNegative(code)) {
        listDataDone_ = true;
    }
    if (listDataDone_) {
        EndListing(w);
    }
}

// The final reply to RETR: an error fails the try; a confirmation completes
// the transfer once its data connection has closed.
void FtpHandler::OnRetrReply(Worker& w, const std::string& code) {
    if (IsNegative(code)) {
        Enter(w, FtpState::Disconnect);
        return;
    }
    retrReplyDone_ = true;
    if (dataClosed_) {
        FinishTransfer(w);
    }
}

// The data connection closed and the server confirmed the transfer. A block
// that is not finished is asked for again; a stream is complete when its
// length agrees with the size the server reported (or none was reported).
void FtpHandler::FinishTransfer(Worker& w) {
    WorkerRecord& r = w.rec;
    if (w.RangeMode()) {
        Enter(w, FtpState::Reconnect);
        return;
    }
    int64_t size = 0, written = 0;
    {
        std::lock_guard lock(w.task.TaskLock);
        TaskDescriptor& d = w.task.descriptor;
        size = d.FileSize;
        written = d.Blocks ? (*d.Blocks)[r.Id].From - 1 : 0;
        if (size <= 0 || written == size) {
            d.Downloaded = written;
        }
    }
    if (size > 0 && written != size) {
        w.LogKey(LogKind::Error, "Log_FileSizeChange",
                 IntToText(size) + " / " + IntToText(written));
        Enter(w, FtpState::Disconnect);
        return;
    }
    w.MarkStreamEnded();
    Enter(w, FtpState::Stop);
}

// The blocks on disk must all come from one version of the file. Thread 0's
// probe compares the size and the MDTM time with those stored with the
// temporary file of an earlier run (a server without MDTM: the size alone),
// every later login the size with the one known. Another version starts the
// task again from the first byte (FileChanged).
bool FtpHandler::CheckVersionUnchanged(Worker& w, int64_t size, const std::string& modTime) {
    WorkerRecord& r = w.rec;
    const bool probe = r.ThreadId == 0 && !r.SizeChecked;
    int64_t known = 0;
    std::string knownTime;
    if (probe) {
        const TaskProgressRecord record = TaskRecord(w.task);
        if (!record.LocalTempFileName.empty()) {
            known = TextToInt(record.FileSize);
            knownTime = UsableValidator(record.Validators.ModTime);
        }
    } else {
        std::lock_guard lock(w.task.TaskLock);
        known = w.task.descriptor.FileSize;
    }
    if ((known > 0 && known != size) ||
        (!knownTime.empty() && !modTime.empty() && knownTime != modTime)) {
        w.FileChanged();
        return false;
    }
    if (probe) {
        std::lock_guard lock(w.task.TaskLock);
        w.task.descriptor.Validators.ModTime = modTime.empty() ? knownTime : modTime;
    }
    return true;
}

// Thread 0, first SIZE reply, ranges accepted: the local file and the blocks,
// then the other threads.
bool FtpHandler::RangeStart(Worker& w) {
    if (!PrepareLocalFile(w.slot, w.rec.ThreadId)) {
        // Also when every byte is already in: the task then ends complete and
        // the temporary file becomes the target.
        Enter(w, FtpState::Stop);
        return false;
    }
    w.StartOtherThreads();
    return true;
}

bool FtpHandler::FTPCheckBlock(Worker& w) {
    WorkerRecord& r = w.rec;
    if (w.AtEnd() || !w.ClaimBlock("FTPCheckBlock")) {
        return false;
    }
    int64_t from;
    {
        std::lock_guard lock(w.task.TaskLock);
        from = (*w.task.descriptor.Blocks)[r.Id].From;
    }
    w.task.Trace("FTPCheckBlock,iThreadID=" + IntToText(r.ThreadId) + ",iID=" + IntToText(r.Id) +
                 ",bHasBlock=1");
    held_ = 0;
    FTPSetFilePos(w, from - 1);
    return true;
}

void FtpHandler::FTPSetFilePos(Worker& w, int64_t offset) {
    WorkerRecord& r = w.rec;
    Enter(w, FtpState::RestSent);
    restOffset_ = offset;
    w.SendText("REST " + IntToText(offset));
    w.task.Trace("FTPSetFilePos,iThreadID=" + IntToText(r.ThreadId) + ",iID=" + IntToText(r.Id) +
                 ",pos=" + IntToText(offset));
}

// The file is not there (or not readable): the task fails, nothing more is
// sent.
void FtpHandler::Fail550(Worker& w) {
    w.LogKey(LogKind::Error, "Log_FileNotFound");
    {
        std::lock_guard lock(w.task.TaskLock);
        w.task.descriptor.State = TaskState::Failed;
    }
    Enter(w, FtpState::Stop);
}

}  // namespace vardane
