// StopRequest: a flag under a mutex with a condition variable for the waiters.
#include "shell/stop_request.h"

namespace zelvik::shell {

void StopRequest::request() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        requested_ = true;
    }
    cv_.notify_all();
}

bool StopRequest::requested() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requested_;
}

void StopRequest::wait() const {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return requested_; });
}

bool StopRequest::wait_for(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, timeout, [this] { return requested_; });
}

}  // namespace zelvik::shell
