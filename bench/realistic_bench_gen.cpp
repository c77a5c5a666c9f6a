// Writes miniSEED for the realistic engine benchmark: per channel, noise with the
// averaged spectrum of the pre-event stretches of real recordings (one FFT over the whole
// length, so no stretch ever repeats), real earthquake recordings added at random times
// (Poisson) and strengths, and for a noisy site short bursts of local noise as well.
//   zelvik_realistic_bench_gen MSEED_DIR OUTDIR START CHANNELS SECONDS EVENT_EVERY
//                              BURST_EVERY SEED
// EVENT_EVERY and BURST_EVERY are mean intervals in seconds per channel (0: none). Only
// 100 samples/s recordings are used; files are OUTDIR/Rnnn_HHZ.mseed, Steim-2 records.
#include <kiss_fftr.h>
#include <libmseed.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 100.0;
constexpr double kPi = 3.14159265358979323846;
constexpr int kSegment = 1024;       // Welch segment of the noise spectrum, 10.24 s
constexpr double kNoiseRms = 300.0;  // counts
constexpr double kLeadIn = 150.0;    // seconds the shared files put before each recording

struct Recording {
    std::vector<double> noise;  // the recording's own stretch before P
    std::vector<double> event;  // from 5 s before P to the end, tapered
};

double parse_iso(const std::string& t) {
    int y, mo, d, h, mi;
    double s;
    if (std::sscanf(t.c_str(), "%d-%d-%dT%d:%d:%lfZ", &y, &mo, &d, &h, &mi, &s) != 6) return NAN;
    // Days from civil (proleptic Gregorian).
    y -= mo <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const double days = era * 146097.0 + doe - 719468.0;
    return days * 86400.0 + h * 3600.0 + mi * 60.0 + s;
}

bool read_vertical(const std::string& path, double& start, std::vector<double>& out) {
    MSTraceGroup* group = nullptr;
    if (ms_readtraces(&group, path.c_str(), -1, -1.0, -1.0, 0, 1, 1, 0) != MS_NOERROR) {
        mst_freegroup(&group);
        return false;
    }
    bool found = false;
    for (MSTrace* t = group->traces; t != nullptr && !found; t = t->next) {
        const size_t len = std::strlen(t->channel);
        if (len == 0 || t->channel[len - 1] != 'Z' || t->samprate != kRate) continue;
        if (t->sampletype != 'f' && t->sampletype != 'i') continue;
        start = static_cast<double>(t->starttime) / HPTMODULUS;
        out.resize(static_cast<size_t>(t->numsamples));
        for (int64_t i = 0; i < t->numsamples; ++i)
            out[i] = t->sampletype == 'f' ? static_cast<const float*>(t->datasamples)[i]
                                          : static_cast<const int32_t*>(t->datasamples)[i];
        found = true;
    }
    mst_freegroup(&group);
    return found;
}

std::vector<Recording> load_recordings(const std::string& dir) {
    std::vector<Recording> all;
    std::ifstream in(dir + "/picks.csv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> c;
        std::stringstream row(line);
        for (std::string cell; std::getline(row, cell, ',');) c.push_back(cell);
        if (c.size() < 12 || std::atof(c[8].c_str()) != kRate) continue;
        double start = 0;
        std::vector<double> x;
        if (!read_vertical(dir + "/" + c[1], start, x)) continue;
        const double p = parse_iso(c[11]);
        const auto p_index = static_cast<long>((p - start) * kRate);
        const auto first = static_cast<long>(kLeadIn * kRate);  // the original samples
        if (p_index - 100 - first < kSegment || p_index + 2000 > static_cast<long>(x.size()))
            continue;
        Recording r;
        r.noise.assign(x.begin() + first, x.begin() + p_index - 100);
        r.event.assign(x.begin() + p_index - 500, x.end());
        double mean = 0;
        for (double v : r.event) mean += v;
        mean /= static_cast<double>(r.event.size());
        const size_t n = r.event.size(), up = 100, down = 300;
        for (size_t i = 0; i < n; ++i) {
            double w = 1.0;
            if (i < up) w = 0.5 - 0.5 * std::cos(kPi * i / up);
            if (n - 1 - i < down) w = 0.5 - 0.5 * std::cos(kPi * (n - 1 - i) / down);
            r.event[i] = (r.event[i] - mean) * w;
        }
        all.push_back(std::move(r));
    }
    return all;
}

