// The HTTP body: reads within the speed quota, written straight to the
// block's offset in the temporary file and counted only once on disk.
#include <algorithm>

#include "engine/file_writer.h"
#include "engine/http_worker.h"
#include "engine/speed_limiter.h"
#include "settings/app_context.h"

namespace vardane {

void CHttpHandler::ReadBody(CWorker& w) {
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
        rangeMode = d.bRangeMode;
        if (d.Blocks) {
            const TaskBlock& b = (*d.Blocks)[r.iID];
            size = rangeMode ? std::max<int64_t>(1, b.iTo - b.iFrom + 1) : quota;
            if (b.iFrom == 0 && b.iTo == 0) {
                size = 0;
            }
        }
    }
    if (size == 0) {
        ReturnQuota(w.ctx, quota);
        r.iState = tsStop;  // the block went away (the task fell back to one stream)
        return;
    }
    if (buffer_.empty()) {
        buffer_.resize(kUnlimitedReadBytes);
    }
    size = std::min({size, quota, static_cast<int64_t>(buffer_.size())});
    int64_t n = ReceiveBytes(r.Connections, 0, buffer_.data(), static_cast<size_t>(size));
    ReturnQuota(w.ctx, quota - std::max<int64_t>(n, 0));
    if (n == 0) {
        if (rangeMode) {
            r.iState = tsReconnect;
        }
        return;
    }
    if (n > 0) {
        Consume(w, buffer_.data(), n);
    }
}

// Bytes are written only where this connection's stream stands in its
// block; anything else ends the connection.
bool CHttpHandler::AtStreamPosition(const TaskBlock& b) const {
    return b.iFrom != 0 && b.iTo != 0 && b.iFrom < b.iTo && b.iFrom - 1 == streamPos_;
}

// Counts take bytes written at the stream's position, TaskLock taken here.
// The block may have changed while they were written (another worker fell
// back to one stream, or the file changed on the server): then they are not
// counted, and the connection ends as it would have before the write.
void CHttpHandler::CountWritten(CWorker& w, int64_t take) {
    WorkerRecord& r = w.rec;
    std::lock_guard lock(w.task.TaskLock);
    TaskDescriptor& d = w.task.descriptor;
    if (!d.Blocks || w.slot.bFileChanged) {
        r.iState = tsStop;
        return;
    }
    TaskBlock& b = (*d.Blocks)[r.iID];
    if (!d.bRangeMode || !AtStreamPosition(b) || b.iTo - b.iFrom + 1 < take) {
        r.iState = (b.iFrom == 0 && b.iTo == 0) || !d.bRangeMode ? tsStop : tsReconnect;
        return;
    }
    streamPos_ += take;
    int64_t next = b.iFrom + take;
    int64_t counted = take;
    if (next - 1 == b.iTo) {
        b.iFrom = b.iTo;  // finished
        r.iState = tsReconnect;
    } else if (next == b.iTo) {
        // One byte would be left, which reads as finished: count one byte
        // less and fetch the last two on a new connection.
        b.iFrom = next - 1;
        counted = take - 1;
        r.iState = tsReconnect;
    } else {
        b.iFrom = next;
        if (rangeEnd_ >= 0 && streamPos_ > rangeEnd_) {
            // The block grew past what was asked for: ask again.
            r.iState = tsReconnect;
        }
    }
    d.iDownloaded += counted;
    if (d.iDownloaded == d.iFileSize) {
        w.task.FinishLocked(true);
    }
}

