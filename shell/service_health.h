// What the service manager and the monitoring system hear of a running engine: READY
// once the channels are set up, a one-line STATUS, WATCHDOG pings only while both the
// supervisor loop and the worker make progress, and the metrics file every few seconds.
// All calls come from the supervisor thread; the file is made and written on a thread
// of its own.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "service/service_notifier.h"

namespace zelvik::detect {
class Supervisor;
}
namespace zelvik::service {
class MetricsFileWriter;
}

namespace zelvik::shell {

// The file name inside [SYSTEM] METRICS that the node exporter's textfile collector reads.
inline constexpr const char* kMetricsFileName = "zelvik.prom";

class ServiceHealth {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kMetricsPeriod{5000};
    static constexpr std::chrono::milliseconds kStatusPeriod{2000};

    // `metrics_directory`: [SYSTEM] METRICS; empty writes no metrics file.
    explicit ServiceHealth(const std::string& metrics_directory,
                           std::chrono::milliseconds metrics_period = kMetricsPeriod);
    ~ServiceHealth();  // writes the last file that was offered
    ServiceHealth(const ServiceHealth&) = delete;
    ServiceHealth& operator=(const ServiceHealth&) = delete;

    // After Supervisor::start_up(): READY=1 with the status, the first metrics file.
    void started(const detect::Supervisor& supervisor);
    // After each supervisor pass (`now`: seconds since 1970, `tick`: monotonic).
    void pass(const detect::Supervisor& supervisor, double now, Clock::time_point tick);
    // The shutdown begins: STOPPING=1 and a last metrics file.
    void stopping(const detect::Supervisor& supervisor);

    // Longest time the worker may show no progress before the pings stop: half the
    // watchdog period, so that the service manager acts within one period of the hang.
    std::chrono::microseconds quiet_limit() const { return notifier_.watchdog_period() / 2; }

private:
    void publish(const detect::Supervisor& supervisor, double now, bool force);

    service::ServiceNotifier notifier_;
    std::unique_ptr<service::MetricsFileWriter> writer_;
    std::chrono::milliseconds metrics_period_;
    Clock::time_point last_metrics_{};
    Clock::time_point last_status_{};
    bool holding_pings_ = false;  // logged when the pings stopped, until they resume
};

}  // namespace zelvik::shell
