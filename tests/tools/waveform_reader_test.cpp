// Reading waveform files for import: real miniSEED from tests/data/real (golden start
// times and counts from its picks.csv, seconds checked with `date -u -d ... +%s`),
// files cut short or corrupted, and SAC in both byte orders written here.
#include "tools/waveform_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/temp_dir.h"

namespace zelvik::tools {
namespace {

const std::string kReal = ZELVIK_REAL_DATA_DIR;

TEST(ReadMiniseed, RealRecordingsGiveTheirChannelsWhole) {
    struct Case {
        const char* file;
        size_t segments;
        const char* station;
        const char* channel;
        double start;
    };
    const Case cases[] = {
        {"NC_PHC_2004011816230722.mseed", 1, "PHC", "SHZ", 1074442807.22},
        {"BK_BKS_2017071510492061.mseed", 3, "BKS", "HHZ", 1500115580.61},
    };
    for (const auto& c : cases) {
        std::vector<Segment> segs;
        std::string error;
        ASSERT_TRUE(read_miniseed(kReal + "/" + c.file, segs, error)) << error;
        ASSERT_EQ(segs.size(), c.segments) << c.file;
        bool found = false;
        for (const auto& s : segs) {
            EXPECT_EQ(s.count(), 24001u);
            EXPECT_EQ(s.sps, 100.0);
            EXPECT_FALSE(s.integer);  // float32 records
            EXPECT_EQ(s.location, "");
            if (s.channel == c.channel) {
                found = true;
                EXPECT_EQ(s.station, c.station);
                EXPECT_NEAR(s.start, c.start, 1e-6);
            }
        }
        EXPECT_TRUE(found) << c.file;
    }
}

TEST(ReadMiniseed, DamagedFilesAreRefusedWhole) {
    test::TempDir dir("zelvik-mseed");
    const std::string whole = test::read_file(kReal + "/NC_PHC_2004011816230722.mseed");
    ASSERT_GT(whole.size(), 8192u);
    std::string bad_header = whole;
    std::memcpy(bad_header.data() + 4096, "garbage!", 8);  // second record's header
    struct Case {
        const char* name;
        std::string bytes;
        const char* says;
    };
    const Case cases[] = {
        {"cut.mseed", whole.substr(0, whole.size() - 1000), "truncated"},
        {"text.mseed", std::string(5000, 'x'), "not miniSEED"},
        {"header.mseed", bad_header, "at byte 4096"},
        {"empty.mseed", "", "empty file"},
    };
    for (const auto& c : cases) {
        std::vector<Segment> segs;
        std::string error;
        EXPECT_FALSE(read_miniseed(dir.write(c.name, c.bytes), segs, error)) << c.name;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
    }
    std::vector<Segment> segs;
    std::string error;
    EXPECT_FALSE(read_miniseed(dir.file("absent.mseed"), segs, error));
}

// A SAC file of `n` samples i*0.5, delta 0.01, 2014 day 65 (6 March) 12:00:00.250, b = 1.5.
std::string sac_bytes(int n, bool swap) {
    std::string h(632, '\0');
    auto put = [&](size_t word, uint32_t v) {
        if (swap) v = __builtin_bswap32(v);
        std::memcpy(h.data() + 4 * word, &v, 4);
    };
    auto putf = [&](size_t word, float f) {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        put(word, v);
    };
    for (size_t w = 0; w < 70; ++w) putf(w, -12345.0f);
    for (size_t w = 70; w < 110; ++w) put(w, static_cast<uint32_t>(-12345));
    for (size_t off = 440; off < 632; off += 8) std::memcpy(h.data() + off, "-12345  ", 8);
    putf(0, 0.01f);
    putf(5, 1.5f);
    const int fields[] = {2014, 65, 12, 0, 0, 250};
    for (size_t i = 0; i < 6; ++i) put(70 + i, static_cast<uint32_t>(fields[i]));
    put(76, 6), put(79, static_cast<uint32_t>(n)), put(85, 1), put(105, 1);
    std::memcpy(h.data() + 440, "XYZ     ", 8);
    std::memcpy(h.data() + 600, "HHZ     ", 8);
    std::memcpy(h.data() + 608, "ZZ      ", 8);
    std::string data(static_cast<size_t>(n) * 4, '\0');
    for (int i = 0; i < n; ++i) {
        const float f = static_cast<float>(i) * 0.5f;
        uint32_t v;
        std::memcpy(&v, &f, 4);
        if (swap) v = __builtin_bswap32(v);
        std::memcpy(data.data() + 4 * i, &v, 4);
    }
    return h + data;
}

TEST(ReadSac, BothByteOrdersGiveTheSameSegment) {
    test::TempDir dir("zelvik-sac");
    for (bool swap : {false, true}) {
        std::vector<Segment> segs;
        std::string error;
        ASSERT_TRUE(read_waveform_file(dir.write("x.SAC", sac_bytes(300, swap)), segs, error))
            << error;
        ASSERT_EQ(segs.size(), 1u);
        const Segment& s = segs[0];
        EXPECT_EQ(s.station, "XYZ");
        EXPECT_EQ(s.channel, "HHZ");
        EXPECT_EQ(s.network, "ZZ");
        EXPECT_EQ(s.location, "");  // "-12345" means unset
        EXPECT_EQ(s.sps, 100.0);    // 1/0.01f rounded back
        // 2014-03-06 12:00:00.25 UTC = 1394107200.25 (date -u), plus b = 1.5 s
        EXPECT_NEAR(s.start, 1394107201.75, 1e-6);
        ASSERT_EQ(s.count(), 300u);
        EXPECT_EQ(s.floats[299], 149.5f);
    }
    std::vector<Segment> segs;
    std::string error;
    const std::string cut = sac_bytes(300, false).substr(0, 632 + 100);
    EXPECT_FALSE(read_waveform_file(dir.write("cut.sac", cut), segs, error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    EXPECT_FALSE(read_waveform_file(dir.write("short.sac", "tiny"), segs, error));
}

}  // namespace
}  // namespace zelvik::tools
