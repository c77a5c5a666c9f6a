// sd_notify() and sd_watchdog_enabled() do the protocol; what is kept here is when to
// speak: status lines only on change, pings at a quarter of the period so that one
// lost datagram or a slow pass never lets the period run out.
#include "service/service_notifier.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>

namespace zelvik::service {

ServiceNotifier::ServiceNotifier() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    active_ = socket != nullptr && *socket != '\0';
    uint64_t usec = 0;
    // 0 unset_environment: a child started later (a mail helper) must not ping for us.
    if (active_ && sd_watchdog_enabled(0, &usec) > 0)
        watchdog_ = std::chrono::microseconds(static_cast<int64_t>(usec));
}

bool ServiceNotifier::send(const std::string& text) {
    return active_ && sd_notify(0, text.c_str()) > 0;
}

void ServiceNotifier::ready(const std::string& status) {
    last_status_ = status;
    (void)send("READY=1\nSTATUS=" + status);
}

void ServiceNotifier::status(const std::string& line) {
    if (!active_ || line == last_status_) return;
    last_status_ = line;
    (void)send("STATUS=" + line);
}

void ServiceNotifier::watchdog(Clock::time_point now, bool force) {
    if (watchdog_.count() <= 0) return;
    if (!force && pings_ > 0 && now - last_ping_ < watchdog_ / 4) return;
    if (send("WATCHDOG=1")) {
        last_ping_ = now;
        ++pings_;
    }
}

void ServiceNotifier::stopping() {
    (void)send("STOPPING=1");
}

}  // namespace zelvik::service
