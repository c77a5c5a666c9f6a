// The fast measurement against the direct transform and the rescanning swing search
// (the reference): the same period, the same amplitude in counts and the same winner
// among near-equal lines, on every window length class (short, odd, prime, the largest
// a 5 s window can have), on degenerate windows and on the real recordings.
#include "signal/window_measurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "channel/detection_record.h"
#include "common/log.h"
#include "signal/detection_rule.h"
#include "signal/dominant_period.h"
#include "signal/iir_filter.h"
#include "signal/instrument_response.h"
#include "signal/sliding_extremes.h"
#include "signal/spectrum_lines.h"
#include "tests/support/mseed_trace.h"

namespace zelvik::detect {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<double> noise(int n, uint32_t seed, double sigma = 100.0) {
    std::mt19937 random(seed);
    std::normal_distribution<double> d(0.0, sigma);
    std::vector<double> v(static_cast<size_t>(n));
    for (double& x : v) x = d(random);
    return v;
}

void expect_same_as_reference(const std::vector<double>& v, double dt) {
    const int n = static_cast<int>(v.size());
    const WindowMeasurement fast = measure_window(v.data(), n, dt);
    const WindowMeasurement reference = measure_window_direct(v.data(), n, dt);
    EXPECT_EQ(fast.period, reference.period) << "N = " << n;
    EXPECT_EQ(fast.amplitude_counts, reference.amplitude_counts) << "N = " << n;
}

TEST(SlidingExtremes, LargestSwingEqualsTheRescanForEverySpan) {
    // Steps, plateaus (equal values at both ends of a span) and noise; spans from one
    // sample to longer than the window.
    for (int n = 1; n <= 64; ++n) {
        const std::vector<double> rough = noise(n, static_cast<uint32_t>(n));
        std::vector<double> plateaus(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) plateaus[i] = static_cast<double>((i / 3) % 4) - (i % 7 == 0);
        const std::vector<double>* const windows[] = {&rough, &plateaus};
        for (const std::vector<double>* s : windows) {
            for (const int m : {0, 1, 2, 3, 4, 5, 6, 20, 29, 63, 96, 97, 1000}) {
                EXPECT_EQ(largest_swing(s->data(), n, m), direct_largest_swing(s->data(), n, m))
                    << "N = " << n << ", M = " << m;
            }
        }
    }
    const std::vector<double> long_window = noise(5000, 3);
    for (const int m : {1, 7, 150, 4000, 7500})
        EXPECT_EQ(largest_swing(long_window.data(), 5000, m),
                  direct_largest_swing(long_window.data(), 5000, m));
}

TEST(SpectrumLines, EveryLineLiesWithinTheBoundForAllShortLengthsAndPrimes) {
    // The exactness of the period search rests on this bound; a quarter of it leaves a
    // margin for windows not tried here. Lengths 2..400 take every path (KissFFT's own
    // radices, its generic butterfly up to 11, Bluestein above); the others are primes,
    // odd and smooth lengths up to the largest window (5 s at 10,000 samples/s).
    SpectrumLines lines;
    std::vector<int> lengths;
    for (int n = 2; n <= 400; ++n) lengths.push_back(n);
    for (const int n : {997, 1000, 4999, 5000, 7919, 9973, 49999, 50000}) lengths.push_back(n);
    double worst = 0.0;
    for (const int n : lengths) {
        std::vector<double> v = noise(n, static_cast<uint32_t>(n) * 7u);
        for (int j = 0; j < n; ++j) v[j] += 1e3 * std::sin(2 * kPi * 13.0 * j / n + 0.3);
        std::vector<double> fast;
        ASSERT_TRUE(lines.compute(v, fast)) << n;
        ASSERT_EQ(fast.size(), static_cast<size_t>(n / 2 + 1));
        ASSERT_GT(lines.error_bound(), 0.0);
        const int step = n > 2000 ? n / 400 : 1;  // the direct lines of a long window are costly
        for (int k = 0; k <= n / 2; k += step) {
            const double error = std::fabs(fast[k] - direct_line_magnitude(v, k));
            worst = std::fmax(worst, error / lines.error_bound());
            ASSERT_LT(error, 0.25 * lines.error_bound()) << "N = " << n << ", k = " << k;
        }
    }
    std::printf("largest error seen: %.2e of the bound\n", worst);
}

TEST(WindowMeasurement, SameAsTheReferenceOnEveryLengthClass) {
    const double dt = 0.01;
    for (int n = 0; n <= 300; ++n) {
        std::vector<double> v = noise(n, static_cast<uint32_t>(n) + 11u);
        for (int j = 0; j < n; ++j) v[j] += 500.0 * std::sin(2 * kPi * 1.3 * j * dt);
        expect_same_as_reference(v, dt);
    }
    // Odd, prime and smooth lengths of real windows: 5 s at 100, 199.8, 1000 samples/s.
    for (const int n : {499, 500, 501, 503, 997, 999, 1000, 4999, 5000, 5003}) {
        expect_same_as_reference(noise(n, static_cast<uint32_t>(n)), dt);
    }
}

TEST(WindowMeasurement, NearEqualLinesKeepTheReferenceWinner) {
    // Two cosines on lines k1 < k2 with amplitudes a and a (1 + d). The period search
    // alone (no detrending, which would shift the lines by different amounts): for d
    // beyond the rounding k2 wins when d > 0 and k1 otherwise; within the rounding the
    // reference's own arithmetic decides, and the fast search must follow it. The whole
    // measurement is compared too.
    const double dt = 0.01;
    const double deltas[] = {0.0,   1e-16,  -1e-16, 1e-14, -1e-14, 1e-12, -1e-12,
                             1e-10, -1e-10, 1e-7,   -1e-7, 1e-4,   -1e-4};
    struct Pair {
        int n, k1, k2;
    };
    SpectrumLines lines;
    for (const Pair p : {Pair{500, 5, 9}, Pair{500, 6, 7}, Pair{499, 4, 11}, Pair{997, 10, 31},
                         Pair{5000, 50, 51}, Pair{6, 2, 2}}) {
        for (const double d : deltas) {
            std::vector<double> v(static_cast<size_t>(p.n));
            for (int j = 0; j < p.n; ++j) {
                v[j] = 1000.0 * std::cos(2 * kPi * p.k1 * j / p.n) +
                       1000.0 * (1.0 + d) * std::cos(2 * kPi * p.k2 * j / p.n + 0.7);
            }
            SCOPED_TRACE("N = " + std::to_string(p.n) + ", d = " + std::to_string(d));
            const double fast = dominant_period(v, dt, lines);
            EXPECT_EQ(fast, direct_dominant_period(v, dt));
            if (std::fabs(d) >= 1e-7) {
                const int winner = d > 0 ? p.k2 : p.k1;
                EXPECT_DOUBLE_EQ(fast, p.n * dt / winner);
            }
            expect_same_as_reference(v, dt);
        }
    }
}

TEST(WindowMeasurement, DegenerateWindowsAsTheReference) {
    const double dt = 0.01;
    struct Case {
        const char* what;
        std::vector<double> v;
    };
    std::vector<Case> cases;
    for (const int n : {1, 2, 5, 6, 7, 500, 997}) {
        cases.push_back({"all equal", std::vector<double>(static_cast<size_t>(n), 1234.5)});
        cases.push_back({"all zero", std::vector<double>(static_cast<size_t>(n), 0.0)});
        std::vector<double> huge = noise(n, 5, 1e30);
        cases.push_back({"huge", huge});
        std::vector<double> ramp(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) ramp[i] = 1e30 + 3e28 * i;
        cases.push_back({"huge ramp", ramp});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", N = " + std::to_string(c.v.size()));
        expect_same_as_reference(c.v, dt);
        const WindowMeasurement w = measure_window(c.v.data(), static_cast<int>(c.v.size()), dt);
        EXPECT_TRUE(std::isfinite(w.period));
        EXPECT_TRUE(std::isfinite(w.amplitude_counts) || std::fabs(c.v[0]) > 1e29);
        if (c.v.size() < 6) {
            EXPECT_EQ(w.period, 0.0);
        }
    }
    // Six samples: k = 2 is the only line searched (k < N/2 = 3).
    std::vector<double> six = {0, 1, 0, -1, 0, 1};
    EXPECT_DOUBLE_EQ(measure_window(six.data(), 6, dt).period, 6 * dt / 2);
}

