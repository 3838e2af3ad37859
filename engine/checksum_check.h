// The check of a finished download against its checksum: the one the user
// gave with the task (progress file key Checksum), else the one a server
// announced for the whole file. Runs on the worker that ends the task, once
// all bytes are in and before the temporary file gets the target name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "task/checksum.h"
#include "task/task_state.h"

namespace vardane {

class TaskSlot;
struct HttpReplyInfo;

enum class DigestOutcome { Done, Stopped, Failed };

// Digest of the first length bytes of the file at path, read in chunks;
// stopped is asked before each chunk, so a huge file never holds up a stop.
// Failed (the reason in *why) when the file cannot be read or is shorter, or
// the digest code (the TLS module) cannot be loaded.
DigestOutcome DigestFile(const std::string& path, int64_t length, ChecksumAlgorithm algorithm,
                         const std::function<bool()>& stopped, std::string& digest,
                         std::string* why = nullptr);

// An HTTP reply that was accepted: when its body is the whole file and it
// announces the file's digest, the first such digest of the run is kept for
// the end.
void NoteServerDigest(TaskSlot& slot, const HttpReplyInfo& info);

// The check at the task's end, all length bytes in the temporary file:
// TaskState::Completed when nothing is to be checked or the digest matches (one
// log line), TaskState::Failed when it does not match (the line names both
// digests) or cannot be computed, TaskState::Stopped when a stop command came
// during the check.
TaskState VerifyDownload(TaskSlot& slot, int64_t length);

}  // namespace vardane
