// Families are written one after the other, each with all its channels, as the format
// requires; numbers go through snprintf with a fixed precision so that a file of 2000
// channels is made in a few milliseconds.
#include "engine/metrics_text.h"

#include <cinttypes>
#include <cstdio>

namespace zelvik::detect {
namespace {

constexpr MetricsState kStates[] = {MetricsState::kRunning, MetricsState::kWaiting,
                                    MetricsState::kStalled, MetricsState::kSkipped};

void append_escaped(std::string& out, const std::string& value) {
    for (const char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
}

void family(std::string& out, const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

// `name{station="..",channel="..",location="..",thread="n"` without the closing brace,
// so a caller can add a label.
void channel_series(std::string& out, const char* name, const ChannelMetrics& c) {
    out += name;
    out += "{station=\"";
    append_escaped(out, c.station);
    out += "\",channel=\"";
    append_escaped(out, c.channel);
    out += "\",location=\"";
    append_escaped(out, c.location);
    out += "\",thread=\"";
    out += std::to_string(c.thread);
    out += '"';
}

void value(std::string& out, const char* format, double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, v);
    out += buf;
}

void sample(std::string& out, const char* name, const char* type, const char* help,
            const char* format, double v) {
    family(out, name, type, help);
    out += name;
    out += ' ';
    value(out, format, v);
    out += '\n';
}

void channel_families(std::string& out, const MetricsSnapshot& s) {
    family(out, "zelvik_channel_data_end_timestamp_seconds", "gauge",
           "End of the newest data the channel has processed.");
    for (const ChannelMetrics& c : s.channels) {
        if (c.data_end <= 0.0) continue;
        channel_series(out, "zelvik_channel_data_end_timestamp_seconds", c);
        value(out, "} %.3f\n", c.data_end);
    }
    family(out, "zelvik_channel_latency_seconds", "gauge",
           "How far the channel's processed data lags behind the time of this file.");
    for (const ChannelMetrics& c : s.channels) {
        if (c.data_end <= 0.0) continue;
        channel_series(out, "zelvik_channel_latency_seconds", c);
        value(out, "} %.3f\n", s.taken_at - c.data_end);
    }
    family(out, "zelvik_channel_detections_total", "counter", "Detections since start-up.");
    for (const ChannelMetrics& c : s.channels) {
        channel_series(out, "zelvik_channel_detections_total", c);
        value(out, "} %.0f\n", static_cast<double>(c.detections));
    }
    family(out, "zelvik_channel_alarms_total", "counter",
           "Times the channel went into alarm since start-up.");
    for (const ChannelMetrics& c : s.channels) {
        channel_series(out, "zelvik_channel_alarms_total", c);
        value(out, "} %.0f\n", static_cast<double>(c.alarms));
    }
    family(out, "zelvik_channel_state", "gauge",
           "1 for the channel's state (running, waiting, stalled, skipped), 0 for the others.");
    for (const ChannelMetrics& c : s.channels) {
        for (const MetricsState state : kStates) {
            channel_series(out, "zelvik_channel_state", c);
            out += ",state=\"";
            out += to_string(state);
            out += state == c.state ? "\"} 1\n" : "\"} 0\n";
        }
    }
}

}  // namespace

const char* to_string(MetricsState state) {
    switch (state) {
        case MetricsState::kRunning:
            return "running";
        case MetricsState::kWaiting:
            return "waiting";
        case MetricsState::kStalled:
            return "stalled";
        case MetricsState::kSkipped:
            return "skipped";
    }
    return "waiting";
}

std::string metrics_text(const MetricsSnapshot& s) {
    std::string out;
    out.reserve(1024 + s.channels.size() * 900);
    sample(out, "zelvik_metrics_timestamp_seconds", "gauge", "When this file was written.", "%.3f",
           s.taken_at);
    sample(out, "zelvik_start_time_seconds", "gauge", "When the run began.", "%.0f", s.started_at);
    channel_families(out, s);
    sample(out, "zelvik_store_up", "gauge", "1 while the waveform store answers.", "%.0f",
           s.store_up ? 1.0 : 0.0);
    sample(out, "zelvik_store_outages_total", "counter", "Store outages since start-up.", "%.0f",
           static_cast<double>(s.store_outages));
    sample(out, "zelvik_worker_pass_seconds", "gauge",
           "Duration of the worker's last complete pass over the channels.", "%.6f",
           s.worker_pass_seconds);
    sample(out, "zelvik_worker_passes_total", "counter", "Worker passes since start-up.", "%.0f",
           static_cast<double>(s.worker_passes));
    sample(out, "zelvik_worker_quiet_seconds", "gauge",
           "Time since the worker last made progress (a pass, a channel step or its pause).",
           "%.3f", s.worker_quiet_seconds);
    sample(out, "zelvik_samples_processed_total", "counter",
           "Samples read into the channels' detection chains.", "%.0f",
           static_cast<double>(s.samples_processed));
    sample(out, "zelvik_outbox_reports", "gauge",
           "Detection reports (per alert path) waiting in the outbox.", "%.0f",
           static_cast<double>(s.outbox_reports));
    sample(out, "zelvik_alert_failures_total", "counter",
           "Report deliveries (per alert path) that failed.", "%.0f",
           static_cast<double>(s.alert_failures));
    sample(out, "zelvik_alert_deliveries_total", "counter",
           "Report deliveries (per alert path) that succeeded.", "%.0f",
           static_cast<double>(s.alert_deliveries));
    return out;
}

std::string status_line(const MetricsSnapshot& s) {
    size_t watching = 0, stalled = 0;
    for (const ChannelMetrics& c : s.channels) {
        if (c.state == MetricsState::kRunning || c.state == MetricsState::kStalled) ++watching;
        if (c.state == MetricsState::kStalled) ++stalled;
    }
    std::string line = "watching " + std::to_string(watching) + " of " +
                       std::to_string(s.channels.size()) + " channels; " + std::to_string(stalled) +
                       " stalled; outbox " + std::to_string(s.outbox_reports);
    if (!s.store_up) line += "; store down";
    return line;
}

}  // namespace zelvik::detect
