// The watchdog is fed from the supervisor loop, so a supervisor that stops passing stops
// the pings by itself; the worker's progress is checked on top, because the worker is
// the thread that waits on the store and may hang there while the supervisor runs on.
#include "shell/service_health.h"

#include "common/clock.h"
#include "common/log.h"
#include "engine/metrics_text.h"
#include "engine/supervisor.h"
#include "service/metrics_file_writer.h"

namespace zelvik::shell {

ServiceHealth::ServiceHealth(const std::string& metrics_directory,
                             std::chrono::milliseconds metrics_period)
    : metrics_period_(metrics_period) {
    if (!metrics_directory.empty()) {
        writer_ = std::make_unique<service::MetricsFileWriter>(metrics_directory + "/" +
                                                               kMetricsFileName);
        (void)writer_->start();
        common::log_printf("Metrics are written to %s every %lld s", writer_->path().c_str(),
                           static_cast<long long>(metrics_period_.count() / 1000));
    }
    if (notifier_.watchdog_period().count() > 0)
        common::log_printf(
            "Service watchdog: %.1f s; pings stop when the worker shows no "
            "progress for %.1f s",
            static_cast<double>(notifier_.watchdog_period().count()) / 1e6,
            static_cast<double>(quiet_limit().count()) / 1e6);
}

ServiceHealth::~ServiceHealth() = default;

void ServiceHealth::publish(const detect::Supervisor& supervisor, double now, bool force) {
    const Clock::time_point tick = Clock::now();
    const bool metrics_due = writer_ && (force || tick - last_metrics_ >= metrics_period_);
    const bool status_due = notifier_.active() && (force || tick - last_status_ >= kStatusPeriod);
    if (!metrics_due && !status_due) return;
    detect::MetricsSnapshot snapshot = supervisor.metrics_snapshot(now);
    if (status_due) {
        last_status_ = tick;
        notifier_.status(detect::status_line(snapshot));
    }
    if (metrics_due) {
        last_metrics_ = tick;
        // Formatted on the writer's thread: the supervisor only hands the copy over.
        writer_->offer([s = std::move(snapshot)] { return detect::metrics_text(s); });
    }
}

void ServiceHealth::started(const detect::Supervisor& supervisor) {
    const double now = common::now_utc();
    notifier_.ready(detect::status_line(supervisor.metrics_snapshot(now)));
    last_status_ = Clock::now();
    notifier_.watchdog(Clock::now(), true);
    publish(supervisor, now, true);
}

void ServiceHealth::pass(const detect::Supervisor& supervisor, double now, Clock::time_point tick) {
    const auto quiet = tick - supervisor.worker_progress(tick);
    const bool worker_alive = quiet_limit().count() <= 0 || quiet < quiet_limit();
    if (worker_alive) {
        if (holding_pings_) common::log_write("Worker makes progress again: watchdog pings resume");
        holding_pings_ = false;
        notifier_.watchdog(tick);
    } else if (!holding_pings_) {
        holding_pings_ = true;
        common::log_printf(
            "Worker has shown no progress for %.1f s (a store call that does not return?): "
            "watchdog pings stop",
            std::chrono::duration<double>(quiet).count());
    }
    publish(supervisor, now, false);
}

void ServiceHealth::stopping(const detect::Supervisor& supervisor) {
    notifier_.stopping();
    if (writer_) publish(supervisor, common::now_utc(), true);
}

}  // namespace zelvik::shell
