// StopRequest: a flag under a mutex with a condition variable for the waiters.
#include "shell/stop_request.h"

namespace zelvik::shell {

void StopRequest::request() {
    {
        const common::MutexLock lock(mutex_);
        requested_ = true;
    }
    cv_.notify_all();
}

bool StopRequest::requested() const {
    const common::MutexLock lock(mutex_);
    return requested_;
}

void StopRequest::wait() const {
    common::MutexLock lock(mutex_);
    while (!requested_) lock.wait(cv_);
}

bool StopRequest::wait_for(std::chrono::milliseconds timeout) const {
    const auto until = std::chrono::steady_clock::now() + timeout;
    common::MutexLock lock(mutex_);
    while (!requested_ && lock.wait_until(cv_, until) == std::cv_status::no_timeout) {
    }
    return requested_;
}

}  // namespace zelvik::shell
