#include "platform/periodic_thread.h"

#include <gtest/gtest.h>

namespace vardane {
namespace {

using namespace std::chrono_literals;

// Counts steps and lets the test wait for a number of them.
struct StepCounter {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;

    void Step() {
        std::lock_guard lock(mutex);
        ++count;
        changed.notify_all();
    }
    void WaitFor(int n) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return count >= n; });
    }
    int Count() {
        std::lock_guard lock(mutex);
        return count;
    }
};

TEST(PeriodicThread, StepsRepeatAndStartStopRepeats) {
    PeriodicThread thread;
    StepCounter counter;
    EXPECT_FALSE(thread.Running());
    for (int round = 0; round < 3; ++round) {
        const int before = counter.Count();
        thread.Start(1ms, [&] { counter.Step(); });
        EXPECT_TRUE(thread.Running());
        counter.WaitFor(before + 3);
        thread.Stop();  // joined: no step runs after this
        EXPECT_FALSE(thread.Running());
    }
    thread.Stop();  // a second Stop is harmless
}

TEST(PeriodicThread, StopWakesALongSleepAtOnce) {
    StepCounter counter;
    {
        PeriodicThread thread;
        thread.Start(1h, [&] { counter.Step(); });
        thread.Stop();  // would hang for an hour without the wake-up
        thread.Start(1h, [&] { counter.Step(); });
    }  // the destructor stops it too
    EXPECT_EQ(counter.Count(), 0);
}

TEST(PeriodicThread, StopFromInsideTheStepEndsTheLoop) {
    PeriodicThread thread;
    StepCounter counter;
    thread.Start(1ms, [&] {
        counter.Step();
        thread.Stop();
    });
    counter.WaitFor(1);
    thread.Stop();
    EXPECT_EQ(counter.Count(), 1);
}

}  // namespace
}  // namespace vardane
