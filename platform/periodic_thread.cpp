#include "platform/periodic_thread.h"

namespace vardane {

void PeriodicThread::Start(std::chrono::milliseconds period, std::function<void()> step) {
    Stop();
    std::lock_guard started(mutex_);
    stop_ = false;
    thread_ = std::thread([this, period, step = std::move(step)] {
        using Clock = std::chrono::steady_clock;
        auto next = Clock::now() + period;
        std::unique_lock lock(mutex_);
        loopThread_ = std::this_thread::get_id();
        // Sleep until the next tick or until Stop, whichever comes first.
        while (!wake_.wait_until(lock, next, [this] { return stop_; })) {
            lock.unlock();
            step();
            lock.lock();
            next += period;
            // A step that overran starts the cadence afresh instead of bursting.
            if (const auto now = Clock::now(); next < now) {
                next = now + period;
            }
        }
        loopThread_ = {};
    });
}

void PeriodicThread::Stop() {
    // One caller takes the thread to join it, so that two threads stopping
    // at once never join it twice.
    std::thread running;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        // From inside the step only the request is possible: the loop ends
        // after the step, and the next Stop from another thread joins it.
        if (loopThread_ != std::this_thread::get_id()) {
            running.swap(thread_);
        }
    }
    wake_.notify_all();
    if (running.joinable()) {
        running.join();
    }
}

}  // namespace vardane
