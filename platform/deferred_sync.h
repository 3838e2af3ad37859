// Makes files durable on a thread of its own. A record that must reach the
// disk soon, but need not be there before the caller goes on (a new task
// whose download is already starting), is handed over here instead of
// being flushed in line, where beside a busy disk each flush can take a
// second.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vardane {

class DeferredSync {
  public:
    // onFailure runs on the sync thread with the path of a file that could
    // not be flushed.
    explicit DeferredSync(std::function<void(const std::string&)> onFailure = {});
    // Flushes what is still queued, then joins the thread.
    ~DeferredSync();
    DeferredSync(const DeferredSync&) = delete;
    DeferredSync& operator=(const DeferredSync&) = delete;

    // Queues a flush of path and of its folder (the name), in the order
    // added. A path gone by then is skipped.
    void Add(std::string path);
    // Returns once everything queued before the call has been flushed.
    void Drain();

  private:
    void Run();

    std::function<void(const std::string&)> onFailure_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    std::deque<std::string> queue_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace vardane
