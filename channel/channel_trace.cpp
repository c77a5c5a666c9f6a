// The trace computation follows ChannelDetector::process_stretch sample for sample: the
// same filter design, the same rule, the same sample times (first + i / rate), the same
// skipping of overlaps and the same restart after a long gap, so that what a view shows
// is what the detector computed, not an imitation of it.
#include "channel/channel_trace.h"

#include <algorithm>
#include <cmath>

#include "signal/window_measurement.h"

namespace zelvik::detect {

double TraceComputer::warmup_seconds(const ChannelSettings& s, double sample_rate) {
    const double rule = DetectionRule::warmup_length_for(sample_rate, s.lta_seconds) / sample_rate;
    return std::max(rule, 3.0 * (s.lta_seconds + s.sta_seconds));
}

bool TraceComputer::init(const ChannelSettings& s, double sample_rate, double span_start,
                         double span_end, ChannelTrace& out) {
    settings_ = s;
    last_error_ = channel_settings_problem(s, sample_rate);
    if (!last_error_.empty()) return false;
    rate_ = sample_rate;
    interval_ = 1.0 / sample_rate;
    last_time_ = 0;
    last_kept_ = 0;
    open_.clear();
    out = ChannelTrace{};
    out.sample_rate = sample_rate;
    out.span_start = span_start;
    out.span_end = span_end;
    return build_chain();
}

bool TraceComputer::build_chain() {
    // The detector's chain: trigger filter from the channel's ORDER, FR1 and FR2 at the
    // sample interval in single precision, then a fresh rule (warm-up included).
    const auto dt = static_cast<float>(interval_);
    rule_.emplace();
    if (!filter_.design(settings_.order, "BP", settings_.fr1, settings_.fr2, dt) ||
        !measurement_filter_.design(2, "BP", 0.6f, 1.9f, dt)) {
        last_error_ = filter_.last_error() + measurement_filter_.last_error();
        return false;
    }
    if (!rule_->init(rate_, settings_.lta_seconds, settings_.sta_seconds, settings_.threshold)) {
        last_error_ = rule_->last_error();
        return false;
    }
    (void)refiner_.configure(rate_, settings_.sta_seconds);  // the rule accepted both
    return true;
}

TraceStretch& TraceComputer::stretch_for(double t, ChannelTrace& out) {
    // A sample more than half an interval away from where the next one was due opens a
    // new stretch: the view must show the hole, never a line across it.
    if (out.stretches.empty() || std::fabs(t - (last_kept_ + interval_)) > interval_ / 2) {
        out.stretches.emplace_back();
        out.stretches.back().start = t;
    }
    last_kept_ = t;
    return out.stretches.back();
}

void TraceComputer::start_warmup(double t, ChannelTrace& out) const {
    const double end = t + DetectionRule::warmup_length_for(rate_, settings_.lta_seconds) / rate_;
    if (end > out.span_start && t < out.span_end) out.warmups.push_back({t, end});
}

void TraceComputer::feed_measurements(double m, double t, ChannelTrace& out) {
    const auto capacity = static_cast<size_t>(rate_ * kMeasurementSeconds);
    for (OpenMeasurement& o : open_) {
        // A gap ends the window, as it ends the detector's record; that sample is not taken.
        const bool gap = !(std::fabs(t - o.last_time) < 1.5 * interval_);
        if (!gap) {
            o.samples.push_back(m);
            o.last_time = t;
        }
        if (gap || o.samples.size() >= capacity) {
            const WindowMeasurement w =
                measure_window(o.samples.data(), static_cast<int>(o.samples.size()), interval_);
            out.measurements.push_back({o.onset, w.period, w.amplitude_counts});
            o.samples.clear();
        }
    }
    std::erase_if(open_, [](const OpenMeasurement& o) { return o.samples.empty(); });
}

void TraceComputer::feed(const float* x, size_t count, double t_first, ChannelTrace& out) {
    if (!rule_ || filter_.section_count() == 0) return;
    size_t i = 0;
    if (last_time_ > 0.0) {
        const double expected = last_time_ + interval_;
        if (t_first < expected - interval_ / 2)
            i = static_cast<size_t>(std::ceil((expected - interval_ / 2 - t_first) * rate_));
        if (t_first - expected > interval_ / 2) refiner_.restart();
        if (t_first - expected > settings_.lta_seconds) {
            if (!build_chain()) return;
            start_warmup(t_first, out);
        }
    } else if (count > 0) {
        start_warmup(t_first, out);
    }
    for (; i < count; ++i) {
        const double t = t_first + static_cast<double>(i) / rate_;
        const double v = static_cast<double>(x[i]);
        const double y = filter_.apply(v);
        const double m = measurement_filter_.apply(v);
        const bool detection = rule_->process(y, t);
        refiner_.push(x + i, &y, 1);
        if (!open_.empty()) feed_measurements(m, t, out);
        if (t < out.span_start || t >= out.span_end) continue;
        if (detection) {
            out.onsets.push_back(rule_->onset());
            out.picks.push_back(refiner_.pick(t, rule_->onset()));
            open_.push_back({rule_->onset(), t, {m}});
        }
        TraceStretch& s = stretch_for(t, out);
        s.raw.push_back(x[i]);
        s.filtered.push_back(static_cast<float>(y));
        s.ratio.push_back(rule_->trigger().ratio());
    }
    if (count > 0) last_time_ = t_first + static_cast<double>(count - 1) / rate_;
}

}  // namespace zelvik::detect
