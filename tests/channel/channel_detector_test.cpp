// ChannelDetector on a real SQLite store: a burst is found at its time and stored once;
// gaps are never fed as zeros (no false alarm on a channel with an offset), a long gap
// restarts the warm-up, an outage longer than the window is skipped, and channels that
// cannot run are named once.
#include "channel/channel_detector.h"

#include <gtest/gtest.h>

#include "channel/stop_signal.h"
#include "channel/store_link.h"
#include "engine/event_store_sink.h"
#include "tests/support/engine_fixture.h"

namespace zelvik::detect {
namespace {

using test::kT0;

struct Detection {
    std::string station;
    double onset;
};

class ChannelDetectorTest : public ::testing::Test {
protected:
    void SetUp() override { ws_ = fx_.connect_store(); }

    std::unique_ptr<ChannelDetector> make(int n, double start) {
        link_ = std::make_unique<StoreLink>(*ws_, stop_);
        sink_ = std::make_unique<EventStoreSink>(*link_, 0, 0);
        auto d = std::make_unique<ChannelDetector>(
            *link_, sink_.get(), [this](const std::string& s, double onset, double, float) {
                detections_.push_back({s, onset});
            });
        d->setup(fx_.ini(), n, start);
        return d;
    }

    test::EngineFixture fx_;
    std::unique_ptr<db::WaveStore> ws_;
    StopSignal stop_;
    std::unique_ptr<StoreLink> link_;
    std::unique_ptr<EventStoreSink> sink_;
    std::vector<Detection> detections_;
    StepBuffers buffers_;
};

TEST_F(ChannelDetectorTest, FindsBurstAtItsTimeAndStoresOneRow) {
    fx_.add_channel("AAA", "BHZ", 100);
    fx_.add_segment("AAA", "BHZ", kT0, 100, test::synthetic_samples(600, 100, {300}));
    fx_.add_thread(0, "AAA", "BHZ");
    auto d = make(0, kT0);
    ASSERT_EQ(d->state(), ChannelState::kRunning);

    EXPECT_TRUE(d->step(buffers_));
    EXPECT_DOUBLE_EQ(d->read_position(), kT0 + 600);
    EXPECT_NEAR(d->last_data_time(), kT0 + 600, 1e-6);
    ASSERT_EQ(detections_.size(), 1u);
    // The trigger rises within the first STA window of the burst; onset is STA/2 before.
    EXPECT_NEAR(detections_[0].onset, kT0 + 300, 1.0);
    EXPECT_DOUBLE_EQ(d->last_onset(), detections_[0].onset);
    EXPECT_EQ(fx_.event_rows("AAA"), 1);

    EXPECT_FALSE(d->step(buffers_));  // nothing newer: the same window waits
    EXPECT_DOUBLE_EQ(d->read_position(), kT0 + 600);
    EXPECT_EQ(fx_.event_rows("AAA"), 1);
}

TEST_F(ChannelDetectorTest, GapsAreNotFedAsZeros) {
    // A channel with a large offset: a zero-filled gap would be a step of 20000 counts
    // into the band-pass filter, a certain false alarm.
    struct Case {
        double gap_seconds;
        size_t restarts;
    };
    const Case cases[] = {{5.0, 0}, {20.0, 1}};
    int n = 0;
    for (const Case& c : cases) {
        const std::string sta = "G" + std::to_string(n);
        fx_.add_channel(sta, "BHZ", 100);
        fx_.add_segment(sta, "BHZ", kT0, 100,
                        test::synthetic_samples(300, 100, {}, 100, 20000, 0, 0, 7));
        fx_.add_segment(sta, "BHZ", kT0 + 300 + c.gap_seconds, 100,
                        test::synthetic_samples(300, 100, {}, 100, 20000, 0, 0, 8));
        fx_.add_thread(n, sta, "BHZ");
        auto d = make(n, kT0);
        while (d->step(buffers_)) {
        }
        EXPECT_TRUE(detections_.empty())
            << sta << " first false onset " << detections_[0].onset - kT0;
        EXPECT_NEAR(d->last_data_time(), kT0 + 600 + c.gap_seconds, 1e-6) << sta;
        EXPECT_EQ(fx_.log_count("(" + sta + ".BHZ.\?\?): gap of"), c.restarts) << sta;
        ++n;
    }
}

TEST_F(ChannelDetectorTest, GapFinishesAnOpenMeasurement) {
    fx_.add_channel("MMM", "BHZ", 100);
    fx_.add_segment("MMM", "BHZ", kT0, 100, test::synthetic_samples(298, 100, {296}));
    fx_.add_segment("MMM", "BHZ", kT0 + 300, 100,
                    test::synthetic_samples(300, 100, {}, 100, 0, 0, 0, 3));
    fx_.add_thread(0, "MMM", "BHZ");
    auto d = make(0, kT0);
    EXPECT_TRUE(d->step(buffers_));
    ASSERT_EQ(detections_.size(), 1u);
    // The record had about 2 s of its 5 s when the data stopped; the gap finished it.
    EXPECT_EQ(fx_.event_rows("MMM"), 1);
}

TEST_F(ChannelDetectorTest, SkipsAnOutageLongerThanTheWindow) {
    fx_.add_channel("OUT", "BHZ", 100);
    fx_.add_segment("OUT", "BHZ", kT0, 100, test::synthetic_samples(600, 100, {}));
    fx_.add_segment("OUT", "BHZ", kT0 + 3 * 3600, 100,
                    test::synthetic_samples(600, 100, {300}, 100, 0, 3000, 8, 2));
    fx_.add_thread(0, "OUT", "BHZ");
    auto d = make(0, kT0);
    EXPECT_TRUE(d->step(buffers_));  // first stretch
    EXPECT_TRUE(d->step(buffers_));  // nothing in the next hour, but later data: jump
    EXPECT_DOUBLE_EQ(d->read_position(), kT0 + 3 * 3600);
    EXPECT_TRUE(d->step(buffers_));  // the later stretch, after a fresh warm-up
    EXPECT_FALSE(d->step(buffers_));
    ASSERT_EQ(detections_.size(), 1u);
    EXPECT_NEAR(detections_[0].onset, kT0 + 3 * 3600 + 300, 1.0);
    EXPECT_EQ(fx_.log_count("(OUT.BHZ.\?\?): no data from"), 1u);
    EXPECT_EQ(fx_.log_count("(OUT.BHZ.\?\?): gap of"), 1u);
}

TEST_F(ChannelDetectorTest, ChannelsThatCannotRunAreNamedOnce) {
    struct Case {
        const char* sta;
        double sps;  // SITECHAN rate; 0 = no row
        std::vector<std::pair<const char*, const char*>> keys;
        const char* reason;
    };
    const Case cases[] = {
        // Not in the store yet: it waits (and is looked for at every step) rather than
        // being skipped, and says so once.
        {"NOR", 0, {{"STA", "1"}}, "not in the store yet (no SITECHAN row)"},
        {"ORD", 100, {{"ORDER", "9"}}, "ORDER 9 outside 1..6"},
        {"FR2", 100, {{"FR2", "60"}}, "FR2 60.000 Hz not below half"},
        {"GAR", 100, {{"STA", "abc"}}, "STA 0 s / LTA 10 s not positive"},
        {"NEG", 100, {{"LTA", "-5"}}, "LTA -5 s not positive"},
        {"ZRO", 100, {{"ORDER", "0"}}, "ORDER 0 outside"},
        // A typo in SITECHAN would size every window at gigabytes of samples.
        {"MEG", 1e6, {}, "sample rate 1e+06 sps above the 20000 sps"},
        {"GIG", 1e9, {{"STA", "1e-8"}, {"LTA", "1e-7"}}, "sample rate 1e+09 sps above"},
        {"SGL", 100, {{"STA", "10"}, {"LTA", "10"}}, "STA 10 s not shorter than LTA 10 s"},
        // 1e11 samples: no wrap round to a negative int and "shorter than one sample".
        {"LNG", 100, {{"LTA", "1e9"}}, "STA 1 s + LTA 1e+09 s at 100 sps are 100000000100 samples"},
    };
    int n = 0;
    for (const Case& c : cases) {
        if (c.sps > 0) fx_.add_channel(c.sta, "BHZ", c.sps);
        fx_.add_segment(c.sta, "BHZ", kT0, 100, test::synthetic_samples(60, 100, {}));
        fx_.add_thread(n, c.sta, "BHZ");
        for (const auto& [key, value] : c.keys) fx_.set("THREAD" + std::to_string(n), key, value);
        auto d = make(n, kT0);
        const bool waits = c.sps == 0;
        EXPECT_EQ(d->state(), waits ? ChannelState::kWaitingForData : ChannelState::kUnusable)
            << c.sta;
        for (int pass = 0; pass < 3; ++pass) EXPECT_FALSE(d->step(buffers_)) << c.sta;
        const std::string said = waits ? ") waits for its first data: " : ") skipped: ";
        EXPECT_EQ(fx_.log_count(std::string("(") + c.sta + ".BHZ.\?\?" + said), 1u) << c.sta;
        EXPECT_EQ(fx_.log_count(c.reason), 1u) << c.sta << "\n" << fx_.log_text();
        ++n;
    }
}

TEST_F(ChannelDetectorTest, UnusableResponsesAreNamedAsSuch) {
    std::string long_fap;
    for (int i = 1; i <= 100001; ++i) long_fap += std::to_string(i) + " 1e8 0\n";
    struct Case {
        const char* sta;
        bool paz;
        std::string text;
        const char* reason;
    };
    const Case cases[] = {
        {"PZM", true, "ZEROS 0\nPOLES 1000000\nCONSTANT 1\n",
         "announces 0 zeros and 1000000 poles"},
        {"PZG", true, "garbage", "not a pole-zero text"},
        {"FPL", false, long_fap, "table has 100001 lines, more than 100000"},
    };
    int n = 0;
    for (const Case& c : cases) {
        fx_.add_channel(c.sta, "BHZ", 100);
        fx_.add_thread(n, c.sta, "BHZ");
        test::TestResponse r{c.sta,        "BHZ",        "??",        "", "2000-01-01 00:00:00",
                             std::nullopt, std::nullopt, std::nullopt};
        (c.paz ? r.sac : r.fap) = c.text;
        fx_.store().add_response(r);
        auto d = make(n++, kT0);
        EXPECT_EQ(d->state(), ChannelState::kRunning) << c.sta;
        const std::string line = std::string("Response for ") + c.sta + ".BHZ.?? is ";
        EXPECT_EQ(fx_.log_count(line + "UNUSABLE: "), 1u) << fx_.log_text();
        EXPECT_EQ(fx_.log_count(c.reason), 1u) << c.sta << "\n" << fx_.log_text();
        EXPECT_EQ(fx_.log_count(line + (c.paz ? "PAZ" : "FAP")), 0u) << c.sta;
    }
}

TEST(ChannelSettings, EmptySectionGivesDefaultsAndLocationIsCut) {
    test::TempDir dir;
    const std::string ini = dir.write("zelvik.ini", "[THREAD1]\nLCODE=ABCDEFGHIJ\n");
    const ChannelSettings a = read_channel_settings(ini, 0);
    EXPECT_EQ(a.station, "QRS");
    EXPECT_EQ(a.channel, "BHZ");
    EXPECT_EQ(a.location, "??");
    EXPECT_EQ(a.lta_seconds, 10.0);
    EXPECT_EQ(a.sta_seconds, 1.0);
    EXPECT_EQ(a.threshold, 5.0);
    EXPECT_EQ(a.fr1, 0.0f);
    EXPECT_EQ(a.fr2, 1.0f);
    EXPECT_EQ(a.order, 3);
    EXPECT_TRUE(a.sound);
    EXPECT_EQ(read_channel_settings(ini, 1).location, "ABCDEFG");
    EXPECT_EQ(channel_settings_problem(a, 20.0), "");
}

}  // namespace
}  // namespace zelvik::detect
