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

// Another downloading task targets candidate (same folder and name, case
// ignored).
bool UsedByOtherTask(CAppContext& ctx, const std::string& candidate, const std::string& ownId) {
    for (const std::string& id : ReadListIds(ListFilePath(ctx.AppDir(), TaskList::Downloading))) {
        if (id == ownId) {
            continue;
        }
        TaskProgressRecord r = ReadProgress(ProgressFilePath(ctx.AppDir(), id));
        if (!r.LocalFileName.empty() &&
            EqualsNoCase(WithTrailingSlash(r.LocalDir) + r.LocalFileName, candidate)) {
            return true;
        }
    }
    return false;
}

// Reserves size bytes: fallocate where the file system can, else zeros in
// chunks. Returns 0, the errno of a failure, or -1 when the stop flag ended
// it.
int Reserve(CDownloadTask& task, int fd, int64_t size) {
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

void UseTempPath(CTaskSlot& slot, const std::string& path) {
    std::lock_guard lock(slot.task.FileLock);
    if (slot.TempFdPath != path && slot.iTempFd >= 0) {
        close(slot.iTempFd);
        slot.iTempFd = -1;
    }
    slot.TempFdPath = path;
}

// Picks and records a free local name; returns the temporary path.
std::string ChooseLocalName(CTaskSlot& slot) {
    CDownloadTask& task = slot.task;
    std::lock_guard create(slot.ctx.CreateFileLock);
    TaskDescriptor d = task.Snapshot();
    // A name near the limit is shortened (the extension kept) so that the
    // temporary name and a "(n)" still fit.
    std::string name = FitFileName(d.LocalFileName, "", kMaxLocalNameBytes);
    std::string candidate = d.LocalDir + name;
    for (int i = 1; PathExists(candidate) || UsedByOtherTask(slot.ctx, candidate, d.TaskId); ++i) {
        name = FitFileName(d.LocalFileName, "(" + IntToText(i) + ")", kMaxLocalNameBytes);
        candidate = d.LocalDir + name;
    }
    task.SetLocalFileName(name);
    return task.TempPath();
}

}  // namespace

bool CreateLocalFile(CTaskSlot& slot, int threadNo) {
    CDownloadTask& task = slot.task;
    TaskProgressRecord record;
    {
        std::lock_guard lock(task.ProgressLock);
        record = ReadProgress(task.descriptor.ProgressPath);
    }
    if (!record.LocalTempFileName.empty()) {
        UseTempPath(slot, task.TempPath());
        return true;
    }
    std::string temp = ChooseLocalName(slot);
    int64_t size;
    {
        std::lock_guard lock(task.TaskLock);
        size = task.descriptor.bRangeMode ? task.descriptor.iFileSize : 1;
    }
    if (FileExists(temp)) {
        UseTempPath(slot, temp);
        return true;
    }
    // A size the disk cannot hold is refused before anything is reserved: a
    // server's word alone must not take the disk.
    if (int64_t free = FreeSpace(FolderOf(temp)); free >= 0 && size > free) {
        TaskLog(task, 3, threadNo,
                slot.ctx.lang.GetLangText("Log_DiskFull") + " " + IntToText(size) + " > " +
                    IntToText(free) + " " + temp);
        task.SetState(stateError);
        task.Finish(false);
        return false;
    }
    int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        TaskLog(task, 3, threadNo,
                slot.ctx.lang.GetLangText("Log_CreateLocalFileFailed") + " " + temp);
        return false;
    }
    TaskLog(task, 2, threadNo, slot.ctx.lang.GetLangText("Log_MallocSpace"));
    int result = Reserve(task, fd, size);
    close(fd);
    if (result == 0 && !task.IsStopped()) {
        UpdateTaskProgress(
            task,
            [&task](TaskProgressRecord& r) {
                std::lock_guard lock(task.TaskLock);
                r.LocalTempFileName = task.descriptor.LocalFileName + ".vd~";
            },
            Durability::Deferred);
        UseTempPath(slot, temp);
        return true;
    }
    // A stopped or failed reservation leaves no file behind: its name is not
    // recorded, so the next start creates it again.
    unlink(temp.c_str());
    if (result > 0) {
        TaskLog(task, 3, threadNo, ErrorText(result) + " " + temp);
        task.SetState(stateError);
        task.Finish(false);
    }
    return false;
}

