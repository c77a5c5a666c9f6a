// The AIC picker on synthetic arrivals with known onsets: noise of RMS 1, a louder signal
// from a known sample on, the crossing a known time after that. The noise is uniform, so
// bounded: a Gaussian tail sample of 3 RMS just before the onset is, to the criterion,
// rightly more likely part of the arrival, and "within one sample" would hold by chance. Onsets are
// exact sample times, so "within one sample" is checked against 1 / rate.
#include "signal/aic_picker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace zelvik::detect {
namespace {

constexpr double kT0 = 1.7e9;  // time of sample 0

// Uniform noise of RMS 1 over `seconds`, times `gain(i)` from sample `onset` on.
template <typename Gain>
std::vector<double> arrival(double rate, double seconds, size_t onset, Gain gain, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-std::sqrt(3.0), std::sqrt(3.0));
    std::vector<double> x(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < x.size(); ++i) x[i] = noise(random) * (i < onset ? 1.0 : gain(i));
    return x;
}

// Feeds x[0..end] and picks with the crossing at sample `end`, STA 1 s.
OnsetPick pick_at(const std::vector<double>& x, size_t end, double rate, AicPicker& picker) {
    const double crossing = kT0 + static_cast<double>(end) / rate;
    picker.push(x.data(), end + 1);
    return picker.pick(crossing, crossing - 0.5);
}

TEST(AicPicker, FindsAStepWithinOneSampleAtLowMiddleAndHighRates) {
    for (const double rate : {20.0, 100.0, 1000.0}) {
        for (unsigned seed = 1; seed <= 5; ++seed) {
            SCOPED_TRACE(::testing::Message() << rate << " samples/s, seed " << seed);
            // Noise, then from `onset` on a wave of amplitude 12 and a period of 10 samples
            // (2 Hz at 20 samples/s, 100 Hz at 1000) that starts at its crest.
            const auto onset = static_cast<size_t>(8.0 * rate);
            auto x = arrival(
                rate, 10.0, onset, [](size_t) { return 1.0; }, seed);
            for (size_t i = onset; i < x.size(); ++i)
                x[i] += 12.0 * std::cos(2.0 * M_PI * static_cast<double>(i - onset) / 10.0);
            AicPicker picker;
            ASSERT_TRUE(picker.configure(rate, 1.0));
            const size_t end = onset + static_cast<size_t>(0.3 * rate);
            const OnsetPick p = pick_at(x, end, rate, picker);
            ASSERT_EQ(p.fallback, PickFallback::kNone);
            EXPECT_NEAR(p.time, kT0 + static_cast<double>(onset) / rate, 1.0 / rate);
            EXPECT_GT(p.snr, 5.0);
            EXPECT_LE(p.time, kT0 + static_cast<double>(end) / rate);
            EXPECT_LE(p.grade, 1);
        }
    }
}

TEST(AicPicker, NeverPicksAfterTheCrossingNorMoreThanOneStaFromTheOnset) {
    // Arrivals anywhere from 3 s before the crossing to the crossing itself, and none.
    const double rate = 100.0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        const size_t end = 900;
        const size_t onset = end - (seed * 7) % 300;
        const double gain = seed % 5 == 0 ? 1.0 : 2.0 + seed % 7;
        const auto x = arrival(
            rate, 10.0, onset, [&](size_t) { return gain; }, seed);
        AicPicker picker;
        ASSERT_TRUE(picker.configure(rate, 1.0));
        const double crossing = kT0 + static_cast<double>(end) / rate;
        const OnsetPick p = pick_at(x, end, rate, picker);
        EXPECT_LE(p.time, crossing) << "seed " << seed;
        EXPECT_LE(std::fabs(p.time - p.trigger_onset), 1.0 + 1e-9) << "seed " << seed;
    }
}

TEST(AicPicker, EmergentArrivalGradesWorseThanImpulsive) {
    const double rate = 100.0;
    const size_t onset = 800;
    AicPicker impulsive_picker, emergent_picker;
    ASSERT_TRUE(impulsive_picker.configure(rate, 1.0));
    ASSERT_TRUE(emergent_picker.configure(rate, 1.0));
    // The same final amplitude: at once, or growing over 1.2 s (crossing when it is 2/3 grown).
    const auto impulsive = arrival(
        rate, 10.0, onset, [](size_t) { return 10.0; }, 3);
    const auto emergent = arrival(
        rate, 10.0, onset,
        [&](size_t i) { return 1.0 + 9.0 * std::min(1.0, static_cast<double>(i - onset) / 120.0); },
        3);
    const OnsetPick a = pick_at(impulsive, onset + 20, rate, impulsive_picker);
    const OnsetPick b = pick_at(emergent, onset + 80, rate, emergent_picker);
    EXPECT_EQ(a.fallback, PickFallback::kNone);
    EXPECT_LE(a.grade, 1);
    EXPECT_GT(b.grade, a.grade);
}

TEST(AicPicker, FallsBackToTheTriggerOnsetAndSaysWhy) {
    const double rate = 100.0;
    const auto step = arrival(
        rate, 10.0, 800, [](size_t) { return 8.0; }, 4);
    const double crossing = kT0 + 8.3;

    // Start of data: only 1.2 s of history, less than the search range and its noise.
    AicPicker start;
    ASSERT_TRUE(start.configure(rate, 1.0));
    start.push(step.data() + 711, 120);
    OnsetPick p = start.pick(crossing, crossing - 0.5);
    EXPECT_EQ(p.fallback, PickFallback::kShortHistory);
    EXPECT_EQ(p.time, crossing - 0.5);
    EXPECT_EQ(p.grade, 4);
    EXPECT_STREQ(to_string(p.fallback), "too little data before the onset");

    // Right after a gap: plenty was pushed, but restart() cut it off.
    AicPicker gap;
    ASSERT_TRUE(gap.configure(rate, 1.0));
    gap.push(step.data(), 700);
    gap.restart();
    gap.push(step.data() + 781, 50);
    EXPECT_EQ(gap.pick(crossing, crossing - 0.5).fallback, PickFallback::kShortHistory);

    // Noise alone, no change for the criterion to find.
    const auto noise = arrival(
        rate, 10.0, 1000, [](size_t) { return 1.0; }, 5);
    AicPicker flat;
    ASSERT_TRUE(flat.configure(rate, 1.0));
    p = pick_at(noise, 830, rate, flat);
    EXPECT_EQ(p.fallback, PickFallback::kNoClearMinimum);
    EXPECT_EQ(p.time, p.trigger_onset);
    EXPECT_EQ(p.grade, 4);

    // Not configured (a refused rate): never a pick.
    AicPicker refused;
    EXPECT_FALSE(refused.configure(0.0, 1.0));
    refused.push(step.data(), 830);
    EXPECT_EQ(refused.pick(crossing, crossing - 0.5).fallback, PickFallback::kShortHistory);
}

TEST(AicPicker, GradeIsTheWorseOfTimeAndSnr) {
    struct Case {
        double snr, uncertainty;
        int grade;
    };
    const Case cases[] = {
        {20.0, 0.01, 0}, {20.0, 0.08, 1}, {4.0, 0.01, 2}, {20.0, 0.3, 3},
        {1.2, 0.01, 4},  {20.0, 0.6, 4},  {0.0, 0.01, 4}, {20.0, -1.0, 4},
    };
    for (const Case& c : cases) EXPECT_EQ(pick_grade(c.snr, c.uncertainty), c.grade) << c.snr;
}

}  // namespace
}  // namespace zelvik::detect
