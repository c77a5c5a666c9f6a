// Refines a trigger's onset to where the P wave begins: the Akaike information criterion
// of the trigger-filter output, in its variance form, over the seconds before the sample
// that raised the trigger. The pick never lies after that sample, so it is known the
// moment the detection is made; where the criterion shows no clear change the trigger's
// onset stands and the pick says why.
#pragma once

#include <cstddef>
#include <vector>

namespace zelvik::detect {

// Why a pick kept the trigger's onset.
enum class PickFallback : int {
    kNone = 0,            // refined
    kShortHistory = 1,    // too few contiguous samples before the onset (start of data, gap)
    kNoClearMinimum = 2,  // the criterion has no minimum inside the search range, or one
                          // that barely raises the variance
};
const char* to_string(PickFallback fallback);

struct OnsetPick {
    double trigger_onset = 0.0;  // seconds since 1970: the crossing minus half the STA window
    double time = 0.0;           // the refined onset; trigger_onset when it fell back
    double snr = 0.0;            // RMS amplitude after the pick over RMS before; 0 = unknown
    double uncertainty = -1.0;   // seconds either side where the criterion stays close to its
                                 // minimum; -1 when it fell back
    int grade = 4;               // 0 clearest .. 4 unusable, as analysts weight their picks
    PickFallback fallback = PickFallback::kShortHistory;
};

// Grade of a pick: the worse of the grade its time uncertainty earns (0 within 0.05 s,
// 1 within 0.1 s, 2 within 0.2 s, 3 within 0.4 s) and the one its SNR earns (0 from 10,
// 1 from 5, 2 from 3, 3 from 1.5); 4 below those and for every fallback.
int pick_grade(double snr, double uncertainty_seconds);

class AicPicker {
public:
    // Samples of noise the criterion sees before the earliest onset it may choose.
    static constexpr double kNoiseSeconds = 3.0;
    // Fewest seconds of noise before the search range for the pick to be tried at all.
    static constexpr double kMinNoiseSeconds = 1.0;
    // The variance after the chosen sample over the variance before it must reach this
    // for the minimum to count as clear (a power ratio, an amplitude ratio of 1.41).
    static constexpr double kMinPowerRatio = 2.0;

    // Sizes the history for `sample_rate` (samples per second) and an STA window of
    // `sta_seconds`: the pick is searched from one STA window before the trigger's onset
    // to the crossing, over kNoiseSeconds more of history. Allocates; clears the history.
    // @retval false a rate or length that is not finite and above 0 (pick() then falls back).
    [[nodiscard]] bool configure(double sample_rate, double sta_seconds);

    // Appends y[0..count), the next samples of the trigger-filter output, contiguous with
    // those before. Worker thread only; allocation-free.
    void push(const double* y, size_t count);

    // The samples before now do not join the next ones (a gap, or the filters rebuilt).
    void restart() { filled_ = 0; }

    // Picks on the history, whose last sample is the one that raised the trigger at
    // `crossing_time` (seconds since 1970); `trigger_onset` is the onset the rule gave.
    // Allocation-free; worker thread only.
    OnsetPick pick(double crossing_time, double trigger_onset);

private:
    // Copies the last n samples of the history, oldest first, into window_.
    void copy_recent(size_t n);

    double sample_rate_ = 0.0;
    size_t search_ = 0;           // samples from the earliest allowed onset to the crossing
    size_t noise_ = 0;            // samples of history before the search range
    std::vector<double> ring_;    // the last ring_.size() samples pushed
    size_t next_ = 0;             // where the next sample goes in ring_
    size_t filled_ = 0;           // contiguous samples held, at most ring_.size()
    std::vector<double> window_;  // scratch: the samples picked on, oldest first
    std::vector<double> aic_;     // scratch: the criterion over the search range
};

}  // namespace zelvik::detect