// Directory of the shared real recordings when the checkout sits beside it, else the
// recordings kept in the repository.
std::string real_recordings_dir() {
    for (const char* dir : {ZELVIK_SHARED_REAL_MSEED_DIR, ZELVIK_REAL_DATA_DIR}) {
        if (std::filesystem::is_directory(dir)) return dir;
    }
    return ZELVIK_REAL_DATA_DIR;
}

TEST(WindowMeasurement, SameAsTheReferenceOnEveryDetectionOfTheRealRecordings) {
    common::log_reset_for_testing();
    const std::string dir = real_recordings_dir();
    int files = 0, detections = 0, windows = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".mseed") continue;
        testing::Trace trace;
        if (!testing::read_vertical(entry.path().string(), trace)) continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        const auto dt = static_cast<float>(1.0 / trace.sample_rate);
        IirFilter trigger_filter, measurement_filter;
        ASSERT_TRUE(trigger_filter.design(3, "BP", 1.0f, 5.0f, dt));
        ASSERT_TRUE(measurement_filter.design(2, "BP", 0.6f, 1.9f, dt));
        DetectionRule rule;
        ASSERT_TRUE(rule.init(trace.sample_rate, 10.0, 1.0, 5.0));
        const auto capacity = static_cast<size_t>(trace.sample_rate * 5.0);
        std::vector<double> m(trace.samples.size());
        std::vector<size_t> starts;
        for (size_t i = 0; i < trace.samples.size(); ++i) {
            m[i] = measurement_filter.apply(trace.samples[i]);
            if (rule.process(trigger_filter.apply(trace.samples[i]), trace.start + i * double{dt}))
                starts.push_back(i);
        }
        detections += static_cast<int>(starts.size());
        // Every detection, and every 5 s of the recording (noise, P and S coda).
        for (size_t i = 0; i + capacity <= m.size(); i += capacity) starts.push_back(i);
        for (const size_t i : starts) {
            const size_t n = std::min(capacity, m.size() - i);
            const std::vector<double> window(m.begin() + static_cast<long>(i),
                                             m.begin() + static_cast<long>(i + n));
            expect_same_as_reference(window, 1.0 / trace.sample_rate);
            ++windows;
        }
    }
    EXPECT_GE(files, 5);
    EXPECT_GE(detections, files / 2);
    std::printf("%d recordings, %d detections, %d windows compared (%s)\n", files, detections,
                windows, dir.c_str());
}

}  // namespace
}  // namespace zelvik::detect
