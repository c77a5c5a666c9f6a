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

// A detection's measurement as the detector's measurement line gives it: 5 s of the
// measurement filter from the detection on (cut short by a gap), before any response.
struct TraceMeasurement {
    double onset = 0;            // the detection's onset, seconds since 1970
    double period = 0;           // seconds, 0 when no line qualified
    float amplitude_counts = 0;  // half the largest swing, counts
};

// Where the detection rule was warming up (from the first sample, or again after a gap
// longer than LTA): no detection can be made there, whatever the signal.
struct WarmUp {
    double start = 0, end = 0;  // seconds since 1970
};

struct ChannelTrace {
    double sample_rate = 0;                      // samples per second
    double span_start = 0, span_end = 0;         // seconds since 1970; samples kept in [start, end)
    std::vector<TraceStretch> stretches;         // in time order, a gap between each two
    std::vector<double> onsets;                  // detections the rule made inside the span
    std::vector<OnsetPick> picks;                // their refined onsets, parallel to onsets
    std::vector<TraceMeasurement> measurements;  // of the span's detections, once measured
    std::vector<WarmUp> warmups;                 // that reach into the span
};

// Feeds stretches of samples through a trigger filter and detection rule set up exactly
// as ChannelDetector sets up its own, and keeps the samples that fall in a span.
class TraceComputer {
public:
    static constexpr double kMeasurementSeconds = 5.0;  // the detector's measurement window

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
    void start_warmup(double t, ChannelTrace& out) const;
    // Measurement windows: each detection opens one, each sample feeds the open ones.
    void feed_measurements(double m, double t, ChannelTrace& out);

    struct OpenMeasurement {
        double onset = 0;
        double last_time = 0;
        std::vector<double> samples;  // measurement-filter output
    };

    ChannelSettings settings_;
    IirFilter filter_;
    IirFilter measurement_filter_;       // the detector's: order 2, 0.6-1.9 Hz
    std::vector<OpenMeasurement> open_;  // detections still collecting their window
    OnsetRefiner refiner_;
    std::optional<DetectionRule> rule_;  // re-made when the warm-up starts again
    double rate_ = 0, interval_ = 0;
    double last_time_ = 0;  // time of the last sample fed; 0 = none yet
    double last_kept_ = 0;  // time of the last sample kept; 0 = none yet
    std::string last_error_;
};

}  // namespace zelvik::detect
