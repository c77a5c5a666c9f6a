// WaveStore reading on both drivers: segments into place, the delivered end, filled
// stretches, location matching, bad rows, where data resumes after a gap.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <numeric>
#include <vector>

#include "db/store_status.h"
#include "tests/db/store_test_fixture.h"

namespace zelvik::db {
namespace {

constexpr double kT = 1394100000.0;  // 2014-03-06 10:00:00 UTC, an hour boundary

std::vector<int32_t> ramp(int n, int from = 0) {
    std::vector<int32_t> v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), from);
    return v;
}

class WaveStoreRead : public StoreTest {
protected:
    // One int32 file of `n` samples at 10 sps, starting at `tbegin`.
    void segment(const std::string& file, double tbegin, int n,
                 std::optional<std::string> loc = "??", int from = 0) {
        store_->write_int32(file, ramp(n, from));
        store_->add_segment({"ABC", "BHZ", loc, tbegin, n / 10.0, 10.0, 2, 0, file, std::nullopt});
    }
    int read(double& t0, double& t1, std::string_view loc = "") {
        return ws_.read_samples(buf_.data(), buf_.size(), "ABC", "BHZ", loc, t0, t1, &filled_);
    }
    std::vector<float> buf_ = std::vector<float>(1001, -1.0f);
    std::vector<FilledRange> filled_;
};

TEST_P(WaveStoreRead, DeliversSegmentsAtTheirPlaceAndTheEndOfTheData) {
    // Two segments with a gap: [T+10, T+30) and [T+50, T+70); window [T, T+100).
    segment("a/one.dat", kT + 10, 200);
    segment("a/two.dat", kT + 50, 200, "??", 1000);
    ASSERT_TRUE(connect());
    double t0 = kT, t1 = kT + 100;
    ASSERT_EQ(read(t0, t1), kOk);
    EXPECT_EQ(t0, kT);
    EXPECT_NEAR(t1, kT + 70, 1e-4);  // the later segment's end, not T + its length
    EXPECT_EQ(buf_[99], -1.0f);
    EXPECT_EQ(buf_[100], 0.0f);
    EXPECT_EQ(buf_[299], 199.0f);
    EXPECT_EQ(buf_[500], 1000.0f);
    ASSERT_EQ(filled_.size(), 2u);
    EXPECT_EQ(filled_[0].first, 100u);
    EXPECT_EQ(filled_[0].count, 200u);
    EXPECT_EQ(filled_[1].first, 500u);
    EXPECT_EQ(filled_[1].count, 200u);
}

TEST_P(WaveStoreRead, WindowCutsSegmentsOnBothSides) {
    segment("long.dat", kT - 50, 2000);  // [T-50, T+150)
    ASSERT_TRUE(connect());
    double t0 = kT, t1 = kT + 100;
    ASSERT_EQ(read(t0, t1), kOk);
    EXPECT_NEAR(t1, kT + 100, 1e-4);
    EXPECT_EQ(buf_[0], 500.0f);
    EXPECT_EQ(buf_[999], 1499.0f);
    EXPECT_EQ(buf_[1000], -1.0f);  // n = floor(100 s x 10) samples, the +1 slot stays
    // A window starting inside the data and ending after it ends at the data.
    t0 = kT + 140;
    t1 = kT + 240;
    ASSERT_EQ(read(t0, t1), kOk);
    EXPECT_NEAR(t1, kT + 150, 1e-4);
}

TEST_P(WaveStoreRead, OverlappingSegmentsReportOneStretch) {
    segment("x.dat", kT, 300);
    segment("y.dat", kT + 20, 300, "??", 5000);
    ASSERT_TRUE(connect());
    double t0 = kT, t1 = kT + 100;
    ASSERT_EQ(read(t0, t1), kOk);
    ASSERT_EQ(filled_.size(), 1u);
    EXPECT_EQ(filled_[0].first, 0u);
    EXPECT_EQ(filled_[0].count, 500u);
    EXPECT_EQ(buf_[200], 5000.0f);  // the later segment is written over the earlier
}

