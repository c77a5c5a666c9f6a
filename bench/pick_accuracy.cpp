// How close the refined onsets come to analyst P picks: every recording of a picks.csv
// (columns as in tests/data/real) goes through the real ChannelChain at the settings of
// scripts/demo.sh (order 3, 1-5 Hz, STA 1 s, LTA 10 s, threshold 5), and the detection
// nearest the pick is compared with it. Prints one row per recording and the summary.
// Usage: zelvik_pick_accuracy PICKS_CSV [MIT]   (MIT: only rows whose licence is MIT)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "channel/channel_chain.h"
#include "common/log.h"
#include "tests/support/mseed_trace.h"

namespace zelvik::detect {
namespace {

struct Row {
    std::string file;
    double p_arrival;
};

std::vector<Row> read_rows(const std::string& csv, bool mit_only) {
    std::vector<Row> rows;
    for (const std::vector<std::string>& cells : testing::read_csv_rows(csv)) {
        if (cells.size() < 15 || (mit_only && cells[14].rfind("MIT", 0) != 0)) continue;
        rows.push_back({cells[1], testing::parse_utc_iso(cells[11])});
    }
    return rows;
}

struct Keep : MeasurementSink {
    std::vector<OnsetPick> picks;
    void store(const Measurement& m) override {
        if (m.pick) picks.push_back(*m.pick);
    }
};

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
}

int run(const std::string& csv, bool mit_only) {
    const std::string dir = csv.substr(0, csv.find_last_of('/') + 1);
    ChannelSettings settings;
    settings.order = 3, settings.fr1 = 1.0f, settings.fr2 = 5.0f;
    std::vector<double> onset_err, pick_err;
    size_t within = 0, beyond_sta = 0, missed = 0, grades[5] = {};
    std::printf("%-34s %9s %9s %5s %6s  %s\n", "recording", "onset-P", "pick-P", "grade", "SNR",
                "how");
    for (const Row& row : read_rows(csv, mit_only)) {
        testing::Trace trace;
        if (!testing::read_vertical(dir + row.file, trace)) continue;
        Keep keep;
        ChannelChain chain(
            settings, keep, [](double, double, float) {}, [](const std::string&) {});
        if (!chain.build(trace.sample_rate)) return 1;
        StepBuffers buffers;
        buffers.samples.assign(trace.samples.begin(), trace.samples.end());
        buffers.capacity = buffers.samples.size();
        buffers.window_start = trace.start;
        buffers.filled.push_back({0, buffers.samples.size()});
        chain.process_window(buffers);
        chain.finish_open_measurements();
        const OnsetPick* best = nullptr;
        for (const OnsetPick& p : keep.picks) {
            if (std::fabs(p.trigger_onset - row.p_arrival) > 3.0) continue;
            if (!best || std::fabs(p.trigger_onset - row.p_arrival) <
                             std::fabs(best->trigger_onset - row.p_arrival))
                best = &p;
        }
        if (!best) {
            ++missed;
            std::printf("%-34s  no detection within 3 s of P\n", row.file.c_str());
            continue;
        }
        const double e0 = best->trigger_onset - row.p_arrival, e1 = best->time - row.p_arrival;
        onset_err.push_back(std::fabs(e0));
        pick_err.push_back(std::fabs(e1));
        within += std::fabs(e1) <= 0.3;
        beyond_sta += std::fabs(best->time - best->trigger_onset) > settings.sta_seconds;
        ++grades[best->grade];
        std::printf("%-34s %+9.3f %+9.3f %5d %6.1f  %s\n", row.file.c_str(), e0, e1, best->grade,
                    best->snr, to_string(best->fallback));
    }
    const size_t n = pick_err.size();
    std::printf("\n%zu recordings detected, %zu missed\n", n, missed);
    std::printf("median |trigger onset - P| %.3f s\n", median(onset_err));
    std::printf("median |refined onset - P| %.3f s\n", median(pick_err));
    std::printf("refined within 0.3 s of P: %zu of %zu (%.0f%%)\n", within, n,
                n ? 100.0 * static_cast<double>(within) / static_cast<double>(n) : 0.0);
    std::printf("refined more than one STA window from the trigger onset: %zu\n", beyond_sta);
    std::printf("grades 0..4: %zu %zu %zu %zu %zu\n", grades[0], grades[1], grades[2], grades[3],
                grades[4]);
    return 0;
}

}  // namespace
}  // namespace zelvik::detect

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PICKS_CSV [MIT]\n", argv[0]);
        return 2;
    }
    zelvik::common::log_reset_for_testing();  // no log file: measurement lines go nowhere
    return zelvik::detect::run(argv[1], argc > 2 && std::string(argv[2]) == "MIT");
}
