// Segment reading against real files: placement, formats, short files, and rows that
// would make a careless reader write past the buffer or allocate without bound.
#include "db/sample_reading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "db/store_status.h"
#include "tests/support/temp_dir.h"

namespace zelvik::db {
namespace {

std::string le_bytes(const void* data, size_t n) {
    return std::string(static_cast<const char*>(data), n);
}

TEST(SampleIndex, FractionBelowOneSampleCountsAsNothing) {
    // 20 sps: 1/sps = 0.05. Values from the placement rule worked by hand.
    struct Case {
        double v, sps;
        int64_t want;
    };
    const Case cases[] = {
        {10.0, 20, 10}, {10.2, 20, 11},  {10.02, 20, 10},      {10.05, 20, 11},
        {0.0, 100, 0},  {0.009, 100, 0}, {3599.99, 100, 3600}, {7.5, 0, 7},
    };
    for (const auto& c : cases) EXPECT_EQ(sample_index(c.v, c.sps), c.want) << c.v << " @" << c.sps;
}

TEST(DataFilePath, JoinsOrKeepsAsTheRowSays) {
    struct Case {
        const char* dir;
        const char* cpath;
        const char* want;
    };
    const Case cases[] = {
        {"D:/Data", "2013/ABC/file.dat", "D:/Data/2013/ABC/file.dat"},
        {"D:/Data", "d:\\data\\x.dat", "d:/data/x.dat"},  // begins with the directory, any case
        {"D:/Data", "\\\\srv\\share\\x.dat", "//srv/share/x.dat"},  // UNC path kept
        {"D:/Data", "C:\\other\\x.dat", "C:/other/x.dat"},          // drive letter kept
        {"/data/", "a/b.dat", "/data/a/b.dat"},
        {"/data", "/abs.dat", "/data/abs.dat"},
    };
    for (const auto& c : cases) EXPECT_EQ(data_file_path(c.dir, c.cpath), c.want) << c.cpath;
    EXPECT_EQ(data_file_path("/d", std::string(3000, 'x')).size(), 1023u);
}

class ReadSegment : public ::testing::Test {
protected:
    test::TempDir dir{"zelvik-seg"};
    std::vector<float> out = std::vector<float>(64, -7.0f);
    SegmentOutcome outcome;
};

TEST_F(ReadSegment, ConvertsEveryFormat) {
    const int8_t i8[] = {-3, 4};
    const int16_t i16[] = {-300, 400};
    const int32_t i32[] = {-70000, 80000};
    const float f32[] = {1.5f, -2.25f};
    const uint16_t u16[] = {65535, 1};
    struct Case {
        int16_t type;
        std::string bytes;
        float a, b;
    };
    const Case cases[] = {
        {kInt8, le_bytes(i8, sizeof i8), -3, 4},
        {kInt16, le_bytes(i16, sizeof i16), -300, 400},
        {kInt32, le_bytes(i32, sizeof i32), -70000, 80000},
        {kFloat32, le_bytes(f32, sizeof f32), 1.5f, -2.25f},
        {kUInt16, le_bytes(u16, sizeof u16), 65535, 1},
    };
    for (const auto& c : cases) {
        // A 5-byte text header before the samples is skipped by FOFF alone.
        const std::string path = dir.write("f.dat", "HEAD:" + c.bytes);
        SegmentRow row{100.0, 1.0, 2.0, c.type, 5, "f.dat"};
        ASSERT_EQ(read_segment(out.data(), out.size(), 100.0, 102.0, row, path, outcome), kOk);
        EXPECT_EQ(out[0], c.a) << c.type;
        EXPECT_EQ(out[1], c.b) << c.type;
        EXPECT_EQ(outcome.samples_read, 2u);
        EXPECT_EQ(outcome.end, 102.0);
    }
}

TEST_F(ReadSegment, PlacesByOffsetAndSkipsIntoTheFile) {
    std::vector<int32_t> v(100);
    for (int i = 0; i < 100; ++i) v[static_cast<size_t>(i)] = i;
    const std::string path = dir.write("f.dat", le_bytes(v.data(), v.size() * 4));
    // Segment starts 0.51 s into the window at 20 sps: 10.2 samples -> index 11.
    SegmentRow late{1000.51, 20.0, 5.0, kInt32, 0, "f.dat"};
    ASSERT_EQ(read_segment(out.data(), out.size(), 1000.0, 1002.0, late, path, outcome), kOk);
    EXPECT_EQ(outcome.first, 11u);
    EXPECT_EQ(out[11], 0.0f);
    EXPECT_EQ(out[10], -7.0f);  // before the segment: untouched
    // Segment began 1 s before the window: the file is entered at its 20th sample.
    SegmentRow early{999.0, 20.0, 5.0, kInt32, 0, "f.dat"};
    ASSERT_EQ(read_segment(out.data(), out.size(), 1000.0, 1001.0, early, path, outcome), kOk);
    EXPECT_EQ(outcome.first, 0u);
    EXPECT_EQ(out[0], 20.0f);
    EXPECT_EQ(out[19], 39.0f);
    EXPECT_EQ(outcome.samples_read, 20u);
}

TEST_F(ReadSegment, SegmentOfWholeSampleIntervalsGivesEverySample) {
    // At epoch-sized times 2.56 s comes out as 2.5599999...: every one of these lengths
    // is a whole number of samples and must deliver all of them, also when the window
    // starts inside the segment. 2.5555 s really ends between samples: 255 at 100 sps.
    std::vector<int32_t> v(2000, 1);
    const std::string path = dir.write("g.dat", le_bytes(v.data(), v.size() * 4));
    std::vector<float> buf(4000);
    struct Case {
        double tqty, sps;
        size_t want;
    };
    const Case cases[] = {{2.56, 100, 256},   {0.1, 100, 10}, {1.37, 100, 137},
                          {10.01, 100, 1001}, {7.2, 40, 288}, {2.5555, 100, 255}};
    for (const double t0 : {1.6e9 + 0.37, 1.7e9 + 123.456789}) {
        for (const auto& c : cases) {
            const SegmentRow row{t0, c.sps, c.tqty, kInt32, 0, "g.dat"};
            ASSERT_EQ(read_segment(buf.data(), buf.size(), t0, t0 + 3600, row, path, outcome), kOk);
            EXPECT_EQ(outcome.samples_wanted, c.want) << c.tqty << " s at " << t0;
            if (c.sps != 100 || c.tqty < 1 || c.want == 255) continue;
            const double inside = t0 + 0.3;  // window starts 30 samples into the segment
            ASSERT_EQ(
                read_segment(buf.data(), buf.size(), inside, inside + 3600, row, path, outcome),
                kOk);
            EXPECT_EQ(outcome.samples_wanted, c.want - 30) << c.tqty << " s from inside";
        }
    }
}

TEST_F(ReadSegment, ShortFileGivesZerosThatAreNotCountedAsRead) {
    const int32_t three[] = {5, 6, 7};
    const std::string path = dir.write("short.dat", le_bytes(three, sizeof three));
    SegmentRow row{0.0, 10.0, 1.0, kInt32, 0, "short.dat"};
    ASSERT_EQ(read_segment(out.data(), out.size(), 0.0, 1.0, row, path, outcome), kOk);
    EXPECT_EQ(out[2], 7.0f);
    for (size_t i = 3; i < 10; ++i) EXPECT_EQ(out[i], 0.0f) << i;
    EXPECT_EQ(outcome.samples_read, 3u);
}

TEST_F(ReadSegment, UnknownFormatLeavesTheOutputAlone) {
    const std::string path = dir.write("f.dat", std::string(64, '\1'));
    for (int16_t type : {int16_t{4}, int16_t{9}, int16_t{-1}}) {
        SegmentRow row{0.0, 10.0, 1.0, type, 0, "f.dat"};
        ASSERT_EQ(read_segment(out.data(), out.size(), 0.0, 1.0, row, path, outcome), kOk);
        EXPECT_EQ(out[0], -7.0f);
        EXPECT_EQ(outcome.samples_read, 0u);
        EXPECT_EQ(outcome.end, 1.0);  // the segment still counts as read through
    }
}

TEST_F(ReadSegment, NeverWritesPastCapacity) {
    const std::string path = dir.write("big.dat", std::string(4000, '\0'));
    std::vector<float> guarded(20, -7.0f);
    // SPS 1e9 over 100 s would be 1e11 samples; FOFF far beyond the file end.
    const SegmentRow rows[] = {
        {0.0, 1e9, 100.0, kInt32, 0, "big.dat"},
        {0.0, 100.0, 100.0, kInt32, int64_t{1} << 60, "big.dat"},
        {5.0, 1.0, 100.0, kInt32, 0, "big.dat"},  // placed at index 5 of 10 usable
    };
    for (const auto& row : rows) {
        ASSERT_EQ(read_segment(guarded.data(), 10, 0.0, 100.0, row, path, outcome), kOk);
        for (size_t i = 10; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], -7.0f) << row.sps;
        EXPECT_LE(outcome.first + outcome.samples_read, 10u);
    }
    // Placed beyond the buffer entirely: nothing written, nothing counted.
    SegmentRow beyond{50.0, 1.0, 10.0, kInt32, 0, "big.dat"};
    ASSERT_EQ(read_segment(guarded.data(), 10, 0.0, 100.0, beyond, path, outcome), kOk);
    EXPECT_EQ(outcome.samples_read, 0u);
}

TEST_F(ReadSegment, RejectsRowsItCannotTrust) {
    const std::string path = dir.write("f.dat", std::string(400, '\0'));
    struct Case {
        SegmentRow row;
        int want;
    };
    const Case cases[] = {
        {{0.0, 0.0, 10.0, kInt32, 0, "f"}, kSegmentReadError},         // SPS 0
        {{0.0, -5.0, 10.0, kInt32, 0, "f"}, kSegmentReadError},        // SPS negative
        {{0.0, NAN, 10.0, kInt32, 0, "f"}, kSegmentReadError},         // SPS not a number
        {{5.0, 10.0, -3.0, kInt32, 0, "f"}, kSegmentReadError},        // TQTY negative
        {{0.0, 10.0, 10.0, kInt32, -4, "f"}, kSegmentReadError},       // FOFF negative
        {{20.0, 10.0, 10.0, kInt32, 0, "f"}, kSegmentOutsideWindow},   // starts after the end
        {{-30.0, 10.0, 10.0, kInt32, 0, "f"}, kSegmentOutsideWindow},  // ends before the start
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read_segment(out.data(), out.size(), 0.0, 10.0, c.row, path, outcome), c.want)
            << c.row.tbegin << " " << c.row.sps << " " << c.row.tqty;
    }
    SegmentRow missing{0.0, 10.0, 1.0, kInt32, 0, "none"};
    EXPECT_EQ(
        read_segment(out.data(), out.size(), 0.0, 1.0, missing, dir.file("none.dat"), outcome),
        kFileOpenError);
}

}  // namespace
}  // namespace zelvik::db