TEST_P(WaveStoreRead, LocationNoneMatchesQuestionMarksAndNull) {
    segment("q.dat", kT, 100, "??", 1);               // indices 0..99
    segment("n.dat", kT + 10, 100, std::nullopt, 2);  // 100..199
    segment("l.dat", kT + 20, 100, "00", 3);          // 200..299
    ASSERT_TRUE(connect());
    struct Case {
        const char* loc;
        int status;
        float at0, at100, at200;
    };
    const Case cases[] = {
        {"", kOk, 1, 2, -1},
        {"??", kOk, 1, 2, -1},
        {"00", kOk, -1, -1, 3},
        {"10", kNoSegment, -1, -1, -1},
    };
    for (const auto& c : cases) {
        std::fill(buf_.begin(), buf_.end(), -1.0f);
        double t0 = kT, t1 = kT + 100;
        ASSERT_EQ(read(t0, t1, c.loc), c.status) << c.loc;
        EXPECT_EQ(buf_[0], c.at0) << c.loc;
        EXPECT_EQ(buf_[100], c.at100) << c.loc;
        EXPECT_EQ(buf_[200], c.at200) << c.loc;
    }
}

TEST_P(WaveStoreRead, FailuresLeaveTheWindowAsItWas) {
    segment("ok.dat", kT, 100);
    store_->add_segment({"ABC", "BHZ", "??", kT + 20, 10, 10.0, 2, 0, "missing.dat", std::nullopt});
    ASSERT_TRUE(connect());
    double t0 = kT, t1 = kT + 100;
    EXPECT_EQ(read(t0, t1), kFileOpenError);
    EXPECT_EQ(t0, kT);
    EXPECT_EQ(t1, kT + 100);
    EXPECT_EQ(buf_[0], 0.0f);  // the segment before the failing one stays delivered
    double e0 = kT, e1 = kT;
    EXPECT_EQ(read(e0, e1), kEmptyWindow);
}

TEST_P(WaveStoreRead, FilesThatAreNotRegularAreUnreadableSegments) {
    // A FIFO would hold a blocking open() until some writer appeared; a directory
    // opens but cannot be read. Both are named as unreadable, never waited on.
    const std::string fifo = store_->data_dir() + "/pipe.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directories(store_->data_dir() + "/dir.dat");
    store_->add_segment({"ABC", "BHZ", "??", kT, 10, 10.0, 2, 0, "pipe.dat", std::nullopt});
    store_->add_segment({"ABC", "BHZ", "??", kT + 20, 10, 10.0, 2, 0, "dir.dat", std::nullopt});
    ASSERT_TRUE(connect());
    std::vector<SegmentFault> faults;
    auto reading = std::async(std::launch::async, [&] {
        double t0 = kT, t1 = kT + 100;
        return ws_.read_samples(buf_.data(), buf_.size(), "ABC", "BHZ", "", t0, t1, &filled_,
                                &faults);
    });
    if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Release the blocked reader so that the test ends with a failure, not a hang.
        const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (w >= 0) ::close(w);
        reading.wait();
        FAIL() << "reading blocked on a FIFO";
    }
    EXPECT_EQ(reading.get(), kOk);
    ASSERT_EQ(faults.size(), 2u);
    for (const SegmentFault& f : faults) {
        EXPECT_EQ(f.kind, SegmentFault::kUnreadable) << f.path;
        EXPECT_EQ(f.reason, "not a regular file") << f.path;
    }
    EXPECT_EQ(faults[0].path, fifo);
}

