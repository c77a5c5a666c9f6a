// Set-up of the ring-buffer STA/LTA trigger and of its shifting reference form. Both
// check their parameters here, so the per-sample path needs no checks.
#include "detect/sta_lta_trigger.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "detect/shifting_sta_lta_trigger.h"

namespace zelvik::detect {
namespace {

// Empty string when the parameters are usable, else the reason.
std::string check_parameters(double sample_rate, int lta_samples, int sta_samples, double threshold) {
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

void reset_core(StaLtaCore& core, double sample_rate, int lta_samples, int sta_samples, double threshold) {
    core = StaLtaCore{};
    core.lta_samples = lta_samples;
    core.sta_samples = sta_samples;
    core.quiet_samples = 3 * (lta_samples + sta_samples) + 1;
    core.threshold = threshold;
    // 5 s of hold-over, truncated; a rate this high would never fit a window anyway.
    core.hold_length = static_cast<int>(std::min(5.0 * sample_rate, 2147483647.0));
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
    reset_core(core_, sample_rate, lta_samples, sta_samples, threshold);
    length_ = n;
    oldest_ = 0;
    mid_ = lta_samples;
    sta_duration_ = sta_samples / sample_rate;
    ready_ = true;
    return true;
}

bool ShiftingStaLtaTrigger::init(double sample_rate, int lta_samples, int sta_samples, double threshold) {
    if (ready_) return true;
    last_error_ = check_parameters(sample_rate, lta_samples, sta_samples, threshold);
    if (!last_error_.empty()) return false;
    buffer_.assign(static_cast<size_t>(lta_samples + sta_samples), 0.0);
    reset_core(core_, sample_rate, lta_samples, sta_samples, threshold);
    lta_index_ = static_cast<size_t>(lta_samples);
    ready_ = true;
    return true;
}

int ShiftingStaLtaTrigger::process(double x) {
    if (!ready_) return 0;
    const double old = buffer_.front();
    const double mid = buffer_[lta_index_];
    for (size_t i = 1; i < buffer_.size(); ++i) buffer_[i - 1] = buffer_[i];
    buffer_.back() = x;
    return core_.update(x, mid, old);
}

}  // namespace zelvik::detect
