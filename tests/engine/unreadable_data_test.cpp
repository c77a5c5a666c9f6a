// Stored data that cannot be read as it should: samples that are not numbers, a data
// file that is missing or short, a data directory that is gone for a while. None of it
// may cost a detection elsewhere in the data, end a catch-up run early, or pass without
// a log line naming the file. Real SQLite store, real files.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>

#include "channel/channel_detector.h"
#include "channel/stop_signal.h"
#include "channel/store_link.h"
#include "engine/event_store_sink.h"
#include "engine/worker.h"
#include "tests/support/engine_fixture.h"

namespace zelvik::detect {
namespace {

using test::kT0;

class UnreadableData : public ::testing::Test {
protected:
    void SetUp() override {
        ws_ = fx_.connect_store();
        link_ = std::make_unique<StoreLink>(*ws_, stop_);
        sink_ = std::make_unique<EventStoreSink>(*link_, 0, 0);
        fx_.add_channel("UNR", "HHZ", 100);
        fx_.add_thread(0, "UNR", "HHZ");
    }
    std::unique_ptr<ChannelDetector> make(double grace_seconds = 0.3) {
        auto d = std::make_unique<ChannelDetector>(
            *link_, sink_.get(),
            [this](const std::string&, double onset, double, float) { onsets_.push_back(onset); });
        d->set_unreadable_grace(grace_seconds);
        d->setup(fx_.ini(), 0, kT0);
        return d;
    }
    // A FILELIST row of `seconds` at 100 sps from `start` naming `file` (written or not).
    void add_row(double start, double seconds, const std::string& file, int datatype = 2,
                 double sps = 100) {
        test::TestSegment s;
        s.sta = "UNR";
        s.chan = "HHZ";
        s.tbegin = start;
        s.tqty = seconds;
        s.sps = sps;
        s.datatype = datatype;
        s.cpath = file;
        fx_.store().add_segment(s);
    }
    // 600 s of noise with a burst at 300 s, written as `file` and added as a row.
    void add_burst_segment(double start, const std::string& file, uint32_t seed) {
        fx_.store().write_int32(file,
                                test::synthetic_samples(600, 100, {300}, 100, 0, 3000, 8, seed));
        add_row(start, 600, file);
    }
    size_t onsets_near(double t) const {
        size_t n = 0;
        for (double o : onsets_) n += std::fabs(o - t) < 1.0 ? 1 : 0;
        return n;
    }

