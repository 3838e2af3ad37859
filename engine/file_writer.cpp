#include "engine/file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "engine/file_name.h"
#include "engine/worker.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

namespace {

// Zero-write chunk where the file system cannot reserve space at once.
constexpr int64_t kZeroChunk = 40960;

// Reserves size bytes: fallocate where the file system can, else zeros in
// chunks. Returns 0, the errno of a failure, or -1 when the stop flag ended
// it.
int Reserve(DownloadTask& task, int fd, int64_t size) {
    if (size <= 0) {
        return 0;
    }
    if (fallocate(fd, 0, 0, size) == 0) {
        return task.IsStopped() ? -1 : 0;
    }
    if (errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) {
        return errno;
    }
    std::vector<char> zeros(kZeroChunk, 0);
    int64_t written = 0;
    while (written < size) {
        if (task.IsStopped()) {
            return -1;
        }
        int64_t chunk = std::min(kZeroChunk, size - written);
        ssize_t r = pwrite(fd, zeros.data(), static_cast<size_t>(chunk), written);
        if (r < 1) {
            return r < 0 ? errno : ENOSPC;
        }
        written += r;
    }
    return 0;
}

// Bytes an unprivileged writer may still use in folder; -1 when unknown.
int64_t FreeSpace(const std::string& folder) {
    struct statvfs st {};
    if (statvfs(folder.c_str(), &st) != 0) {
        return -1;
    }
    return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

// Why a temporary file was passed over, for the task log.
const char* PassedOverKey(OwnFileCheck check) {
    switch (check) {
        case OwnFileCheck::HasLinks:
            return "Log_TempFileHasLinks";
        case OwnFileCheck::NotOwned:
            return "Log_TempFileNotOwned";
        default:
            return "Log_TempFileIsLink";
    }
}

// Opens an existing temporary file for writing when it is ours: never
// through a link (O_NOFOLLOW), and checked on the descriptor itself, so a
// name swapped after a look is not trusted either. O_NONBLOCK keeps a FIFO
// under the name from holding the open. -1 with errno on refusal.
int OpenOwnTemp(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || CheckOwnFile(st) != OwnFileCheck::Ours) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// The slot keeps fd, opened safely, as its temporary file.
void AdoptTempFd(TaskSlot& slot, const std::string& path, int fd) {
    std::lock_guard lock(slot.task.FileLock);
    if (slot.TempFd >= 0) {
        close(slot.TempFd);
    }
    slot.TempFd = fd;
    slot.TempFdPath = path;
    slot.FileEpoch.fetch_add(1);
}

std::string NumberedName(const std::string& name, int i) {
    return FitFileName(name, i == 0 ? "" : "(" + IntToText(i) + ")", kMaxLocalNameBytes);
}

// Picks and records a free local name; returns the temporary path. A name
// is free when nothing stands there, no other downloading task aims at it,
// and its temporary name holds nothing or a file of ours (reused). *reuse
// tells which; a temporary file passed over is logged once the lock is
// released (no owner call under a lock).
std::string ChooseLocalName(TaskSlot& slot, int threadNo, bool* reuse) {
    DownloadTask& task = slot.task;
    std::vector<std::string> passedOver;
    std::string temp;
    {
        std::lock_guard create(slot.ctx.CreateFileLock);
        TaskDescriptor d = task.Snapshot();
        // A name near the limit is shortened (the extension kept) so that the
        // temporary name and a "(n)" still fit.
        for (int i = 0;; ++i) {
            std::string name = NumberedName(d.LocalFileName, i);
            std::string candidate = d.LocalDir + name;
            if (PathExists(candidate) || slot.ctx.targets.TakenByOther(candidate, d.TaskId)) {
                continue;
            }
            OwnFileCheck check = CheckOwnFilePath(candidate + ".vd~");
            if (check != OwnFileCheck::Absent && check != OwnFileCheck::Ours) {
                passedOver.push_back(slot.ctx.lang.GetLangText(PassedOverKey(check)) + " " +
                                     candidate + ".vd~");
                continue;
            }
            *reuse = check == OwnFileCheck::Ours;
            task.SetLocalFileName(name);
            slot.ctx.targets.Claim(d.TaskId, candidate);
            temp = task.TempPath();
            break;
        }
    }
    for (const std::string& line : passedOver) {
        TaskLog(task, LogKind::Error, threadNo, line);
    }
    return temp;
}

// The temporary file could not be opened or created: logged with errno's
// text; always false.
bool CreateFailed(TaskSlot& slot, int threadNo, const std::string& temp) {
    int error = errno;
    TaskLog(slot.task, LogKind::Error, threadNo,
            slot.ctx.lang.GetLangText("Log_CreateLocalFileFailed") + " " + temp + " " +
                ErrorText(error));
    return false;
}

// rename without replacing: 0, EEXIST when the name is taken, or the errno.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without RENAME_NOREPLACE.
    if (PathExists(to)) {
        return EEXIST;
    }
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

bool CreateLocalFile(TaskSlot& slot, int threadNo) {
    DownloadTask& task = slot.task;
    bool reuse = !TaskRecord(task).LocalTempFileName.empty();
    std::string temp = reuse ? task.TempPath() : ChooseLocalName(slot, threadNo, &reuse);
    if (reuse) {
        // Our file from an earlier run, opened again only if it still is.
        int fd = OpenOwnTemp(temp);
        if (fd < 0) {
            return CreateFailed(slot, threadNo, temp);
        }
        AdoptTempFd(slot, temp, fd);
        return true;
    }
    int64_t size;
    {
        std::lock_guard lock(task.TaskLock);
        size = task.descriptor.RangeMode ? task.descriptor.FileSize : 1;
    }
    // A size the disk cannot hold is refused before anything is reserved: a
    // server's word alone must not take the disk.
    if (int64_t free = FreeSpace(FolderOf(temp)); free >= 0 && size > free) {
        TaskLog(task, LogKind::Error, threadNo,
                slot.ctx.lang.GetLangText("Log_DiskFull") + " " + IntToText(size) + " > " +
                    IntToText(free) + " " + temp);
        task.SetState(TaskState::Failed);
        task.Finish(false);
        return false;
    }
    // A new file only: whatever appeared under the name since it was chosen
    // (a link above all) is never opened.
    int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return CreateFailed(slot, threadNo, temp);
    }
    TaskLog(task, LogKind::Info, threadNo, slot.ctx.lang.GetLangText("Log_MallocSpace"));
    int result = Reserve(task, fd, size);
    if (result == 0 && !task.IsStopped()) {
        // Written by the save that follows before the first byte (the blocks'
        // in PrepareBlocks, the restart's in RestartSingleStream).
        StageTaskProgress(task, [&task](TaskProgressRecord& r) {
            std::lock_guard lock(task.TaskLock);
            r.LocalTempFileName = task.descriptor.LocalFileName + ".vd~";
        });
        AdoptTempFd(slot, temp, fd);
        return true;
    }
    close(fd);
    // A stopped or failed reservation leaves no file behind: its name is not
    // recorded, so the next start creates it again.
    unlink(temp.c_str());
    if (result > 0) {
        TaskLog(task, LogKind::Error, threadNo, ErrorText(result) + " " + temp);
        task.SetState(TaskState::Failed);
        task.Finish(false);
    }
    return false;
}

bool PrepareLocalFile(TaskSlot& slot, int threadNo) {
    DownloadTask& task = slot.task;
    // A recorded temporary file that has gone makes the stored progress
    // worthless: start the file afresh rather than write into a new, empty
    // one. So does one that is no longer our own file (a link or another
    // file put in its place): it is left alone and another name is chosen.
    std::string temp = task.TempPath();
    bool gone = false;
    // Written with the blocks that PrepareBlocks makes afresh.
    StageTaskProgress(task, [&](TaskProgressRecord& r) {
        if (!r.LocalTempFileName.empty() && CheckOwnFilePath(temp) != OwnFileCheck::Ours) {
            r.LocalTempFileName.clear();
            r.FilePos.clear();
            r.Block = {};
            r.Validators = {};  // no bytes left whose version matters
            gone = true;
        }
    });
    if (gone) {
        std::lock_guard lock(task.TaskLock);
        task.descriptor.Validators = {};
    }
    if (!CreateLocalFile(slot, threadNo) || !PrepareBlocks(task)) {
        return false;
    }
    std::lock_guard lock(task.TaskLock);
    const TaskDescriptor& d = task.descriptor;
    slot.FilePrepared = true;
    return !(d.FileSize > 0 && d.Downloaded >= d.FileSize);
}

bool RestartSingleStream(TaskSlot& slot, int threadNo) {
    DownloadTask& task = slot.task;
    DeleteTempFile(slot);
    {
        std::lock_guard lock(task.TaskLock);
        TaskBlocks blocks{};
        blocks[0].From = 1;
        task.descriptor.Blocks = blocks;
        task.descriptor.RangeMode = false;
        task.descriptor.Validators = {};  // a single stream never resumes
        slot.StreamEnded = false;
    }
    // Nothing of an earlier ranged run may be resumed from now on (written
    // below, before the stream's first byte).
    StageTaskProgress(task, ForgetStoredBytes);
    if (!CreateLocalFile(slot, threadNo)) {
        return false;
    }
    {
        std::lock_guard lock(task.TaskLock);
        task.descriptor.ThreadCount = 1;
        task.descriptor.Downloaded = 0;
        task.descriptor.PrevDownloaded = 0;
        slot.FilePrepared = true;
    }
    UpdateTaskProgress(
        task, [](TaskProgressRecord& r) { r.ThreadCount = "1"; }, Durability::Deferred);
    return true;
}

namespace {

// Moves n bytes into the kept-open temporary file at offset, opening it if
// needed, FileLock held. move(fd, done) moves some of what is left and
// returns how much, as write does.
template <typename Move>
bool WriteTempLocked(TaskSlot& slot, int64_t n, int* error, Move move) {
    if (slot.TempFd < 0) {
        slot.TempFd = OpenOwnTemp(slot.TempFdPath);
        if (slot.TempFd < 0) {
            if (error != nullptr) {
                *error = errno;
            }
            return false;
        }
    }
    int64_t done = 0;
    while (done < n) {
        ssize_t r = move(slot.TempFd, done);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            if (error != nullptr) {
                *error = r < 0 ? errno : ENOSPC;
            }
            return false;
        }
        done += r;
    }
    return true;
}

bool PwriteTempLocked(TaskSlot& slot, int64_t offset, const char* bytes, int64_t n, int* error) {
    return WriteTempLocked(slot, n, error, [&](int fd, int64_t done) {
        return pwrite(fd, bytes + done, static_cast<size_t>(n - done), offset + done);
    });
}

// Whether the kept-open file is still the one of epoch, FileLock held;
// *error 0 when it is not.
bool SameFile(TaskSlot& slot, uint64_t epoch, int* error) {
    if (slot.FileEpoch.load() == epoch) {
        return true;
    }
    if (error != nullptr) {
        *error = 0;
    }
    return false;
}

}  // namespace

