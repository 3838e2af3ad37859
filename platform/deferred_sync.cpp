#include "platform/deferred_sync.h"

#include <utility>

#include "platform/file.h"

namespace vardane {

DeferredSync::DeferredSync(std::function<void(const std::string&)> onFailure)
    : onFailure_(std::move(onFailure)), thread_([this] { Run(); }) {}

DeferredSync::~DeferredSync() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DeferredSync::Add(std::string path) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(path));
    }
    wake_.notify_one();
}

void DeferredSync::Drain() {
    std::unique_lock lock(mutex_);
    drained_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void DeferredSync::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;  // stopping, and everything queued is on disk
        }
        std::string path = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        if (!SyncExistingFile(path) && FileExists(path) && onFailure_) {
            onFailure_(path);
        }
        lock.lock();
        busy_ = false;
        if (queue_.empty()) {
            drained_.notify_all();
        }
    }
}

}  // namespace vardane