bool PrepareLocalFile(CTaskSlot& slot, int threadNo) {
    CDownloadTask& task = slot.task;
    // A recorded temporary file that has gone makes the stored progress
    // worthless: start the file afresh rather than write into a new, empty one.
    std::string temp = task.TempPath();
    bool gone = false;
    UpdateTaskProgress(
        task,
        [&](TaskProgressRecord& r) {
            if (!r.LocalTempFileName.empty() && !FileExists(temp)) {
                r.LocalTempFileName.clear();
                r.FilePos.clear();
                r.Block = {};
                r.Validators = {};  // no bytes left whose version matters
                gone = true;
            }
        },
        Durability::Deferred);
    if (gone) {
        std::lock_guard lock(task.TaskLock);
        task.descriptor.Validators = {};
    }
    if (!CreateLocalFile(slot, threadNo) || !PrepareBlocks(task)) {
        return false;
    }
    std::lock_guard lock(task.TaskLock);
    const TaskDescriptor& d = task.descriptor;
    slot.bFilePrepared = true;
    return !(d.iFileSize > 0 && d.iDownloaded >= d.iFileSize);
}

bool RestartSingleStream(CTaskSlot& slot, int threadNo) {
    CDownloadTask& task = slot.task;
    DeleteTempFile(slot);
    {
        std::lock_guard lock(task.TaskLock);
        TaskBlocks blocks{};
        blocks[0].iFrom = 1;
        task.descriptor.Blocks = blocks;
        task.descriptor.bRangeMode = false;
        task.descriptor.Validators = {};  // a single stream never resumes
        slot.bStreamEnded = false;
    }
    // Nothing of an earlier ranged run may be resumed from now on.
    UpdateTaskProgress(task, ForgetStoredBytes, Durability::Deferred);
    if (!CreateLocalFile(slot, threadNo)) {
        return false;
    }
    {
        std::lock_guard lock(task.TaskLock);
        task.descriptor.ThreadCount = 1;
        task.descriptor.iDownloaded = 0;
        task.descriptor.iPrevDownloaded = 0;
        slot.bFilePrepared = true;
    }
    UpdateTaskProgress(
        task, [](TaskProgressRecord& r) { r.ThreadCount = "1"; }, Durability::Deferred);
    return true;
}

bool WriteTempStrict(CTaskSlot& slot, int64_t offset, const char* bytes, int64_t n, int* error) {
    std::lock_guard lock(slot.task.FileLock);
    if (slot.iTempFd < 0) {
        slot.iTempFd = open(slot.TempFdPath.c_str(), O_RDWR | O_CLOEXEC);
        if (slot.iTempFd < 0) {
            if (error != nullptr) {
                *error = errno;
            }
            return false;
        }
    }
    int64_t done = 0;
    while (done < n) {
        ssize_t r =
            pwrite(slot.iTempFd, bytes + done, static_cast<size_t>(n - done), offset + done);
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

bool WriteTempLoose(CTaskSlot& slot, int64_t offset, const char* bytes, int64_t n, int* error) {
    return WriteTempStrict(slot, offset, bytes, n, error);
}

void ReportWriteFailure(CTaskSlot& slot, int threadNo, int error) {
    CDownloadTask& task = slot.task;
    std::string path = task.TempPath();
    TaskLog(task, 3, threadNo, ErrorText(error) + " " + path);
    TaskLog(task, 3, threadNo, slot.ctx.lang.GetLangText("Log_WriteLocalFileFailed"));
    task.SetState(stateError);
    task.Finish(false);
}

void CloseTempFile(CTaskSlot& slot) {
    std::lock_guard lock(slot.task.FileLock);
    if (slot.iTempFd >= 0) {
        close(slot.iTempFd);
        slot.iTempFd = -1;
    }
}

void DeleteTempFile(CTaskSlot& slot) {
    std::string temp = slot.task.TempPath();
    CloseTempFile(slot);
    unlink(temp.c_str());
}

bool RenameAtCompletion(CTaskSlot& slot, int* error) {
    std::string temp = slot.task.TempPath();
    std::string target = slot.task.LocalPath();
    if (!FileExists(temp)) {
        return true;
    }
    // Never replace a file that appeared under the target name meanwhile.
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if ((errno == EINVAL || errno == ENOSYS) && !PathExists(target) &&
        rename(temp.c_str(), target.c_str()) == 0) {
        return true;  // a file system without RENAME_NOREPLACE
    }
    *error = errno;
    return false;
}

}  // namespace vardane
