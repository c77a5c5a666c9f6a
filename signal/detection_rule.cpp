// Set-up of the detection rule: warm-up length and the channel's trigger windows.
#include "signal/detection_rule.h"

#include <algorithm>
#include <cmath>

namespace zelvik::detect {
namespace {

// Truncates towards zero into an int, saturating (NaN gives 0) instead of overflowing.
int saturating_int(double v) {
    if (!(v > -2147483648.0)) return std::isnan(v) ? 0 : -2147483647 - 1;
    if (v >= 2147483647.0) return 2147483647;
    return static_cast<int>(v);
}

}  // namespace

int DetectionRule::warmup_length_for(double sample_rate, double lta_seconds) {
    const double l = lta_seconds >= 60.0 ? lta_seconds : 60.0;
    // One below the int maximum so that the warm-up count can still pass it.
    return std::min(saturating_int(2.0 * sample_rate * l), 2147483646);
}

bool DetectionRule::init(double sample_rate, double lta_seconds, double sta_seconds,
                         double threshold) {
    warmup_length_ = warmup_length_for(sample_rate, lta_seconds);
    warmup_count_ = 0;
    in_event_ = false;
    onset_ = 0.0;
    return trigger_.init(sample_rate, saturating_int(lta_seconds * sample_rate),
                         saturating_int(sta_seconds * sample_rate), threshold);
}

size_t DetectionRule::scan(const double* y, size_t first, size_t count, const BlockClock& clock) {
    if (first >= count) return count;
    // The rule of process(), on locals so that the trigger's loop keeps them in registers.
    int warmup_count = warmup_count_;
    const int warmup_length = warmup_length_;
    bool in_event = in_event_;
    bool detected = false;
    const size_t taken = trigger_.process_block(y + first, count - first, [&](int answer) {
        if (warmup_count <= warmup_length) {
            ++warmup_count;
            return false;
        }
        if (answer == 0) {
            in_event = false;
            return false;
        }
        if (in_event) return false;
        in_event = true;
        detected = true;
        return true;
    });
    warmup_count_ = warmup_count;
    in_event_ = in_event;
    if (!detected) return count;
    const size_t at = first + taken - 1;
    onset_ = clock.time(at) - trigger_.sta_duration() / 2;
    return at;
}

}  // namespace zelvik::detect