// Welch estimate per recording (Hann, half overlap), each scaled to unit power, averaged.
std::vector<double> averaged_spectrum(const std::vector<Recording>& recs) {
    kiss_fftr_cfg cfg = kiss_fftr_alloc(kSegment, 0, nullptr, nullptr);
    std::vector<double> avg(kSegment / 2 + 1, 0.0);
    std::vector<float> seg(kSegment);
    std::vector<kiss_fft_cpx> spec(kSegment / 2 + 1);
    for (const Recording& r : recs) {
        std::vector<double> psd(avg.size(), 0.0);
        for (size_t s = 0; s + kSegment <= r.noise.size(); s += kSegment / 2) {
            double mean = 0;
            for (int i = 0; i < kSegment; ++i) mean += r.noise[s + i];
            mean /= kSegment;
            for (int i = 0; i < kSegment; ++i)
                seg[i] = static_cast<float>((r.noise[s + i] - mean) *
                                            (0.5 - 0.5 * std::cos(2 * kPi * i / kSegment)));
            kiss_fftr(cfg, seg.data(), spec.data());
            for (size_t k = 0; k < psd.size(); ++k)
                psd[k] += double{spec[k].r} * spec[k].r + double{spec[k].i} * spec[k].i;
        }
        double total = 0;
        for (size_t k = 1; k < psd.size(); ++k) total += psd[k];
        if (total <= 0) continue;
        for (size_t k = 1; k < psd.size(); ++k) avg[k] += psd[k] / total;
    }
    kiss_fftr_free(cfg);
    avg[0] = 0.0;
    return avg;
}

// Gaussian noise shaped by `psd` (Welch bins) over n samples, RMS kNoiseRms.
std::vector<double> shaped_noise(const std::vector<double>& psd, size_t n, std::mt19937_64& rng) {
    const size_t even = n + (n & 1);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    std::vector<float> x(even);
    for (float& v : x) v = normal(rng);
    std::vector<kiss_fft_cpx> spec(even / 2 + 1);
    kiss_fftr_cfg fwd = kiss_fftr_alloc(static_cast<int>(even), 0, nullptr, nullptr);
    kiss_fftr_cfg inv = kiss_fftr_alloc(static_cast<int>(even), 1, nullptr, nullptr);
    kiss_fftr(fwd, x.data(), spec.data());
    for (size_t k = 0; k < spec.size(); ++k) {
        const double bin = static_cast<double>(k) * kSegment / static_cast<double>(even);
        const auto lo = static_cast<size_t>(bin);
        double p = 0.0;
        if (k > 0) {
            const size_t a = std::max<size_t>(1, std::min(lo, psd.size() - 1));
            const size_t b = std::min(a + 1, psd.size() - 1);
            const double f = std::clamp(bin - static_cast<double>(a), 0.0, 1.0);
            p = psd[a] * (1 - f) + psd[b] * f;
        }
        const auto g = static_cast<float>(std::sqrt(p));
        spec[k].r *= g, spec[k].i *= g;
    }
    kiss_fftri(inv, spec.data(), x.data());
    kiss_fftr_free(fwd);
    kiss_fftr_free(inv);
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += double{x[i]} * x[i];
    const double scale = kNoiseRms / std::sqrt(sum / static_cast<double>(n));
    std::vector<double> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = x[i] * scale;
    return out;
}

// Adds recordings at Poisson times, peak 1 to 300 times the noise RMS (log-uniform).
void add_events(std::vector<double>& x, const std::vector<Recording>& recs, double every,
                std::mt19937_64& rng) {
    std::exponential_distribution<double> gap(1.0 / every);
    std::uniform_int_distribution<size_t> pick(0, recs.size() - 1);
    std::uniform_real_distribution<double> strength(0.0, std::log(300.0));
    for (double t = gap(rng); t * kRate < static_cast<double>(x.size()); t += gap(rng)) {
        const std::vector<double>& e = recs[pick(rng)].event;
        double peak = 0;
        for (double v : e) peak = std::max(peak, std::fabs(v));
        if (peak <= 0) continue;
        const double scale = kNoiseRms * std::exp(strength(rng)) / peak;
        const auto at = static_cast<size_t>(t * kRate);
        for (size_t i = 0; i < e.size() && at + i < x.size(); ++i) x[at + i] += e[i] * scale;
    }
}

