// Zelvik's metrics in the Prometheus text exposition format (version 0.0.4): one
// snapshot of the channels and the process, taken by the supervisor, turned into the
// text of zelvik.prom. Pure formatting: the snapshot is a copy, so the text can be
// made on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvik::detect {

// The states a monitoring rule tells apart. kWaiting: for the store or for the
// channel's first data; kStalled: running, but no new data for NODATA seconds;
// kSkipped: refused (settings, sample rate) and left out of the run.
enum class MetricsState { kRunning, kWaiting, kStalled, kSkipped };

const char* to_string(MetricsState state);  // "running", "waiting", "stalled", "skipped"

struct ChannelMetrics {
    int thread = 0;                          // n of its THREADn section: one channel may
                                             // be watched by two sections
    std::string station, channel, location;  // as configured
    MetricsState state = MetricsState::kWaiting;
    double data_end = 0.0;  // seconds since 1970; 0 = no data processed yet
    long detections = 0;    // since start-up
    long alarms = 0;        // times the channel went into alarm since start-up
};

struct MetricsSnapshot {
    double taken_at = 0.0;    // seconds since 1970
    double started_at = 0.0;  // when the run began, seconds since 1970
    std::vector<ChannelMetrics> channels;
    bool store_up = true;
    uint64_t store_outages = 0;         // outages that began since start-up
    double worker_pass_seconds = 0.0;   // duration of the worker's last complete pass
    long worker_passes = 0;             // complete passes since start-up
    double worker_quiet_seconds = 0.0;  // since the worker last showed progress
    uint64_t samples_processed = 0;     // samples read into the channels' chains
    size_t outbox_reports = 0;          // reports (per path) waiting to be delivered
    long alert_failures = 0;            // deliveries (per report and path) that failed
    long alert_deliveries = 0;          // deliveries that succeeded
};

// The whole file: # HELP and # TYPE before each family, labels escaped as the format
// asks (backslash, double quote, line feed), times and durations in seconds. Channel
// series carry station, channel, location and thread (the section's number). A channel
// without data has no latency and no data end sample.
std::string metrics_text(const MetricsSnapshot& snapshot);

// The one-line summary for the service manager's status: "watching 12 of 12 channels;
// 1 stalled; outbox 0", with "; store down" during an outage.
std::string status_line(const MetricsSnapshot& snapshot);

}  // namespace zelvik::detect
