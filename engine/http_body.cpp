// The HTTP body: reads within the speed quota, written straight to the
// block's offset in the temporary file and counted only once on disk.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "engine/file_writer.h"
#include "engine/http_worker.h"
#include "engine/speed_limiter.h"
#include "settings/app_context.h"

namespace vardane {

void HttpHandler::ReadBody(Worker& w) {
    WorkerRecord& r = w.rec;
    if (w.IsStopped()) {
        return;
    }
    int64_t quota = WaitForQuota(w.ctx, w.task);
    if (quota <= 0) {
        return;
    }
    int64_t size = 0;
    bool rangeMode;
    {
        std::lock_guard lock(w.task.TaskLock);
        const TaskDescriptor& d = w.task.descriptor;
        rangeMode = d.RangeMode;
        if (d.Blocks) {
            const TaskBlock& b = (*d.Blocks)[r.Id];
            size = rangeMode ? std::max<int64_t>(1, b.To - b.From + 1) : quota;
            if (b.From == 0 && b.To == 0) {
                size = 0;
            }
        }
    }
    if (size == 0) {
        ReturnQuota(w.ctx, quota);
        r.State = tsStop;  // the block went away (the task fell back to one stream)
        return;
    }
    // A plain connection's ranged body goes from the socket to the file
    // through a pipe: no copy in user space and no read buffer, which was
    // most of what each further connection kept resident.
    const bool piped = rangeMode && TlsOf(r.Connections, 0) == nullptr && OpenPipe();
    if (!piped && buffer_.empty()) {
        buffer_.resize(kUnlimitedReadBytes);
    }
    size = std::min({size, quota, kUnlimitedReadBytes});
    int64_t n = piped ? ReceiveIntoPipe(r.Connections, 0, pipe_[1], static_cast<size_t>(size))
                      : ReceiveBytes(r.Connections, 0, buffer_.data(), static_cast<size_t>(size));
    ReturnQuota(w.ctx, quota - std::max<int64_t>(n, 0));
    if (n == 0) {
        if (rangeMode) {
            r.State = tsReconnect;
        }
        return;
    }
    if (n > 0 && piped) {
        ConsumePiped(w, n);
    } else if (n > 0) {
        Consume(w, buffer_.data(), n);
    }
}

HttpHandler::~HttpHandler() {
    ClosePipe();
}

bool HttpHandler::OpenPipe() {
    if (pipe_[0] >= 0) {
        return true;
    }
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return false;
    }
    // A read's worth; a pipe that cannot grow (a lowered system maximum)
    // only makes the reads smaller.
    (void)::fcntl(pipe_[0], F_SETPIPE_SZ, static_cast<int>(kUnlimitedReadBytes));
    return true;
}

