// The channel view's trace computation on real SQLite stores holding real recordings
// (tests/data/real, stored as float32 exactly as zelvik-store imports them). The values
// it computes are compared with the detector's own filter and rule run directly over the
// recording, and its ratio with the detection the real ChannelDetector stored.
#include "channel/channel_trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "channel/channel_detector.h"
#include "channel/channel_trace_reader.h"
#include "engine/event_store_sink.h"
#include "signal/min_max_columns.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/mseed_trace.h"

namespace zelvik::detect {
namespace {

const char* const kRecordings[] = {
    "NN_MGN_1987020206461132_N1.mseed", "NC_PHC_2004011816230722.mseed",
    "BK_BKS_2017071510492061.mseed",    "PB_B072_2017092719561779.mseed",
    "NC_CLCB_2017112601505303.mseed",
};

// Writes samples [from, to) of `trace` as a float32 data file with its FILELIST row.
void store_part(test::TestStore& store, const testing::Trace& trace, size_t from, size_t to,
                const std::string& name) {
    std::vector<float> values(trace.samples.begin() + static_cast<std::ptrdiff_t>(from),
                              trace.samples.begin() + static_cast<std::ptrdiff_t>(to));
    std::ofstream(store.data_dir() + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(values.data()),
               static_cast<std::streamsize>(values.size() * sizeof(float)));
    test::TestSegment seg;
    seg.sta = trace.station;
    seg.chan = trace.channel;
    seg.tbegin = trace.start + static_cast<double>(from) / trace.sample_rate;
    seg.tqty = static_cast<double>(to - from) / trace.sample_rate;
    seg.sps = trace.sample_rate;
    seg.datatype = 3;
    seg.cpath = name;
    store.add_segment(seg);
}

class ChannelTraceTest : public ::testing::Test {
protected:
    // Loads a recording into the fixture's store as one channel with THREAD0 settings
    // for 100 samples/s local events (those of scripts/demo.sh); `hole` drops samples
    // [hole_from, hole_to) to leave a gap in the store.
    void load(const std::string& file, size_t hole_from = 0, size_t hole_to = 0) {
        ASSERT_TRUE(testing::read_vertical(std::string(ZELVIK_REAL_DATA_DIR "/") + file, trace_));
        fx_->add_channel(trace_.station, trace_.channel, trace_.sample_rate);
        const size_t n = trace_.samples.size();
        if (hole_to > hole_from) {
            store_part(fx_->store(), trace_, 0, hole_from, "a.f32");
            store_part(fx_->store(), trace_, hole_to, n, "b.f32");
        } else {
            store_part(fx_->store(), trace_, 0, n, "a.f32");
        }
        fx_->add_thread(0, trace_.station, trace_.channel);
        fx_->set("THREAD0", "FR1", "1.0");
        fx_->set("THREAD0", "FR2", "5.0");
        fx_->set("THREAD0", "Threshold", "5");
        settings_ = read_channel_settings(fx_->ini(), 0);
    }

    StoreAccess access() const {
        const auto& s = fx_->store();
        return {s.dsn(), s.user(), s.password(), s.data_dir(), false};
    }

    double end() const {
        return trace_.start + static_cast<double>(trace_.samples.size()) / trace_.sample_rate;
    }

