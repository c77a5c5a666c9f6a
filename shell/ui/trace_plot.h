// Everything one picture of a channel view needs, made off the GUI thread from a
// snapshot: the snapshot itself, a min/max tree per stretch and series, and the value
// ranges of the span. Immutable once made, so threads share it without a lock.
#pragma once

#include <memory>
#include <vector>

#include "channel/channel_settings.h"
#include "channel/channel_trace_reader.h"
#include "signal/min_max_columns.h"

namespace zelvik::shell {

struct TracePlot {
    detect::ChannelSettings settings;
    detect::ChannelSnapshot snapshot;
    // One tree per stretch of snapshot.trace, for each series.
    std::vector<detect::MinMaxTree> raw, filtered, ratio;
    float raw_min = 0, raw_max = 0;  // counts, over the span
    float filtered_peak = 0;         // largest |filtered|, counts
    float ratio_max = 0;             // largest ratio in the span
};

// Builds the trees in O(samples); called on the loader thread.
std::shared_ptr<const TracePlot> make_trace_plot(const detect::ChannelSettings& settings,
                                                 detect::ChannelSnapshot snapshot);

}  // namespace zelvik::shell
