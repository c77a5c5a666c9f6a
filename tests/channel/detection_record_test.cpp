// DetectionRecord: period and amplitude of pure sines, the gap and short-record cases,
// refused windows, conversion through a response, and the measurement line in a real
// log file.
#include "channel/detection_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "common/civil_time.h"
#include "common/log.h"
#include "config/connection_config.h"
#include "report/log_open.h"
#include "signal/instrument_response.h"
#include "tests/support/temp_dir.h"

namespace zelvik::detect {
namespace {

namespace fs = std::filesystem;
using zelvik::test::read_file;
using zelvik::test::TempDir;
constexpr double kPi = 3.14159265358979323846;

struct CollectingSink : MeasurementSink {
    std::vector<Measurement> stored;
    void store(const Measurement& m) override { stored.push_back(m); }
};

// Each test gets a real log in a fresh directory, with local time fixed to UTC.
class DetectionRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        old_cwd_ = fs::current_path();
        fs::current_path(dir_.path());
        const std::string ini = dir_.write("zelvik.ini", "[LOG]\nDIR=log\nLEVEL=ERROR\n");
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        common::log_reset_for_testing();
        config::ConnectionConfig settings({"zelvik"}, ini);
        settings.load_log_section();
        ASSERT_TRUE(report::log_open(settings));
    }
    void TearDown() override {
        common::log_reset_for_testing();
        fs::current_path(old_cwd_);
    }
    // Everything written to the log so far.
    std::string log_text() const {
        std::string all;
        for (const auto& entry : fs::directory_iterator(dir_.file("log")))
            all += read_file(entry.path().string());
        return all;
    }
    // Feeds samples 0 .. n - 1 of a sine (amplitude, Hz) at `rate`, sample i at kStart + i / rate.
    static void feed_sine(DetectionRecord& r, int n, double amplitude, double freq, double rate) {
        for (int i = 0; i < n; ++i)
            r.add(amplitude * std::sin(2 * kPi * freq * i / rate), kStart + i / rate);
    }
    static constexpr double kStart = 1765281609.75;  // 2025-12-09 12:00:09.75 UTC

    TempDir dir_;
    fs::path old_cwd_;
    InstrumentResponse none_;
    CollectingSink sink_;
};

TEST_F(DetectionRecordTest, PureSinesGiveTheirPeriodAndAmplitude) {
    // `crest` is the largest sampled value of the sine: at 2 Hz and 20 samples/s the
    // samples fall every 36 degrees, the nearest 18 degrees from the crest.
    struct Case {
        double freq, rate, amplitude;
        float period;
        double crest;
    };
    const Case cases[] = {
        {1.0, 20, 1000, 1.0f, 1000},          // k = 5, M = 20, spans of 14 samples
        {2.0, 20, 1000, 0.5f, 951.056516},    // k = 10
        {1.6, 100, 37.5, 0.625f, 37.497039},  // k = 8 of 500 samples
    };
    for (const Case& c : cases) {
        DetectionRecord r("STA", "BHZ", "??", kStart, none_, &sink_);
        ASSERT_TRUE(r.set_window(c.rate, 5.0));
        const int capacity = static_cast<int>(c.rate * 5.0);
        feed_sine(r, capacity - 1, c.amplitude, c.freq, c.rate);
        EXPECT_FALSE(r.finished());
        EXPECT_TRUE(r.add(0.0, kStart + (capacity - 1) / c.rate));
        ASSERT_TRUE(r.finished()) << c.freq;
        EXPECT_FALSE(r.add(0.0, kStart + capacity / c.rate));
        EXPECT_EQ(r.result().period, c.period) << c.freq;
        EXPECT_NEAR(r.result().amplitude_counts, c.crest, 1e-4 * c.amplitude) << c.freq;
        EXPECT_EQ(r.result().amplitude_um, -1.0f);
        EXPECT_EQ(r.result().factor, -1.0);
    }
    EXPECT_EQ(sink_.stored.size(), 3u);
}

TEST_F(DetectionRecordTest, GapFinishesWithTheSamplesBeforeIt) {
    DetectionRecord r("STA", "BHZ", "??", kStart, none_, &sink_);
    ASSERT_TRUE(r.set_window(20.0, 5.0));
    feed_sine(r, 60, 1000.0, 1.0, 20.0);
    ASSERT_FALSE(r.finished());
    // The sample after the gap is huge: had it been taken, the amplitude would show it.
    EXPECT_TRUE(r.add(1e9, kStart + 60 / 20.0 + 10.0));
    ASSERT_TRUE(r.finished());
    EXPECT_EQ(r.result().period, 1.0f);  // N = 60: 60 x 0.05 s / k with k = 3
    EXPECT_NEAR(r.result().amplitude_counts, 1000.0, 1.0);
    ASSERT_EQ(sink_.stored.size(), 1u);
}

