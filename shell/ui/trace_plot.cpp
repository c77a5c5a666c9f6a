// Trees and ranges of a TracePlot. The ranges come from the trees' roots, so a span of
// an hour costs one pass over its samples per series.
#include "shell/ui/trace_plot.h"

#include <algorithm>
#include <cmath>

namespace zelvik::shell {

std::shared_ptr<const TracePlot> make_trace_plot(const detect::ChannelSettings& settings,
                                                 detect::ChannelSnapshot snapshot) {
    auto plot = std::make_shared<TracePlot>();
    plot->settings = settings;
    plot->snapshot = std::move(snapshot);
    detect::ColumnRange raw, filtered, ratio;
    for (const detect::TraceStretch& s : plot->snapshot.trace.stretches) {
        const size_t n = s.raw.size();
        plot->raw.emplace_back(s.raw.data(), n);
        plot->filtered.emplace_back(s.filtered.data(), n);
        plot->ratio.emplace_back(s.ratio.data(), n);
        const detect::ColumnRange r = plot->raw.back().range(0, n);
        const detect::ColumnRange f = plot->filtered.back().range(0, n);
        const detect::ColumnRange q = plot->ratio.back().range(0, n);
        if (!r.empty()) raw.add(r.min, r.max);
        if (!f.empty()) filtered.add(f.min, f.max);
        if (!q.empty()) ratio.add(q.min, q.max);
    }
    if (!raw.empty()) plot->raw_min = raw.min, plot->raw_max = raw.max;
    if (!filtered.empty())
        plot->filtered_peak = std::max(std::fabs(filtered.min), std::fabs(filtered.max));
    if (!ratio.empty()) plot->ratio_max = ratio.max;
    return plot;
}

}  // namespace zelvik::shell
