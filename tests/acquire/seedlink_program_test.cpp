// `zelvik-store seedlink` run as a real program against ringserver serving the real
// recordings: what it stores equals an import of the same files although the server is
// restarted mid-stream; and a real earthquake fed in real time through it raises the
// alarm of a headless `zelvik` running beside it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/civil_time.h"
#include "tests/acquire/live_test_support.h"
#include "tests/acquire/ringserver_process.h"

namespace zelvik::test {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kStations = {"BK_BKS", "NC_CLCB", "NC_PHC", "NN_MGN", "PB_B072"};

double now_epoch() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Moves the record's start time (fixed header BTIME, either byte order) by whole seconds.
void shift_record(std::string& record, int64_t seconds) {
    auto* b = reinterpret_cast<unsigned char*>(record.data());
    const bool big = ((b[20] << 8) | b[21]) >= 1900 && ((b[20] << 8) | b[21]) <= 2100;
    auto get16 = [&](int at) { return big ? (b[at] << 8) | b[at + 1] : (b[at + 1] << 8) | b[at]; };
    auto put16 = [&](int at, int v) {
        b[at + (big ? 0 : 1)] = static_cast<unsigned char>(v >> 8);
        b[at + (big ? 1 : 0)] = static_cast<unsigned char>(v & 0xff);
    };
    std::tm tm{};
    tm.tm_year = get16(20) - 1900;
    tm.tm_mday = 1;
    const time_t t = timegm(&tm) + (get16(22) - 1) * 86400 + b[24] * 3600 + b[25] * 60 + b[26] +
                     static_cast<time_t>(seconds);
    gmtime_r(&t, &tm);
    put16(20, tm.tm_year + 1900);
    put16(22, tm.tm_yday + 1);
    b[24] = static_cast<unsigned char>(tm.tm_hour);
    b[25] = static_cast<unsigned char>(tm.tm_min);
    b[26] = static_cast<unsigned char>(tm.tm_sec);
}

class SeedLinkProgram : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!RingserverProcess::available(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(server_.start()) << server_.log_text();
    }
    // zelvik-store seedlink for `stations`, started once the server has every station's
    // DATA (which asks for what arrives from then on).
    std::unique_ptr<ProgramProcess> start_seedlink(const TestStore& store,
                                                   const std::vector<std::string>& stations) {
        std::vector<std::string> args = {"seedlink", "127.0.0.1:" + std::to_string(server_.port())};
        args.insert(args.end(), stations.begin(), stations.end());
        auto p =
            std::make_unique<ProgramProcess>(store_command(store, args), dir_.file("seedlink.out"));
        for (const std::string& s : stations)
            EXPECT_TRUE(p->wait_for_output("station " + s + ": DATA", 20s)) << p->output();
        std::this_thread::sleep_for(500ms);  // the END after the last DATA
        return p;
    }
    // Records [from, to) as one new file of the scan folder, whole at once.
    void serve(const std::string& name, const std::vector<RealRecord>& records, size_t from,
               size_t to) {
        const std::string path = server_.scan_dir() + "/" + name;
        {
            std::ofstream out(path + ".part", std::ios::binary);
            for (size_t i = from; i < to; ++i) out << records[i].bytes;
        }
        std::filesystem::rename(path + ".part", path);
    }

    TempDir dir_{"zelvik-seedlink-program"};
    RingserverProcess server_{dir_.path()};
};