// Local noise of a busy site: 0.5 to 3 s bursts of 2 to 12 Hz, 3 to 30 times the RMS.
void add_bursts(std::vector<double>& x, double every, std::mt19937_64& rng) {
    std::exponential_distribution<double> gap(1.0 / every);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (double t = gap(rng); t * kRate < static_cast<double>(x.size()); t += gap(rng)) {
        const auto len = static_cast<size_t>((0.5 + 2.5 * u(rng)) * kRate);
        const double f = 2.0 + 10.0 * u(rng), a = kNoiseRms * (3.0 + 27.0 * u(rng));
        const auto at = static_cast<size_t>(t * kRate);
        for (size_t i = 0; i < len && at + i < x.size(); ++i) {
            const double w = std::sin(kPi * static_cast<double>(i) / static_cast<double>(len));
            x[at + i] += a * w * (std::sin(2 * kPi * f * i / kRate) + 0.3 * normal(rng));
        }
    }
}

bool write_channel(const std::string& out_dir, int index, double start,
                   const std::vector<double>& x) {
    MSTrace* mst = mst_init(nullptr);
    std::snprintf(mst->network, sizeof mst->network, "ZR");
    std::snprintf(mst->station, sizeof mst->station, "R%03d", index % 1000);
    std::snprintf(mst->channel, sizeof mst->channel, "HHZ");
    mst->dataquality = 'D';
    mst->starttime = static_cast<hptime_t>(std::llround(start * HPTMODULUS));
    mst->samprate = kRate;
    // mst_pack moves and reallocates the samples it packs: it gets its own copy.
    auto* data = static_cast<int32_t*>(std::malloc(x.size() * sizeof(int32_t)));
    if (data == nullptr) return false;
    for (size_t i = 0; i < x.size(); ++i)
        data[i] = static_cast<int32_t>(std::lround(std::clamp(x[i], -2e9, 2e9)));
    mst->datasamples = data;
    mst->numsamples = static_cast<int64_t>(x.size());
    mst->samplecnt = mst->numsamples;
    mst->sampletype = 'i';
    const std::string path = out_dir + "/" + mst->station + "_HHZ.mseed";
    const int records = mst_writemseed(mst, path.c_str(), 1, 4096, DE_STEIM2, 1, 0);
    mst_free(&mst);
    return records >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 9) {
        std::fprintf(stderr,
                     "usage: %s MSEED_DIR OUTDIR START CHANNELS SECONDS EVENT_EVERY BURST_EVERY "
                     "SEED\n",
                     argv[0]);
        return 2;
    }
    const std::vector<Recording> recs = load_recordings(argv[1]);
    if (recs.empty()) {
        std::fprintf(stderr, "no usable 100 samples/s recordings in %s\n", argv[1]);
        return 1;
    }
    const std::vector<double> psd = averaged_spectrum(recs);
    const double start = std::atof(argv[3]);
    const int channels = std::atoi(argv[4]);
    const auto n = static_cast<size_t>(std::atof(argv[5]) * kRate);
    const double event_every = std::atof(argv[6]), burst_every = std::atof(argv[7]);
    std::mt19937_64 rng(std::strtoull(argv[8], nullptr, 10));
    std::fprintf(stderr, "noise spectrum from %zu recordings\n", recs.size());
    for (int c = 0; c < channels; ++c) {
        std::vector<double> x = shaped_noise(psd, n, rng);
        if (event_every > 0) add_events(x, recs, event_every, rng);
        if (burst_every > 0) add_bursts(x, burst_every, rng);
        if (!write_channel(argv[2], c, start, x)) {
            std::fprintf(stderr, "cannot write channel %d\n", c);
            return 1;
        }
    }
    return 0;
}
