#include "platform/window_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vardane {

struct WindowLoop::Call {
    std::function<void()> fn;
    bool finished = false;  // ran, or dropped by Close
    bool ran = false;
};

WindowLoop::WindowLoop()
    : owner_(std::this_thread::get_id()), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WindowLoop::~WindowLoop() {
    Close();
    // Blocked senders still read their call's state under our mutex.
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return waitingSenders_ == 0; });
    lock.unlock();
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

void WindowLoop::BindToCurrentThread() {
    std::lock_guard lock(mutex_);
    owner_ = std::this_thread::get_id();
}

bool WindowLoop::IsWindowThread() const {
    std::lock_guard lock(mutex_);
    return owner_ == std::this_thread::get_id();
}

void WindowLoop::EnqueueLocked(std::shared_ptr<Call> call) {
    if (queue_.empty() && wakeFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
    queue_.push_back(std::move(call));
}

void WindowLoop::ClearWakeLocked() {
    if (queue_.empty() && wakeFd_ >= 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
}

void WindowLoop::Finish(Call& call, bool ran) {
    std::lock_guard lock(mutex_);
    call.finished = true;
    call.ran = ran;
    finished_.notify_all();
}

bool WindowLoop::Send(std::function<void()> fn) {
    if (IsWindowThread()) {
        {
            std::lock_guard lock(mutex_);
            if (closed_) {
                return false;
            }
        }
        fn();  // SendMessage on the window's own thread calls the handler directly
        return true;
    }
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    std::unique_lock lock(mutex_);
    if (closed_) {
        return false;
    }
    EnqueueLocked(call);
    ++waitingSenders_;
    finished_.wait(lock, [&call] { return call->finished; });
    --waitingSenders_;
    finished_.notify_all();  // the destructor may be waiting for us to leave
    return call->ran;
}

bool WindowLoop::Post(std::function<void()> fn) {
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    std::lock_guard lock(mutex_);
    if (closed_) {
        return false;
    }
    EnqueueLocked(std::move(call));
    return true;
}

size_t WindowLoop::Pump() {
    if (!IsWindowThread()) {
        return 0;
    }
    size_t limit = 0;
    {
        std::lock_guard lock(mutex_);
        limit = queue_.size();  // later calls wait for the next pump: no endless pump
    }
    size_t ran = 0;
    for (; ran < limit; ++ran) {
        std::shared_ptr<Call> call;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) {
                break;  // a nested Pump ran the rest
            }
            call = std::move(queue_.front());
            queue_.pop_front();
            ClearWakeLocked();
        }
        // The handler's captures die here, on the window thread, before the
        // sender is released.
        std::function<void()> fn = std::move(call->fn);
        try {
            fn();
        } catch (...) {
            fn = nullptr;
            Finish(*call, true);
            throw;
        }
        fn = nullptr;
        Finish(*call, true);
    }
    return ran;
}

size_t WindowLoop::WaitAndPump(int timeoutMs) {
    if (!IsWindowThread()) {
        return 0;
    }
    pollfd wake{wakeFd_, POLLIN, 0};
    ::poll(&wake, 1, timeoutMs);  // EINTR or a time-out: pump what is there
    return Pump();
}

void WindowLoop::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (const auto& call : queue_) {
        call->finished = true;  // dropped: its sender gets false
    }
    queue_.clear();
    ClearWakeLocked();
    finished_.notify_all();
}

}  // namespace vardane
