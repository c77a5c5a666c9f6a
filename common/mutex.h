// std::mutex with the thread-safety attributes clang checks, and its scoped lock with
// the waits on a condition variable. Shared state is declared GUARDED_BY one of these;
// a wait is written as a loop over the condition (while (!ready) lock.wait(cv);) so that
// the condition is read where the analysis knows the lock is held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "common/thread_annotations.h"

namespace zelvik::common {

class CAPABILITY("mutex") Mutex {
public:
    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }

private:
    friend class MutexLock;
    std::mutex m_;
};

class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& m) ACQUIRE(m) : lock_(m.m_) {}
    ~MutexLock() RELEASE() = default;
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // For work that must run without the lock inside its scope.
    void unlock() RELEASE() { lock_.unlock(); }
    void lock() ACQUIRE() { lock_.lock(); }

    // The lock is given up while waiting and held again on return.
    void wait(std::condition_variable& cv) { cv.wait(lock_); }
    template <class Rep, class Period>
    std::cv_status wait_for(std::condition_variable& cv,
                            std::chrono::duration<Rep, Period> timeout) {
        return cv.wait_for(lock_, timeout);
    }
    template <class Clock, class Duration>
    std::cv_status wait_until(std::condition_variable& cv,
                              std::chrono::time_point<Clock, Duration> until) {
        return cv.wait_until(lock_, until);
    }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace zelvik::common