    test::EngineFixture fx_;
    std::unique_ptr<db::WaveStore> ws_;
    StopSignal stop_;
    std::unique_ptr<StoreLink> link_;
    std::unique_ptr<EventStoreSink> sink_;
    std::vector<double> onsets_;
    StepBuffers buffers_;
};

TEST_F(UnreadableData, SamplesThatAreNotNumbersAreAGapNotPoison) {
    // Float samples (DATATYPE 3): NaN and infinities for 1.5 s at 100 s, a burst at 600 s.
    const auto ints = test::synthetic_samples(1200, 100, {600}, 100, 0, 3000, 8, 9);
    std::vector<int32_t> bits(ints.size());
    for (size_t i = 0; i < ints.size(); ++i) {
        float f = static_cast<float>(ints[i]);
        if (i >= 10000 && i < 10150)
            f = i % 3 == 0 ? std::numeric_limits<float>::quiet_NaN()
                           : (i % 3 == 1 ? std::numeric_limits<float>::infinity()
                                         : -std::numeric_limits<float>::infinity());
        std::memcpy(&bits[i], &f, 4);
    }
    fx_.store().write_int32("nan.f32", bits);
    add_row(kT0, 1200, "nan.f32", 3);
    auto d = make();
    ASSERT_TRUE(d->step(buffers_));
    EXPECT_EQ(onsets_near(kT0 + 600), 1u);
    EXPECT_EQ(onsets_.size(), 1u);
    EXPECT_EQ(fx_.log_count("150 samples from"), 1u) << fx_.log_text();
    EXPECT_EQ(fx_.log_count("are not numbers, taken as a gap"), 1u);
}

TEST_F(UnreadableData, MissingFileIsRetriedThenSkippedAndReadingGoesOn) {
    add_burst_segment(kT0, "a.i32", 1);
    add_row(kT0 + 600, 600, "gone.i32");  // no such file
    add_burst_segment(kT0 + 1200, "c.i32", 2);
    auto d = make(0.3);
    EXPECT_FALSE(d->step(buffers_));  // first sight: tried again, not skipped at once
    EXPECT_TRUE(d->needs_retry());
    EXPECT_TRUE(onsets_.empty());
    EXPECT_EQ(fx_.log_count("gone.i32 cannot be read (No such file or directory); trying again"),
              1u)
        << fx_.log_text();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_TRUE(d->step(buffers_));
    EXPECT_EQ(onsets_near(kT0 + 300), 1u);
    EXPECT_EQ(onsets_near(kT0 + 1500), 1u);
    ASSERT_EQ(d->skipped().size(), 1u);
    EXPECT_EQ(d->skipped()[0].kind, db::SegmentFault::kUnreadable);
    EXPECT_NE(d->skipped()[0].path.find("gone.i32"), std::string::npos);
    EXPECT_DOUBLE_EQ(d->skipped()[0].from, kT0 + 600);
    EXPECT_DOUBLE_EQ(d->skipped()[0].to, kT0 + 1200);
    EXPECT_EQ(fx_.log_count("gone.i32 cannot be read (No such file or directory); 2020-09-13"), 1u)
        << fx_.log_text();
}

TEST_F(UnreadableData, ShortFileIsNamedOnceWithTheMissingRange) {
    // The row says 600 s; the file holds 300 s. The burst at 200 s is inside what is there.
    fx_.store().write_int32("short.i32",
                            test::synthetic_samples(300, 100, {200}, 100, 0, 3000, 8, 3));
    add_row(kT0, 600, "short.i32");
    auto d = make();
    ASSERT_TRUE(d->step(buffers_));
    EXPECT_EQ(onsets_near(kT0 + 200), 1u);
    ASSERT_EQ(d->skipped().size(), 1u);
    EXPECT_EQ(d->skipped()[0].kind, db::SegmentFault::kShort);
    EXPECT_NEAR(d->skipped()[0].from, kT0 + 300, 1e-6);
    EXPECT_NEAR(d->skipped()[0].to, kT0 + 600, 1e-6);
    EXPECT_EQ(fx_.log_count("short.i32 is short"), 1u) << fx_.log_text();
    EXPECT_NEAR(d->read_position(), kT0 + 600, 1e-6);
}

TEST_F(UnreadableData, AbsurdLengthNeitherRacesAheadNorHidesLaterData) {
    // A typo in TQTY: the file holds 600 s. The read position must stop where the data
    // stop, so that data arriving behind it are still read.
    fx_.store().write_int32("a.i32", test::synthetic_samples(600, 100, {300}, 100, 0, 3000, 8, 7));
    add_row(kT0, 1e12, "a.i32");
    auto d = make();
    ASSERT_TRUE(d->step(buffers_));
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_FALSE(d->step(buffers_));
        EXPECT_FALSE(d->needs_retry());  // the end of the data: a catch-up run ends
    }
    EXPECT_NEAR(d->read_position(), kT0 + 600, 1e-6);
    EXPECT_EQ(fx_.log_count("a.i32 has an unusable row"), 1u) << fx_.log_text();
    add_burst_segment(kT0 + 600, "b.i32", 8);
    ASSERT_TRUE(d->step(buffers_));
    EXPECT_EQ(onsets_near(kT0 + 300), 1u);
    EXPECT_EQ(onsets_near(kT0 + 900), 1u);
}

TEST_F(UnreadableData, UnknownSampleFormatOrRateIsNamedOnceNotOnlyAsAGap) {
    // Two hours of DATATYPE 99 in one file, then an hour whose row says SPS 1e9 on a
    // 100 sps channel, then readable data: the rows are named, with their reason, once;
    // the gap they leave is not the only word about them.
    fx_.store().write_int32("odd.i32", test::synthetic_samples(7200, 100, {}));
    add_row(kT0, 3600, "odd.i32", 99);
    add_row(kT0 + 3600, 3600, "odd.i32", 99);
    fx_.store().write_int32("fast.i32", test::synthetic_samples(3600, 100, {}));
    add_row(kT0 + 7200, 3600, "fast.i32", 2, 1e9);
    add_burst_segment(kT0 + 10800, "c.i32", 9);
    auto d = make();
    while (d->step(buffers_)) {
    }
    EXPECT_EQ(fx_.log_count("odd.i32 has an unusable row (DATATYPE 99 is no sample format"), 1u)
        << fx_.log_text();
    EXPECT_EQ(fx_.log_count("fast.i32 has an unusable row (SPS 1e+09 differs from the channel's "
                            "100 sps"),
              1u)
        << fx_.log_text();
    EXPECT_EQ(onsets_near(kT0 + 11100), 1u);
    EXPECT_NEAR(d->read_position(), kT0 + 11400, 1e-6);
}

TEST_F(UnreadableData, DataDirectoryAwayIsWaitedForNotSkipped) {
    add_burst_segment(kT0, "a.i32", 4);
    const std::string dir = fx_.store().data_dir();
    auto d = make(0.0);  // even with no grace: a missing directory is never skipped
    std::filesystem::rename(dir, dir + ".away");
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(d->step(buffers_));
        EXPECT_TRUE(d->needs_retry());
    }
    EXPECT_TRUE(d->skipped().empty());
    EXPECT_EQ(fx_.log_count("failed: data file cannot be opened"), 1u) << fx_.log_text();
    EXPECT_EQ(fx_.log_count("a.i32: No such file or directory"), 1u) << fx_.log_text();
    std::filesystem::rename(dir + ".away", dir);
    ASSERT_TRUE(d->step(buffers_));
    EXPECT_EQ(onsets_near(kT0 + 300), 1u);
    EXPECT_TRUE(d->skipped().empty());
}

// A catch-up run ends only at the end of the data: with the data directory away for a
// second at the start it waits, then finds every burst; a file that stays missing is
// skipped after its grace and named.
TEST_F(UnreadableData, CatchUpRunWaitsForDataAndEndsAtItsEnd) {
    add_burst_segment(kT0, "a.i32", 5);
    add_row(kT0 + 600, 600, "gone.i32");
    add_burst_segment(kT0 + 4000, "c.i32", 6);
    const std::string dir = fx_.store().data_dir();
    Worker::DetectorList detectors;
    detectors.push_back(make(0.3));
    Worker worker(detectors, *link_, sink_.get(), stop_, 0, 0);
    std::filesystem::rename(dir, dir + ".away");
    ASSERT_TRUE(worker.start(true));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_FALSE(worker.idle());  // not taken for the end of the data
    std::filesystem::rename(dir + ".away", dir);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!worker.idle() && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(worker.idle());
    ASSERT_TRUE(worker.join(std::chrono::milliseconds(5000)));
    EXPECT_EQ(onsets_near(kT0 + 300), 1u);
    EXPECT_EQ(onsets_near(kT0 + 4300), 1u);
    EXPECT_EQ(detectors[0]->skipped().size(), 1u);
    EXPECT_EQ(fx_.event_rows("UNR"), 2);
}

}  // namespace
}  // namespace zelvik::detect
