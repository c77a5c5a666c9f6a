// Where a channel's stored data ends, found with the store's two channel look-ups only
// (next segment start, and reading one second), so it works on any store schema.
#pragma once

#include <string>

namespace zelvik::db {
class WaveStore;
}

namespace zelvik::detect {

// The end (seconds since 1970 UTC) of the channel's data after `from`, looked for up
// to `now`: the start of its last segment by bisection over "is there a segment starting
// at or after t", then that segment's end by bisection over "does [t, t + 1 s) hold
// data". 0 when the channel has no segment after `from`. `sample_rate` sizes the probe.
// About 130 store queries; not for the per-window path.
double channel_data_end(db::WaveStore& store, const std::string& station,
                        const std::string& channel, const std::string& location, double sample_rate,
                        double from, double now);

}  // namespace zelvik::detect
