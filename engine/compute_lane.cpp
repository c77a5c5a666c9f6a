#include "engine/compute_lane.h"

#include <exception>
#include <utility>

namespace zelvik::detect {

ComputeLane::ComputeLane() : thread_([this] { body(); }) {}

ComputeLane::~ComputeLane() {
    {
        common::MutexLock lock(mutex_);
        while (running_) lock.wait(done_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void ComputeLane::run(std::function<void()> job) {
    {
        const common::MutexLock lock(mutex_);
        job_ = std::move(job);
        running_ = true;
        error_.clear();
    }
    pending_ = true;
    wake_.notify_one();
}

std::string ComputeLane::wait() {
    if (!pending_) return {};
    common::MutexLock lock(mutex_);
    while (running_) lock.wait(done_);
    pending_ = false;
    return std::move(error_);
}

void ComputeLane::body() noexcept {
    common::MutexLock lock(mutex_);
    for (;;) {
        while (!running_ && !stopping_) lock.wait(wake_);
        if (!running_) return;  // stopping with nothing to do
        std::function<void()> job = std::move(job_);
        lock.unlock();
        std::string error;
        try {
            job();
        } catch (const std::exception& e) {
            error = e.what()[0] != '\0' ? e.what() : "unnamed error";
        } catch (...) {
            error = "unknown error";
        }
        job = nullptr;  // what the job holds goes before the caller is told it is done
        lock.lock();
        error_ = std::move(error);
        running_ = false;
        done_.notify_all();
    }
}

}  // namespace zelvik::detect
