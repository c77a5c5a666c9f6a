// What the acquisition loop tells the service manager and the monitoring system: READY
// at its first turn, a watchdog ping at every turn, STATUS on change, and with
// [SYSTEM] METRICS set a file zelvik-acquire-<source>.prom beside Zelvik's every 5 s.
// All calls come from the loop's thread; the file is written on a thread of its own.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "acquire/acquisition_loop.h"
#include "service/service_notifier.h"

namespace zelvik::service {
class MetricsFileWriter;
}

namespace zelvik::tools {

// The exposition text of one loop at `now` (seconds since 1970); `source` is its label.
std::string acquisition_metrics_text(const std::string& source, const acquire::LoopHealth& health,
                                     double now);

class AcquisitionHealth {
public:
    static constexpr std::chrono::milliseconds kMetricsPeriod{5000};

    // `source`: "host:port" or the followed folder; `metrics_directory` "" writes no file.
    AcquisitionHealth(std::string source, const std::string& metrics_directory);
    ~AcquisitionHealth();  // writes the last file offered
    AcquisitionHealth(const AcquisitionHealth&) = delete;
    AcquisitionHealth& operator=(const AcquisitionHealth&) = delete;

    // The loop's heartbeat; this object must outlive the loop.
    acquire::Heartbeat heartbeat() {
        return [this](const acquire::LoopHealth& h) { beat(h); };
    }
    // STOPPING=1 and a last file.
    void stopping();

    // The metrics file's path ("" when none).
    std::string metrics_path() const;

private:
    void beat(const acquire::LoopHealth& health);
    void offer(const acquire::LoopHealth& health);

    const std::string source_;
    service::ServiceNotifier notifier_;
    std::unique_ptr<service::MetricsFileWriter> writer_;
    bool first_ = true;
    acquire::LoopHealth last_{};
    std::chrono::steady_clock::time_point last_metrics_{};
};

}  // namespace zelvik::tools