TEST_F(SeedLinkProgram, StoreEqualsImportAcrossAServerRestart) {
    SqliteTestStore live, imported;
    ASSERT_EQ(import_real_files(imported), "");
    const long long expected = stored_samples(imported);
    auto seedlink = start_seedlink(live, kStations);
    std::vector<std::vector<RealRecord>> files;
    for (const std::string& f : real_files()) files.push_back(real_records(f));
    for (size_t i = 0; i < files.size(); ++i)
        serve("a" + std::to_string(i), files[i], 0, files[i].size() / 2);
    ASSERT_TRUE(wait_for_samples(live, 1, 20s)) << seedlink->output();
    server_.stop();
    ASSERT_TRUE(server_.start(server_.port())) << server_.log_text();
    for (size_t i = 0; i < files.size(); ++i)
        serve("b" + std::to_string(i), files[i], files[i].size() / 2, files[i].size());
    EXPECT_TRUE(wait_for_samples(live, expected, 40s)) << seedlink->output();
    std::this_thread::sleep_for(1500ms);  // anything doubled would come now
    seedlink->signal(SIGTERM);
    EXPECT_EQ(seedlink->wait_exit(10s), 0) << seedlink->output();
    EXPECT_NE(seedlink->output().find("reconnecting"), std::string::npos) << seedlink->output();
    EXPECT_EQ(stored_samples(live), expected);
    EXPECT_EQ(live.count("select STA from FILELIST"), static_cast<long>(real_channel_count()));
    expect_same_samples(live, imported);
}

TEST_F(SeedLinkProgram, RealEarthquakeFedInRealTimeRaisesTheAlarm) {
    SqliteTestStore live;
    // BK.BKS HHZ re-timed so that its P arrival, 180 s after its first sample, comes in
    // 3 s; what lies before now is served at once, the rest as its last sample passes.
    std::vector<RealRecord> records;
    for (RealRecord& r : real_records(real_files()[0]))
        if (r.header.channel == "HHZ") records.push_back(std::move(r));
    ASSERT_EQ(records.size(), 24u);
    const auto shift =
        static_cast<int64_t>(std::floor(now_epoch() - 177 - records[0].header.start_time));
    for (RealRecord& r : records) {
        shift_record(r.bytes, shift);
        r.header.start_time += static_cast<double>(shift);
    }
    const double p_time = records[0].header.start_time + 180;
    auto seedlink = start_seedlink(live, {"BK_BKS"});
    const std::string ini = dir_.write(
        "zelvik.ini", "[LOG]\nDIR=" + dir_.file("log") + "\nLEVEL=ERROR\n[SYSTEM]\nTHREADS=1\n" +
                          "SLEEP=0\nBEGIN=" + common::utc_text(records[0].header.start_time) +
                          "\n[THREAD0]\nSTATION=BKS\nCHANNEL=HHZ\nLCODE=??\nORDER=3\nFR1=1.0\n" +
                          "FR2=5.0\nSTA=1\nLTA=10\nThreshold=5\nSOUND=1\n");
    ProgramProcess zelvik(
        {ZELVIK_BINARY, "--headless", "--config", ini, "ODBC=" + live.dsn(), "USER=" + live.user(),
         "PASSWORD=" + live.password(), "DATA=" + live.data_dir()},
        dir_.file("zelvik.out"));
    const std::string scan_file = server_.scan_dir() + "/bks.mseed";
    size_t next = 0;
    while (zelvik.output().find("in alarm") == std::string::npos && now_epoch() < p_time + 40) {
        for (; next < records.size() && records[next].header.end_time() <= now_epoch(); ++next)
            std::ofstream(scan_file, std::ios::binary | std::ios::app) << records[next].bytes;
        std::this_thread::sleep_for(100ms);
    }
    const std::string said = zelvik.output();
    ASSERT_NE(said.find("Channel 0 (BKS.HHZ.\?\?) in alarm: event at "), std::string::npos)
        << said << seedlink->output();
    // The onset found lies at the P arrival.
    bool near_p = false;
    for (int d = -2; d <= 2; ++d)
        near_p =
            near_p || said.find("event at " + common::utc_text(p_time + d)) != std::string::npos;
    EXPECT_TRUE(near_p) << said << "P at " << common::utc_text(p_time);
    zelvik.signal(SIGTERM);
    seedlink->signal(SIGTERM);
    EXPECT_EQ(zelvik.wait_exit(10s), 0) << zelvik.output();
    EXPECT_EQ(seedlink->wait_exit(10s), 0) << seedlink->output();
}

}  // namespace
}  // namespace zelvik::test
