// The systemd notify protocol for a program that runs as a Type=notify unit: READY=1,
// STATUS=, WATCHDOG=1, STOPPING=1. Without NOTIFY_SOCKET (not started by systemd)
// every call does nothing, so the program runs as before.
#pragma once

#include <chrono>
#include <string>

namespace zelvik::service {

class ServiceNotifier {
public:
    using Clock = std::chrono::steady_clock;

    // Reads NOTIFY_SOCKET and WATCHDOG_USEC (WATCHDOG_PID must name this process, when
    // set) once; the environment is left as it is for child processes.
    ServiceNotifier();

    // True when a service manager listens.
    bool active() const { return active_; }
    // The unit's WatchdogSec; zero when no watchdog is asked for.
    std::chrono::microseconds watchdog_period() const { return watchdog_; }

    // READY=1 together with the first status line. Calling thread: any, one at a time.
    void ready(const std::string& status);
    // STATUS=<line>, sent only when the line differs from the last one sent.
    void status(const std::string& line);
    // WATCHDOG=1 when a watchdog is asked for and a quarter of its period has passed
    // since the last ping (or `force`). `now` is the monotonic time of the call.
    void watchdog(Clock::time_point now, bool force = false);
    // STOPPING=1: the shutdown has begun (systemd stops expecting pings).
    void stopping();

    // Pings sent so far, for the log and tests.
    long pings() const { return pings_; }

private:
    bool send(const std::string& text);

    bool active_ = false;
    std::chrono::microseconds watchdog_{0};
    std::string last_status_;
    Clock::time_point last_ping_{};
    long pings_ = 0;
};

}  // namespace zelvik::service
