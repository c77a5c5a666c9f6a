// StaLtaTrigger: refused windows, the 3n + 1 quiet samples, an all-zero input, the
// hold-over, the power meaning of the threshold, and bit-for-bit agreement of the ring
// buffer with the shifting form over real recordings.
#include "signal/sta_lta_trigger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "signal/iir_filter.h"
#include "signal/shifting_sta_lta_trigger.h"
#include "tests/support/mseed_trace.h"

namespace zelvik::detect {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(StaLtaTrigger, RefusesUnusableParametersAndThenNeverTriggers) {
    struct Case {
        double rate;
        int lta, sta;
        double threshold;
    };
    const Case cases[] = {
        {0.0, 200, 20, 5},
        {-20.0, 200, 20, 5},
        {NAN, 200, 20, 5},
        {INFINITY, 200, 20, 5},
        {20.0, 0, 20, 5},
        {20.0, 200, 0, 5},
        {20.0, -1, 20, 5},
        {20.0, 200, -20, 5},
        {20.0, StaLtaTrigger::kMaxWindowSamples, 1, 5},
        {20.0, 2147483647, 2147483647, 5},
        {20.0, 200, 20, NAN},
    };
    for (const Case& c : cases) {
        StaLtaTrigger t;
        EXPECT_FALSE(t.init(c.rate, c.lta, c.sta, c.threshold))
            << c.rate << " " << c.lta << " " << c.sta;
        EXPECT_FALSE(t.last_error().empty());
        for (int i = 0; i < 3000; ++i) ASSERT_EQ(t.process(i % 2 ? 1e6 : -1e6), 0);
        ShiftingStaLtaTrigger s;
        EXPECT_FALSE(s.init(c.rate, c.lta, c.sta, c.threshold));
    }
}

// Index of the first sample that answers 1, -1 when none does.
int first_trigger(StaLtaTrigger& t, const std::vector<double>& x) {
    for (size_t i = 0; i < x.size(); ++i) {
        if (t.process(x[i]) == 1) return static_cast<int>(i);
    }
    return -1;
}

TEST(StaLtaTrigger, FirstThreeNPlusOneSamplesAreQuiet) {
    // 20 samples/s, LTA 10 s, STA 1 s: n = 220. Silence, then from sample `from` a signal
    // growing by 2 % a sample, whose STA variance stays far above 5 times the LTA
    // variance: it would trigger at once, so only the quiet count holds it off.
    struct Case {
        int from;
        int first;
    };
    const Case cases[] = {{0, 661}, {300, 661}, {660, 661}, {661, 661}, {700, 700}};
    for (const Case& c : cases) {
        std::vector<double> x(1500, 0.0);
        for (size_t i = static_cast<size_t>(c.from); i < x.size(); ++i) {
            x[i] = std::cos(2 * kPi * 0.37 * i) * std::pow(1.02, static_cast<double>(i) - c.from);
        }
        StaLtaTrigger t;
        ASSERT_TRUE(t.init(20.0, 200, 20, 5.0));
        EXPECT_EQ(t.hold_length(), 100);
        EXPECT_EQ(first_trigger(t, x), c.first) << "signal from " << c.from;
    }
}

TEST(StaLtaTrigger, AllZeroInputNeverTriggersAndReadsRatioOneHundredMillion) {
    StaLtaTrigger t;
    ASSERT_TRUE(t.init(20.0, 200, 20, 5.0));
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(t.process(0.0), 0) << i;
    EXPECT_EQ(t.ratio(), 1e8f);
    EXPECT_EQ(t.sta_variance(), 0.0);
}

// Steady sine of amplitude 1, then from sample 2000 one of amplitude `step`: the ratio
// of variances climbs to about step^2, so threshold 5 needs an amplitude ratio of ~2.24.
TEST(StaLtaTrigger, ThresholdIsAPowerRatio) {
    struct Case {
        double step;
        bool triggers;
    };
    const Case cases[] = {{2.0, false}, {2.2, false}, {2.3, true}, {3.0, true}};
    for (const Case& c : cases) {
        std::vector<double> x(3000);
        // 2 Hz at 20 samples/s: every window holds whole periods, so variances are exact.
        for (size_t i = 0; i < x.size(); ++i)
            x[i] = (i < 2000 ? 1.0 : c.step) * std::sin(2 * kPi * 2.0 * i / 20.0);
        StaLtaTrigger t;
        ASSERT_TRUE(t.init(20.0, 200, 20, 5.0));
        const int first = first_trigger(t, x);
        EXPECT_EQ(first >= 0, c.triggers) << "amplitude step " << c.step << " first " << first;
    }
}

// Variances of the STA and LTA windows ending at sample i, summed directly (no running
// means), to find independently where the trigger condition holds.
bool condition_holds(const std::vector<double>& x, int i, int nl, int ns, double threshold) {
    auto variance = [&](int from, int count) {
        double s = 0, s2 = 0;
        for (int k = from; k < from + count; ++k) s += x[k], s2 += x[k] * x[k];
        return s2 / count - (s / count) * (s / count);
    };
    return variance(i - ns + 1, ns) > threshold * variance(i - ns - nl + 1, nl);
}

TEST(StaLtaTrigger, HoldsOverForExactlyFiveSecondsAfterTheLastExceedance) {
    // Low noise-like background, one strong burst of 1.5 s.
    std::vector<double> x(3000);
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = std::sin(2 * kPi * 0.31 * i) + 0.7 * std::sin(2 * kPi * 0.17 * i + 1.0);
        if (i >= 1500 && i < 1530) x[i] += 40.0 * std::sin(2 * kPi * 0.23 * i);
    }
    int first_expected = -1, last_expected = -1;
    for (int i = 661; i < static_cast<int>(x.size()); ++i) {
        if (condition_holds(x, i, 200, 20, 5.0)) {
            if (first_expected < 0) first_expected = i;
            last_expected = i;
        }
    }
    ASSERT_GE(first_expected, 1500);
    StaLtaTrigger t;
    ASSERT_TRUE(t.init(20.0, 200, 20, 5.0));
    int first = -1, last = -1;
    for (int i = 0; i < static_cast<int>(x.size()); ++i) {
        if (t.process(x[i]) == 1) {
            if (first < 0) first = i;
            last = i;
        }
    }
    EXPECT_EQ(first, first_expected);
    EXPECT_EQ(last, last_expected + 100);  // hold length at 20 samples/s
}

