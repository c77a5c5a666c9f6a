// Bisection over the store's own look-ups: nothing here depends on how the store
// keeps its segment ends (TEND column or TBEGIN + TQTY).
#include "channel/data_extent.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "channel/channel_settings.h"
#include "db/wave_store.h"

namespace zelvik::detect {

double channel_data_end(db::WaveStore& store, const std::string& station,
                        const std::string& channel, const std::string& location, double sample_rate,
                        double from, double now) {
    double first = 0.0;
    if (store.next_data_start(station, channel, location, from, first) != 1) return 0.0;
    double lo = first, hi = std::max(now, first + 1.0);
    for (int i = 0; i < 64 && hi - lo > 1.0; ++i) {
        const double mid = (lo + hi) / 2;
        double found = 0.0;
        if (store.next_data_start(station, channel, location, mid, found) == 1)
            lo = found;
        else
            hi = mid;
    }
    // The probe is one second; a rate no channel may have must not size it.
    const auto capacity = static_cast<size_t>(std::clamp(sample_rate, 0.0, kMaxSampleRate)) + 2;
    std::vector<float> probe(capacity);
    lo = std::max(lo, from);
    hi = std::max(now, lo + 1.0);
    for (int i = 0; i < 64 && hi - lo > 1.0; ++i) {
        const double mid = std::floor((lo + hi) / 2);
        double t0 = mid, t1 = mid + 1.0;
        if (store.read_samples(probe.data(), capacity, station, channel, location, t0, t1) == 0)
            lo = mid;
        else
            hi = mid;
    }
    return lo + 1.0;
}

}  // namespace zelvik::detect
