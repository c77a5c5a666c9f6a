// STA/LTA trigger: compares the variance of the last nS samples (STA) with that of the
// nL samples before them (LTA). The last n = nL + nS inputs live in a ring buffer, so a
// sample costs a constant amount of work whatever the window lengths.
#pragma once

#include <memory>
#include <string>

#include "detect/sta_lta_core.h"

namespace zelvik::detect {

class StaLtaTrigger {
public:
    // Largest n = nL + nS accepted by init (128 MB of buffer); keeps 3n + 1 in an int.
    static constexpr int kMaxWindowSamples = 1 << 24;

    StaLtaTrigger() = default;
    StaLtaTrigger(const StaLtaTrigger&) = delete;
    StaLtaTrigger& operator=(const StaLtaTrigger&) = delete;

    // Prepares the trigger: LTA window nL and STA window nS in samples, the threshold on
    // the ratio of variances, the hold-over of 5 s at `sample_rate` (samples per second).
    // A second call on a ready trigger returns true and changes nothing.
    // @retval false sample rate not finite or not above 0, nL or nS below 1, n above
    //               kMaxWindowSamples, threshold not finite, or the buffer could not be
    //               allocated; last_error() says which and process() answers 0. No log.
    [[nodiscard]] bool init(double sample_rate, int lta_samples, int sta_samples, double threshold);

    // Feeds one sample; 1 while triggered (hold-over included), else 0. The first 3n + 1
    // samples after init never trigger. Allocation-free; worker thread only.
    inline int process(double x);

    bool ready() const { return ready_; }
    double sta_variance() const { return core_.sta_variance; }  // after the last sample
    double sta_duration() const { return sta_duration_; }       // seconds, nS / sample rate
    float ratio() const { return core_.ratio(); }                 // 1e8 while the LTA variance is 0
    int hold_length() const { return core_.hold_length; }       // samples
    const std::string& last_error() const { return last_error_; }

private:
    StaLtaCore core_;
    std::unique_ptr<double[]> buffer_;  // n inputs; oldest at oldest_, STA window from mid_
    int length_ = 0;                    // n
    int oldest_ = 0;                    // index of the sample leaving the LTA window
    int mid_ = 0;                       // index of the sample leaving the STA window
    double sta_duration_ = 0.0;
    bool ready_ = false;
    std::string last_error_;
};

inline int StaLtaTrigger::process(double x) {
    if (!ready_) return 0;
    const double old = buffer_[oldest_];
    const double mid = buffer_[mid_];
    // The newest sample takes the place of the one leaving: that slot is now the
    // youngest of the ring, and the window boundaries both move on by one.
    buffer_[oldest_] = x;
    oldest_ = oldest_ + 1 == length_ ? 0 : oldest_ + 1;
    mid_ = mid_ + 1 == length_ ? 0 : mid_ + 1;
    return core_.update(x, mid, old);
}

}  // namespace zelvik::detect
