// Reads real recordings for the detection tests with libmseed 2.x (ms_readtraces).
#include "tests/support/mseed_trace.h"

#include <libmseed.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/civil_time.h"

namespace zelvik::detect::testing {

bool read_vertical(const std::string& path, Trace& out) {
    MSTraceGroup* group = nullptr;
    const int rc = ms_readtraces(&group, path.c_str(), -1, -1.0, -1.0, 0, 1, 1, 0);
    if (rc != MS_NOERROR) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), ms_errorstr(rc));
        mst_freegroup(&group);
        return false;
    }
    bool found = false;
    for (MSTrace* t = group->traces; t != nullptr && !found; t = t->next) {
        const std::string channel = t->channel;
        if (channel.empty() || channel.back() != 'Z' || t->numsamples <= 0) continue;
        out.station = t->station;
        out.channel = channel;
        out.start = static_cast<double>(t->starttime) / HPTMODULUS;
        out.sample_rate = t->samprate;
        out.samples.resize(static_cast<size_t>(t->numsamples));
        for (int64_t i = 0; i < t->numsamples; ++i) {
            switch (t->sampletype) {
                case 'f':
                    out.samples[i] = static_cast<const float*>(t->datasamples)[i];
                    break;
                case 'd':
                    out.samples[i] = static_cast<const double*>(t->datasamples)[i];
                    break;
                case 'i':
                    out.samples[i] = static_cast<const int32_t*>(t->datasamples)[i];
                    break;
                default:
                    out.samples.clear();
                    break;
            }
        }
        found = !out.samples.empty();
    }
    mst_freegroup(&group);
    if (!found) std::fprintf(stderr, "%s: no vertical trace\n", path.c_str());
    return found;
}

double parse_utc_iso(const std::string& text) {
    common::Civil c;
    char zone = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%lf%c", &c.year, &c.month, &c.day, &c.hour,
                    &c.minute, &c.second, &zone) != 7 ||
        zone != 'Z') {
        return std::nan("");
    }
    return common::epoch_from_civil(c);
}

std::vector<std::vector<std::string>> read_csv_rows(const std::string& csv_path) {
    std::ifstream in(csv_path);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string>& cells = rows.emplace_back();
        std::stringstream row(line);
        for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    }
    return rows;
}

std::vector<Pick> read_picks(const std::string& csv_path) {
    std::vector<Pick> picks;
    for (const std::vector<std::string>& cells : read_csv_rows(csv_path)) {
        // trace_id, file, network, station, original_station, location, channel, start,
        // sampling_rate, n_samples, lead_in_seconds, p_arrival_utc_iso, ...
        if (cells.size() > 11) picks.push_back({cells[1], parse_utc_iso(cells[11])});
    }
    return picks;
}

}  // namespace zelvik::detect::testing