TEST_F(DetectionRecordTest, FewerThanSixSamplesGiveNoPeriodAndNoConversion) {
    InstrumentResponse fap;
    ASSERT_TRUE(fap.parse_fap("0.01 2e9 0|100 2e9 0"));
    DetectionRecord r("STA", "BHZ", "??", kStart, fap, &sink_);
    ASSERT_TRUE(r.set_window(20.0, 5.0));
    feed_sine(r, 5, 1000.0, 1.0, 20.0);
    r.add(0.0, kStart + 100.0);
    ASSERT_TRUE(r.finished());
    EXPECT_EQ(r.result().period, 0.0f);
    EXPECT_EQ(r.result().amplitude_counts, 0.0f);
    EXPECT_EQ(r.result().amplitude_um, -1.0f);  // no period, no frequency to convert at
    EXPECT_EQ(r.result().factor, -1.0);
}

TEST_F(DetectionRecordTest, WritesTheMeasurementLineWithAndWithoutResponse) {
    InstrumentResponse flat;  // 2e9 counts per metre everywhere: 0.0005 micrometres per count
    ASSERT_TRUE(flat.parse_fap("0.01 2e9 0|100 2e9 0"));
    struct Case {
        const InstrumentResponse* response;
        const char* line;
    };
    const Case cases[] = {
        {&none_,
         "Ch: STA.BHZ.?? Ev_time: 12:00:09 09.12.25 amp(cnt):1000.000 amp(mkm):-1.000000 "
         "T(s):1.0000 calib=-1.0000#"},
        {&flat,
         "Ch: STA.BHZ.?? Ev_time: 12:00:09 09.12.25 amp(cnt):1000.000 amp(mkm):0.500000 "
         "T(s):1.0000 calib=0.0005#"},
    };
    for (const Case& c : cases) {
        DetectionRecord r("STA", "BHZ", "??", kStart, *c.response, &sink_);
        ASSERT_TRUE(r.set_window(20.0, 5.0));
        feed_sine(r, 100, 1000.0, 1.0, 20.0);
        ASSERT_TRUE(r.finished());
        EXPECT_NE(log_text().find(c.line), std::string::npos) << c.line << "\nlog:\n" << log_text();
    }
    ASSERT_EQ(sink_.stored.size(), 2u);
    EXPECT_FLOAT_EQ(sink_.stored[1].amplitude_um, 0.5f);
    EXPECT_EQ(sink_.stored[1].station, "STA");
    EXPECT_EQ(sink_.stored[1].onset, kStart);
}

TEST_F(DetectionRecordTest, RefusedWindowFinishesAtOnceWithNoSamples) {
    struct Case {
        double rate, seconds;
        bool ok;
    };
    const Case cases[] = {
        {0.39, 5, false},   {0.0, 5, false},     {-20, 5, false},
        {NAN, 5, false},    {10000.5, 5, false}, {20, 0, false},
        {20, 600.5, false}, {20, NAN, false},    {1, 1.5, false},  // one sample only
        {0.4, 5, true},     {10000, 600, true},
    };
    for (const Case& c : cases) {
        CollectingSink sink;
        DetectionRecord r("STA", "BHZ", "??", kStart, none_, &sink);
        EXPECT_EQ(r.set_window(c.rate, c.seconds), c.ok) << c.rate << " " << c.seconds;
        EXPECT_EQ(r.finished(), !c.ok);
        EXPECT_EQ(sink.stored.size(), c.ok ? 0u : 1u);
        if (!c.ok) {
            EXPECT_EQ(sink.stored[0].period, 0.0f);
            EXPECT_EQ(sink.stored[0].amplitude_counts, 0.0f);
            EXPECT_FALSE(r.add(1.0, kStart));
        }
    }
}

TEST_F(DetectionRecordTest, WindowIsSetOnceAndNothingIsTakenBeforeIt) {
    DetectionRecord r("STA", "BHZ", "??", kStart, none_, nullptr);
    EXPECT_FALSE(r.add(1.0, kStart));
    ASSERT_TRUE(r.set_window(20.0, 5.0));
    EXPECT_FALSE(r.set_window(100.0, 5.0));
    feed_sine(r, 100, 10.0, 2.0, 20.0);
    EXPECT_TRUE(r.finished());  // still the 100-sample window of the first call
    EXPECT_EQ(r.result().period, 0.5f);
}

}  // namespace
}  // namespace zelvik::detect
