// The acquisition's metrics are few: is the store there, how many records went in, and
// how far behind the newest committed record is. Zelvik's own file says the rest per
// channel, from what the store holds.
#include "tools/acquisition_health.h"

#include <cctype>
#include <cstdio>

#include "common/clock.h"
#include "service/metrics_file_writer.h"

namespace zelvik::tools {
namespace {

std::string escaped(const std::string& value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

std::string file_name(const std::string& source) {
    std::string out = "zelvik-acquire-";
    for (const char c : source)
        out.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return out + ".prom";
}

}  // namespace

std::string acquisition_metrics_text(const std::string& source, const acquire::LoopHealth& h,
                                     double now) {
    const std::string label = "{source=\"" + escaped(source) + "\"}";
    std::string out;
    char line[256];
    auto sample = [&](const char* name, const char* type, const char* help, const char* format,
                      double value) {
        std::snprintf(line, sizeof line, "# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
        out += line;
        out += name + label + ' ';
        std::snprintf(line, sizeof line, format, value);
        out += line;
        out += '\n';
    };
    sample("zelvik_acquire_metrics_timestamp_seconds", "gauge", "When this file was written.",
           "%.3f", now);
    sample("zelvik_acquire_store_up", "gauge", "1 while the waveform store answers.", "%.0f",
           h.storing ? 1.0 : 0.0);
    sample("zelvik_acquire_records_committed_total", "counter",
           "Records committed to the store since start-up.", "%.0f",
           static_cast<double>(h.records_committed));
    if (h.data_end > 0.0) {
        sample("zelvik_acquire_data_end_timestamp_seconds", "gauge",
               "End of the newest record committed.", "%.3f", h.data_end);
        sample("zelvik_acquire_latency_seconds", "gauge",
               "How far the newest committed record lags behind the time of this file.", "%.3f",
               now - h.data_end);
    }
    return out;
}

AcquisitionHealth::AcquisitionHealth(std::string source, const std::string& metrics_directory)
    : source_(std::move(source)) {
    if (metrics_directory.empty()) return;
    writer_ =
        std::make_unique<service::MetricsFileWriter>(metrics_directory + "/" + file_name(source_));
    (void)writer_->start();
}

AcquisitionHealth::~AcquisitionHealth() = default;

std::string AcquisitionHealth::metrics_path() const {
    return writer_ ? writer_->path() : std::string();
}

void AcquisitionHealth::offer(const acquire::LoopHealth& health) {
    if (!writer_) return;
    last_metrics_ = std::chrono::steady_clock::now();
    writer_->offer([source = source_, health, now = common::now_utc()] {
        return acquisition_metrics_text(source, health, now);
    });
}

void AcquisitionHealth::beat(const acquire::LoopHealth& health) {
    last_ = health;
    const std::string status =
        health.storing ? "storing from " + source_ : "waiting for the store; source " + source_;
    if (first_) {
        notifier_.ready(status);
        first_ = false;
        offer(health);
    } else {
        notifier_.status(status);
    }
    const auto now = std::chrono::steady_clock::now();
    notifier_.watchdog(now);
    if (now - last_metrics_ >= kMetricsPeriod) offer(health);
}

void AcquisitionHealth::stopping() {
    notifier_.stopping();
    offer(last_);
}

}  // namespace zelvik::tools
