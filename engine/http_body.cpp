// The HTTP body: reads within the speed quota, written straight to the
// block's offset in the temporary file and counted only once on disk.
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
    if (buffer_.empty()) {
        buffer_.resize(kUnlimitedReadBytes);
    }
    size = std::min({size, quota, static_cast<int64_t>(buffer_.size())});
    int64_t n = ReceiveBytes(r.Connections, 0, buffer_.data(), static_cast<size_t>(size));
    ReturnQuota(w.ctx, quota - std::max<int64_t>(n, 0));
    if (n == 0) {
        if (rangeMode) {
            r.State = tsReconnect;
        }
        return;
    }
    if (n > 0) {
        Consume(w, buffer_.data(), n);
    }
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
        std::lock_guard lock(w.task.TaskLock);
        TaskDescriptor& d = w.task.descriptor;
        if (!d.Blocks) {
            return;
        }
        if (w.slot.FileChanged) {
            r.State = tsStop;  // another version is on the server: this file is dropped
            return;
        }
        TaskBlock& b = (*d.Blocks)[r.Id];
        if (d.RangeMode) {
            // Bytes are written only where this connection's stream stands
            // in the block; anything else ends the connection.
            if (b.From == 0 || b.To == 0 || b.From >= b.To || b.From - 1 != streamPos_) {
                r.State = b.From == 0 && b.To == 0 ? tsStop : tsReconnect;
                return;
            }
            int64_t take = std::min(n, b.To - b.From + 1);
            if (!WriteTempStrict(w.slot, b.From - 1, data, take, &error)) {
                failed = true;
            } else {
                streamPos_ += take;
                int64_t next = b.From + take;
                int64_t counted = take;
                if (next - 1 == b.To) {
                    b.From = b.To;  // finished
                    r.State = tsReconnect;
                } else if (next == b.To) {
                    // One byte would be left, which reads as finished: count
                    // one byte less and fetch the last two on a new connection.
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
        } else {
            if (r.ThreadId != w.slot.StreamOwner || b.From < 1 || b.From - 1 != streamPos_) {
                r.State = tsStop;
                return;
            }
            int64_t take = d.FileSize > 0 ? std::min(n, d.FileSize - d.Downloaded) : n;
            if (take > 0 && !WriteTempLoose(w.slot, b.From - 1, data, take, &error)) {
                failed = true;
            } else if (take > 0) {
                streamPos_ += take;
                b.From += take;
                d.Downloaded += take;
            }
            if (d.FileSize > 0 && d.Downloaded >= d.FileSize) {
                r.State = tsStop;  // the stream is complete
            }
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