TEST_P(WaveStoreRead, RowsNeverReadFilesOutsideTheDataDirectory) {
    namespace fs = std::filesystem;
    const test::TempDir outside("zelvik-outside");
    const std::string secret = outside.write("secret.dat", std::string(400, '\x02'));
    const std::string data = store_->data_dir();
    const std::string sibling = data + "x";  // shares the directory's name as a prefix
    fs::create_directories(sibling);
    fs::copy_file(secret, sibling + "/secret.dat");
    fs::create_symlink(secret, data + "/out_link.dat");
    store_->write_int32("sub/ok.dat", std::vector<int32_t>(100, 7));
    fs::create_symlink(data + "/sub/ok.dat", data + "/in_link.dat");
    const std::string up = "../" + fs::path(outside.path()).filename().string() + "/secret.dat";
    struct Case {
        std::string cpath;
        bool admitted;
    };
    const Case cases[] = {
        {up, false},
        {data + "/" + up, false},
        {"/" + secret, false},         // "//tmp/...": kept as it is by the path rule
        {"C:\\x\\secret.dat", false},  // a drive path is kept too, here relative
        {sibling + "/secret.dat", false},
        {"out_link.dat", false},
        {"sub/ok.dat", true},
        {data + "/sub/ok.dat", true},
        {secret, true},  // an absolute path is joined to the directory: missing, not read
        {"sub/../sub/ok.dat", true},
        {"in_link.dat", true},
    };
    double at = kT;
    for (const Case& c : cases) {
        store_->add_segment({"ABC", "BHZ", "??", at, 5, 10.0, 2, 0, c.cpath, std::nullopt});
        at += 9;
    }
    ASSERT_TRUE(connect());
    std::vector<SegmentFault> faults;
    double t0 = kT, t1 = kT + 100;
    ASSERT_EQ(
        ws_.read_samples(buf_.data(), buf_.size(), "ABC", "BHZ", "", t0, t1, &filled_, &faults),
        kOk);
    fs::remove_all(sibling);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const bool read = cases[i].admitted && cases[i].cpath != secret;
        const float want = read ? 7.0f : -1.0f;  // 0x02020202 if the secret were read
        EXPECT_EQ(buf_[i * 90], want) << cases[i].cpath;
    }
    ASSERT_EQ(faults.size(), 7u);
    for (const SegmentFault& f : faults) {
        if (f.path == data + secret) continue;
        EXPECT_EQ(f.kind, SegmentFault::kMalformed) << f.path;
        EXPECT_EQ(f.reason, "CPATH outside the data directory") << f.path;
    }
    // Without the fault list the window fails as for a file that cannot be opened.
    t0 = kT, t1 = kT + 100;
    EXPECT_EQ(read(t0, t1), kFileOpenError);
}

TEST_P(WaveStoreRead, BoundedSelectStillFindsLongSegmentsThatBeganLongAgo) {
    // The select starts its index walk at the window less the longest segment known:
    // a long row far back, one a little longer added after the first read, and one
    // read later that is longer still must all be found, with or without TEND.
    store_->write_int32("s.dat", std::vector<int32_t>(10, 1));
    store_->write_int32("l.dat", std::vector<int32_t>(200000, 2));
    for (int i = 0; i < 100; i += 2)  // [T+i, T+i+1): one second on, one off
        store_->add_segment({"ABC", "BHZ", "??", kT + i, 1, 10.0, 2, 0, "s.dat", kT + i + 1});
    auto long_row = [&](double length, double end) {
        store_->add_segment({"ABC", "BHZ", "??", end - length, length, 10.0, 2, 0, "l.dat", end});
    };
    long_row(5000, kT + 20);  // longest at the first read
    for (bool tend : {false, true}) {
        ASSERT_TRUE(connect(tend));
        buf_.assign(buf_.size(), -1.0f);
        double t0 = kT + 10, t1 = kT + 30;
        ASSERT_EQ(read(t0, t1), kOk);
        EXPECT_EQ(buf_[50], 2.0f) << tend;  // T+15, between short rows: the long one
        EXPECT_EQ(buf_[45], 1.0f) << tend;  // T+14.5: a short row
        // T+25, between short rows: covered only by the row added in the first pass.
        EXPECT_EQ(buf_[150], tend ? 2.0f : -1.0f) << tend;
        if (!tend) long_row(8000, kT + 50);  // within an hour of the longest: still found
        t0 = kT + 40, t1 = kT + 60;
        ASSERT_EQ(read(t0, t1), kOk);
        EXPECT_EQ(buf_[50], 2.0f) << tend;  // T+45
        buf_.assign(buf_.size(), -1.0f);
        t0 = kT + 90, t1 = kT + 100;
        ASSERT_EQ(read(t0, t1), kOk);
        EXPECT_EQ(buf_[45], 1.0f) << tend;
        EXPECT_EQ(buf_[55], -1.0f) << tend;
        EXPECT_NEAR(t1, kT + 99, 1e-6) << tend;
    }
}

TEST_P(WaveStoreRead, TendThatDisagreesWithTheLengthIsOutsideTheWindow) {
    store_->write_int32("t.dat", ramp(100));
    // TEND says the segment reaches into the window, TBEGIN+TQTY says it ended before.
    store_->add_segment({"ABC", "BHZ", "??", kT - 100, 10, 10.0, 2, 0, "t.dat", kT + 50});
    ASSERT_TRUE(connect(true));
    EXPECT_TRUE(ws_.use_tend());
    double t0 = kT, t1 = kT + 100;
    EXPECT_EQ(read(t0, t1), kSegmentOutsideWindow);
}

