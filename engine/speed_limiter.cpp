#include "engine/speed_limiter.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "settings/app_context.h"
#include "task/download_task.h"
#include "task/progress_file.h"

namespace vardane {

namespace {

constexpr double kBytesToKB = 0.0009766;

// Appends to a ring of five samples (dropping the oldest once full) and
// returns the mean over five slots (empty slots count as 0).
double PushSample(std::array<double, 5>& samples, int& count, double sample) {
    if (count < 5) {
        samples[count++] = sample;
    } else {
        for (int i = 0; i < 4; ++i) {
            samples[i] = samples[i + 1];
        }
        samples[4] = sample;
    }
    double sum = 0;
    for (double s : samples) {
        sum += s;
    }
    return sum * 0.2;
}

}  // namespace

int64_t RequestBytes(AppContext& ctx) {
    std::lock_guard lock(ctx.SpeedLock);
    if (!ctx.settings.SpeedLimit) {
        return kUnlimitedRequestBytes;
    }
    return std::max<int64_t>(2 * ctx.SpeedLimitKB * 1024, 256 * 1024);
}

int ReceiveBufferBytes(AppContext& ctx) {
    std::lock_guard lock(ctx.SpeedLock);
    if (!ctx.settings.SpeedLimit) {
        return kUnlimitedReceiveBuffer;
    }
    int64_t bytes = ctx.SpeedLimitKB * 1024 / 16;
    return static_cast<int>(std::clamp<int64_t>(bytes, kMinReceiveBuffer, kUnlimitedReceiveBuffer));
}

int64_t ProbeBytes(AppContext& ctx) {
    {
        std::lock_guard lock(ctx.SpeedLock);
        if (!ctx.settings.SpeedLimit) {
            return kUnlimitedProbeBytes;
        }
    }
    return ReceiveBufferBytes(ctx);
}

int64_t TakeQuota(AppContext& ctx) {
    std::lock_guard lock(ctx.SpeedLock);
    if (!ctx.settings.SpeedLimit) {
        // No limit: the budget only records what is read (it may go below
        // zero) so the sampler can measure the total speed.
        ctx.SpeedBudget -= kUnlimitedReadBytes;
        return kUnlimitedReadBytes;
    }
    int64_t budget = ctx.SpeedBudget;
    if (budget < 1) {
        return 0;
    }
    int64_t share = ctx.RunningThreads > 0 ? ctx.SpeedLimitKB * 1024 / ctx.RunningThreads : 0;
    if (budget < share) {
        ctx.SpeedBudget = 0;
        return budget;
    }
    ctx.SpeedBudget = budget - share;
    return share;
}

void ReturnQuota(AppContext& ctx, int64_t bytes) {
    std::lock_guard lock(ctx.SpeedLock);
    if (bytes < 0) {
        bytes = 0;
    }
    ctx.SpeedBudget += bytes;
    int64_t cap = ctx.SpeedLimitKB * 1024;
    if (ctx.settings.SpeedLimit && ctx.SpeedBudget > cap) {
        ctx.SpeedBudget = cap;
    }
}

int64_t WaitForQuota(AppContext& ctx, DownloadTask& task) {
    while (true) {
        int64_t quota = TakeQuota(ctx);
        if (quota > 0) {
            return quota;
        }
        if (task.IsStopped()) {
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void SpeedSampler::Step(AppContext& ctx, ITaskOwner* owner) {
    {
        std::lock_guard lock(ctx.SpeedLock);
        int64_t limit = ctx.SpeedLimitKB * 1024;
        double sample = 0;
        if (ctx.RunningThreads >= 1) {
            sample = static_cast<double>(limit - ctx.SpeedBudget) * kBytesToKB;
        }
        ctx.SpeedBudget = limit;
        ctx.AvgSpeedKB = PushSample(samples_, count_, sample);
    }
    if (owner != nullptr) {
        owner->OnSpeedTick();
    }
}

void TaskTick(DownloadTask& task) {
    bool save = false;
    {
        std::lock_guard lock(task.TaskLock);
        TaskDescriptor& d = task.descriptor;
        int percent = 0;
        if (d.FileSize >= 1) {
            percent = static_cast<int>(static_cast<float>(d.Downloaded) /
                                       static_cast<float>(d.FileSize) * 100.0f);
        }
        double sample = 0;
        if (!task.Stop.load()) {
            sample = static_cast<double>(d.Downloaded - d.PrevDownloaded) * kBytesToKB;
        }
        d.AvgSpeedKB = PushSample(task.SpeedSamples, task.SampleCount, sample);
        d.PrevDownloaded = d.Downloaded;
        d.BestPercent = std::max(d.BestPercent, percent);
        if (d.SaveCounter > 1023) {
            d.SaveCounter = 0;
            save = true;
        }
        d.SaveCounter = static_cast<int64_t>(static_cast<double>(d.SaveCounter) + sample);
    }
    if (save) {
        (void)TrySaveProgress(task);  // never behind a worker's save
    }
    if (task.owner != nullptr) {
        task.owner->OnTaskProgress(task.Snapshot());
    }
}

}  // namespace vardane
