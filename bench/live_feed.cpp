// A digitizer for the live benchmark: N streams of 100 samples/s noise, packed into
// 512-byte Steim-2 miniSEED records with libmseed and appended, in real time, to one
// file per stream (an SDS-like tree that ringserver's scanner or `zelvik-store follow`
// reads). Every Kth stream carries a 3 Hz burst every B seconds, for the alarm latency.
// Prints "landed NET.STA.LOC.CHA START END WALL" for each record written.
//   zelvik_live_feed OUT_DIR STREAMS SECONDS [BURST_EVERY_STREAM BURST_EVERY_SECONDS]
#include <libmseed.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kRate = 100.0;

double wall_now() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

struct Stream {
    std::string id, path;
    MSTrace* trace = nullptr;
    bool bursts = false;
    std::FILE* file = nullptr;
};

void write_record(char* record, int length, void* context) {
    auto* s = static_cast<Stream*>(context);
    MSRecord* msr = nullptr;
    if (msr_parse(record, length, &msr, length, 0, 0) != MS_NOERROR) return;
    const double start = static_cast<double>(msr->starttime) / HPTMODULUS;
    const double end = start + static_cast<double>(msr->samplecnt) / kRate;
    msr_free(&msr);
    std::fwrite(record, 1, static_cast<size_t>(length), s->file);
    std::fflush(s->file);
    std::printf("landed %s %.3f %.3f %.3f\n", s->id.c_str(), start, end, wall_now());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s OUT_DIR STREAMS SECONDS [K BURST_SECONDS]\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const int streams = std::atoi(argv[2]);
    const double seconds = std::atof(argv[3]);
    const int burst_every = argc > 4 ? std::atoi(argv[4]) : 0;
    const double burst_period = argc > 5 ? std::atof(argv[5]) : 60.0;
    const double t0 = std::floor(wall_now());
    std::vector<Stream> all(static_cast<size_t>(streams));
    for (int i = 0; i < streams; ++i) {
        Stream& s = all[static_cast<size_t>(i)];
        char sta[16];
        std::snprintf(sta, sizeof sta, "L%03d", i);
        s.id = std::string("XL.") + sta + "..HHZ";
        const std::string dir = out + "/" + sta;
        std::filesystem::create_directories(dir);
        s.path = dir + "/XL." + sta + "..HHZ.mseed";
        s.file = std::fopen(s.path.c_str(), "ab");
        s.trace = mst_init(nullptr);
        std::snprintf(s.trace->network, sizeof s.trace->network, "XL");
        std::snprintf(s.trace->station, sizeof s.trace->station, "%s", sta);
        std::snprintf(s.trace->channel, sizeof s.trace->channel, "HHZ");
        s.trace->dataquality = 'D';
        s.trace->samprate = kRate;
        s.trace->sampletype = 'i';
        s.trace->starttime = static_cast<hptime_t>(std::llround(t0 * HPTMODULUS));
        s.bursts = burst_every > 0 && i % burst_every == 0;
    }
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 50.0);
    int64_t made = 0;  // samples per stream so far
    while (true) {
        const double now = wall_now();
        if (now - t0 > seconds) break;
        const auto due = static_cast<int64_t>((now - t0) * kRate);
        for (Stream& s : all) {
            const int64_t n = due - made;
            if (n <= 0) continue;
            auto* data = static_cast<int32_t*>(std::realloc(
                s.trace->datasamples, static_cast<size_t>(s.trace->numsamples + n) * 4));
            for (int64_t k = 0; k < n; ++k) {
                const double t = static_cast<double>(made + k) / kRate;
                const double phase = std::fmod(t, burst_period);
                double v = noise(rng);
                if (s.bursts && phase >= burst_period / 2 && phase < burst_period / 2 + 3)
                    v += 4000.0 * std::sin(2 * M_PI * 3.0 * t);
                data[s.trace->numsamples + k] = static_cast<int32_t>(std::lround(v));
            }
            s.trace->datasamples = data;
            s.trace->numsamples += n;
            s.trace->samplecnt = s.trace->numsamples;
            int64_t packed = 0;
            mst_pack(s.trace, write_record, &s, 512, DE_STEIM2, 1, &packed, 0, 0, nullptr);
        }
        made = due;
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (Stream& s : all) {
        mst_free(&s.trace);
        std::fclose(s.file);
    }
    return 0;
}
