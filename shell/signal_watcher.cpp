// SIGUSR2 is blocked along with SIGINT and SIGTERM and serves only to wake the watcher
// at shutdown, so the thread can be joined without a timeout or polling.
#include "shell/signal_watcher.h"

#include <pthread.h>

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

}  // namespace

SignalWatcher::SignalWatcher(StopRequest& stop) : stop_(stop) {
    const sigset_t set = watched_signals();
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
    while (!quitting_) {
        int signal_number = 0;
        if (sigwait(&set, &signal_number) != 0) continue;
        if (signal_number == SIGINT || signal_number == SIGTERM) {
            int expected = 0;
            received_.compare_exchange_strong(expected, signal_number);
            stop_.request();
        }
    }
}

}  // namespace zelvik::shell
