// A second thread for the worker's number crunching: it runs one job at a time, handed
// over by the worker, which goes on with its own share and then waits for the job. The
// handover and the wait are the only points where the two threads meet.
#pragma once

#include <condition_variable>
#include <functional>
#include <string>
#include <thread>

#include "common/mutex.h"

namespace zelvik::detect {

class ComputeLane {
public:
    ComputeLane();
    ~ComputeLane();  // waits for a job still running, then ends the thread
    ComputeLane(const ComputeLane&) = delete;
    ComputeLane& operator=(const ComputeLane&) = delete;

    // Starts `job` on the lane. One job at a time: call wait() before the next.
    void run(std::function<void()> job);

    // Blocks until the job handed over last has returned. Empty when it returned
    // normally (or there was none); else what the exception it threw said, which the
    // caller raises again on its own thread.
    std::string wait();

    bool busy() const { return pending_; }  // a job was handed over and not waited for

private:
    void body() noexcept;

    common::Mutex mutex_;  // guards the four members below
    std::function<void()> job_ GUARDED_BY(mutex_);
    bool running_ GUARDED_BY(mutex_) = false;   // job_ is set and has not returned yet
    bool stopping_ GUARDED_BY(mutex_) = false;  // the destructor asked the thread to end
    std::string error_ GUARDED_BY(mutex_);
    std::condition_variable wake_;
    std::condition_variable done_;
    bool pending_ = false;  // caller's thread only
    std::thread thread_;    // last: starts once the members above exist
};

}  // namespace zelvik::detect
