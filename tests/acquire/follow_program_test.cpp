// `zelvik-store follow` run as a real program on an SDS tree that the test writes as a
// digitizer would (appends that often end inside a record): what it stores equals an
// import of the same recordings, also when it is SIGKILLed again and again and when
// PostgreSQL goes away for half a minute.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "tests/acquire/live_test_support.h"
#include "tests/support/service_probes.h"

namespace zelvik::test {
namespace {

using namespace std::chrono_literals;

// NET.STA.LOC.CHAN of the record's day, under YEAR/NET/STA/CHAN.D/.
std::string sds_path(const acquire::RecordHeader& h) {
    const auto t = static_cast<time_t>(h.start_time);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char day[32];
    std::snprintf(day, sizeof day, "%04d.%03d", tm.tm_year + 1900, tm.tm_yday + 1);
    const std::string year(day, 4);
    return year + "/" + h.network + "/" + h.station + "/" + h.channel + ".D/" + h.network + "." +
           h.station + "." + h.location + "." + h.channel + ".D." + day;
}

// The real recordings as appends of 500 to 6000 bytes to one file per channel and day,
// the channels taking turns, so most records are split across writes.
class SdsFeed {
public:
    SdsFeed(std::string root, uint32_t seed) : root_(std::move(root)) {
        std::map<std::string, std::string> files;
        for (const std::string& f : real_files())
            for (const RealRecord& r : real_records(f)) files[sds_path(r.header)] += r.bytes;
        std::mt19937 rng(seed);
        std::uniform_int_distribution<size_t> size(500, 6000);
        std::map<std::string, size_t> written;
        for (bool more = true; more;) {
            more = false;
            for (const auto& [path, bytes] : files) {
                size_t& at = written[path];
                if (at == bytes.size()) continue;
                const size_t n = std::min(size(rng), bytes.size() - at);
                chunks_.push_back({path, bytes.substr(at, n)});
                at += n;
                more = true;
            }
        }
    }
    size_t steps() const { return chunks_.size(); }
    // Appends the next chunk; false when everything is written.
    bool write_next() {
        if (next_ == chunks_.size()) return false;
        const auto& [path, bytes] = chunks_[next_++];
        const std::filesystem::path full = root_ + "/" + path;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary | std::ios::app) << bytes;
        return true;
    }

private:
    std::string root_;
    std::vector<std::pair<std::string, std::string>> chunks_;
    size_t next_ = 0;
};

class FollowProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(import_real_files(imported_), "");
        expected_ = stored_samples(imported_);
        ASSERT_GT(expected_, 0);
        std::filesystem::create_directories(sds_);
    }
    std::unique_ptr<ProgramProcess> start_follow(const TestStore& store) {
        return std::make_unique<ProgramProcess>(store_command(store, {"follow", sds_}),
                                                dir_.file("follow.out"));
    }
    // Once the store holds as many samples as the import, stops the program and
    // compares the two stores.
    void stop_and_compare(TestStore& live, ProgramProcess& follow, std::chrono::seconds limit) {
        EXPECT_TRUE(wait_for_samples(live, expected_, limit)) << follow.output();
        std::this_thread::sleep_for(500ms);  // anything doubled would come now
        follow.signal(SIGTERM);
        EXPECT_EQ(follow.wait_exit(10s), 0) << follow.output();
        EXPECT_EQ(stored_samples(live), expected_);
        // Contiguous data: one growing segment per channel.
        EXPECT_EQ(live.count("select STA from FILELIST"), static_cast<long>(real_channel_count()));
        expect_same_samples(live, imported_);
    }

    TempDir dir_{"zelvik-follow"};
    const std::string sds_ = dir_.file("sds");
    SqliteTestStore imported_;
    long long expected_ = 0;
};

TEST_F(FollowProgram, ArchiveWrittenRecordByRecordEqualsImport) {
    SqliteTestStore live;
    SdsFeed feed(sds_, 1);
    auto follow = start_follow(live);
    while (feed.write_next()) std::this_thread::sleep_for(15ms);
    stop_and_compare(live, *follow, 30s);
}

