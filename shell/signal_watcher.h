// Turns SIGINT and SIGTERM into a StopRequest. The signals are blocked in the creating
// thread (and so in every thread started after it) and taken by one watcher thread
// with sigwait, so no code runs inside a signal handler. SIGHUP is blocked as well and
// left to the settings watch.
#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "shell/stop_request.h"

namespace zelvik::shell {

class SignalWatcher {
public:
    // After the first signal the program has this long to finish its shutdown before
    // the watcher ends the process (a modal box or a hung call would otherwise keep it).
    static constexpr std::chrono::seconds kShutdownLimit{30};

    // Create on the main thread before any other thread exists. `stop` is not owned
    // and must outlive the watcher. The first SIGINT/SIGTERM raises `stop`; a second
    // one, or kShutdownLimit passing after the first, ends the process at once with
    // status 128 + signal number, saying so on stderr.
    explicit SignalWatcher(StopRequest& stop);
    // Ends and joins the watcher thread, then restores the previous signal mask.
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // The signal that raised the request (SIGINT or SIGTERM), 0 while none came.
    int received() const { return received_.load(); }

private:
    void body() noexcept;

    StopRequest& stop_;
    sigset_t previous_mask_{};
    std::atomic<bool> quitting_{false};
    std::atomic<int> received_{0};
    std::thread thread_;
};

}  // namespace zelvik::shell
