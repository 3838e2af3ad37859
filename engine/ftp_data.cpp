// The FTP worker's data connection: opening it (PASV/EPSV or PORT/EPRT), connecting or
// accepting it, the listing of the probe and the file data written at the
// claimed block's position.

#include <algorithm>
#include <mutex>
#include <vector>

#include "engine/file_writer.h"
#include "engine/ftp_data_path.h"
#include "engine/ftp_reply.h"
#include "engine/ftp_session.h"
#include "engine/ftp_worker.h"
#include "engine/speed_limiter.h"
#include "net/proxy.h"
#include "platform/text.h"
#include "settings/app_context.h"

namespace vardane {

// PASV (EPSV over IPv6), or PORT (EPRT) with the active-mode listener.
bool FtpHandler::OpenDataPath(Worker& w) {
    const std::string command = session_->OpenDataPath(ReceiveBufferBytes(w.ctx));
    Enter(w, Proxy().PASV ? FtpState::PasvSent : FtpState::PortSent);
    if (command.empty()) {
        Enter(w, FtpState::Disconnect);
        return false;
    }
    w.SendText(command);
    return true;
}

// False when the reply refuses the data path or names no usable port: the
// try fails at once.
bool FtpHandler::OnDataPathReply(Worker& w, const std::string& line, const std::string& code) {
    FtpDataTarget target;
    const bool passive = Proxy().PASV;
    if (session_->OnDataPathReply(line, code, target, ReceiveBufferBytes(w.ctx)) !=
        FtpReply::DataReady) {
        return false;
    }
    if (passive) {
        const bool direct = Proxy().Type == proxyDirect;
        w.LogKey(LogKind::Info, direct ? "Log_Connecting" : "Log_ConnectingProxy",
                 HostPortText(target.host, target.port));
    }
    return true;
}

void FtpHandler::OnAccept(Worker& w, const NetworkEvents& events) {
    if (events.AcceptError != 0) {
        Enter(w, FtpState::Disconnect);
        return;
    }
    session_->AcceptData();
}

// The data connection closed. A listing that closes without a byte (nothing
// matched) ends like one that sent its first part. A transfer reads what is
// left first, then waits for the server's confirmation (or a ranged one asks
// for the rest of its block again).
void FtpHandler::OnDataClosed(Worker& w) {
    WorkerRecord& r = w.rec;
    if (StateOf(w) == FtpState::Listing) {
        listDataDone_ = true;
        CloseSocket(r.Connections, slotData);
        if (listReplyDone_) {
            EndListing(w);
        }
        return;
    }
    if (StateOf(w) != FtpState::RetrSent && StateOf(w) != FtpState::Receiving) {
        return;
    }
    const bool handshaking = Proxy().Type != proxyDirect && Proxy().PASV &&
                             r.Connections[slotData].ProxyStep != proxyReady;
    while (!handshaking &&
           (StateOf(w) == FtpState::RetrSent || StateOf(w) == FtpState::Receiving) &&
           !w.IsStopped() && ReceiveFileData(w) > 0) {
    }
    if (StateOf(w) != FtpState::RetrSent && StateOf(w) != FtpState::Receiving) {
        return;
    }
    CloseSocket(r.Connections, slotData);
    dataClosed_ = true;
    if (w.RangeMode() || retrReplyDone_) {
        FinishTransfer(w);
    }
}

void FtpHandler::FTPOnRecvData(Worker& w) {
    if (w.IsStopped()) {
        return;
    }
    const bool proxiedPassive = Proxy().Type != proxyDirect && Proxy().PASV;
    switch (StateOf(w)) {
        case FtpState::Listing:
            OnListingData(w);
            return;
        case FtpState::RetrSent:
            if (proxiedPassive) {
                OnProxiedFirstData(w);
            } else {
                ReceiveFileData(w);
            }
            return;
        case FtpState::Receiving:
            ReceiveFileData(w);
            return;
        default: {
            // The proxy of a passive data connection answers while the
            // control connection is still busy with REST and SIZE; its
            // handshake goes on regardless of the control state.
            const int step = w.rec.Connections[slotData].ProxyStep;
            if (proxiedPassive && step != proxyReady && step != proxyFailed) {
                OnDataHandshake(w);
            }
            return;
        }
    }
}

// One receive on the data connection, fed to the connection's proxy
// handshake (which is done at once on a direct or accepted connection). A
// failed handshake drops the connection. False when nothing was received.
bool FtpHandler::ReceiveData(Worker& w, DataChunk& chunk) {
    ConnectionSet& set = w.rec.Connections;
    chunk.n = Receive(set, slotData, chunk.buffer);
    if (chunk.n < 0) {
        return false;
    }
    chunk.consumed = 0;
    chunk.step =
        NegotiateProxy(w, set[slotData], Proxy(), chunk.buffer.data(), chunk.n, chunk.consumed);
    if (chunk.step == proxyFailed) {
        Enter(w, FtpState::Disconnect);
    }
    return true;
}

// Only the first receive of the listing is used: its lines go to the log.
void FtpHandler::OnListingData(Worker& w) {
    DataChunk chunk;
    if (!ReceiveData(w, chunk) || chunk.step != proxyReady) {
        return;
    }
    std::vector<std::string> lines;
    SplitLines(AnsiToWide(chunk.Payload()), lines);
    for (const std::string& line : lines) {
        if (w.IsStopped()) {
            break;
        }
        w.ThreadLog(LogKind::Received, line);
    }
    listDataDone_ = true;
    CloseSocket(w.rec.Connections, slotData);
    if (listReplyDone_) {
        EndListing(w);
    }
}

// The rest of the listing is not wanted: the connection is dropped and, once
// LIST's own reply is in, the transfer is prepared.
void FtpHandler::EndListing(Worker& w) {
    ConnectionSet& set = w.rec.Connections;
    CloseSocket(set, slotData);
    CloseSocket(set, slotListen);
    Enter(w, FtpState::TypeBinarySent);
    w.SendText("TYPE I");
}

void FtpHandler::OnDataHandshake(Worker& w) {
    DataChunk chunk;
    ReceiveData(w, chunk);
}

// After RETR on a proxied passive connection the handshake may still be
// finishing: the bytes after the proxy's reply are the first file data.
void FtpHandler::OnProxiedFirstData(Worker& w) {
    DataChunk chunk;
    if (!ReceiveData(w, chunk) || chunk.step != proxyReady || chunk.Payload().empty()) {
        return;
    }
    Enter(w, FtpState::Receiving);
    if (!w.IsStopped()) {
        Store(w, chunk.Payload().data(), static_cast<int64_t>(chunk.Payload().size()));
    }
}

// Returns what one receive got: -1 nothing, 0 the end of the data.
int64_t FtpHandler::ReceiveFileData(Worker& w) {
    WorkerRecord& r = w.rec;
    {
        std::lock_guard lock(w.task.TaskLock);
        if (!w.task.descriptor.Blocks) {
            return -1;
        }
    }
    const int64_t quota = WaitForQuota(w.ctx, w.task);
    if (quota < 1) {
        return -1;
    }
    TaskBlock block;
    bool rangeMode;
    {
        std::lock_guard lock(w.task.TaskLock);
        block = (*w.task.descriptor.Blocks)[r.Id];
        rangeMode = w.task.descriptor.RangeMode;
    }
    w.task.Trace("FTPOnRecvData,iThreadID=" + IntToText(r.ThreadId) + ",iID=" + IntToText(r.Id) +
                 ",iFrom=" + IntToText(block.From) + ",iTo=" + IntToText(block.To));
    if (block.From == 0 && block.To == 0) {
        ReturnQuota(w.ctx, quota);
        return -1;
    }
    // A ranged read never asks for more than the block still lacks.
    const int64_t want = rangeMode ? block.To - (block.From + held_) + 1 : quota;
    if (want < 1) {
        ReturnQuota(w.ctx, quota);
        Enter(w, FtpState::Reconnect);
        return -1;
    }
    buffer_.resize(static_cast<size_t>(kUnlimitedReadBytes));
    const int64_t size = std::min({want, quota, kUnlimitedReadBytes});
    const int64_t got =
        ReceiveBytes(r.Connections, slotData, buffer_.data(), static_cast<size_t>(size));
    Enter(w, FtpState::Receiving);
    ReturnQuota(w.ctx, got < 0 ? quota : quota - got);
    if (got < 0) {
        return got;
    }
    if (w.IsStopped()) {
        // The loop head turns this into a stop.
        if (rangeMode) {
            Enter(w, FtpState::Reconnect);
        }
        return got;
    }
    Store(w, buffer_.data(), got);
    return got;
}

// Writes n received bytes where this connection stands and counts them.
void FtpHandler::Store(Worker& w, const char* bytes, int64_t n) {
    WorkerRecord& r = w.rec;
    StoreResult result = StoreResult::Continue;
    int error = 0;
    int64_t blockEnd = 0;
    {
        std::lock_guard lock(w.task.TaskLock);
        TaskDescriptor& d = w.task.descriptor;
        if (!d.Blocks || w.slot.FileChanged) {
            return;  // nothing goes into the file of a version that is gone
        }
        TaskBlock& b = (*d.Blocks)[r.Id];
        result = d.RangeMode ? StoreRanged(w, d, b, bytes, n, error)
                             : StoreStream(w, d, b, bytes, n, error);
        // Only a block that ends before the file does cuts its transfer.
        blockEnd = b.To < d.FileSize ? b.To : 0;
    }
    moved_ = true;
    switch (result) {
        case StoreResult::WriteFailed:
            ReportWriteFailure(w.slot, r.ThreadId, error);
            Enter(w, FtpState::Stop);
            break;
        case StoreResult::BlockFinished:
            // FTP cannot ask for an end: the log shows where this transfer
            // was cut, as a ranged HTTP request shows it in its header.
            if (blockEnd > 0) {
                w.LogKey(LogKind::Info, "Log_BlockEnd", IntToText(blockEnd - 1));
            }
            Enter(w, FtpState::Reconnect);
            break;
        case StoreResult::SizeMismatch:
            // More data than SIZE announced: the file is not what was sized.
            w.LogKey(LogKind::Error, "Log_FileSizeChange");
            Enter(w, FtpState::Disconnect);
            break;
        case StoreResult::Continue:
            break;
    }
}

// Ranged mode, under TaskLock. Bytes past the block's end (it may have been
// split meanwhile) are dropped. A block never rests with exactly one byte
// outstanding, since that reads as finished: the last-but-one byte is
// written but counted only with the last one (held_).
FtpHandler::StoreResult FtpHandler::StoreRanged(Worker& w, TaskDescriptor& d, TaskBlock& b,
                                                const char* bytes, int64_t n, int& error) {
    if (b.From == 0 || b.To == 0) {
        return StoreResult::Continue;
    }
    const int64_t pos = b.From + held_;
    n = std::min(n, std::max<int64_t>(b.To - pos + 1, 0));
    if (n > 0 && !WriteTempStrict(w.slot, pos - 1, bytes, n, &error)) {
        return StoreResult::WriteFailed;
    }
    const int64_t next = pos + n;
    const int64_t from = b.From;
    bool finished = false;
    if (next > b.To) {
        b.From = b.To;
        held_ = 0;
        finished = true;
    } else if (next == b.To) {
        b.From = next - 1;
        held_ = 1;
    } else {
        b.From = next;
        held_ = 0;
    }
    d.Downloaded += finished ? b.To - from + 1 : b.From - from;
    if (d.Downloaded == d.FileSize) {
        w.task.FinishLocked(true);
    }
    return finished ? StoreResult::BlockFinished : StoreResult::Continue;
}

// One stream from byte 0 (no REST, or no size), under TaskLock. Of a known
// size the last byte is counted only when the server confirms the end
// (FinishTransfer), so the stream cannot look complete before that; bytes
// beyond the size fail the try.
FtpHandler::StoreResult FtpHandler::StoreStream(Worker& w, TaskDescriptor& d, TaskBlock& b,
                                                const char* bytes, int64_t n, int& error) {
    const int64_t written = b.From - 1;
    if (d.FileSize > 0 && written + n > d.FileSize) {
        return StoreResult::SizeMismatch;
    }
    if (n > 0 && !WriteTempLoose(w.slot, written, bytes, n, &error)) {
        return StoreResult::WriteFailed;
    }
    b.From += n;
    d.Downloaded = d.FileSize > 0 ? std::min(written + n, d.FileSize - 1) : written + n;
    return StoreResult::Continue;
}

}  // namespace vardane
