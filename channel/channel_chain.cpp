// Channel chain: samples are placed by time, never by buffer position alone. Each
// stretch the store filled is fed with its own sample times, so a gap reaches the open
// measurements, and a gap longer than the LTA window starts the warm-up again rather
// than ringing the filters with a jump to zero.
#include "channel/channel_chain.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/channel_id.h"
#include "common/civil_time.h"
#include "common/log.h"

namespace zelvik::detect {

ChannelChain::ChannelChain(const ChannelSettings& settings, MeasurementSink& records,
                           DetectionCall on_detection, FailureCall on_failure)
    : settings_(settings),
      records_(records),
      detection_call_(std::move(on_detection)),
      failure_call_(std::move(on_failure)) {}

ChannelChain::~ChannelChain() = default;

std::string ChannelChain::name() const {
    return common::channel_id(settings_.station, settings_.channel, settings_.location);
}

bool ChannelChain::build(double sample_rate) {
    sample_rate_ = sample_rate;
    sample_interval_ = 1.0 / sample_rate;
    const auto dt = static_cast<float>(sample_interval_);
    rule_.emplace();
    return trigger_filter_.design(settings_.order, "BP", settings_.fr1, settings_.fr2, dt) &&
           measurement_filter_.design(2, "BP", 0.6f, 1.9f, dt) &&
           rule_->init(sample_rate_, settings_.lta_seconds, settings_.sta_seconds,
                       settings_.threshold) &&
           refiner_.configure(sample_rate_, settings_.sta_seconds);
}

std::string ChannelChain::last_error() const {
    return trigger_filter_.last_error() + measurement_filter_.last_error() +
           (rule_ ? rule_->last_error() : std::string());
}

void ChannelChain::process_window(const StepBuffers& buffers) {
    const size_t capacity = buffers.capacity;
    for (const db::FilledRange& range : buffers.filled) {
        if (range.first >= capacity || range.count == 0) continue;
        const size_t count = std::min(range.count, capacity - range.first);
        process_stretch(buffers.samples.data() + range.first, count,
                        buffers.window_start + static_cast<double>(range.first) / sample_rate_);
    }
}

void ChannelChain::process_stretch(const float* x, size_t count, double t_first) {
    // A sample that is not finite would poison the filter state for good; each run of
    // them is a gap, named once, and the filters only ever see numbers.
    size_t i = 0;
    while (i < count) {
        size_t j = i;
        while (j < count && std::isfinite(x[j])) ++j;
        if (j > i) feed_stretch(x + i, j - i, t_first + static_cast<double>(i) / sample_rate_);
        if (j == count) break;
        size_t k = j;
        while (k < count && !std::isfinite(x[k])) ++k;
        common::log_printf(
            "Channel %d (%s): %zu samples from %s are not numbers, taken as a gap", settings_.index,
            name().c_str(), k - j,
            common::utc_text(t_first + static_cast<double>(j) / sample_rate_).c_str());
        i = k;
    }
}

void ChannelChain::feed_stretch(const float* x, size_t count, double t_first) {
    size_t i = 0;
    if (last_sample_time_ > 0.0) {
        const double expected = last_sample_time_ + sample_interval_;
        // Samples at or before the last one fed (an overlap of segments or windows) were
        // processed already.
        if (t_first < expected - sample_interval_ / 2) {
            i = static_cast<size_t>(
                std::ceil((expected - sample_interval_ / 2 - t_first) * sample_rate_));
        }
        const double gap = t_first - expected;
        // The pick needs the samples before a detection as one run.
        if (gap > sample_interval_ / 2) refiner_.restart();
        if (gap > settings_.lta_seconds) {
            common::log_printf("Channel %d (%s): gap of %.2f s before %s, warm-up starts again",
                               settings_.index, name().c_str(), gap,
                               common::utc_text(t_first).c_str());
            if (!build(sample_rate_)) failure_call_("filters could not be rebuilt");
        }
    }
    // The per-sample path runs a block at a time: both filters over the block, then the
    // detection rule up to its next detection. Open measurements take every sample up to
    // and including a detection's before it opens its own, in the order a sample-by-
    // sample loop gives them; neither the filters nor the rule depend on the records.
    double m[kBlockSamples];
    double y[kBlockSamples];
    DetectionRule& rule = *rule_;
    const double rate = sample_rate_;
    for (size_t block = i; block < count; block += kBlockSamples) {
        const size_t n = std::min(kBlockSamples, count - block);
        measurement_filter_.apply_block(x + block, m, n);
        trigger_filter_.apply_block(x + block, y, n);
        const BlockClock clock{t_first, rate, block};
        size_t k = 0;
        while (k < n) {
            const size_t d = rule.scan(y, k, n, clock);
            const size_t end = d < n ? d + 1 : n;
            refiner_.push(x + block + k, y + k, end - k);
            if (!open_.empty()) {
                for (size_t j = k; j < end; ++j) feed_records(m[j], clock.time(j));
            }
            if (d < n) on_detection(m[d], clock.time(d));
            k = end;
        }
    }
    if (count > 0) {
        last_sample_time_ = t_first + static_cast<double>(count - 1) / sample_rate_;
        last_data_time_.store(last_sample_time_ + sample_interval_, std::memory_order_relaxed);
    }
}

void ChannelChain::feed_records(double m, double t) {
    std::erase_if(open_, [](const std::unique_ptr<DetectionRecord>& r) { return r->finished(); });
    for (auto& record : open_) record->add(m, t);
}

void ChannelChain::on_detection(double m, double t) {
    const double onset = rule_->onset();
    last_onset_.store(onset, std::memory_order_relaxed);
    detections_.fetch_add(1, std::memory_order_relaxed);
    // The picker holds the trigger-filter output up to and including this sample, so the
    // pick is final now; the record logs and stores it with its measurement.
    const OnsetPick pick = refiner_.pick(t, onset);
    grades_[pick.grade].fetch_add(1, std::memory_order_relaxed);
    open_.push_back(std::make_unique<DetectionRecord>(
        settings_.station, settings_.channel, settings_.location, onset, response_, &records_));
    DetectionRecord& record = *open_.back();
    record.set_pick(pick);
    (void)record.set_window(sample_rate_, kRecordSeconds);  // a refused window finishes the record
    record.add(m, t);
    detection_call_(onset, rule_->trigger().sta_variance(), rule_->trigger().ratio());
}

void ChannelChain::finish_open_measurements() {
    // A sample an infinite time later is a gap to every record: each one measures what
    // it has and does not take the sample.
    for (auto& record : open_) record->add(0.0, std::numeric_limits<double>::infinity());
    open_.clear();
}

double ChannelChain::open_measurements_until() const {
    double until = 0.0;
    for (const auto& record : open_) until = std::max(until, record->needed_until());
    return until;
}

void ChannelChain::complete_open_measurements(const StepBuffers& buffers) {
    double m[kBlockSamples];
    for (const db::FilledRange& range : buffers.filled) {
        if (range.first >= buffers.capacity || range.count == 0) continue;
        const size_t count = std::min(range.count, buffers.capacity - range.first);
        const float* x = buffers.samples.data() + range.first;
        const double t_first =
            buffers.window_start + static_cast<double>(range.first) / sample_rate_;
        // Only what follows the last sample processed; the records see a jump as a gap.
        size_t i = 0;
        if (last_sample_time_ > 0.0 && t_first < last_sample_time_ + sample_interval_ / 2)
            i = static_cast<size_t>(
                std::ceil((last_sample_time_ + sample_interval_ / 2 - t_first) * sample_rate_));
        while (i < count && !open_.empty()) {
            const size_t n = std::min(kBlockSamples, count - i);
            size_t finite = 0;
            while (finite < n && std::isfinite(x[i + finite])) ++finite;
            if (finite == 0) {  // not numbers: a gap to every record
                finish_open_measurements();
                return;
            }
            measurement_filter_.apply_block(x + i, m, finite);
            for (size_t j = 0; j < finite && !open_.empty(); ++j)
                feed_records(m[j], t_first + static_cast<double>(i + j) / sample_rate_);
            std::erase_if(open_,
                          [](const std::unique_ptr<DetectionRecord>& r) { return r->finished(); });
            last_sample_time_ = t_first + static_cast<double>(i + finite - 1) / sample_rate_;
            i += finite;
        }
    }
}

}  // namespace zelvik::detect
