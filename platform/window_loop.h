// The window thread's message loop. Workers reach the window thread only
// through it: Send queues a call and blocks until the window thread has run
// it (SendMessage semantics); Send on the window thread runs at once; Post
// queues without waiting. The loop wakes its owner through a file descriptor
// (an eventfd), so a Qt front end drives it from a socket notifier and the
// CLI from its own poll loop.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vardane {

class CWindowLoop {
  public:
    // The constructing thread becomes the window thread.
    CWindowLoop();
    ~CWindowLoop();
    CWindowLoop(const CWindowLoop&) = delete;
    CWindowLoop& operator=(const CWindowLoop&) = delete;

    // Makes the calling thread the window thread.
    void BindToCurrentThread();
    bool IsWindowThread() const;

    // Runs fn on the window thread and returns after it ran. Returns false
    // without running fn when the loop has been closed.
    bool Send(std::function<void()> fn);
    // Queues fn; false when the loop has been closed.
    bool Post(std::function<void()> fn);

    // Readable while calls are queued.
    int WakeFd() const { return wakeFd_; }
    // Runs every queued call on the calling (window) thread; returns how many.
    size_t Pump();
    // Waits up to timeoutMs for queued calls, then pumps. Returns how many ran.
    size_t WaitAndPump(int timeoutMs);

    // Refuses further calls and releases every blocked sender (their calls
    // are dropped). Used at the very end of shutdown.
    void Close();

  private:
    struct Call;
    std::mutex mutex_;
    std::deque<std::shared_ptr<Call>> queue_;
    std::thread::id owner_;
    int wakeFd_ = -1;
    bool closed_ = false;
};

}  // namespace vardane
