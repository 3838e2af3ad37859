#include "engine/checksum_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/digest_header.h"
#include "engine/http_worker.h"
#include "engine/worker.h"
#include "net/tls_session.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/progress_file.h"

namespace vardane {

namespace {

// Small enough that a chunk is still in the CPU cache when it is hashed (4
// MiB chunks cost a fifth more time per GiB) and a stop is seen at once;
// large enough that the reads cost little.
constexpr size_t kChunkBytes = 256 << 10;

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

void Log(TaskSlot& slot, LogKind kind, std::string_view key, const std::string& values) {
    TaskLog(slot.task, kind, 0, slot.ctx.lang.GetLangText(key) + " " + values);
}

}  // namespace

DigestOutcome DigestFile(const std::string& path, int64_t length, ChecksumAlgorithm algorithm,
                         const std::function<bool()>& stopped, std::string& digest,
                         std::string* why) {
    auto fail = [why](int code) {
        if (why != nullptr) {
            *why = ErrorText(code);
        }
        return DigestOutcome::Failed;
    };
    FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        return fail(errno);
    }
    (void)::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::unique_ptr<Digest> hash = NewDigest(ChecksumAlgorithmName(algorithm), why);
    if (!hash) {
        return DigestOutcome::Failed;
    }
    std::vector<char> buffer(kChunkBytes);
    int64_t left = length;
    while (left > 0) {
        if (stopped && stopped()) {
            return DigestOutcome::Stopped;
        }
        size_t want =
            left < static_cast<int64_t>(buffer.size()) ? static_cast<size_t>(left) : buffer.size();
        ssize_t n = ::read(file.fd, buffer.data(), want);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(n == 0 ? EIO : errno);  // shorter than its bytes: not the download
        }
        if (!hash->Update(buffer.data(), static_cast<size_t>(n))) {
            return fail(EIO);
        }
        left -= n;
    }
    return hash->Final(digest) ? DigestOutcome::Done : fail(EIO);
}

void NoteServerDigest(TaskSlot& slot, const HttpReplyInfo& info) {
    if (!ReplyIsWholeFile(info.Status, info.ContentRange)) {
        return;  // a part's digest, or one that may be
    }
    std::optional<AnnouncedDigest> announced = ParseDigestFields(info.Digests);
    if (!announced) {
        return;
    }
    std::lock_guard lock(slot.task.TaskLock);
    if (!slot.ServerDigest) {
        slot.ServerDigest = std::move(announced);
    }
}

TaskState VerifyDownload(TaskSlot& slot, int64_t length) {
    DownloadTask& task = slot.task;
    const std::string stored = TaskRecord(task).Checksum;
    std::optional<AnnouncedDigest> announced;
    {
        std::lock_guard lock(task.TaskLock);
        announced = slot.ServerDigest;
    }
    // The user's checksum first; a server's only when the task has none.
    std::optional<Checksum> expected;
    std::string origin;
    if (!stored.empty()) {
        expected = ParseChecksumText(stored).Sum;
        if (!expected) {
            Log(slot, LogKind::Error, "Log_ChecksumFailed", stored);  // a damaged record
            return TaskState::Failed;
        }
    } else if (announced) {
        expected = announced->Sum;
        origin = " (" + announced->Header + ")";
    } else {
        return TaskState::Completed;
    }
    std::string actual;
    std::string why;
    DigestOutcome outcome = DigestFile(
        task.TempPath(), length, expected->Algorithm, [&slot] { return slot.StopCommanded.load(); },
        actual, &why);
    if (outcome == DigestOutcome::Stopped) {
        return TaskState::Stopped;  // the next start checks again
    }
    if (outcome == DigestOutcome::Failed) {
        Log(slot, LogKind::Error, "Log_ChecksumFailed", task.TempPath() + " " + why);
        return TaskState::Failed;
    }
    Checksum got{expected->Algorithm, actual};
    if (got != *expected) {
        Log(slot, LogKind::Error, "Log_ChecksumMismatch",
            ChecksumText(*expected) + origin + " " + ChecksumText(got));
        return TaskState::Failed;
    }
    Log(slot, LogKind::Info, "Log_ChecksumOk", ChecksumText(got) + origin);
    return TaskState::Completed;
}

}  // namespace vardane
