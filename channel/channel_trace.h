// What a channel's trigger saw over a span of time: the raw samples, the trigger-filter
// output and the STA/LTA ratio, computed with the detector's own filter and detection
// rule from samples the store delivered. A gap stays a gap: stretches never touch.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "channel/channel_settings.h"
#include "channel/onset_refiner.h"
#include "signal/detection_rule.h"
#include "signal/iir_filter.h"

namespace zelvik::detect {

// One run of samples without a gap, every series holding one value per sample.
struct TraceStretch {
    double start = 0;             // time of the first sample, seconds since 1970
    std::vector<float> raw;       // counts, as stored
    std::vector<float> filtered;  // trigger-filter output, counts
    std::vector<float> ratio;     // STA variance / LTA variance after the sample
};

struct ChannelTrace {
    double sample_rate = 0;               // samples per second
    double span_start = 0, span_end = 0;  // seconds since 1970; samples kept in [start, end)
    std::vector<TraceStretch> stretches;  // in time order, a gap between each two
    std::vector<double> onsets;           // detections the rule made inside the span
    std::vector<OnsetPick> picks;         // their refined onsets, parallel to onsets
};

// Feeds stretches of samples through a trigger filter and detection rule set up exactly
// as ChannelDetector sets up its own, and keeps the samples that fall in a span.
class TraceComputer {
public:
    // Seconds of samples to feed before a span so that its first values are those of a
    // detector that has run for long: the detection rule's warm-up or three trigger
    // windows, whichever is longer.
    static double warmup_seconds(const ChannelSettings& s, double sample_rate);

    // Designs the filter and the rule for `s` at `sample_rate`; `out` gets the rate and
    // the span [span_start, span_end) and loses earlier stretches.
    // @retval false the channel cannot run (last_error() says why).
    [[nodiscard]] bool init(const ChannelSettings& s, double sample_rate, double span_start,
                            double span_end, ChannelTrace& out);

    // Feeds `count` samples whose first lies at `t_first`, as the store filled them, in
    // time order. Samples at or before the last one fed are skipped (overlapping
    // segments); a gap longer than the LTA window starts the warm-up again, as the
    // detector does. Samples inside the span are appended to `out`.
    void feed(const float* x, size_t count, double t_first, ChannelTrace& out);

    const std::string& last_error() const { return last_error_; }

private:
    bool build_chain();
    TraceStretch& stretch_for(double t, ChannelTrace& out);

    ChannelSettings settings_;
    IirFilter filter_;
    OnsetRefiner refiner_;
    std::optional<DetectionRule> rule_;  // re-made when the warm-up starts again
    double rate_ = 0, interval_ = 0;
    double last_time_ = 0;  // time of the last sample fed; 0 = none yet
    double last_kept_ = 0;  // time of the last sample kept; 0 = none yet
    std::string last_error_;
};

}  // namespace zelvik::detect
