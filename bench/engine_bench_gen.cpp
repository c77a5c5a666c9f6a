// Writes synthetic miniSEED for the engine benchmark: per channel, noise of about 200
// counts at 100 samples/s with a 5 Hz burst every two hours (offset per channel), so
// that a catch-up run has both long quiet stretches and a few measurements to make.
//   zelvik_engine_bench_gen OUTDIR START_EPOCH CHANNELS SECONDS [FIRST_INDEX]
// Files are OUTDIR/Bnnn_HHZ.mseed, station "Bnnn", channel HHZ, 4096-byte Steim-2 records.
#include <libmseed.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 100.0;
constexpr double kEventEvery = 7200.0;  // seconds between bursts on one channel

std::vector<int32_t> samples_for(int index, double seconds) {
    const auto n = static_cast<size_t>(seconds * kRate);
    std::vector<int32_t> out(n);
    uint32_t state = 2654435761u * static_cast<uint32_t>(index + 1);
    const double offset = 600.0 + 97.0 * index;  // first burst, then every kEventEvery
    for (size_t i = 0; i < n; ++i) {
        state = state * 1664525u + 1013904223u;
        const double a = static_cast<double>(state >> 8) / 16777216.0;
        state = state * 1664525u + 1013904223u;
        const double b = static_cast<double>(state >> 8) / 16777216.0;
        double v = 200.0 * (a + b - 1.0) * 2.0;
        const double t = static_cast<double>(i) / kRate;
        const double since = std::fmod(t - offset + kEventEvery, kEventEvery);
        if (t >= offset && since < 8.0) v += 4000.0 * std::sin(2 * M_PI * 5.0 * since);
        out[i] = static_cast<int32_t>(std::lround(v));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s OUTDIR START_EPOCH CHANNELS SECONDS [FIRST_INDEX]\n",
                     argv[0]);
        return 2;
    }
    const std::string out_dir = argv[1];
    const double start = std::atof(argv[2]);
    const int channels = std::atoi(argv[3]);
    const double seconds = std::atof(argv[4]);
    const int first = argc > 5 ? std::atoi(argv[5]) : 0;
    for (int c = first; c < first + channels; ++c) {
        std::vector<int32_t> data = samples_for(c, seconds);
        MSTrace* mst = mst_init(nullptr);
        std::snprintf(mst->network, sizeof mst->network, "ZB");
        std::snprintf(mst->station, sizeof mst->station, "B%03d",
                      c % 1000);  // station codes hold 5 characters
        std::snprintf(mst->channel, sizeof mst->channel, "HHZ");
        mst->dataquality = 'D';
        mst->starttime = static_cast<hptime_t>(std::llround(start * HPTMODULUS));
        mst->samprate = kRate;
        // mst_pack moves and reallocates the samples it packs: give it its own copy.
        void* copy = std::malloc(data.size() * sizeof(int32_t));
        if (copy == nullptr) return 1;
        std::memcpy(copy, data.data(), data.size() * sizeof(int32_t));
        mst->datasamples = copy;
        mst->numsamples = static_cast<int64_t>(data.size());
        mst->samplecnt = mst->numsamples;
        mst->sampletype = 'i';
        const std::string path = out_dir + "/" + mst->station + "_HHZ.mseed";
        const int records = mst_writemseed(mst, path.c_str(), 1, 4096, DE_STEIM2, 1, 0);
        mst_free(&mst);
        if (records < 0) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
