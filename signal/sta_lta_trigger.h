// STA/LTA trigger: compares the variance of the last nS samples (STA) with that of the
// nL samples before them (LTA). The last n = nL + nS inputs live in a ring buffer, so a
// sample costs the same whatever the window lengths; the running means are updated with
// exactly the arithmetic of the shifting form (ShiftingStaLtaTrigger), in the same order.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

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

    // Feeds x[0..count) as count calls of process() would, handing each answer to
    // `take(answer)`, and stops after the first sample for which `take` returns true.
    // The running sums stay in registers for the block. Returns the samples taken.
    template <typename Take>
    size_t process_block(const double* x, size_t count, Take&& take);

    bool ready() const { return ready_; }
    double sta_variance() const { return sta_variance_; }  // after the last sample
    double sta_duration() const { return sta_duration_; }  // seconds, nS / sample rate
    int hold_length() const { return hold_length_; }       // samples
    const std::string& last_error() const { return last_error_; }

    // STA variance / LTA variance after the last sample; 1e8 while the LTA variance is not
    // above 0, 0 before the first sample. Formed when asked for, not per sample: it
    // decides nothing, and its division would cost a fifth of the per-sample time.
    float ratio() const {
        if (!started_) return 0.0f;
        return lta_variance_ > 0.0 ? static_cast<float>(sta_variance_ / lta_variance_)
                                   : 100000000.0f;
    }

private:
    std::unique_ptr<double[]> buffer_;  // the last n inputs, a ring
    int length_ = 0;                    // n
    int oldest_ = 0;                    // index of the sample leaving the LTA window
    int mid_ = 0;                       // index of the sample leaving the STA window
    // nL and nS as doubles (exact): the per-sample divisions use them so.
    double lta_samples_ = 0.0;
    double sta_samples_ = 0.0;
    int quiet_samples_ = 0;   // 3n + 1: samples after init that never trigger
    int sample_count_ = 0;    // counted up to quiet_samples_
    double threshold_ = 0.0;  // on the ratio of variances (power, not amplitude)
    double sta_mean_ = 0.0, sta_mean_square_ = 0.0;
    double lta_mean_ = 0.0, lta_mean_square_ = 0.0;
    double sta_variance_ = 0.0, lta_variance_ = 0.0;
    int hold_length_ = 0;  // samples of hold-over after the ratio falls back
    int hold_count_ = 0;
    double sta_duration_ = 0.0;
    bool started_ = false;  // a sample was processed since init
    bool ready_ = false;
    std::string last_error_;
};

inline int StaLtaTrigger::process(double x) {
    if (!ready_) return 0;
    const double old = buffer_[oldest_];  // leaves the LTA window
    const double mid = buffer_[mid_];     // moves from the STA window into the LTA window
    // The newest sample takes the slot of the one leaving: that slot is now the youngest
    // of the ring, and both window boundaries move on by one.
    buffer_[oldest_] = x;
    oldest_ = oldest_ + 1 == length_ ? 0 : oldest_ + 1;
    mid_ = mid_ + 1 == length_ ? 0 : mid_ + 1;
    // Divide by the window lengths rather than multiply by their inverses: the means must
    // come out exactly as the incremental formula gives them.
    sta_mean_ += (x - mid) / sta_samples_;
    sta_mean_square_ += (x * x - mid * mid) / sta_samples_;
    sta_variance_ = sta_mean_square_ - sta_mean_ * sta_mean_;
    lta_mean_ += (mid - old) / lta_samples_;
    lta_mean_square_ += (mid * mid - old * old) / lta_samples_;
    lta_variance_ = lta_mean_square_ - lta_mean_ * lta_mean_;
    started_ = true;
    if (sample_count_ < quiet_samples_) {
        ++sample_count_;
        return 0;
    }
    // The variances themselves decide, so an LTA variance of 0 lets any signal through.
    if (sta_variance_ > threshold_ * lta_variance_) {
        hold_count_ = hold_length_;
        return 1;
    }
    if (hold_count_ == 0) return 0;
    --hold_count_;
    return 1;
}

template <typename Take>
size_t StaLtaTrigger::process_block(const double* x, size_t count, Take&& take) {
    if (!ready_ || count == 0) {
        for (size_t i = 0; i < count; ++i)
            if (take(0)) return i + 1;
        return count;
    }
    // Locals rather than members: the store into the ring could otherwise alias them
    // and force every sum through memory at every sample. The arithmetic is process()'s.
    double* const ring = buffer_.get();
    const int length = length_;
    int oldest = oldest_, mid_index = mid_;
    const double n_sta = sta_samples_, n_lta = lta_samples_, threshold = threshold_;
    double sta_mean = sta_mean_, sta_mean_square = sta_mean_square_;
    double lta_mean = lta_mean_, lta_mean_square = lta_mean_square_;
    double sta_variance = sta_variance_, lta_variance = lta_variance_;
    const int quiet = quiet_samples_, hold_length = hold_length_;
    int sample_count = sample_count_, hold_count = hold_count_;
    size_t i = 0;
    while (i < count) {
        const double v = x[i++];
        const double old = ring[oldest];
        const double mid = ring[mid_index];
        ring[oldest] = v;
        oldest = oldest + 1 == length ? 0 : oldest + 1;
        mid_index = mid_index + 1 == length ? 0 : mid_index + 1;
        sta_mean += (v - mid) / n_sta;
        sta_mean_square += (v * v - mid * mid) / n_sta;
        sta_variance = sta_mean_square - sta_mean * sta_mean;
        lta_mean += (mid - old) / n_lta;
        lta_mean_square += (mid * mid - old * old) / n_lta;
        lta_variance = lta_mean_square - lta_mean * lta_mean;
        int answer = 0;
        if (sample_count < quiet) {
            ++sample_count;
        } else if (sta_variance > threshold * lta_variance) {
            hold_count = hold_length;
            answer = 1;
        } else if (hold_count != 0) {
            --hold_count;
            answer = 1;
        }
        if (take(answer)) break;
    }
    oldest_ = oldest, mid_ = mid_index;
    sta_mean_ = sta_mean, sta_mean_square_ = sta_mean_square;
    lta_mean_ = lta_mean, lta_mean_square_ = lta_mean_square;
    sta_variance_ = sta_variance, lta_variance_ = lta_variance;
    sample_count_ = sample_count, hold_count_ = hold_count;
    started_ = true;
    return i;
}

}  // namespace zelvik::detect
