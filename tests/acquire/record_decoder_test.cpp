// Records are checked before libmseed reads them: the crafted files that made libmseed
// read past a record (../shared/reliability) and records whose fields lie are refused
// with a named error, and a good record decodes to what libmseed reads from the file.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "acquire/mseed_record_check.h"
#include "acquire/record_decoder.h"

namespace zelvik::acquire {
namespace {

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void put_be16(std::string& b, size_t at, unsigned v) {
    b[at] = static_cast<char>(v >> 8);
    b[at + 1] = static_cast<char>(v & 0xFF);
}

TEST(RecordDecoder, RefusesTheCraftedCrashFiles) {
    const std::string dir = std::string(ZELVIK_SHARED_DIR) + "/reliability";
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << "no crafted files: " << dir << " is absent";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".mseed") continue;
        ++files;
        const std::string bytes = file_bytes(entry.path());
        std::vector<size_t> lengths;
        std::string error;
        EXPECT_FALSE(check_miniseed_records(bytes, lengths, error)) << entry.path();
        // Record by record at the lengths they announce: some record is refused, or the
        // walk meets one that cannot be framed.
        bool all_decoded = true;
        for (size_t at = 0, length = 0; at < bytes.size() && all_decoded; at += length) {
            const std::string_view rest = std::string_view(bytes).substr(at);
            all_decoded = announced_record_length(rest, length, error) == 1 &&
                          length <= rest.size() && decode_record(rest.substr(0, length)).ok();
        }
        EXPECT_FALSE(all_decoded) << entry.path();
    }
    EXPECT_EQ(files, 5);
}

void collect_record(char* record, int length, void* sink) {
    static_cast<std::string*>(sink)->append(record, static_cast<size_t>(length));
}

// The first 512-byte Steim 2 record libmseed packs from `samples` (100 Hz, XX_STEIM HHZ).
std::string steim2_record(std::vector<int32_t> samples, int64_t& packed) {
    MSRecord* msr = msr_init(nullptr);
    std::strcpy(msr->network, "XX");
    std::strcpy(msr->station, "STEIM");
    std::strcpy(msr->channel, "HHZ");
    msr->starttime = ms_timestr2hptime(const_cast<char*>("2016-12-14T17:00:00.000000"));
    msr->samprate = 100.0;
    msr->reclen = 512;
    msr->encoding = DE_STEIM2;
    msr->byteorder = 1;
    msr->datasamples = samples.data();
    msr->numsamples = static_cast<int64_t>(samples.size());
    msr->sampletype = 'i';
    std::string bytes;
    msr_pack(msr, collect_record, &bytes, &packed, 1, 0);
    msr->datasamples = nullptr;  // ours, not libmseed's to free
    msr_free(&msr);
    return bytes.substr(0, 512);
}

TEST(RecordDecoder, DecodesASteimRecordAndRefusesLyingCopies) {
    std::vector<int32_t> samples(300);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int32_t>((i * 7919) % 301) - 150;
    int64_t packed = 0;
    const std::string record = steim2_record(samples, packed);
    ASSERT_EQ(record.size(), 512u);
    const DecodedRecord good = decode_record(record);
    ASSERT_TRUE(good.ok()) << good.error;
    EXPECT_EQ(good.header.network + "_" + good.header.station + " " + good.header.channel,
              "XX_STEIM HHZ");
    EXPECT_EQ(good.header.start_time, 1481734800.0);  // date -u -d '2016-12-14 17:00:00' +%s
    EXPECT_EQ(good.header.sample_rate, 100.0);
    ASSERT_GT(good.header.sample_count, 0);
    EXPECT_EQ(good.ints,
              std::vector<int32_t>(samples.begin(), samples.begin() + good.header.sample_count));

    RecordLayout layout;
    std::string error;
    ASSERT_TRUE(check_miniseed_record(record, layout, error)) << error;
    struct Case {
        const char* says;
        std::string bytes;
    };
    std::vector<Case> cases = {
        {"512 bytes, 256 given", record.substr(0, 256)},
        {"do not fit", record},  // sample count 65535
        {"do not fit", record},  // float64: 512 bytes hold fewer than 100 samples
        {"Steim data damaged", record},
    };
    put_be16(cases[1].bytes, 30, 65535);
    put_be16(cases[2].bytes, 30, 100);
    cases[2].bytes[48 + 4] = 5;
    cases[3].bytes[layout.data_offset + 11] ^= 1;  // the reverse integration constant
    for (const auto& c : cases) {
        const DecodedRecord d = decode_record(c.bytes);
        EXPECT_FALSE(d.ok()) << c.says;
        EXPECT_NE(d.error.find(c.says), std::string::npos) << d.error;
        EXPECT_TRUE(d.ints.empty() && d.reals.empty());
    }
}

}  // namespace
}  // namespace zelvik::acquire
