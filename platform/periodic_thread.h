// A long-lived thread that runs a step at a fixed period and stops promptly:
// Stop() wakes it at once and joins it, so a program can start and stop many
// times in one process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vardane {

class PeriodicThread {
  public:
    PeriodicThread() = default;
    ~PeriodicThread() { Stop(); }
    PeriodicThread(const PeriodicThread&) = delete;
    PeriodicThread& operator=(const PeriodicThread&) = delete;

    // Starts the thread (stopping a running one first): step runs every
    // period, the first time one period after Start, until Stop.
    void Start(std::chrono::milliseconds period, std::function<void()> step);
    // Wakes the thread at once and joins it. Called from inside the step it
    // only asks the loop to end after the step.
    void Stop();
    // For the owner's thread (not for the step).
    bool Running() const { return thread_.joinable(); }

  private:
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread::id loopThread_;  // the running loop's thread, under mutex_
};

}  // namespace vardane