// Started as a Type=notify unit: READY once it follows, a status line, watchdog pings
// while it stores, STOPPING at SIGTERM; with METRICS set, its metrics file read by the
// node exporter says how much it stored and how far the data has come.
TEST_F(FollowProgram, TellsItsServiceManagerAndTheNodeExporterHowItGoes) {
    SqliteTestStore live;
    SdsFeed feed(sds_, 3);
    const std::string metrics = dir_.file("metrics");
    std::filesystem::create_directories(metrics);
    const std::string ini = dir_.write("zelvik.ini", "[SYSTEM]\nMETRICS=" + metrics + "\n");
    NotifySocket systemd(2'000'000);
    ASSERT_TRUE(systemd.ok());
    NodeExporter exporter(metrics);
    auto follow = std::make_unique<ProgramProcess>(
        store_command(live, {"--config", ini, "follow", sds_}), dir_.file("follow.out"));
    EXPECT_FALSE(systemd.wait_for("READY=1", 10s).empty()) << follow->output();
    while (feed.write_next()) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(wait_for_samples(live, expected_, 30s)) << follow->output();
    const std::vector<std::string> heard = systemd.receive(1500ms);
    EXPECT_GE(std::count(heard.begin(), heard.end(), "WATCHDOG=1"), 2);
    follow->signal(SIGTERM);
    EXPECT_FALSE(systemd.wait_for("STOPPING=1", 10s).empty());
    EXPECT_EQ(follow->wait_exit(10s), 0) << follow->output();

    // The last file, written at the stop, counts every record stored.
    if (!exporter.ok()) GTEST_SKIP() << exporter.why();
    const std::string text = exporter.scrape();
    const std::string source = "{source=\"" + sds_ + "\"}";
    EXPECT_EQ(sample_value(text, "node_textfile_scrape_error"), 0) << text;
    EXPECT_EQ(sample_value(text, "zelvik_acquire_store_up" + source), 1) << text;
    size_t records = 0;
    for (const std::string& f : real_files()) records += real_records(f).size();
    EXPECT_EQ(sample_value(text, "zelvik_acquire_records_committed_total" + source),
              static_cast<double>(records));
    EXPECT_GT(sample_value(text, "zelvik_acquire_data_end_timestamp_seconds" + source), 1e9);
}

TEST_F(FollowProgram, TwentySigkillsAtRandomMomentsLoseAndDoubleNothing) {
    SqliteTestStore live;
    SdsFeed feed(sds_, 2);
    std::mt19937 rng(22);
    std::uniform_int_distribution<size_t> step_of(1, feed.steps() - 2);
    std::uniform_int_distribution<int> delay_ms(0, 400);
    std::set<size_t> kill_after;
    while (kill_after.size() < 20) kill_after.insert(step_of(rng));
    auto follow = start_follow(live);
    for (size_t step = 0; feed.write_next(); ++step) {
        std::this_thread::sleep_for(15ms);
        if (kill_after.count(step) == 0) continue;
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(rng)));
        follow->signal(SIGKILL);
        ASSERT_EQ(follow->wait_exit(5s), -1);
        follow = start_follow(live);
    }
    stop_and_compare(live, *follow, 60s);
}

TEST_F(FollowProgram, RecordsWrittenWhilePostgresIsDownArriveOnceItIsBack) {
    const std::unique_ptr<PostgresServer> server = PostgresServer::start_private();
    if (!server->available()) GTEST_SKIP() << server->reason();
    ASSERT_TRUE(server->running()) << server->reason();
    PostgresTestStore live(true, *server);
    SdsFeed feed(sds_, 4);
    auto follow = start_follow(live);
    for (size_t i = 0; i < feed.steps() / 2; ++i) {
        feed.write_next();
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(wait_for_samples(live, 1, 20s)) << follow->output();
    live.close_connection();
    ASSERT_TRUE(server->stop());
    const auto back_at = std::chrono::steady_clock::now() + 30s;
    while (feed.write_next()) std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_until(back_at);
    ASSERT_TRUE(server->start());
    stop_and_compare(live, *follow, 60s);
    EXPECT_NE(follow->output().find("read again in"), std::string::npos) << follow->output();
}

}  // namespace
}  // namespace zelvik::test
