#include "platform/window_loop.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <memory>
#include <vector>

namespace vardane {
namespace {

bool WakeReadable(const WindowLoop& loop, int timeoutMs) {
    pollfd p{loop.WakeFd(), POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

TEST(WindowLoop, ConcurrentSendersRunOnceInOrderOnTheWindowThread) {
    WindowLoop loop;
    constexpr int kSenders = 8;
    constexpr int kCalls = 200;
    const auto windowThread = std::this_thread::get_id();
    std::vector<std::vector<int>> seen(kSenders);  // touched on the window thread only
    std::atomic<int> wrongThread{0};
    std::atomic<int> finished{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int i = 0; i < kCalls; ++i) {
                const bool sent = loop.Send([&, s, i] {
                    wrongThread += std::this_thread::get_id() != windowThread;
                    seen[static_cast<size_t>(s)].push_back(i);
                });
                refused += !sent;
            }
            ++finished;
        });
    }
    while (finished < kSenders) {
        loop.WaitAndPump(100);
    }
    for (auto& t : senders) {
        t.join();
    }
    EXPECT_EQ(loop.Pump(), 0u);
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(wrongThread, 0);
    for (const auto& calls : seen) {
        ASSERT_EQ(calls.size(), static_cast<size_t>(kCalls));
        for (int i = 0; i < kCalls; ++i) {
            EXPECT_EQ(calls[static_cast<size_t>(i)], i);
        }
    }
}

TEST(WindowLoop, SendOnTheWindowThreadRunsInline) {
    WindowLoop loop;
    int ran = 0;
    EXPECT_TRUE(loop.Send([&] { ++ran; }));
    EXPECT_EQ(ran, 1);
    // A queued call that sends again runs the inner call inline.
    ASSERT_TRUE(loop.Post([&] { loop.Send([&] { ran += 10; }); }));
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(loop.Pump(), 1u);
    EXPECT_EQ(ran, 11);

    // Another thread that becomes the window thread owns the loop from then on.
    std::thread other([&] {
        loop.BindToCurrentThread();
        EXPECT_TRUE(loop.IsWindowThread());
        EXPECT_TRUE(loop.Send([&] { ++ran; }));
    });
    other.join();
    EXPECT_FALSE(loop.IsWindowThread());
    EXPECT_EQ(ran, 12);
    loop.BindToCurrentThread();
}

TEST(WindowLoop, WakeDescriptorIsReadableWhileCallsAreQueued) {
    WindowLoop loop;
    EXPECT_FALSE(WakeReadable(loop, 0));
    std::vector<int> order;
    loop.Post([&] { order.push_back(1); });
    loop.Post([&] { order.push_back(2); });
    EXPECT_TRUE(WakeReadable(loop, 0));
    EXPECT_EQ(loop.WaitAndPump(-1), 2u);
    EXPECT_FALSE(WakeReadable(loop, 0));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(loop.WaitAndPump(0), 0u);

    // A call posted by a running call waits for the next pump, which it can wake.
    loop.Post([&] { loop.Post([&] { order.push_back(3); }); });
    EXPECT_EQ(loop.Pump(), 1u);
    EXPECT_TRUE(WakeReadable(loop, 0));
    EXPECT_EQ(loop.Pump(), 1u);
    EXPECT_EQ(order.back(), 3);
}

TEST(WindowLoop, NestedPumpRunsEveryCallExactlyOnce) {
    WindowLoop loop;
    std::vector<int> order;
    loop.Post([&] {
        order.push_back(1);
        EXPECT_EQ(loop.Pump(), 2u);  // a handler that pumps, as a modal dialog does
        order.push_back(4);
    });
    loop.Post([&] { order.push_back(2); });
    loop.Post([&] { order.push_back(3); });
    EXPECT_EQ(loop.Pump(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(loop.Pump(), 0u);

    std::thread stranger([&] {
        loop.Post([&] { order.push_back(5); });
        EXPECT_EQ(loop.Pump(), 0u);  // only the window thread runs calls
    });
    stranger.join();
    EXPECT_EQ(loop.Pump(), 1u);
    EXPECT_EQ(order.back(), 5);
}

TEST(WindowLoop, CloseReleasesBlockedSendersWithoutRunningTheirCalls) {
    WindowLoop loop;
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    std::thread sender([&] { result = loop.Send([&] { ran = true; }) ? 1 : 0; });
    ASSERT_TRUE(WakeReadable(loop, -1));  // the call is queued: the sender is blocked
    loop.Close();
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(WakeReadable(loop, 0));
    EXPECT_FALSE(loop.Send([&] { ran = true; }));  // also on the window thread
    EXPECT_FALSE(loop.Post([&] { ran = true; }));
    std::thread late([&] { EXPECT_FALSE(loop.Send([&] { ran = true; })); });
    late.join();
    EXPECT_EQ(loop.Pump(), 0u);
    EXPECT_FALSE(ran);
}

TEST(WindowLoop, DestroyingTheLoopReleasesABlockedSender) {
    auto loop = std::make_unique<WindowLoop>();
    std::atomic<int> result{-1};
    std::thread sender([&, raw = loop.get()] { result = raw->Send([] {}) ? 1 : 0; });
    ASSERT_TRUE(WakeReadable(*loop, -1));
    loop.reset();
    sender.join();
    EXPECT_EQ(result, 0);
}

// The shutdown of the main window: ask the workers to stop, then pump until
// the last one has ended, while they keep sending to the window.
TEST(WindowLoop, ShutdownPumpsUntilWorkersEnd) {
    WindowLoop loop;
    std::atomic<bool> stop{false};
    std::atomic<int> running{0};
    std::atomic<int> sent{0};
    int handled = 0;
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        ++running;
        workers.emplace_back([&] {
            while (!stop) {
                sent += loop.Send([&] { ++handled; });
            }
            loop.Send([&] { ++handled; });  // a final state message after the stop
            ++sent;
            --running;
        });
    }
    while (sent < 100) {
        loop.WaitAndPump(100);
    }
    stop = true;
    while (running > 0) {
        loop.WaitAndPump(50);
    }
    for (auto& w : workers) {
        w.join();
    }
    EXPECT_EQ(handled, sent.load());
}

}  // namespace
}  // namespace vardane
