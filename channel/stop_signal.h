// A stop request that sleeping threads notice at once: every wait of the engine goes
// through wait_for(), which returns early when stop is requested. Any thread may call
// any member.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>

#include "common/mutex.h"

namespace zelvik::detect {

class StopSignal {
public:
    void request() {
        {
            const common::MutexLock lock(mutex_);
            stop_.store(true);
        }
        wake_.notify_all();
    }
    void clear() { stop_.store(false); }
    bool requested() const { return stop_.load(); }

    // Sleeps up to `timeout`; true when stop was requested (before or during the wait).
    bool wait_for(std::chrono::milliseconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        common::MutexLock lock(mutex_);
        while (!stop_.load() && lock.wait_until(wake_, until) == std::cv_status::no_timeout) {
        }
        return stop_.load();
    }

private:
    // Guards nothing but the hand-over between request() and a sleeping wait_for().
    common::Mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stop_{false};
};

}  // namespace zelvik::detect