TEST_P(WaveStoreRead, MalformedRowsNeitherCrashNorOverrun) {
    store_->write_int32("m.dat", ramp(10));
    struct Case {
        double sps, tqty;
        int type;
        int want;
    };
    const Case cases[] = {
        {0.0, 10, 2, kSegmentReadError},
        {10.0, -5, 2, kSegmentReadError},
        {1e9, 10, 2, kOk},
        {10.0, 10, 4, kOk},
        {10.0, 10, 77, kOk},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(store_->exec("delete from FILELIST"));
        store_->add_segment(
            {"ABC", "BHZ", "??", kT + 10, c.tqty, c.sps, c.type, 0, "m.dat", std::nullopt});
        ASSERT_TRUE(connect());
        std::vector<float> small(50, -1.0f);
        double t0 = kT, t1 = kT + 100;
        EXPECT_EQ(ws_.read_samples(small.data(), 40, "ABC", "BHZ", "", t0, t1, &filled_), c.want)
            << c.sps;
        EXPECT_EQ(small[40], -1.0f);
    }
}

TEST_P(WaveStoreRead, AnAbsurdLengthEndsAtTheDataTheFileHolds) {
    // The file holds 10 s from T+10; the row claims 1e12 s, or an infinite length.
    store_->write_int32("long.dat", ramp(100));
    const bool pg = GetParam() == "postgres";
    for (const char* tqty : {"1e12", pg ? "'Infinity'" : "9e999"}) {
        ASSERT_TRUE(store_->exec("delete from FILELIST"));
        store_->add_segment(
            {"ABC", "BHZ", "??", kT + 10, 10, 10.0, 2, 0, "long.dat", std::nullopt});
        ASSERT_TRUE(store_->exec(std::string("update FILELIST set TQTY=") + tqty));
        ASSERT_TRUE(connect());
        std::vector<SegmentFault> faults;
        double t0 = kT, t1 = kT + 100;
        ASSERT_EQ(
            ws_.read_samples(buf_.data(), buf_.size(), "ABC", "BHZ", "", t0, t1, &filled_, &faults),
            kOk)
            << tqty;
        EXPECT_NEAR(t1, kT + 20, 1e-6) << tqty;  // not the window's end
        ASSERT_EQ(faults.size(), 1u) << tqty;
        EXPECT_EQ(faults[0].kind, SegmentFault::kMalformed) << tqty;
        EXPECT_NE(faults[0].reason.find("TQTY"), std::string::npos) << faults[0].reason;
        // Read again from there: nothing more, and the delivered end does not move.
        t0 = t1, t1 = t0 + 100;
        ASSERT_EQ(
            ws_.read_samples(buf_.data(), buf_.size(), "ABC", "BHZ", "", t0, t1, &filled_, &faults),
            kOk);
        EXPECT_NEAR(t1, kT + 20, 1e-6) << tqty;
    }
}

TEST_P(WaveStoreRead, NextDataStartFindsWhereTheChannelResumes) {
    segment("later.dat", kT + 3600, 100);
    segment("much_later.dat", kT + 9000, 100);
    ASSERT_TRUE(connect());
    double t0 = kT, t1 = kT + 3600;
    ASSERT_EQ(read(t0, t1), kNoSegment);
    double start = 0;
    ASSERT_EQ(ws_.next_data_start("ABC", "BHZ", "", t1, start), 1);
    EXPECT_EQ(start, kT + 3600);  // a segment starting exactly at the window end counts
    ASSERT_EQ(ws_.next_data_start("ABC", "BHZ", "", kT + 3601, start), 1);
    EXPECT_EQ(start, kT + 9000);
    EXPECT_EQ(ws_.next_data_start("ABC", "BHZ", "", kT + 9001, start), 0);
    EXPECT_EQ(ws_.next_data_start("ABC", "BHZ", "00", kT, start), 0);
}

TEST_P(WaveStoreRead, CodesLongerThanSevenMatchNothing) {
    segment("s.dat", kT, 100);
    ASSERT_TRUE(connect());
    double t0 = kT, t1 = kT + 10;
    // A cut "ABCDEFGH" would be "ABCDEFG", someone else's station.
    EXPECT_EQ(ws_.read_samples(buf_.data(), buf_.size(), "ABCDEFGH", "BHZ", "", t0, t1),
              kNoSegment);
}

INSTANTIATE_TEST_SUITE_P(Drivers, WaveStoreRead, ::testing::Values("sqlite", "postgres"),
                         store_test_name);

}  // namespace
}  // namespace zelvik::db