bool WriteTempStrict(TaskSlot& slot, int64_t offset, const char* bytes, int64_t n, int* error) {
    std::lock_guard lock(slot.task.FileLock);
    return PwriteTempLocked(slot, offset, bytes, n, error);
}

bool WriteTempIfSameFile(TaskSlot& slot, uint64_t epoch, int64_t offset, const char* bytes,
                         int64_t n, int* error) {
    std::lock_guard lock(slot.task.FileLock);
    return SameFile(slot, epoch, error) && PwriteTempLocked(slot, offset, bytes, n, error);
}

bool MoveToTempIfSameFile(TaskSlot& slot, uint64_t epoch, int64_t offset, int pipeRead, int64_t n,
                          int* error) {
    std::lock_guard lock(slot.task.FileLock);
    return SameFile(slot, epoch, error) &&
           WriteTempLocked(slot, n, error, [&](int fd, int64_t done) {
               loff_t at = offset + done;
               return splice(pipeRead, nullptr, fd, &at, static_cast<size_t>(n - done), 0);
           });
}

bool WriteTempLoose(TaskSlot& slot, int64_t offset, const char* bytes, int64_t n, int* error) {
    return WriteTempStrict(slot, offset, bytes, n, error);
}

void ReportWriteFailure(TaskSlot& slot, int threadNo, int error) {
    DownloadTask& task = slot.task;
    std::string path = task.TempPath();
    TaskLog(task, LogKind::Error, threadNo, ErrorText(error) + " " + path);
    TaskLog(task, LogKind::Error, threadNo, slot.ctx.lang.GetLangText("Log_WriteLocalFileFailed"));
    task.SetState(TaskState::Failed);
    task.Finish(false);
}

