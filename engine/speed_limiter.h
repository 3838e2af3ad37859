// The process-wide speed limiter and the once-a-second steps: the total speed
// sampler and a task's TaskTick. The app's long-lived threads call the steps
// every second; the engine starts no thread of its own for them.
#pragma once

#include <array>
#include <cstdint>

namespace vardane {

struct AppContext;
class DownloadTask;
class ITaskOwner;

// Read size when the speed limit is off, and so the size of the read buffer
// of a TLS connection or a single stream, which a fast transfer fills whole,
// and of the pipe a plain ranged connection splices through: 128 KiB costs
// no more CPU per byte than 256 KiB did (64 KiB does).
inline constexpr int64_t kUnlimitedReadBytes = 128 * 1024;

// What the kernel may buffer for one connection with the speed limit off:
// enough to keep loopback and LAN transfers at full speed, small enough that
// the bytes thrown away where a block ends or is split stay a small share.
inline constexpr int kUnlimitedReceiveBuffer = 512 * 1024;
// The smallest receive buffer asked for under a limit.
inline constexpr int kMinReceiveBuffer = 4 * 1024;

// The most one ranged HTTP request asks for with the limit off; a block
// longer than that is fetched over several requests, so that a split can
// take over its far part without taking bytes already on their way.
inline constexpr int64_t kUnlimitedRequestBytes = 32 * 1024 * 1024;
// The first request of an HTTP task that may split asks for this much with
// the limit off: enough to learn the size and get going, while what the
// server queues beyond it (which block 0 may not want) stays small.
inline constexpr int64_t kUnlimitedProbeBytes = 1024 * 1024;
// The first request's bytes: kUnlimitedProbeBytes, or while limiting what
// the receive buffer holds (a sixteenth of a second's budget).
int64_t ProbeBytes(AppContext& ctx);
// The most one ranged HTTP request asks for: two seconds of the limit's
// budget (at least 256 KiB) while limiting, else kUnlimitedRequestBytes.
int64_t RequestBytes(AppContext& ctx);

// The receive buffer a new connection asks for: with the limit on a
// sixteenth of a second's budget (a slow reader leaves little in the kernel
// for a split to throw away; the kernel doubles it for its bookkeeping), at
// least kMinReceiveBuffer; with it off kUnlimitedReceiveBuffer.
int ReceiveBufferBytes(AppContext& ctx);

// Bytes the calling reader may receive now. With the SpeedLimit flag on:
// a share of the second's budget (SpeedLimitKB * 1024 / RunningThreads),
// 0 when the budget is spent (the reader sleeps 10 ms and asks again). With
// it off: kUnlimitedReadBytes at once; the budget still records the bytes so
// the sampler measures the total speed.
int64_t TakeQuota(AppContext& ctx);
// Gives back the part of a quota that was not received.
void ReturnQuota(AppContext& ctx, int64_t bytes);
// TakeQuota, sleeping 10 ms while it is 0, until bytes come or the task
// stops (then 0).
int64_t WaitForQuota(AppContext& ctx, DownloadTask& task);

// The speed sampler's one-second step: the total speed sample from the budget
// used, the budget refilled, AvgSpeedKB over the last five samples, then
// OnSpeedTick to owner (when not null), outside SpeedLock.
class SpeedSampler {
  public:
    void Step(AppContext& ctx, ITaskOwner* owner);

  private:
    std::array<double, 5> samples_{};
    int count_ = 0;
};

// A slot's one-second step while its task is active: percentage, task speed,
// a progress rewrite after about each 1024 KB, then OnTaskProgress.
void TaskTick(DownloadTask& task);

}  // namespace vardane