    std::unique_ptr<test::EngineFixture> fx_ = std::make_unique<test::EngineFixture>();
    testing::Trace trace_;
    ChannelSettings settings_;
};

TEST_F(ChannelTraceTest, EqualsTheDetectorChainSampleForSampleOnEveryRecording) {
    for (const char* file : kRecordings) {
        SCOPED_TRACE(file);
        fx_.reset();  // a store of its own per recording
        fx_ = std::make_unique<test::EngineFixture>();
        load(file);
        // The detector's chain, run directly over the recording from its first sample.
        const float dt = static_cast<float>(1.0 / trace_.sample_rate);
        IirFilter filter;
        ASSERT_TRUE(filter.design(3, "BP", 1.0f, 5.0f, dt));
        DetectionRule rule;
        ASSERT_TRUE(rule.init(trace_.sample_rate, 10.0, 1.0, 5.0));
        std::vector<float> filtered, ratio;
        std::vector<double> onsets;
        for (size_t i = 0; i < trace_.samples.size(); ++i) {
            const double y = filter.apply(static_cast<float>(trace_.samples[i]));
            if (rule.process(y, trace_.start + static_cast<double>(i) / trace_.sample_rate))
                onsets.push_back(rule.onset());
            filtered.push_back(static_cast<float>(y));
            ratio.push_back(rule.trigger().ratio());
        }
        // A span longer than the recording: the view starts where the data start.
        ChannelTraceReader reader(access(), settings_);
        ChannelSnapshot snap;
        ASSERT_TRUE(reader.read({600, 0}, snap)) << reader.last_error();
        EXPECT_NEAR(snap.latest_data, end(), 1e-6);
        ASSERT_EQ(snap.trace.stretches.size(), 1u);
        const TraceStretch& s = snap.trace.stretches[0];
        EXPECT_NEAR(s.start, trace_.start, 1e-6);
        // The store's reading truncates a segment's duration to 0.1 ms and counts whole
        // samples of it, so the last sample of a recording may not be delivered.
        ASSERT_GE(s.raw.size() + 1, trace_.samples.size());
        size_t differing = 0;
        for (size_t i = 0; i < s.raw.size(); ++i) {
            differing += s.raw[i] != static_cast<float>(trace_.samples[i]) ||
                         s.filtered[i] != filtered[i] || s.ratio[i] != ratio[i];
        }
        EXPECT_EQ(differing, 0u);
        ASSERT_EQ(snap.trace.onsets.size(), onsets.size());
        for (size_t i = 0; i < onsets.size(); ++i)
            EXPECT_NEAR(snap.trace.onsets[i], onsets[i], 1e-6);
    }
}

TEST_F(ChannelTraceTest, RatioCrossesTheThresholdAtTheStoredDetectionsTriggerTime) {
    load("BK_BKS_2017071510492061.mseed");
    // The real detector over the store, storing its event row as the worker does.
    auto ws = fx_->connect_store();
    StopSignal stop;
    StoreLink link(*ws, stop);
    EventStoreSink sink(link, 0, 0);
    ChannelDetector detector(link, &sink, nullptr);
    detector.setup(fx_->ini(), 0, trace_.start);
    ASSERT_EQ(detector.state(), ChannelState::kRunning);
    StepBuffers buffers;
    while (detector.step(buffers)) {
    }
    detector.finish_open_measurements();
    ASSERT_EQ(fx_->event_rows(trace_.station), 1);

    // A 90 s view ending at the latest data (P is 60 s before it): its filters start
    // 120 s earlier.
    ChannelTraceReader reader(access(), settings_);
    ChannelSnapshot snap;
    ASSERT_TRUE(reader.read({90, 0}, snap)) << reader.last_error();
    ASSERT_EQ(snap.span_events.size(), 1u);
    ASSERT_EQ(snap.recent_events.size(), 1u);
    const double onset = snap.span_events[0].onset;
    ASSERT_EQ(snap.trace.onsets.size(), 1u);
    EXPECT_NEAR(snap.trace.onsets[0], onset, 1e-6);
    // The sample that raised the trigger lies STA/2 after the onset.
    const TraceStretch& s = snap.trace.stretches.at(0);
    const auto k = static_cast<size_t>(
        std::lround((onset + settings_.sta_seconds / 2 - s.start) * snap.trace.sample_rate));
    ASSERT_GT(k, 0u);
    ASSERT_LT(k, s.ratio.size());
    EXPECT_GT(s.ratio[k], settings_.threshold);
    EXPECT_LE(s.ratio[k - 1], settings_.threshold);

    // The store has no response for it: the view's own measurement of the detection is
    // the one the detector's measurement line logged, to the digit.
    ASSERT_EQ(snap.trace.measurements.size(), 1u);
    const TraceMeasurement& m = snap.trace.measurements[0];
    EXPECT_NEAR(m.onset, onset, 1e-6);
    char logged[96];
    std::snprintf(logged, sizeof logged, "amp(cnt):%.3f amp(mkm):-1.000000 T(s):%.4f",
                  m.amplitude_counts, m.period);
    EXPECT_EQ(fx_->log_count(logged), 1u) << logged << "\n" << fx_->log_text();
    EXPECT_GT(m.amplitude_counts, 0.f);
}

TEST_F(ChannelTraceTest, WarmUpBeforeTheSpanGivesTheValuesOfALongRun) {
    load("NC_PHC_2004011816230722.mseed");
    ChannelTraceReader reader(access(), settings_);
    ChannelSnapshot whole, minute;
    ASSERT_TRUE(reader.read({600, 0}, whole)) << reader.last_error();
    ASSERT_TRUE(reader.read({60, 0}, minute)) << reader.last_error();
    const TraceStretch& w = whole.trace.stretches.at(0);
    const TraceStretch& m = minute.trace.stretches.at(0);
    EXPECT_NEAR(m.start, end() - 60, 0.01);
    ASSERT_GE(m.raw.size(), 5999u);
    const auto offset = static_cast<size_t>(std::lround((m.start - w.start) * 100));
    float peak = 0, worst_filtered = 0, worst_ratio = 0;
    // Where the whole run lost its last sample to the store's truncation, the minute may
    // have it (the truncation depends on where a read starts).
    for (size_t i = 0; i < m.raw.size() && offset + i < w.raw.size(); ++i) {
        peak = std::max(peak, std::fabs(w.filtered[offset + i]));
        worst_filtered =
            std::max(worst_filtered, std::fabs(m.filtered[i] - w.filtered[offset + i]));
        worst_ratio = std::max(worst_ratio, std::fabs(m.ratio[i] / w.ratio[offset + i] - 1));
    }
    EXPECT_LT(worst_filtered, 1e-4f * peak);
    EXPECT_LT(worst_ratio, 1e-3f);
}

TEST_F(ChannelTraceTest, AGapInTheStoreIsAGapInTheTraceAndItsColumns) {
    // 20 s missing from 100 s into the recording (longer than the LTA window).
    load("NC_CLCB_2017112601505303.mseed", 10000, 12000);
    ChannelTraceReader reader(access(), settings_);
    ChannelSnapshot snap;
    ASSERT_TRUE(reader.read({600, 0}, snap)) << reader.last_error();
    ASSERT_EQ(snap.trace.stretches.size(), 2u);
    const TraceStretch& a = snap.trace.stretches[0];
    const TraceStretch& b = snap.trace.stretches[1];
    EXPECT_EQ(a.raw.size(), 10000u);
    EXPECT_NEAR(b.start, trace_.start + 120.0, 1e-6);
    EXPECT_GE(b.raw.size() + 1, trace_.samples.size() - 12000);  // last sample: see above
    // After a gap longer than the LTA window the rule starts afresh, as the detector's.
    IirFilter filter;
    ASSERT_TRUE(filter.design(3, "BP", 1.0f, 5.0f, 0.01f));
    EXPECT_EQ(b.filtered[0], static_cast<float>(filter.apply(trace_.samples[12000])));
    // Both warm-ups, from the first sample and from the first after the gap, are marked,
    // each as long as the rule's own.
    const double warmup = DetectionRule::warmup_length_for(100, settings_.lta_seconds) / 100.0;
    ASSERT_EQ(snap.trace.warmups.size(), 2u);
    EXPECT_NEAR(snap.trace.warmups[0].start, trace_.start, 1e-6);
    EXPECT_NEAR(snap.trace.warmups[1].start, b.start, 1e-6);
    EXPECT_NEAR(snap.trace.warmups[1].end - snap.trace.warmups[1].start, warmup, 1e-9);

    // Drawn over 1000 columns of the span, the hole stays empty and nothing else does.
    std::vector<ColumnRange> columns(1000);
    for (const TraceStretch& s : snap.trace.stretches) {
        const MinMaxTree tree(s.raw.data(), s.raw.size());
        add_columns(tree, s.start, 100, snap.trace.span_start, snap.trace.span_end, columns);
    }
    const double column = (snap.trace.span_end - snap.trace.span_start) / 1000;
    for (size_t c = 0; c < columns.size(); ++c) {
        const double t0 = snap.trace.span_start + static_cast<double>(c) * column;
        const bool before_data = t0 + column <= trace_.start;
        const bool in_hole = t0 >= trace_.start + 100 && t0 + column <= trace_.start + 120;
        EXPECT_EQ(columns[c].empty(), before_data || in_hole) << "column " << c;
    }
}

TEST(ChannelTraceReader, SaysWhenTheStoreWentAwayAndRecoversWhenItIsBack) {
    // A server of the test's own: it is stopped and started again below.
    const auto own = test::PostgresServer::start_private();
    test::PostgresServer& server = *own;
    if (!server.available()) GTEST_SKIP() << server.reason();
    test::PostgresTestStore pg(true, server);
    testing::Trace trace;
    ASSERT_TRUE(
        testing::read_vertical(ZELVIK_REAL_DATA_DIR "/BK_BKS_2017071510492061.mseed", trace));
    pg.add_channel(trace.station, trace.channel, std::nullopt, trace.sample_rate);
    store_part(pg, trace, 0, trace.samples.size(), "bks.f32");
    ChannelSettings settings;
    settings.station = trace.station;
    settings.channel = trace.channel;
    settings.fr1 = 1.0f;
    settings.fr2 = 5.0f;

    ChannelTraceReader reader({pg.dsn(), pg.user(), pg.password(), pg.data_dir(), false}, settings);
    ChannelSnapshot snap;
    ASSERT_TRUE(reader.read({300, 0}, snap)) << reader.last_error();
    const size_t samples = snap.trace.stretches.at(0).raw.size();
    pg.close_connection();
    ASSERT_TRUE(server.stop());
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(reader.read({300, 0}, snap));
        EXPECT_NE(reader.last_error().find("cannot be reached"), std::string::npos)
            << reader.last_error();
        EXPECT_TRUE(snap.trace.stretches.empty());
    }
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(reader.read({300, 0}, snap)) << reader.last_error();
    EXPECT_EQ(snap.trace.stretches.at(0).raw.size(), samples);
}

TEST_F(ChannelTraceTest, NamesWhatKeepsAChannelFromBeingShown) {
    load("PB_B072_2017092719561779.mseed");
    struct Case {
        const char* what;
        ChannelSettings settings;
        const char* says;
    };
    ChannelSettings unknown = settings_, bad_band = settings_;
    unknown.station = "NONE";
    bad_band.fr2 = 60.0f;  // above half of 100 samples/s
    const Case cases[] = {
        {"channel without a sample rate", unknown, "no sample rate"},
        {"filter the channel cannot run", bad_band, "cannot be computed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChannelTraceReader reader(access(), c.settings);
        ChannelSnapshot snap;
        EXPECT_FALSE(reader.read({300, 0}, snap));
        EXPECT_NE(reader.last_error().find(c.says), std::string::npos) << reader.last_error();
    }
    // Samples whose data file vanished are said, and shown again once it is back.
    const std::string file = fx_->store().data_dir() + "/a.f32";
    ASSERT_EQ(std::rename(file.c_str(), (file + ".away").c_str()), 0);
    ChannelTraceReader reader(access(), settings_);
    ChannelSnapshot snap;
    EXPECT_FALSE(reader.read({300, 0}, snap));
    EXPECT_NE(reader.last_error().find("Reading the samples failed"), std::string::npos)
        << reader.last_error();
    ASSERT_EQ(std::rename((file + ".away").c_str(), file.c_str()), 0);
    EXPECT_TRUE(reader.read({300, 0}, snap)) << reader.last_error();
}

}  // namespace
}  // namespace zelvik::detect
