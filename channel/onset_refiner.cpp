// The two views of an onset. Preferring the view with the larger SNR keeps the sharp
// first-difference pick on impulsive local arrivals and leaves channels whose P lies in
// a low band, below the noise of the higher frequencies, to their own trigger band.
#include "channel/onset_refiner.h"

#include <algorithm>

namespace zelvik::detect {

bool OnsetRefiner::configure(double sample_rate, double sta_seconds) {
    have_previous_ = false;
    const bool broad = broad_.configure(sample_rate, sta_seconds);
    const bool band = band_.configure(sample_rate, sta_seconds);
    return broad && band;
}

void OnsetRefiner::restart() {
    broad_.restart();
    band_.restart();
    have_previous_ = false;
}

void OnsetRefiner::push(const float* x, const double* y, size_t count) {
    double d[kMaxBlock];
    for (size_t done = 0; done < count; done += kMaxBlock) {
        const size_t n = std::min(kMaxBlock, count - done);
        for (size_t j = 0; j < n; ++j) {
            const auto v = static_cast<double>(x[done + j]);
            d[j] = have_previous_ ? v - previous_ : 0.0;
            previous_ = v;
            have_previous_ = true;
        }
        broad_.push(d, n);
        band_.push(y + done, n);
    }
}

OnsetPick OnsetRefiner::pick(double crossing_time, double trigger_onset) {
    const OnsetPick broad = broad_.pick(crossing_time, trigger_onset);
    const OnsetPick band = band_.pick(crossing_time, trigger_onset);
    const bool broad_ok = broad.fallback == PickFallback::kNone;
    const bool band_ok = band.fallback == PickFallback::kNone;
    if (broad_ok && band_ok) return broad.snr >= band.snr ? broad : band;
    if (band_ok) return band;
    return broad;  // refined, or both fell back: for the same lack of history, or no minimum
}

}  // namespace zelvik::detect