// Every real recording, filtered as the trigger filter would, one after the other.
std::vector<double> long_real_recording() {
    std::vector<double> all;
    for (const testing::Pick& p : testing::read_picks(ZELVIK_REAL_DATA_DIR "/picks.csv")) {
        testing::Trace trace;
        if (!testing::read_vertical(std::string(ZELVIK_REAL_DATA_DIR "/") + p.file, trace))
            continue;
        IirFilter f;
        if (!f.design(3, "BP", 1.0f, 5.0f, static_cast<float>(1.0 / trace.sample_rate))) continue;
        for (const double v : trace.samples) all.push_back(f.apply(v));
    }
    return all;
}

TEST(StaLtaTrigger, RingBufferEqualsShiftingFormBitForBitOnRealData) {
    const std::vector<double> x = long_real_recording();
    ASSERT_GE(x.size(), 120000u) << "real recordings missing";
    struct Case {
        int lta, sta;
        double threshold;
    };
    const Case cases[] = {{1000, 100, 5.0}, {10000, 100, 5.0}, {1000, 50, 3.0}};
    for (const Case& c : cases) {
        StaLtaTrigger ring;
        ShiftingStaLtaTrigger shifting;
        ASSERT_TRUE(ring.init(100.0, c.lta, c.sta, c.threshold));
        ASSERT_TRUE(shifting.init(100.0, c.lta, c.sta, c.threshold));
        size_t differences = 0, triggered = 0;
        for (const double v : x) {
            const int a = ring.process(v), b = shifting.process(v);
            const double va = ring.sta_variance(), vb = shifting.sta_variance();
            const float ra = ring.ratio(), rb = shifting.ratio();
            if (a != b || std::memcmp(&va, &vb, sizeof va) != 0 ||
                std::memcmp(&ra, &rb, sizeof ra) != 0) {
                ++differences;
            }
            triggered += static_cast<size_t>(a);
        }
        EXPECT_EQ(differences, 0u) << "LTA " << c.lta << " STA " << c.sta;
        EXPECT_GT(triggered, 0u) << "the recordings should trigger";
    }
}

}  // namespace
}  // namespace zelvik::detect
