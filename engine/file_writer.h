// The temporary file beside the target (<target>.vd~): choice of a free local
// name, creation and pre-sizing, writes at block offsets, the rename at
// completion, and the folder helpers.
//
// The temporary file stays open between writes (one descriptor per slot,
// guarded by FileLock) and every write goes with pwrite straight to its
// offset; a write is complete or it fails, it never counts bytes that are not
// on disk.
#pragma once

#include <cstdint>
#include <string>

namespace vardane {

class TaskSlot;

// CreateLocalFile, then PrepareBlocks. False when either fails, and false
// when the size is known and every byte is already in (nothing to fetch).
[[nodiscard]] bool PrepareLocalFile(TaskSlot& slot, int threadNo);

// Picks a free local name (under CreateFileLock: no existing file or folder,
// no other downloading task's target), records it, creates the temporary file
// (never through a link: O_EXCL, O_NOFOLLOW) and reserves its full size on
// that descriptor (fallocate, else zero writes; the stop flag is checked
// throughout). Reuses a temporary file recorded in the progress file or
// already present, but only a regular file of this user with one link; any
// other (a link, a hard-linked or foreign file) is left alone, logged, and
// the next numbered name taken. Logs Log_MallocSpace before the reservation.
// Failures log Log_CreateLocalFileFailed or the system's text, set TaskState::Failed
// and Finish(false) where the task cannot go on.
[[nodiscard]] bool CreateLocalFile(TaskSlot& slot, int threadNo);

// Size unknown: delete the temporary file, blocks [1,0],[0,0],[0,0],[0,0],
// create the file again, ThreadCount 1, Downloaded 0, progress rewritten.
[[nodiscard]] bool RestartSingleStream(TaskSlot& slot, int threadNo);

// Writes all n bytes at offset of the temporary file (pwrite on the file
// kept open; short writes are continued). Takes only FileLock, logs nothing,
// so callers may hold TaskLock. On failure returns false with the errno in
// *error and nothing is to be counted: the caller reports it with
// ReportWriteFailure after releasing TaskLock. Loose is the same write for
// the single-stream paths (a failed write there is no longer ignored).
[[nodiscard]] bool WriteTempStrict(TaskSlot& slot, int64_t offset, const char* bytes, int64_t n,
                                   int* error = nullptr);
// WriteTempStrict for a write decided under TaskLock and made after it was
// released (so that other workers need not wait for the disk): epoch is
// slot.FileEpoch as read then. When the temporary file has been closed or
// replaced since, nothing is written and false comes back with *error 0.
[[nodiscard]] bool WriteTempIfSameFile(TaskSlot& slot, uint64_t epoch, int64_t offset,
                                       const char* bytes, int64_t n, int* error = nullptr);
// WriteTempIfSameFile for n bytes waiting in a pipe (received with
// ReceiveIntoPipe): they are moved into the file without a copy in user
// space. On failure some of them may still be in the pipe.
[[nodiscard]] bool MoveToTempIfSameFile(TaskSlot& slot, uint64_t epoch, int64_t offset,
                                        int pipeRead, int64_t n, int* error = nullptr);
[[nodiscard]] bool WriteTempLoose(TaskSlot& slot, int64_t offset, const char* bytes, int64_t n,
                                  int* error = nullptr);
// A failed write: logs the system's text of error and Log_WriteLocalFileFailed
// (kind 3) for thread threadNo, sets TaskState::Failed and Finish(false). Call
// without any task lock.
void ReportWriteFailure(TaskSlot& slot, int threadNo, int error);

// Closes the kept-open temporary file (task end, restart, deletion).
void CloseTempFile(TaskSlot& slot);
// Deletes the temporary file of the task (closing it first).
void DeleteTempFile(TaskSlot& slot);

// Single stream at its end: cuts the open temporary file to size.
[[nodiscard]] bool TruncateTempFile(TaskSlot& slot, int64_t size);

// Size of the temporary file at path when it is a regular file of this user
// with one link (what a start would reuse), else 0.
int64_t OwnTempFileSize(const std::string& path);

// Completion: renames the temporary file to LocalDir + LocalFileName, never
// over (nor through) anything of that name that appeared meanwhile: the file
// then gets the next free numbered name, recorded and logged. Only the file
// the slot wrote is renamed. False with the errno in *error when the data
// could not get a name (it then stays in the temporary file); true also when
// there is no temporary file to rename.
[[nodiscard]] bool RenameAtCompletion(TaskSlot& slot, int* error);

}  // namespace vardane
