// The version of the file that an HTTP reply comes from. The first reply
// with an ETag or a Last-Modified date names the version the task fetches;
// every later request asks for that version with If-Range, and a reply of
// another version (a 200 to such a request, another ETag or date, another
// size) makes the task start again from the first byte instead of joining
// two versions in one file.
#include "engine/http_worker.h"

namespace vardane {

void HttpHandler::ReadValidatorLine(const std::string& line, HttpReplyInfo& info) {
    if (std::string v = HeaderField(line, "ETag"); !v.empty()) {
        info.Validators.ETag = UsableValidator(v);
    }
    if (std::string v = HeaderField(line, "Last-Modified"); !v.empty()) {
        info.Validators.LastModified = UsableValidator(v);
    }
}

bool HttpHandler::VersionChanged(Worker& w, const HttpReplyInfo& info) const {
    FileValidators known;
    int64_t size;
    {
        std::lock_guard lock(w.task.TaskLock);
        known = w.task.descriptor.Validators;
        size = w.task.descriptor.FileSize;
    }
    if (size > 0) {
        ContentRange range;
        if (info.Status == "206" && ParseContentRange(info.ContentRange, range) &&
            range.Total > 0 && range.Total != size) {
            return true;
        }
        if (info.Status == "200" && !info.Chunked && info.ContentLength >= 0 &&
            info.ContentLength != size) {
            return true;
        }
    }
    const FileValidators& got = info.Validators;
    if (!known.ETag.empty() && !got.ETag.empty()) {
        return !SameETag(known.ETag, got.ETag);
    }
    if (!known.LastModified.empty() && !got.LastModified.empty()) {
        return known.LastModified != got.LastModified;
    }
    // Nothing to compare: a 206 answers for the version asked for, a 200 to
    // a ranged request says that version is gone. (A server that ignores
    // ranges still names the same version, and is handled as before.)
    const bool ranged = rangeStart_ > 0 || rangeEnd_ >= 0;
    return info.Status == "200" && ranged && known.HasHttp();
}

void HttpHandler::KeepValidators(Worker& w, const HttpReplyInfo& info) {
    std::lock_guard lock(w.task.TaskLock);
    FileValidators& known = w.task.descriptor.Validators;
    if (!w.task.descriptor.RangeMode || known.HasHttp()) {
        return;
    }
    known.ETag = info.Validators.ETag;
    known.LastModified = info.Validators.LastModified;
}

}  // namespace vardane