// Also drops whatever is left in the pipe: bytes that were not written are
// never counted, and the connection fetches them again.
void HttpHandler::ClosePipe() {
    for (int& fd : pipe_) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

// Consume for n bytes waiting in the pipe, on a ranged connection.
void HttpHandler::ConsumePiped(Worker& w, int64_t n) {
    WorkerRecord& r = w.rec;
    int64_t take = 0;
    uint64_t epoch = 0;
    if (w.IsStopped() || !ReserveWrite(w, n, take, epoch)) {
        ClosePipe();
        return;
    }
    int error = 0;
    if (!MoveToTempIfSameFile(w.slot, epoch, streamPos_, pipe_[0], take, &error)) {
        ClosePipe();
        if (error == 0) {
            r.State = tsReconnect;  // the file was closed or replaced meanwhile
            return;
        }
        ReportWriteFailure(w.slot, r.ThreadId, error);
        r.State = tsStop;
        return;
    }
    if (take < n) {
        ClosePipe();  // bytes past the block's end
    }
    CountWritten(w, take);
}

// Under TaskLock: how many of n bytes at the stream's position may be
// written (take) and the file they go to (epoch); false when the connection
// ends instead (its state set).
bool HttpHandler::ReserveWrite(Worker& w, int64_t n, int64_t& take, uint64_t& epoch) {
    WorkerRecord& r = w.rec;
    std::lock_guard lock(w.task.TaskLock);
    TaskDescriptor& d = w.task.descriptor;
    if (!d.Blocks || w.slot.FileChanged || !d.RangeMode) {
        r.State = tsStop;  // a new version on the server, or one stream from the start now
        return false;
    }
    TaskBlock& b = (*d.Blocks)[r.Id];
    if (!AtStreamPosition(b)) {
        r.State = b.From == 0 && b.To == 0 ? tsStop : tsReconnect;
        return false;
    }
    take = std::min(n, b.To - b.From + 1);
    // Written after the lock is released: the bytes count as asked for, so
    // no split hands them to another worker meanwhile (a split starts past
    // what was asked).
    b.Asked = std::max(b.Asked, b.From + take - 1);
    epoch = w.slot.FileEpoch.load();
    return true;
}

// Bytes are written only where this connection's stream stands in its
// block; anything else ends the connection.
bool HttpHandler::AtStreamPosition(const TaskBlock& b) const {
    return b.From != 0 && b.To != 0 && b.From < b.To && b.From - 1 == streamPos_;
}

// Counts take bytes written at the stream's position, TaskLock taken here.
// The block may have changed while they were written (another worker fell
// back to one stream, or the file changed on the server): then they are not
// counted, and the connection ends as it would have before the write.
void HttpHandler::CountWritten(Worker& w, int64_t take) {
    WorkerRecord& r = w.rec;
    std::lock_guard lock(w.task.TaskLock);
    TaskDescriptor& d = w.task.descriptor;
    if (!d.Blocks || w.slot.FileChanged) {
        r.State = tsStop;
        return;
    }
    TaskBlock& b = (*d.Blocks)[r.Id];
    if (!d.RangeMode || !AtStreamPosition(b) || b.To - b.From + 1 < take) {
        r.State = (b.From == 0 && b.To == 0) || !d.RangeMode ? tsStop : tsReconnect;
        return;
    }
    streamPos_ += take;
    int64_t next = b.From + take;
    int64_t counted = take;
    if (next - 1 == b.To) {
        b.From = b.To;  // finished
        r.State = tsReconnect;
    } else if (next == b.To) {
        // One byte would be left, which reads as finished: count one byte
        // less and fetch the last two on a new connection.
        b.From = next - 1;
        counted = take - 1;
        r.State = tsReconnect;
    } else {
        b.From = next;
        if (rangeEnd_ >= 0 && streamPos_ > rangeEnd_) {
            // The block grew past what was asked for: ask again.
            r.State = tsReconnect;
        }
    }
    d.Downloaded += counted;
    if (d.Downloaded == d.FileSize) {
        w.task.FinishLocked(true);
    }
}

// The one stream's bytes, TaskLock held: only its owner writes, from where
// the stream stands.
HttpHandler::SingleWrite HttpHandler::WriteSingleStream(Worker& w, TaskDescriptor& d, TaskBlock& b,
                                                        char* data, int64_t n, int& error) {
    WorkerRecord& r = w.rec;
    if (r.ThreadId != w.slot.StreamOwner || b.From < 1 || b.From - 1 != streamPos_) {
        r.State = tsStop;
        return SingleWrite::Refused;
    }
    int64_t take = d.FileSize > 0 ? std::min(n, d.FileSize - d.Downloaded) : n;
    if (take > 0 && !WriteTempLoose(w.slot, b.From - 1, data, take, &error)) {
        return SingleWrite::Failed;
    }
    if (take > 0) {
        streamPos_ += take;
        b.From += take;
        d.Downloaded += take;
    }
    if (d.FileSize > 0 && d.Downloaded >= d.FileSize) {
        r.State = tsStop;  // the stream is complete
    }
    return SingleWrite::Written;
}

void HttpHandler::Consume(Worker& w, char* data, int64_t n) {
    WorkerRecord& r = w.rec;
    if (chunked_) {
        n = static_cast<int64_t>(decoder_.Decode(data, static_cast<size_t>(n)));
        if (decoder_.Failed()) {
            r.State = tsDisconnect;
            return;
        }
    }
    int error = 0;
    bool failed = false;
    if (n > 0 && !w.IsStopped()) {
        int64_t take = 0;
        uint64_t epoch = 0;
        if (!RangeMode(w)) {
            std::lock_guard lock(w.task.TaskLock);
            TaskDescriptor& d = w.task.descriptor;
            if (!d.Blocks) {
                return;
            }
            if (w.slot.FileChanged) {
                r.State = tsStop;  // another version is on the server: this file is dropped
                return;
            }
            SingleWrite done = WriteSingleStream(w, d, (*d.Blocks)[r.Id], data, n, error);
            if (done == SingleWrite::Refused) {
                return;
            }
            failed = done == SingleWrite::Failed;
        } else if (!ReserveWrite(w, n, take, epoch)) {
            return;
        } else if (!WriteTempIfSameFile(w.slot, epoch, streamPos_, data, take, &error)) {
            // With several connections the disk write is what a worker
            // holds longest; made outside TaskLock, the others' reads and
            // bookkeeping do not wait for it.
            if (error == 0) {
                r.State = tsReconnect;  // the file was closed or replaced meanwhile
                return;
            }
            failed = true;
        } else {
            CountWritten(w, take);
        }
    }
    if (failed) {
        ReportWriteFailure(w.slot, r.ThreadId, error);
        r.State = tsStop;
        return;
    }
    if (chunked_ && decoder_.Done()) {
        if (!w.IsStopped()) {
            w.MarkStreamEnded();  // a stop may have cut the body: its end is unknown
        }
        r.State = tsStop;  // the last chunk ends the stream
    }
}

// The server closed a single stream: complete only when its end is known to
// have come (a body without a length ends with a graceful close; a reset cuts
// it); otherwise it is fetched again after the retry wait.
void HttpHandler::StreamClosed(Worker& w, bool graceful) {
    TaskDescriptor d = w.task.Snapshot();
    bool shortOfSize = d.FileSize > 0 && d.Downloaded < d.FileSize;
    if ((chunked_ && !decoder_.Done()) || shortOfSize || !graceful) {
        w.rec.State = tsDisconnect;
    } else if (!w.IsStopped()) {
        w.MarkStreamEnded();
    }
}

}  // namespace vardane
