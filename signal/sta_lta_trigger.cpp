// Set-up of the ring-buffer STA/LTA trigger and of its shifting reference form. Both
// check their parameters here, so the per-sample path needs no checks.
#include "signal/sta_lta_trigger.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "signal/shifting_sta_lta_trigger.h"

namespace zelvik::detect {
namespace {

// Empty string when the parameters are usable, else the reason.
std::string check_parameters(double sample_rate, int lta_samples, int sta_samples,
                             double threshold) {
    char text[160];
    if (!std::isfinite(sample_rate) || sample_rate <= 0.0) {
        std::snprintf(text, sizeof text, "[init] sample rate %g unusable", sample_rate);
    } else if (lta_samples < 1 || sta_samples < 1 ||
               lta_samples > StaLtaTrigger::kMaxWindowSamples - sta_samples) {
        std::snprintf(text, sizeof text, "[init] windows of %d (LTA) and %d (STA) samples unusable",
                      lta_samples, sta_samples);
    } else if (!std::isfinite(threshold)) {
        std::snprintf(text, sizeof text, "[init] threshold %g unusable", threshold);
    } else {
        return {};
    }
    return text;
}

// 5 s of hold-over, truncated; saturates rather than overflowing for absurd rates.
int hold_length_for(double sample_rate) {
    return static_cast<int>(std::min(5.0 * sample_rate, 2147483647.0));
}

}  // namespace

bool StaLtaTrigger::init(double sample_rate, int lta_samples, int sta_samples, double threshold) {
    if (ready_) return true;
    last_error_ = check_parameters(sample_rate, lta_samples, sta_samples, threshold);
    if (!last_error_.empty()) return false;
    const int n = lta_samples + sta_samples;
    buffer_.reset(new (std::nothrow) double[n]());
    if (!buffer_) {
        last_error_ = "[init] no memory for " + std::to_string(n) + " samples";
        return false;
    }
    length_ = n;
    oldest_ = 0;
    mid_ = lta_samples;
    lta_samples_ = lta_samples;
    sta_samples_ = sta_samples;
    quiet_samples_ = 3 * n + 1;
    sample_count_ = 0;
    threshold_ = threshold;
    sta_mean_ = sta_mean_square_ = lta_mean_ = lta_mean_square_ = 0.0;
    sta_variance_ = lta_variance_ = 0.0;
    started_ = false;
    ready_ = true;
    hold_length_ = hold_length_for(sample_rate);
    hold_count_ = 0;
    sta_duration_ = sta_samples / sample_rate;
    return true;
}

bool ShiftingStaLtaTrigger::init(double sample_rate, int lta_samples, int sta_samples,
                                 double threshold) {
    if (ready_) return true;
    last_error_ = check_parameters(sample_rate, lta_samples, sta_samples, threshold);
    if (!last_error_.empty()) return false;
    lta_samples_ = lta_samples;
    sta_samples_ = sta_samples;
    threshold_ = threshold;
    sample_count_ = 0;
    sta_mean_ = sta_mean_square_ = lta_mean_ = lta_mean_square_ = 0.0;
    ratio_ = 0.0f;
    buffer_.assign(static_cast<size_t>(lta_samples + sta_samples), 0.0);
    ready_ = true;
    hold_length_ = hold_length_for(sample_rate);
    hold_count_ = 0;
    return true;
}

int ShiftingStaLtaTrigger::process(double x) {
    if (!ready_) return 0;
    const int n = lta_samples_ + sta_samples_;
    const double old = buffer_[0];
    const double mid = buffer_[static_cast<size_t>(lta_samples_)];
    for (int i = 1; i < n; ++i) buffer_[i - 1] = buffer_[i];
    buffer_[n - 1] = x;
    sta_mean_ += (x - mid) / sta_samples_;
    sta_mean_square_ += (x * x - mid * mid) / sta_samples_;
    sta_variance_ = sta_mean_square_ - sta_mean_ * sta_mean_;
    lta_mean_ += (mid - old) / lta_samples_;
    lta_mean_square_ += (mid * mid - old * old) / lta_samples_;
    const double lta_variance = lta_mean_square_ - lta_mean_ * lta_mean_;
    ratio_ = lta_variance > 0.0 ? static_cast<float>(sta_variance_ / lta_variance) : 100000000.0f;
    if (sample_count_ <= 3 * n) {
        ++sample_count_;
        return 0;
    }
    if (sta_variance_ > threshold_ * lta_variance) {
        hold_count_ = hold_length_;
        return 1;
    }
    if (hold_count_ == 0) return 0;
    --hold_count_;
    return 1;
}

}  // namespace zelvik::detect
