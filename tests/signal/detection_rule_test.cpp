// DetectionRule: warm-up lengths, the onset half an STA window before the trigger, and
// one detection per rising edge of the trigger.
#include "signal/detection_rule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/civil_time.h"

namespace zelvik::detect {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(DetectionRule, WarmupLengthUsesAtLeastSixtySeconds) {
    struct Case {
        double rate, lta;
        int expected;
    };
    const Case cases[] = {
        {20, 10, 2400},   // 60 s governs
        {20, 100, 4000},  // the LTA governs
        {100, 10, 12000}, {100, 60, 12000},
        {0.5, 10, 60},    {1e9, 1e9, 2147483646},  // saturates instead of overflowing
    };
    for (const Case& c : cases)
        EXPECT_EQ(DetectionRule::warmup_length_for(c.rate, c.lta), c.expected);
}

TEST(DetectionRule, RefusesWindowsTheTriggerCannotUse) {
    DetectionRule rule;
    EXPECT_FALSE(rule.init(20.0, 10.0, 0.01, 5.0));  // STA below one sample
    EXPECT_FALSE(rule.last_error().empty());
    EXPECT_FALSE(rule.process(1e6, 0.0));
}

TEST(DetectionRule, OnsetIsHalfAnStaWindowBeforeTheTriggeringSample) {
    // Silence through the warm-up (2400 samples at 20/s), then a signal whose first
    // sample, at 12:00:10.000, triggers at once against an LTA variance of 0.
    const double t_trigger = common::epoch_from_civil({2026, 12, 9, 12, 0, 10.0});
    const int first = 2600;
    DetectionRule rule;
    ASSERT_TRUE(rule.init(20.0, 10.0, 1.0, 5.0));
    int detections = 0;
    for (int i = 0; i < 3000; ++i) {
        const double y = i < first ? 0.0 : 100.0 * std::cos(2 * kPi * 1.3 * (i - first) / 20.0);
        if (rule.process(y, t_trigger + (i - first) / 20.0)) {
            ++detections;
            EXPECT_EQ(i, first);
        }
    }
    EXPECT_EQ(detections, 1);
    EXPECT_DOUBLE_EQ(rule.onset(), common::epoch_from_civil({2026, 12, 9, 12, 0, 9.5}));
}

TEST(DetectionRule, OneDetectionPerRisingEdgeAndNoneDuringWarmup) {
    // At 20 samples/s the hold-over is 100 samples (5 s). Bursts: one inside the warm-up,
    // two separated by a 2 s dip (one event), and one after a long quiet stretch.
    struct Burst {
        int from, to;
    };
    const Burst bursts[] = {{1000, 1060}, {3000, 3040}, {3080, 3120}, {5000, 5040}};
    std::vector<double> x(6000);
    for (int i = 0; i < static_cast<int>(x.size()); ++i) {
        x[i] = std::sin(2 * kPi * 0.29 * i) + 0.5 * std::sin(2 * kPi * 0.113 * i);
        for (const Burst& b : bursts) {
            if (i >= b.from && i < b.to) x[i] += 50.0 * std::sin(2 * kPi * 0.21 * i);
        }
    }
    DetectionRule rule;
    ASSERT_TRUE(rule.init(20.0, 10.0, 1.0, 5.0));
    std::vector<int> at;
    bool in_event_during_dip = false;
    for (int i = 0; i < static_cast<int>(x.size()); ++i) {
        if (rule.process(x[i], i / 20.0)) at.push_back(i);
        if (i == 3070) in_event_during_dip = rule.in_event();
    }
    ASSERT_EQ(at.size(), 2u);
    EXPECT_GE(at[0], 3000);
    EXPECT_LT(at[0], 3040);
    EXPECT_GE(at[1], 5000);
    EXPECT_LT(at[1], 5040);
    EXPECT_TRUE(in_event_during_dip);
}

TEST(DetectionRule, ScanFindsTheDetectionsAndStateOfSampleBySample) {
    // Bursts every 50 s, some of them close enough to merge through the hold-over; both
    // rules see the same samples, one by process(), one by scan() over uneven blocks.
    const double rate = 20.0, t0 = 1.7e9;
    std::vector<double> y(40000);
    for (size_t i = 0; i < y.size(); ++i) {
        y[i] = std::sin(2 * kPi * 0.29 * i) + 0.5 * std::sin(2 * kPi * 0.113 * i);
        if (i % 1000 < 40 || (i % 3000 >= 1080 && i % 3000 < 1110))
            y[i] += 40.0 * std::sin(2 * kPi * 0.21 * i);
    }
    DetectionRule single, scanned;
    ASSERT_TRUE(single.init(rate, 10.0, 1.0, 5.0));
    ASSERT_TRUE(scanned.init(rate, 10.0, 1.0, 5.0));
    struct Detection {
        size_t index;
        double onset, sta_variance;
        bool operator==(const Detection&) const = default;
    };
    std::vector<Detection> expected, found;
    for (size_t i = 0; i < y.size(); ++i) {
        if (single.process(y[i], t0 + static_cast<double>(i) / rate))
            expected.push_back({i, single.onset(), single.trigger().sta_variance()});
    }
    ASSERT_GT(expected.size(), 10u);
    for (size_t block = 0, n = 1; block < y.size(); block += n, n = n * 3 + 1) {
        const size_t count = std::min(n, y.size() - block);
        const BlockClock clock{t0, rate, block};
        for (size_t k = 0; k < count; ++k) {
            k = scanned.scan(y.data() + block, k, count, clock);
            if (k < count)
                found.push_back({block + k, scanned.onset(), scanned.trigger().sta_variance()});
        }
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(scanned.trigger().ratio(), single.trigger().ratio());
    EXPECT_EQ(scanned.in_event(), single.in_event());
}

TEST(DetectionRule, ScanOfAnUnreadyRuleTakesEverySampleAndDetectsNothing) {
    DetectionRule rule;
    ASSERT_FALSE(rule.init(20.0, 10.0, 0.01, 5.0));
    const double y[4] = {1e6, -1e6, 1e6, -1e6};
    EXPECT_EQ(rule.scan(y, 0, 4, BlockClock{0.0, 20.0, 0}), 4u);
    EXPECT_EQ(rule.scan(y, 4, 4, BlockClock{0.0, 20.0, 0}), 4u);
}

}  // namespace
}  // namespace zelvik::detect