// The one stream's bytes, TaskLock held: only its owner writes, from where
// the stream stands.
CHttpHandler::SingleWrite CHttpHandler::WriteSingleStream(CWorker& w, TaskDescriptor& d,
                                                          TaskBlock& b, char* data, int64_t n,
                                                          int& error) {
    WorkerRecord& r = w.rec;
    if (r.iThreadID != w.slot.iStreamOwner || b.iFrom < 1 || b.iFrom - 1 != streamPos_) {
        r.iState = tsStop;
        return SingleWrite::Refused;
    }
    int64_t take = d.iFileSize > 0 ? std::min(n, d.iFileSize - d.iDownloaded) : n;
    if (take > 0 && !WriteTempLoose(w.slot, b.iFrom - 1, data, take, &error)) {
        return SingleWrite::Failed;
    }
    if (take > 0) {
        streamPos_ += take;
        b.iFrom += take;
        d.iDownloaded += take;
    }
    if (d.iFileSize > 0 && d.iDownloaded >= d.iFileSize) {
        r.iState = tsStop;  // the stream is complete
    }
    return SingleWrite::Written;
}

void CHttpHandler::Consume(CWorker& w, char* data, int64_t n) {
    WorkerRecord& r = w.rec;
    if (chunked_) {
        n = static_cast<int64_t>(decoder_.Decode(data, static_cast<size_t>(n)));
        if (decoder_.Failed()) {
            r.iState = tsDisconnect;
            return;
        }
    }
    int error = 0;
    bool failed = false;
    if (n > 0 && !w.IsStopped()) {
        bool ranged = false;
        int64_t take = 0;
        uint64_t epoch = 0;
        {
            std::lock_guard lock(w.task.TaskLock);
            TaskDescriptor& d = w.task.descriptor;
            if (!d.Blocks) {
                return;
            }
            if (w.slot.bFileChanged) {
                r.iState = tsStop;  // another version is on the server: this file is dropped
                return;
            }
            TaskBlock& b = (*d.Blocks)[r.iID];
            if (d.bRangeMode) {
                if (!AtStreamPosition(b)) {
                    r.iState = b.iFrom == 0 && b.iTo == 0 ? tsStop : tsReconnect;
                    return;
                }
                take = std::min(n, b.iTo - b.iFrom + 1);
                // Written after the lock is released: the bytes count as
                // asked for, so no split hands them to another worker
                // meanwhile (a split starts past what was asked).
                b.iAsked = std::max(b.iAsked, b.iFrom + take - 1);
                epoch = w.slot.iFileEpoch.load();
                ranged = true;
            } else {
                SingleWrite done = WriteSingleStream(w, d, b, data, n, error);
                if (done == SingleWrite::Refused) {
                    return;
                }
                failed = done == SingleWrite::Failed;
            }
        }
        // With several connections the disk write is what a worker holds
        // longest; made outside TaskLock, the others' reads and bookkeeping
        // do not wait for it.
        if (ranged && !WriteTempIfSameFile(w.slot, epoch, streamPos_, data, take, &error)) {
            if (error == 0) {
                r.iState = tsReconnect;  // the file was closed or replaced meanwhile
                return;
            }
            failed = true;
        } else if (ranged) {
            CountWritten(w, take);
        }
    }
    if (failed) {
        ReportWriteFailure(w.slot, r.iThreadID, error);
        r.iState = tsStop;
        return;
    }
    if (chunked_ && decoder_.Done()) {
        if (!w.IsStopped()) {
            w.MarkStreamEnded();  // a stop may have cut the body: its end is unknown
        }
        r.iState = tsStop;  // the last chunk ends the stream
    }
}

// The server closed a single stream: complete only when its end is known to
// have come (a body without a length ends with a graceful close; a reset cuts
// it); otherwise it is fetched again after the retry wait.
void CHttpHandler::StreamClosed(CWorker& w, bool graceful) {
    TaskDescriptor d = w.task.Snapshot();
    bool shortOfSize = d.iFileSize > 0 && d.iDownloaded < d.iFileSize;
    if ((chunked_ && !decoder_.Done()) || shortOfSize || !graceful) {
        w.rec.iState = tsDisconnect;
    } else if (!w.IsStopped()) {
        w.MarkStreamEnded();
    }
}

}  // namespace vardane
