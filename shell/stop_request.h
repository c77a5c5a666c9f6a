// A one-way "please stop" shared by the signal watcher, the front end and the main
// job: anyone may raise it, anyone may wait for it without polling.
#pragma once

#include <chrono>
#include <condition_variable>

#include "common/mutex.h"

namespace zelvik::shell {

class StopRequest {
public:
    // Raises the request and wakes every waiter. Any thread; async-signal-unsafe.
    void request();
    bool requested() const;
    // Blocks until the request is raised.
    void wait() const;
    // Blocks until the request is raised or `timeout` has passed; true when raised.
    bool wait_for(std::chrono::milliseconds timeout) const;

private:
    // Guards requested_.
    mutable common::Mutex mutex_;
    mutable std::condition_variable cv_;
    bool requested_ GUARDED_BY(mutex_) = false;
};

}  // namespace zelvik::shell
