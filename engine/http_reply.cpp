// The HTTP reply: header lines, redirects, the size decision, the checks that
// a ranged reply really starts at the requested byte, and the body.
#include <algorithm>

#include "engine/checksum_check.h"
#include "engine/file_name.h"
#include "engine/file_writer.h"
#include "engine/http_worker.h"
#include "engine/speed_limiter.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/url.h"

namespace vardane {

namespace {

// Statuses that no retry will change: the task fails at once (the status line
// is in the log). 408, 429 and 5xx are worth another try.
bool IsPermanentStatus(const std::string& status) {
    return status == "401" || status == "403" || status == "404" || status == "405" ||
           status == "410" || status == "451";
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
    return ToLowerAscii(text).find(ToLowerAscii(word)) != std::string::npos;
}

// Fills the address fields of d from an absolute http(s):// or ftp:// address
// that the stricter task address rules may refuse (a path without a dot): a
// server's redirect target is followed as it stands.
bool SplitRedirect(const std::string& url, TaskDescriptor& d) {
    if (ParseUrlInto(d, url)) {
        return true;
    }
    UrlParts p;
    if (!SplitUrl(url, p)) {
        return false;  // also a bare CR or LF, which would carry a command of its own
    }
    std::string path = p.Tail.empty() || p.Tail.front() != '/' ? "/" + p.Tail : p.Tail;
    d.Protocol = p.Protocol;
    d.Host = p.Host;
    d.Port = p.Port;
    d.User = p.User;
    d.Password = p.Password;
    d.RequestPath = path;
    d.URL = url;
    d.Referer.clear();
    std::string name = path.substr(0, path.find('?'));
    d.FileName = PercentDecode(name.substr(name.rfind('/') + 1));
    return true;
}

}  // namespace

void FixFileNameByExtension(DownloadTask& task) {
    TaskDescriptor d = task.Snapshot();
    if (EqualsNoCase(SplitPath(d.LocalFileName).Ext, SplitPath(d.FileName).Ext)) {
        return;
    }
    // A name other than the one the task's address gives was typed by the
    // user: it stands, whatever the server suggests.
    TaskDescriptor original;
    if (ParseUrlInto(original, d.BaseURL) && d.LocalFileName != original.FileName) {
        return;
    }
    std::string name = SanitizeFileName(d.FileName);
    if (!name.empty()) {
        task.SetLocalFileName(name);
    }
}

void HttpHandler::ReadReplyHeader(Worker& w) {
    if (w.IsStopped()) {
        return;
    }
    // Reply headers are a few hundred bytes; what follows them is body,
    // read by ReadBody. A bigger chunk only grows every worker's stack and
    // header_ for good.
    char chunk[4096];
    size_t room = std::min(sizeof chunk, kMaxHeaderBytes - header_.size());
    int64_t n = ReceiveBytes(w.rec.Connections, 0, chunk, room);
    if (n < 0) {
        return;
    }
    if (n == 0) {
        w.rec.State = tsDisconnect;  // closed before the header was complete
        return;
    }
    header_.append(chunk, static_cast<size_t>(n));
    size_t end = HeaderEnd(header_.data(), header_.size());
    if (end == 0) {
        if (header_.size() >= kMaxHeaderBytes) {
            header_.clear();
            w.rec.State = tsDisconnect;  // no sane reply header is this long
        }
        return;
    }
    std::string head = header_.substr(0, end - 4);
    std::string body = header_.substr(end);
    header_.clear();
    HttpReplyInfo info;
    if (ReadHeaderLines(w, head, info)) {
        OnReply(w, info, body);
    }
}

bool HttpHandler::ReadHeaderLines(Worker& w, const std::string& header, HttpReplyInfo& info) {
    WorkerRecord& r = w.rec;
    bool cookies = w.ReadSettings().HTTPEnableCookies;
    bool first = true;
    for (const std::string& line : HeaderLines(header)) {
        if (w.IsStopped()) {
            return false;
        }
        TaskLog(w.task, LogKind::Received, r.ThreadId, MaskHeaderLine(line));
        if (first) {
            info.Status = StatusCode(line);  // "" when the first line is no status line
            first = false;
            continue;
        }
        if (std::string v = HeaderField(line, "Content-Length"); !v.empty()) {
            int64_t value = 0;
            if (!ParseContentLength(v, value) ||
                (info.ContentLength >= 0 && info.ContentLength != value)) {
                info.BadLength = true;
            }
            info.ContentLength = value;
        }
        if (info.Location.empty()) {
            info.Location = HeaderValue(line, "Location");
        }
        if (cookies && IsAttachmentDisposition(line)) {
            std::string name = SanitizeFileName(DispositionFileName(line));
            if (!name.empty()) {
                {
                    std::lock_guard lock(w.task.TaskLock);
                    w.task.descriptor.FileName = name;
                }
                FixFileNameByExtension(w.task);
            }
        }
        if (std::string v = HeaderField(line, "Content-Range"); !v.empty()) {
            info.ContentRange = v;
        }
        if (ContainsNoCase(HeaderField(line, "Transfer-Encoding"), "chunked")) {
            info.Chunked = true;
        }
        ReadValidatorLine(line, info);
        CollectDigestField(line, info.Digests);
    }
    return true;
}

void HttpHandler::RefuseReply(Worker& w) {
    w.LogKey(LogKind::Error, "Log_BadReply");
    w.rec.State = tsDisconnect;
}

// Thread 0's first reply: a 200 with a length tells the file size, which must
// agree with a temporary file already on disk. False when the task ends.
bool HttpHandler::TakeSize(Worker& w, const HttpReplyInfo& info) {
    ContentRange range;
    if (info.Status == "200" && info.ContentLength > 0 && !info.Chunked) {
        w.task.SetFileSize(info.ContentLength);
    } else if (info.Status == "206" && w.task.Snapshot().FileSize <= 0 &&
               ParseContentRange(info.ContentRange, range) && range.Total > 0) {
        w.task.SetFileSize(range.Total);
    }
    std::string temp = w.task.TempPath();
    int64_t onDisk = OwnTempFileSize(temp);
    int64_t size = w.task.Snapshot().FileSize;
    if (onDisk > 0 && size != 0 && onDisk != size) {
        w.LogKey(LogKind::Error, "Log_FileSizeChange");
        w.task.SetState(TaskState::Failed);
        w.rec.State = tsStop;
        return false;
    }
    return true;
}

void HttpHandler::FollowRedirect(Worker& w, const std::string& location) {
    WorkerRecord& r = w.rec;
    w.ReleaseBlock();
    std::string current = w.task.Snapshot().URL;
    if (++redirects_ > kMaxRedirects) {
        w.LogKey(LogKind::Error, "Log_TooManyRedirects", MaskUrlPassword(location));
        w.task.SetState(TaskState::Failed);
        r.State = tsStop;
        return;
    }
    std::string url = ResolveLocation(current, location);
    w.LogKey(LogKind::Info, "Log_Redirect", MaskUrlPassword(url.empty() ? location : url));
    TaskDescriptor target = w.task.Snapshot();
    if (url.empty() || !SplitRedirect(url, target)) {
        w.LogKey(LogKind::Error, "Log_InvalidURL", MaskUrlPassword(location));
        w.task.SetState(TaskState::Failed);
        r.State = tsStop;
        return;
    }
    // Leaving TLS exposes the rest of the download (and an FTP login) to
    // anyone on the way: said every time, and refused when the user asked.
    if (IsHttps(current) && !IsHttps(target.Protocol)) {
        if (w.ReadSettings().RefuseHttpsDowngrade) {
            w.LogKey(LogKind::Error, "Log_HttpsDowngradeRefused", MaskUrlPassword(url));
            w.task.SetState(TaskState::Failed);
            r.State = tsStop;
            return;
        }
        w.LogKey(LogKind::Error, "Log_HttpsDowngrade", MaskUrlPassword(url));
    }
    {
        std::lock_guard lock(w.task.TaskLock);
        TaskDescriptor& d = w.task.descriptor;
        d.Protocol = target.Protocol;
        d.Host = target.Host;
        d.Port = target.Port;
        d.User = target.User;
        d.Password = target.Password;
        d.RequestPath = target.RequestPath;
        d.URL = target.URL;
        d.FileName = target.FileName;
        d.Referer = target.Referer;
    }
    if (target.Protocol == "ftp://") {
        FixFileNameByExtension(w.task);
        r.State = tsSwitchToFtp;
    } else {
        r.State = tsReconnect;
    }
}

// A ranged request asks for "bytes=<start>-<end>" (or "<start>-"): the reply
// must be a 206 whose Content-Range covers exactly those bytes (up to the end
// of the file when the file ends first), with a length that agrees. A 206 to
// a request without a range was never asked for. The first request may ask
// for a range: a 200 to it is the whole file, as if it had asked for none.
RangeAnswer HttpHandler::CheckRange(Worker& w, const HttpReplyInfo& info, bool probe) {
    const bool ranged = rangeStart_ > 0 || rangeEnd_ >= 0;
    if (info.Status != "206") {
        if (ranged && probe && rangeStart_ == 0 && info.Status == "200") {
            rangeEnd_ = -1;
            return RangeAnswer::Fits;
        }
        return ranged ? RangeAnswer::Ignored : RangeAnswer::Fits;
    }
    ContentRange range;
    if (!ranged || !ParseContentRange(info.ContentRange, range) || range.First != rangeStart_) {
        return RangeAnswer::Wrong;
    }
    if (info.ContentLength >= 0 && info.ContentLength != range.Last - range.First + 1) {
        return RangeAnswer::Wrong;
    }
    int64_t size = w.task.Snapshot().FileSize;
    if (range.Total > 0 && size > 0 && range.Total != size) {
        w.LogKey(LogKind::Error, "Log_FileSizeChange");
        w.task.SetState(TaskState::Failed);
        w.rec.State = tsStop;
        return RangeAnswer::Fits;
    }
    if (size <= 0 && probe) {
        size = range.Total;  // the first reply tells the size here
    }
    int64_t last = size > 0 ? size - 1 : -1;
    if (rangeEnd_ >= 0 && (last < 0 || rangeEnd_ < last)) {
        last = rangeEnd_;
    }
    if (last >= 0 && range.Last != last) {
        return RangeAnswer::Wrong;  // would end before the block does, or run past it
    }
    if (rangeEnd_ >= 0) {
        rangeEnd_ = range.Last;  // a file shorter than the range asked for
    }
    return RangeAnswer::Fits;
}

// The server does not honour ranges: the whole file is fetched again as one
// stream from the first byte by the worker that noticed first; the others end.
void HttpHandler::FallBackToSingleStream(Worker& w) {
    WorkerRecord& r = w.rec;
    w.LogKey(LogKind::Error, "Log_NotResumeSupport");
    bool owner = false;
    {
        std::lock_guard lock(w.task.TaskLock);
        if (w.task.descriptor.RangeMode) {
            w.task.descriptor.RangeMode = false;
            w.slot.StreamOwner = r.ThreadId;
            owner = true;
        }
    }
    w.ReleaseBlock();
    if (!owner || !RestartSingleStream(w.slot, r.ThreadId)) {
        r.State = tsStop;
        return;
    }
    r.Id = 0;
    r.SizeChecked = true;
    r.State = tsReconnect;
}

// A 206 to the ranged first request must tell the file's size and come
// unchunked; a 416 means there is no first byte. Anything else is judged
// as any reply is.
bool HttpHandler::RangedProbeUsable(const HttpReplyInfo& info) {
    if (info.Status == "416") {
        return false;
    }
    ContentRange range;
    return info.Status != "206" || !ParseContentRange(info.ContentRange, range) ||
           (range.Total > 0 && !info.Chunked);
}

// Thread 0's first reply: ranged download of a known size, or one stream.
bool HttpHandler::DecideSize(Worker& w) {
    WorkerRecord& r = w.rec;
    int64_t size = w.task.Snapshot().FileSize;
    if (size < 2 || chunked_) {
        // A size of 0 or 1 cannot be split into blocks (a one-byte block
        // reads as finished): one stream to the end.
        {
            std::lock_guard lock(w.task.TaskLock);
            w.task.descriptor.RangeMode = false;
            w.slot.StreamOwner = 0;
        }
        if (size == 0) {
            w.LogKey(LogKind::Error, "Log_NotResumeSupport");
        }
        r.SizeChecked = true;
        r.Id = 0;
        return RestartSingleStream(w.slot, 0);
    }
    {
        std::lock_guard lock(w.task.TaskLock);
        w.task.descriptor.RangeMode = true;
    }
    bool prepared;
    {
        std::lock_guard lock(w.task.TaskLock);
        prepared = w.slot.FilePrepared;
    }
    if ((!prepared && !PrepareLocalFile(w.slot, 0)) || !w.ClaimBlock("HTTPCheckBlock")) {
        return false;
    }
    r.SizeChecked = true;
    return true;
}

// Thread 0 wants only block 0 of its first reply. A first request without
// a range streams the whole file, and the server sends far ahead of a slow
// reader: the stream ends like a ranged request would (after RequestBytes,
// or at once after the body start while limiting), and the rest is asked
// for on new connections. A ranged first request ends where it asked to.
void HttpHandler::EndProbeEarly(Worker& w, int64_t bodyStart) {
    int64_t most = rangeEnd_ + 1;
    if (rangeEnd_ < 0) {
        bool limiting;
        {
            std::lock_guard lock(w.ctx.SpeedLock);
            limiting = w.ctx.settings.SpeedLimit;
        }
        most = limiting ? std::max<int64_t>(bodyStart, 1) : RequestBytes(w.ctx);
    }
    std::lock_guard lock(w.task.TaskLock);
    if (w.task.descriptor.ThreadCount <= 1) {
        return;  // one connection never splits: its stream is its request
    }
    TaskBlock& b = (*w.task.descriptor.Blocks)[w.rec.Id];
    b.Asked = std::min(b.To, b.From + most - 1);
    rangeEnd_ = b.Asked - 1;
}

void HttpHandler::OnReply(Worker& w, const HttpReplyInfo& info, std::string& body) {
    WorkerRecord& r = w.rec;
    if (!info.Location.empty()) {
        FollowRedirect(w, info.Location);
        return;
    }
    // Chunks and a length together leave the body's end in doubt (the mark
    // of a smuggled or split reply): nothing of it is written.
    if (info.Status.empty() || info.BadLength || (info.Chunked && info.ContentLength >= 0)) {
        RefuseReply(w);
        return;
    }
    bool probe = r.ThreadId == 0 && !r.SizeChecked;
    if (probe) {
        FixFileNameByExtension(w.task);
    }
    if (IsPermanentStatus(info.Status)) {
        w.task.SetState(TaskState::Failed);
        // Only a 404 says the file is not there; the others refuse it.
        if (info.Status == "404") {
            w.LogKey(LogKind::Error, "Log_FileNotFound");
        } else {
            w.LogKey(LogKind::Error, "Log_RequestRefused", info.Status);
        }
        r.State = tsStop;
        return;
    }
    if (probe && rangeEnd_ >= 0 && !unrangedProbe_ && !RangedProbeUsable(info)) {
        // Even the first bytes are not there (an empty file), or the range
        // came without the file's size or in chunks, so the file could not
        // be split and the rest would never be asked for: ask again without
        // a range, which tells the size as a plain reply does.
        unrangedProbe_ = true;
        w.MarkTryProgressed();
        r.State = tsReconnect;
        return;
    }
    if (info.Status != "200" && info.Status != "206") {
        r.State = tsDisconnect;
        return;
    }
    if (!probe && VersionChanged(w, info)) {
        w.FileChanged();  // nothing of this reply may join the old version's bytes
        return;
    }
    RangeAnswer answer = CheckRange(w, info, probe);
    if (answer == RangeAnswer::Wrong) {
        RefuseReply(w);
        return;
    }
    if (answer == RangeAnswer::Ignored) {
        FallBackToSingleStream(w);
        return;
    }
    if (r.State == tsStop || (probe && !TakeSize(w, info))) {
        return;
    }
    int64_t size = w.task.Snapshot().FileSize;
    if (!probe && info.Status == "200" && info.ContentLength >= 0 && size > 0 &&
        info.ContentLength != size) {
        w.LogKey(LogKind::Error, "Log_FileSizeChange");  // the whole file again, of another size
        r.State = tsDisconnect;
        return;
    }
    KeepValidators(w, info);
    NoteServerDigest(w.slot, info);
    chunked_ = info.Chunked;
    if (probe) {
        std::lock_guard lock(w.task.TaskLock);
        w.task.descriptor.FirstAsked = rangeEnd_ >= 0 ? rangeEnd_ + 1 : 0;
    }
    if (r.ThreadId == 0 && !r.SizeChecked && !DecideSize(w)) {
        r.State = tsStop;
        return;
    }
    redirects_ = 0;
    r.State = tsReceiving;
    streamPos_ = rangeStart_;
    if (probe && RangeMode(w)) {
        EndProbeEarly(w, static_cast<int64_t>(body.size()));
    }
    if (!body.empty()) {
        Consume(w, body.data(), static_cast<int64_t>(body.size()));
    }
    if (r.State == tsStop) {
        return;
    }
    w.LogKey(LogKind::Info, "Log_StartRecv");
    if (r.ThreadId == 0 && RangeMode(w)) {
        w.StartOtherThreads();
    }
}

}  // namespace vardane
