// Where a detection's P wave begins, from the few seconds of samples before the sample
// that raised the trigger. Two views of those seconds are picked: the first differences
// of the samples (every frequency above the drift, where an impulsive P is sharpest) and
// the trigger-filter output (the band the channel was set up for); the clearer one wins.
#pragma once

#include <cstddef>

#include "signal/aic_picker.h"

namespace zelvik::detect {

class OnsetRefiner {
public:
    // Sizes both histories for the rate and STA length (see AicPicker::configure).
    [[nodiscard]] bool configure(double sample_rate, double sta_seconds);

    // The samples from now on do not join those before (a gap, or the filters rebuilt).
    void restart();

    // Appends the next `count` samples: x as stored, y the trigger-filter output of the
    // same samples. Allocation-free; one thread at a time. `count` at most kMaxBlock per
    // call is fastest; any count is accepted.
    void push(const float* x, const double* y, size_t count);

    // The pick of a detection whose crossing is the last sample pushed, at
    // `crossing_time`; `trigger_onset` is the onset the rule gave it.
    OnsetPick pick(double crossing_time, double trigger_onset);

    static constexpr size_t kMaxBlock = 512;

private:
    AicPicker broad_;             // first differences
    AicPicker band_;              // trigger-filter output
    double previous_ = 0.0;       // last sample pushed, for the first differences
    bool have_previous_ = false;  // false after restart(): the next difference is 0
};

}  // namespace zelvik::detect
