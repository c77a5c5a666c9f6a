// Damaged and hostile waveform files: a blockette chain that loops, Steim frames with a
// flipped bit, samples and times that are not finite. Each must be refused with a
// reason, promptly, and never imported as numbers. Steim files are packed here with
// libmseed itself, so the original samples are known exactly.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "acquire/mseed_record_check.h"
#include "tests/support/temp_dir.h"
#include "tools/waveform_reader.h"

namespace zelvik::tools {
namespace {

const std::string kPhc = std::string(ZELVIK_REAL_DATA_DIR) + "/NC_PHC_2004011816230722.mseed";

void put_be16(std::string& b, size_t at, unsigned v) {
    b[at] = static_cast<char>(v >> 8);
    b[at + 1] = static_cast<char>(v & 0xFF);
}

TEST(MiniseedStructure, BrokenRecordsAreRefusedWithTheirReason) {
    const std::string whole = test::read_file(kPhc);
    ASSERT_GT(whole.size(), 8192u);
    // Every record of the file: 4096 bytes, blockette 1000 at 48, data at 56.
    struct Case {
        const char* says;
        size_t at;  // byte to change
        unsigned value;
    };
    const Case cases[] = {
        {"loops", 4096 + 50, 48},          // blockette 1000 names itself as the next one
        {"loops", 46, 20},                 // first blockette inside the fixed header
        {"beyond", 4096 + 50, 4094},       // next blockette runs off the record
        {"data offset", 4096 + 44, 9000},  // data beyond the record
    };
    test::TempDir dir("zelvik-structure");
    for (const auto& c : cases) {
        std::string bytes = whole;
        put_be16(bytes, c.at, c.value);
        std::vector<Segment> segs;
        std::string error;
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(read_waveform_file(dir.write("bad.mseed", bytes), segs, error)) << c.says;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_TRUE(segs.empty());
    }
    std::string huge = whole;
    huge[48 + 6] = 31;  // record length 2^31
    std::vector<size_t> lengths;
    std::string error;
    EXPECT_FALSE(acquire::check_miniseed_records(huge, lengths, error));
    EXPECT_NE(error.find("2^31"), std::string::npos) << error;
    ASSERT_TRUE(acquire::check_miniseed_records(whole, lengths, error)) << error;
    EXPECT_EQ(lengths, std::vector<size_t>(whole.size() / 4096, 4096));
}

void collect_record(char* record, int length, void* sink) {
    static_cast<std::string*>(sink)->append(record, static_cast<size_t>(length));
}

// 2000 samples of a slow sine with noise-like steps, packed in 512-byte Steim records.
std::string steim_file(int8_t encoding, std::vector<int32_t>& samples) {
    samples.resize(2000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int32_t>(20000.0 * std::sin(0.01 * static_cast<double>(i))) +
                     static_cast<int32_t>((i * 7919) % 301) - 150;
    MSRecord* msr = msr_init(nullptr);
    std::strcpy(msr->network, "XX");
    std::strcpy(msr->station, "STEIM");
    std::strcpy(msr->channel, "HHZ");
    msr->starttime = ms_timestr2hptime(const_cast<char*>("2016-12-14T17:00:00.000000"));
    msr->samprate = 100.0;
    msr->reclen = 512;
    msr->encoding = encoding;
    msr->byteorder = 1;
    std::vector<int32_t> copy = samples;
    msr->datasamples = copy.data();
    msr->numsamples = static_cast<int64_t>(copy.size());
    msr->sampletype = 'i';
    std::string bytes;
    int64_t packed = 0;
    const int records = msr_pack(msr, collect_record, &bytes, &packed, 1, 0);
    msr->datasamples = nullptr;  // ours, not libmseed's to free
    msr_free(&msr);
    EXPECT_GT(records, 1);
    EXPECT_EQ(packed, static_cast<int64_t>(samples.size()));
    return bytes;
}

TEST(MiniseedStructure, SteimFramesThatFailTheirCheckAreRefused) {
    for (const int8_t encoding : {int8_t{DE_STEIM1}, int8_t{DE_STEIM2}}) {
        std::vector<int32_t> samples;
        const std::string good = steim_file(encoding, samples);
        std::vector<Segment> segs;
        std::string error;
        ASSERT_TRUE(read_miniseed_bytes(good, segs, error)) << error;
        ASSERT_EQ(segs.size(), 1u);
        ASSERT_EQ(segs[0].ints, samples);
        // One bit flipped in the data frames of a record (after its 64-byte header):
        // either refused, or exactly the original samples (a bit the decoder ignores).
        size_t refused = 0, flips = 0;
        for (size_t at = 64; at < good.size(); at += 97) {
            if (at % 512 < 64) continue;
            std::string bad = good;
            bad[at] = static_cast<char>(bad[at] ^ (1 << (at % 8)));
            segs.clear();
            ++flips;
            if (!read_miniseed_bytes(bad, segs, error)) {
                ++refused;
                continue;
            }
            ASSERT_EQ(segs.size(), 1u) << "flip at " << at;
            EXPECT_EQ(segs[0].ints, samples) << "flip at byte " << at << " imported other samples";
        }
        EXPECT_GT(refused, flips * 9 / 10) << "encoding " << int{encoding};
    }
}

void put_le_float(std::string& b, size_t at, float f) {
    std::memcpy(b.data() + at, &f, 4);
}

TEST(NonFiniteInput, SamplesAndTimesThatAreNotNumbersAreRefused) {
    // miniSEED float32 records (big-endian data): a NaN in the second record's data.
    std::string mseed = test::read_file(kPhc);
    const char nan_be[4] = {'\x7f', '\xc0', '\0', '\0'};
    std::memcpy(mseed.data() + 4096 + 64 + 40, nan_be, 4);
    std::vector<Segment> segs;
    std::string error;
    EXPECT_FALSE(read_miniseed_bytes(mseed, segs, error));
    EXPECT_NE(error.find("not finite"), std::string::npos) << error;

    // SAC, little-endian: 10 samples of 1.0 from 2014 day 65, b = 0.
    std::string sac(632 + 40, '\0');
    auto put = [&](size_t word, int32_t v) { std::memcpy(sac.data() + 4 * word, &v, 4); };
    for (size_t w = 70; w < 110; ++w) put(w, -12345);
    for (size_t off = 440; off < 632; off += 8) std::memcpy(sac.data() + off, "-12345  ", 8);
    put_le_float(sac, 0, 0.01f);
    put_le_float(sac, 20, 0.0f);
    const int32_t fields[] = {2014, 65, 12, 0, 0, 250};
    for (size_t i = 0; i < 6; ++i) put(70 + i, fields[i]);
    put(76, 6), put(79, 10), put(85, 1), put(105, 1);
    std::memcpy(sac.data() + 440, "XYZ     ", 8);
    std::memcpy(sac.data() + 600, "HHZ     ", 8);
    for (size_t i = 0; i < 10; ++i) put_le_float(sac, 632 + 4 * i, 1.0f);
    Segment seg;
    ASSERT_TRUE(read_sac_bytes(sac, seg, error)) << error;

    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        size_t at;
        float value;
        const char* says;
    };
    const Case cases[] = {
        {632 + 12, nan, "not finite"},                               // a sample
        {632 + 36, -inf, "not finite"}, {20, 1e30f, "begin time"},   // b, as the audit found it
        {20, nan, "begin time"},        {0, inf, "evenly sampled"},  // delta
    };
    for (const auto& c : cases) {
        std::string bad = sac;
        put_le_float(bad, c.at, c.value);
        EXPECT_FALSE(read_sac_bytes(bad, seg, error)) << c.at;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.at << ": " << error;
    }
    std::string bad_year = sac;
    std::memcpy(bad_year.data() + 4 * 70, "\xff\xff\xff\x7f", 4);  // year 2^31 - 1
    EXPECT_FALSE(read_sac_bytes(bad_year, seg, error));
    EXPECT_NE(error.find("not a date"), std::string::npos) << error;
}

}  // namespace
}  // namespace zelvik::tools
