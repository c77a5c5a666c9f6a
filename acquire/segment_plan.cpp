// Record times in miniSEED 2 have a resolution of 100 microseconds and digitizer clocks
// drift, so "follows" means within half a sample interval of where the next sample is
// due, as libmseed's own trace building judges continuity.
#include "acquire/segment_plan.h"

#include <cmath>
#include <cstdio>

#include "common/civil_time.h"

namespace zelvik::acquire {

namespace {

bool same_rate(double a, double b) {
    return std::fabs(a - b) <= 1e-6 * std::max(a, b);
}

std::string safe(const std::string& code, const char* empty) {
    if (code.empty()) return empty;
    std::string out;
    for (const char c : code) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        out.push_back(plain ? c : '_');
    }
    return out;
}

}  // namespace

PlacementResult place_record(const OpenSegment* open, double held_end, const RecordSpan& record) {
    const double half = 0.5 / record.sps;
    if (held_end > 0 && record.start < held_end - half) {
        if (record.end() <= held_end + half) return {Placement::kHeld, 0};
        // Overlaps the held end: only the samples after it are new. A record that lies
        // wholly before it is looked up, since it may fill a gap.
        if (!open || record.start < open->tbegin) return {Placement::kEarlier, 0};
        const auto skip =
            static_cast<int64_t>(std::llround((held_end - record.start) * record.sps));
        if (skip >= record.count) return {Placement::kHeld, 0};
        RecordSpan rest = record;
        rest.start += static_cast<double>(skip) / record.sps;
        rest.count -= skip;
        PlacementResult r = place_record(open, held_end, rest);
        r.skip += skip;
        return r;
    }
    if (open && same_rate(open->sps, record.sps) && open->datatype == record.datatype &&
        open->cpath == record.cpath && std::fabs(record.start - open->end()) <= half)
        return {Placement::kExtend, 0};
    return {Placement::kNewSegment, 0};
}

std::string day_file_path(const std::string& network, const std::string& station,
                          const std::string& location, const std::string& channel, double start) {
    const common::Civil c = common::civil_from_epoch(std::floor(start));
    const int64_t day_of_year =
        common::days_from_civil(c.year, c.month, c.day) - common::days_from_civil(c.year, 1, 1) + 1;
    const std::string net = safe(network, "--"), sta = safe(station, "--");
    char tail[48];
    std::snprintf(tail, sizeof tail, ".%04d.%03d.dat", c.year, static_cast<int>(day_of_year));
    return std::to_string(c.year) + "/" + net + "/" + sta + "/" + net + "." + sta + "." +
           safe(location, "--") + "." + safe(channel, "--") + tail;
}

}  // namespace zelvik::acquire
