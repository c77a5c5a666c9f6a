// The refined onset as the channel chain makes it: on the real recordings beside their
// analyst P picks, in the log right after the measurement line, and falling back where a
// gap leaves too little before the detection. Settings of scripts/demo.sh (order 3,
// 1-5 Hz, STA 1 s, LTA 10 s, threshold 5).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "channel/channel_chain.h"
#include "common/log.h"
#include "tests/support/mseed_trace.h"

namespace zelvik::detect {
namespace {

struct Lines : common::LogHold {
    std::vector<std::string> lines;
    void hold(std::string_view m) override { lines.emplace_back(m); }
};

struct Keep : MeasurementSink {
    std::vector<Measurement> stored;
    void store(const Measurement& m) override { stored.push_back(m); }
};

ChannelSettings demo_settings() {
    ChannelSettings s;
    s.station = "TST", s.channel = "HHZ";
    s.order = 3, s.fr1 = 1.0f, s.fr2 = 5.0f;
    return s;
}

// Runs `x` through a fresh chain as stretches starting at the given sample indices.
std::vector<Measurement> run_chain(const std::vector<float>& x, double start, double rate,
                                   const std::vector<db::FilledRange>& stretches) {
    const ChannelSettings settings = demo_settings();
    Keep keep;
    ChannelChain chain(
        settings, keep, [](double, double, float) {}, [](const std::string&) {});
    EXPECT_TRUE(chain.build(rate));
    StepBuffers buffers;
    buffers.samples = x;
    buffers.capacity = x.size();
    buffers.window_start = start;
    buffers.filled = stretches;
    chain.process_window(buffers);
    chain.finish_open_measurements();
    return keep.stored;
}

TEST(ChannelChainPick, RealEarthquakesArePickedNearTheAnalystPAndLoggedAfterTheMeasurement) {
    const std::vector<testing::Pick> picks = testing::read_picks(ZELVIK_REAL_DATA_DIR "/picks.csv");
    ASSERT_GE(picks.size(), 5u);
    for (const testing::Pick& pick : picks) {
        SCOPED_TRACE(pick.file);
        testing::Trace trace;
        ASSERT_TRUE(
            testing::read_vertical(std::string(ZELVIK_REAL_DATA_DIR "/") + pick.file, trace));
        const std::vector<float> x(trace.samples.begin(), trace.samples.end());
        Lines log;
        std::vector<Measurement> stored;
        {
            common::ScopedLogHold hold(&log);
            stored = run_chain(x, trace.start, trace.sample_rate, {{0, x.size()}});
        }
        ASSERT_EQ(stored.size(), 1u);
        ASSERT_TRUE(stored[0].pick.has_value());
        const OnsetPick& p = *stored[0].pick;
        EXPECT_EQ(p.fallback, PickFallback::kNone);
        EXPECT_EQ(p.trigger_onset, stored[0].onset);
        EXPECT_NEAR(p.time, pick.p_arrival, 0.3);
        EXPECT_LE(p.time, p.trigger_onset + 0.5);  // the crossing: onset + STA / 2
        EXPECT_LE(p.grade, 1);
        ASSERT_EQ(log.lines.size(), 2u);
        EXPECT_EQ(log.lines[0].rfind("Ch: TST.HHZ.?? ", 0), 0u) << log.lines[0];
        EXPECT_EQ(log.lines[1].rfind("Pick: TST.HHZ.?? P ", 0), 0u) << log.lines[1];
        EXPECT_NE(log.lines[1].find(" UTC, "), std::string::npos) << log.lines[1];
    }
}

TEST(ChannelChainPick, ADetectionRightAfterAGapKeepsTheTriggerOnsetAndSaysSo) {
    // 200 s of noise, a 3 s hole (shorter than the LTA: the trigger runs on), then a
    // strong 4 Hz arrival at once: the trigger crosses within the first samples.
    const double rate = 100.0, start = 1.7e9;
    std::mt19937 random(11);
    std::normal_distribution<float> noise(0.0f, 10.0f);
    std::vector<float> x(21000);
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = noise(random);
        if (i >= 20300) x[i] += 2000.0f * static_cast<float>(std::sin(2 * M_PI * 4.0 * i / rate));
    }
    Lines log;
    std::vector<Measurement> stored;
    {
        common::ScopedLogHold hold(&log);
        stored = run_chain(x, start, rate, {{0, 20000}, {20300, 700}});
    }
    ASSERT_EQ(stored.size(), 1u);
    ASSERT_TRUE(stored[0].pick.has_value());
    EXPECT_EQ(stored[0].pick->fallback, PickFallback::kShortHistory);
    EXPECT_EQ(stored[0].pick->time, stored[0].onset);
    EXPECT_EQ(stored[0].pick->grade, 4);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_NE(log.lines.back().find("the trigger onset kept (too little data before the onset)"),
              std::string::npos)
        << log.lines.back();
}

}  // namespace
}  // namespace zelvik::detect
