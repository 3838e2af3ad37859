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

class WindowLoop {
  public:
    // The constructing thread becomes the window thread.
    WindowLoop();
    ~WindowLoop();
    WindowLoop(const WindowLoop&) = delete;
    WindowLoop& operator=(const WindowLoop&) = delete;

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
    // Runs the calls queued when it starts, in order, on the window thread;
    // returns how many ran. A call may Send (runs inline) or Pump again
    // (runs the next queued calls; none runs twice). Called from any other
    // thread it runs nothing and returns 0.
    size_t Pump();
    // Waits up to timeoutMs (-1: without limit) for queued calls, then pumps.
    // Returns how many ran.
    size_t WaitAndPump(int timeoutMs);

    // Refuses further calls and releases every blocked sender (their calls
    // are dropped). Used at the very end of shutdown.
    void Close();

  private:
    struct Call;
    // Queues a call and makes the wake descriptor readable. Mutex held.
    void EnqueueLocked(std::shared_ptr<Call> call);
    // Empties the wake descriptor once the queue is empty. Mutex held.
    void ClearWakeLocked();
    void Finish(Call& call, bool ran);

    mutable std::mutex mutex_;
    std::condition_variable finished_;  // a call ran or was dropped; a sender left
    std::deque<std::shared_ptr<Call>> queue_;
    std::thread::id owner_;
    int wakeFd_ = -1;
    bool closed_ = false;
    size_t waitingSenders_ = 0;
};

}  // namespace vardane
