// SIGUSR2 is blocked along with SIGINT and SIGTERM and serves only to wake the watcher
// at shutdown, so the thread can be joined without a timeout or polling.
#include "shell/signal_watcher.h"

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace zelvik::shell {

namespace {

sigset_t watched_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR2);
    return set;
}

[[noreturn]] void end_process(const char* why, int signal_number) {
    std::fprintf(stderr, "zelvik: %s; exiting at once\n", why);
    std::fflush(stderr);
    std::_Exit(128 + signal_number);
}

}  // namespace

SignalWatcher::SignalWatcher(StopRequest& stop) : stop_(stop) {
    sigset_t set = watched_signals();
    // SIGHUP (re-read the settings) is blocked everywhere too, and taken by the
    // settings watch through its own descriptor; unblocked, it would end the process.
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, &previous_mask_);
    thread_ = std::thread([this] { body(); });
}

SignalWatcher::~SignalWatcher() {
    quitting_ = true;
    pthread_kill(thread_.native_handle(), SIGUSR2);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

void SignalWatcher::body() noexcept {
    const sigset_t set = watched_signals();
    const timespec limit{static_cast<time_t>(kShutdownLimit.count()), 0};
    while (!quitting_) {
        int signal_number = 0;
        if (received_ == 0) {
            if (sigwait(&set, &signal_number) != 0) continue;
        } else {
            // Shutting down: wait for the next signal, but not past the limit. The limit
            // restarts after an unrelated wake-up, which only lengthens it.
            signal_number = sigtimedwait(&set, nullptr, &limit);
            if (signal_number < 0 && errno == EAGAIN && !quitting_) {
                end_process("shutdown did not finish in time", received_);
            }
            if (signal_number < 0) continue;
        }
        if (signal_number != SIGINT && signal_number != SIGTERM) continue;
        if (received_ != 0) end_process("second stop signal", signal_number);
        received_ = signal_number;
        stop_.request();
    }
}

}  // namespace zelvik::shell