void CloseTempFile(TaskSlot& slot) {
    std::lock_guard lock(slot.task.FileLock);
    if (slot.TempFd >= 0) {
        close(slot.TempFd);
        slot.TempFd = -1;
    }
    slot.FileEpoch.fetch_add(1);
}

void DeleteTempFile(TaskSlot& slot) {
    std::string temp = slot.task.TempPath();
    CloseTempFile(slot);
    unlink(temp.c_str());
}

bool TruncateTempFile(TaskSlot& slot, int64_t size) {
    std::string temp = slot.task.TempPath();
    std::lock_guard lock(slot.task.FileLock);
    if (slot.TempFd < 0) {
        slot.TempFd = OpenOwnTemp(temp);
        slot.TempFdPath = temp;
    }
    return slot.TempFd >= 0 && ftruncate(slot.TempFd, size) == 0;
}

int64_t OwnTempFileSize(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || CheckOwnFile(st) != OwnFileCheck::Ours) {
        return 0;
    }
    return static_cast<int64_t>(st.st_size);
}

bool RenameAtCompletion(TaskSlot& slot, int* error) {
    DownloadTask& task = slot.task;
    std::string temp = task.TempPath();
    // The name must still lead to the file we wrote: what was put in its
    // place never takes the target's name.
    struct stat named {};
    if (lstat(temp.c_str(), &named) != 0) {
        return true;
    }
    {
        std::lock_guard lock(task.FileLock);
        struct stat written {};
        bool same = slot.TempFd >= 0
                        ? fstat(slot.TempFd, &written) == 0 && written.st_dev == named.st_dev &&
                              written.st_ino == named.st_ino && S_ISREG(named.st_mode)
                        : CheckOwnFile(named) == OwnFileCheck::Ours;
        if (!same) {
            *error = EPERM;
            return false;
        }
    }
    int result = RenameNoReplace(temp, task.LocalPath());
    if (result != EEXIST) {
        *error = result;
        return result == 0;
    }
    // A file (or a link) took the target's name meanwhile: never replaced
    // nor written through, the download gets the next free numbered name, as
    // it would have had the name been taken from the start.
    std::string name;
    {
        std::lock_guard create(slot.ctx.CreateFileLock);
        TaskDescriptor d = task.Snapshot();
        for (int i = 1; result == EEXIST; ++i) {
            name = NumberedName(d.LocalFileName, i);
            std::string candidate = d.LocalDir + name;
            if (PathExists(candidate) || slot.ctx.targets.TakenByOther(candidate, d.TaskId)) {
                continue;
            }
            result = RenameNoReplace(temp, candidate);
        }
        if (result == 0) {
            slot.ctx.targets.Claim(d.TaskId, d.LocalDir + name);
            {
                std::lock_guard lock(task.TaskLock);
                task.descriptor.LocalFileName = name;
            }
            UpdateTaskProgress(task, [&name](TaskProgressRecord& r) {
                r.LocalFileName = name;
                r.LocalTempFileName = name + ".vd~";
            });
        }
    }
    if (result != 0) {
        *error = result;
        return false;
    }
    TaskLog(task, LogKind::Info, 0,
            slot.ctx.lang.GetLangText("Log_TargetNameTaken") + " " + task.LocalPath());
    return true;
}

}  // namespace vardane
