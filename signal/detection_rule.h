// Turns the trigger's per-sample answers into detections: a warm-up whose results are
// ignored, then one detection per rising edge, with the onset half an STA window before
// the sample that raised the trigger. Owns the channel's StaLtaTrigger.
#pragma once

#include <cstddef>
#include <string>

#include "signal/sta_lta_trigger.h"

namespace zelvik::detect {

// Times of the samples of a block: sample i of the block is sample offset + i of a
// stretch that starts at t_first (seconds since 1970) with `rate` samples per second.
// The division, not a running sum, so that every time is the one a per-sample loop forms.
struct BlockClock {
    double t_first;
    double rate;
    size_t offset;
    double time(size_t i) const { return t_first + static_cast<double>(offset + i) / rate; }
};

class DetectionRule {
public:
    // Samples after set-up whose trigger result is ignored: 2 x rate x L, L being the LTA
    // length when it is 60 s or more, else 60 s; truncated, saturating at the int range.
    static int warmup_length_for(double sample_rate, double lta_seconds);

    // Sets up the warm-up and the trigger for a channel: LTA and STA lengths in seconds
    // (windows of length x rate samples, truncated), threshold on the ratio of variances.
    // @retval false the trigger refused the windows (see StaLtaTrigger::init); last_error()
    //               holds its text. Does not log.
    [[nodiscard]] bool init(double sample_rate, double lta_seconds, double sta_seconds,
                            double threshold);

    // Feeds one trigger-filter output y at sample time t (seconds since 1970).
    // @retval true a new detection; onset() holds its time. Worker thread only.
    inline bool process(double y, double t);

    // Feeds y[first..count) as process() would, sample i being at clock.time(i), and
    // stops after the first sample that makes a detection. Returns that sample's index,
    // or count when the block made none. Worker thread only.
    size_t scan(const double* y, size_t first, size_t count, const BlockClock& clock);

    double onset() const { return onset_; }      // onset of the latest detection, 0 before
    bool in_event() const { return in_event_; }  // trigger still on since that detection
    int warmup_length() const { return warmup_length_; }
    const StaLtaTrigger& trigger() const { return trigger_; }  // STA variance, ratio
    const std::string& last_error() const { return trigger_.last_error(); }

private:
    StaLtaTrigger trigger_;
    int warmup_length_ = 0;
    int warmup_count_ = 0;  // stops at warmup_length_ + 1
    bool in_event_ = false;
    double onset_ = 0.0;
};

inline bool DetectionRule::process(double y, double t) {
    // The warm-up and the trigger's own quiet samples run side by side from the start.
    if (warmup_count_ <= warmup_length_) {
        ++warmup_count_;
        (void)trigger_.process(y);
        return false;
    }
    if (trigger_.process(y) == 0) {
        in_event_ = false;
        return false;
    }
    if (in_event_) return false;  // the same event goes on, hold-over included
    in_event_ = true;
    onset_ = t - trigger_.sta_duration() / 2;
    return true;
}

}  // namespace zelvik::detect
