// AIC picker. Over a window w[0..N) that ends at the crossing, the criterion at sample k is
// k·log var(w[0..k)) + (N−k−1)·log var(w[k..N)): lowest where the window splits best into
// a quiet part and a louder one. Both variances come from running sums, so one pass of
// N samples and two logarithms per candidate sample make the whole pick.
#include "signal/aic_picker.h"

#include <algorithm>
#include <cmath>

namespace zelvik::detect {
namespace {

// Candidates whose criterion lies within this of the minimum are as likely as the
// minimum itself (a likelihood ratio of about e²); their spread is the pick's uncertainty.
constexpr double kAicSpread = 4.0;
// The quiet part and the louder part each need a few samples for a variance.
constexpr size_t kMinPart = 3;
// How far the minimum must lie below the criterion of the window taken as one part. Noise
// alone, split where a few loud samples happen to sit at the end, reaches a few units;
// a real arrival tens to thousands.
constexpr double kMinDepth = 20.0;

struct Sums {
    double s1 = 0.0, s2 = 0.0;
    void add(double v) { s1 += v, s2 += v * v; }
};

double variance(double s1, double s2, double n, double floor) {
    const double mean = s1 / n;
    return std::max(s2 / n - mean * mean, floor);
}

}  // namespace

const char* to_string(PickFallback fallback) {
    switch (fallback) {
        case PickFallback::kNone:
            return "refined";
        case PickFallback::kShortHistory:
            return "too little data before the onset";
        case PickFallback::kNoClearMinimum:
            return "no clear AIC minimum";
    }
    return "?";
}

int pick_grade(double snr, double uncertainty_seconds) {
    static constexpr double kUncertainty[] = {0.05, 0.1, 0.2, 0.4};
    static constexpr double kSnr[] = {10.0, 5.0, 3.0, 1.5};
    if (!(uncertainty_seconds >= 0.0) || !(snr > 0.0)) return 4;
    int by_time = 4, by_snr = 4;
    for (int g = 3; g >= 0; --g) {
        if (uncertainty_seconds <= kUncertainty[g]) by_time = g;
        if (snr >= kSnr[g]) by_snr = g;
    }
    return std::max(by_time, by_snr);
}

bool AicPicker::configure(double sample_rate, double sta_seconds) {
    filled_ = next_ = 0;
    search_ = noise_ = 0;
    sample_rate_ = 0.0;
    if (!std::isfinite(sample_rate) || !(sample_rate > 0.0) || !std::isfinite(sta_seconds) ||
        !(sta_seconds > 0.0)) {
        return false;
    }
    sample_rate_ = sample_rate;
    search_ = static_cast<size_t>(std::ceil(1.5 * sta_seconds * sample_rate));
    noise_ = std::max(static_cast<size_t>(kNoiseSeconds * sample_rate), 2 * kMinPart);
    const size_t capacity = search_ + noise_ + 1;
    ring_.assign(capacity, 0.0);
    window_.assign(capacity, 0.0);
    aic_.assign(search_ + 1, 0.0);
    return true;
}

void AicPicker::push(const double* y, size_t count) {
    const size_t capacity = ring_.size();
    if (capacity == 0) return;
    // Only the newest `capacity` samples can matter.
    if (count > capacity) {
        y += count - capacity;
        filled_ += count - capacity;
        count = capacity;
    }
    const size_t first = std::min(count, capacity - next_);
    std::copy(y, y + first, ring_.begin() + static_cast<std::ptrdiff_t>(next_));
    std::copy(y + first, y + count, ring_.begin());
    next_ = (next_ + count) % capacity;
    filled_ = std::min(filled_ + count, capacity);
}

void AicPicker::copy_recent(size_t n) {
    const size_t capacity = ring_.size();
    const size_t start = (next_ + capacity - n) % capacity;
    const size_t first = std::min(n, capacity - start);
    std::copy_n(ring_.begin() + static_cast<std::ptrdiff_t>(start), first, window_.begin());
    std::copy_n(ring_.begin(), n - first, window_.begin() + static_cast<std::ptrdiff_t>(first));
}

OnsetPick AicPicker::pick(double crossing_time, double trigger_onset) {
    OnsetPick out;
    out.trigger_onset = out.time = trigger_onset;
    const size_t min_noise =
        std::max(static_cast<size_t>(kMinNoiseSeconds * sample_rate_), 2 * kMinPart);
    if (search_ == 0 || filled_ < search_ + 1 + min_noise) return out;  // kShortHistory

    const size_t n = filled_;
    copy_recent(n);
    const double* w = window_.data();
    Sums total;
    for (size_t i = 0; i < n; ++i) total.add(w[i]);
    // A variance of exactly 0 (a flat stretch) would make the logarithm -inf.
    const double floor = 1e-12 * total.s2 / static_cast<double>(n) + 1e-300;

    // Candidates: the first sample of the louder part, from one STA window before the
    // trigger's onset to a few samples before the crossing.
    const size_t lo = n - 1 - search_;
    const size_t hi = n - kMinPart;
    Sums left;
    for (size_t i = 0; i < lo; ++i) left.add(w[i]);
    size_t best = lo;
    double best_ratio = 0.0;
    for (size_t k = lo; k <= hi; ++k) {
        const double kl = static_cast<double>(k), kr = static_cast<double>(n - k);
        const double vl = variance(left.s1, left.s2, kl, floor);
        const double vr = variance(total.s1 - left.s1, total.s2 - left.s2, kr, floor);
        aic_[k - lo] = kl * std::log(vl) + (kr - 1.0) * std::log(vr);
        if (k == lo || aic_[k - lo] < aic_[best - lo]) best = k, best_ratio = vr / vl;
        left.add(w[k]);
    }
    out.snr = std::sqrt(best_ratio);
    // A minimum at the earliest candidate means the criterion still falls before it: the
    // change lies outside the range a pick may take.
    const double one_part = static_cast<double>(n - 1) *
                            std::log(variance(total.s1, total.s2, static_cast<double>(n), floor));
    if (best == lo || best_ratio < kMinPowerRatio || one_part - aic_[best - lo] < kMinDepth) {
        out.fallback = PickFallback::kNoClearMinimum;
        return out;
    }
    size_t first = best, last = best;
    const double limit = aic_[best - lo] + kAicSpread;
    while (first > lo && aic_[first - 1 - lo] <= limit) --first;
    while (last < hi && aic_[last + 1 - lo] <= limit) ++last;
    out.uncertainty = static_cast<double>(last - first + 1) / (2.0 * sample_rate_);
    out.time = crossing_time - static_cast<double>(n - 1 - best) / sample_rate_;
    out.fallback = PickFallback::kNone;
    out.grade = pick_grade(out.snr, out.uncertainty);
    return out;
}

}  // namespace zelvik::detect
