// A one-way "this thread's body has returned" signal that other threads can wait for
// with a time limit, so that every join in the program is bounded.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zelvik::common {

class FinishLatch {
public:
    // Before the thread starts.
    void reset() { set_.store(false); }

    // The last thing the thread body does. Never throws.
    void mark() noexcept {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            set_.store(true);
        }
        cv_.notify_all();
    }

    bool is_set() const { return set_.load(); }

    // True once marked, false when `timeout` ran out first. Any thread.
    bool wait_for(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, timeout, [this] { return set_.load(); });
    }

private:
    // Guards the hand-over of set_ to waiters.
    std::mutex mutex_;
    std::condition_variable cv_;
    std::atomic<bool> set_{false};
};

}  // namespace zelvik::common
