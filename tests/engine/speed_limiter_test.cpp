// The speed limiter's arithmetic and the sampler's measurement.
#include <gtest/gtest.h>

#include "engine/speed_limiter.h"
#include "tests/engine/engine_harness.h"

namespace vardane::test {
namespace {

TEST(SpeedLimiter, LimitOnSharesTheBudgetAndNeverHandsOutMoreThanASecondsWorth) {
    EngineHarness h;
    h.SetSpeedLimit(true, 10);
    {
        std::lock_guard lock(h.ctx.SpeedLock);
        h.ctx.RunningThreads = 2;
    }
    int64_t total = 0;
    for (int i = 0; i < 10; ++i) {
        int64_t q = TakeQuota(h.ctx);
        EXPECT_LE(q, 5120);
        total += q;
    }
    EXPECT_EQ(total, 10240);
    EXPECT_EQ(TakeQuota(h.ctx), 0);
    ReturnQuota(h.ctx, 100);
    EXPECT_EQ(TakeQuota(h.ctx), 100);  // less than a share left: all of it
    ReturnQuota(h.ctx, 1 << 30);
    std::lock_guard lock(h.ctx.SpeedLock);
    EXPECT_EQ(h.ctx.SpeedBudget, 10240);  // capped at one second's worth
    h.ctx.RunningThreads = 0;
}

TEST(SpeedLimiter, LimitOffNeverWaitsAndTheSamplerMeasuresWhatWasRead) {
    EngineHarness h;
    h.SetSpeedLimit(false, 0);
    {
        std::lock_guard lock(h.ctx.SpeedLock);
        h.ctx.RunningThreads = 1;
    }
    // 4 full reads, 3 of them received in full, one not at all: 3 full
    // reads in this second, counted although the budget is off.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(TakeQuota(h.ctx), kUnlimitedReadBytes);
    }
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(TakeQuota(h.ctx), kUnlimitedReadBytes);
        ReturnQuota(h.ctx, kUnlimitedReadBytes);
    }
    ReturnQuota(h.ctx, kUnlimitedReadBytes);
    SpeedSampler sampler;
    sampler.Step(h.ctx, &h.owner);
    {
        std::lock_guard lock(h.ctx.SpeedLock);
        // 3 reads in the first of five slots.
        EXPECT_NEAR(h.ctx.AvgSpeedKB, 3 * kUnlimitedReadBytes / 1024 * 0.2, 0.5);
        EXPECT_EQ(h.ctx.SpeedBudget, 1024 * 1024);
        h.ctx.RunningThreads = 0;
    }
    EXPECT_EQ(h.owner.speedTicks.load(), 1);
    // Nothing running: the average decays to 0 over five samples.
    for (int i = 0; i < 5; ++i) {
        sampler.Step(h.ctx, nullptr);
    }
    std::lock_guard lock(h.ctx.SpeedLock);
    EXPECT_EQ(h.ctx.AvgSpeedKB, 0);
}

}  // namespace
}  // namespace vardane::test
