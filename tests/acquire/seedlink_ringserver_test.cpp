// The client against a real SeedLink server (ringserver serving files copied into its
// scan folder): every record once, byte for byte, over 3.1 and 4.0; a new session
// resumes after the last sequence number; a server that goes away and comes back is
// reconnected to and the stream resumes without repeats.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "acquire/mseed_record_check.h"
#include "acquire/seedlink_client.h"
#include "tests/acquire/ringserver_process.h"
#include "tests/support/temp_dir.h"

namespace zelvik::acquire {
namespace {

using namespace std::chrono_literals;

const std::string kFile = std::string(ZELVIK_REAL_DATA_DIR) + "/NC_PHC_2004011816230722.mseed";

std::vector<std::string> file_records(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string bytes = s.str();
    std::vector<size_t> lengths;
    std::string error;
    EXPECT_TRUE(check_miniseed_records(bytes, lengths, error)) << error;
    std::vector<std::string> out;
    for (size_t at = 0, i = 0; i < lengths.size(); at += lengths[i++])
        out.push_back(bytes.substr(at, lengths[i]));
    return out;
}

void write_file(const std::string& path, const std::vector<std::string>& records, size_t from,
                size_t to) {
    const std::string temp = path + ".part";  // the scanner must not see half a file
    {
        std::ofstream out(temp, std::ios::binary);
        for (size_t i = from; i < to; ++i) out << records[i];
    }
    std::filesystem::rename(temp, path);
}

// A client running on its own thread, with everything it reports kept for the test.
struct RunningClient {
    struct Got {
        std::string station_id;
        uint64_t sequence;
        std::string bytes;
        RecordHeader header;
    };
    std::mutex mutex;  // guards the three lists
    std::condition_variable changed;
    std::vector<Got> records;
    std::vector<StreamNotice> notices;
    std::vector<std::string> log;
    SeedLinkClient client;
    std::thread thread;

    explicit RunningClient(ClientOptions options, size_t stop_after = 0)
        : client(
              with_log(std::move(options)),
              [this, stop_after](const ReceivedRecord& r) {
                  std::lock_guard<std::mutex> lock(mutex);
                  records.push_back(
                      {std::string(r.station_id), r.sequence, std::string(r.bytes), *r.header});
                  if (records.size() == stop_after) client.request_stop();
                  changed.notify_all();
              },
              [this](const StreamNotice& n) {
                  std::lock_guard<std::mutex> lock(mutex);
                  notices.push_back(n);
              }) {}
    ~RunningClient() { stop(); }

    ClientOptions with_log(ClientOptions o) {
        o.log = [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            log.push_back(line);
            changed.notify_all();
        };
        return o;
    }
    void start() {
        thread = std::thread([this] { client.run(); });
    }
    void stop() {
        client.request_stop();
        if (thread.joinable()) thread.join();
    }
    // Waits up to `limit` for `done` to hold; the lock is held while it is asked.
    template <class Done>
    bool wait(Done done, std::chrono::seconds limit = 20s) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, done);
    }
    bool logged(const std::string& part) {
        for (const auto& l : log)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }
    std::string all_log() {
        std::string s;
        for (const auto& l : log) s += l + "\n";
        return s;
    }
};

ClientOptions options_for(uint16_t port, bool force_v3) {
    ClientOptions o;
    o.server = {"127.0.0.1", port};
    StreamSelector s;
    std::string error;
    // 3.1 asks for the blank location ("--SHZ"), 4.0 for any ("*_S_H_Z").
    EXPECT_TRUE(parse_stream_selector(force_v3 ? "NC_PHC:.SHZ" : "NC_PHC:SHZ", s, error));
    o.streams = {s};
    o.force_v3 = force_v3;
    o.reconnect_min_s = 0.2;
    o.reconnect_max_s = 1;
    o.keepalive_s = 0.5;  // the pauses below see INFO ID answered by the server
    return o;
}

class SeedLinkRingserver : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        std::string why;
        if (!test::RingserverProcess::available(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(server.start()) << server.log_text();
    }
    test::TempDir dir{"zelvik-seedlink"};
    test::RingserverProcess server{dir.path()};
    const std::vector<std::string> file = file_records(kFile);
};

// Live data first, then a second client resuming mid-way through what the ring holds.
TEST_P(SeedLinkRingserver, DeliversEveryRecordOnceAndResumesAfterASequenceNumber) {
    const bool v3 = GetParam();
    ASSERT_EQ(file.size(), 24u);
    RunningClient live(options_for(server.port(), v3));
    live.start();
    ASSERT_TRUE(live.wait([&] { return live.logged("station NC_PHC: DATA"); })) << live.all_log();
    write_file(server.scan_dir() + "/phc.mseed", file, 0, file.size());
    ASSERT_TRUE(live.wait([&] { return live.records.size() >= file.size(); })) << live.all_log();
    std::this_thread::sleep_for(1500ms);  // anything repeated would come now
    live.stop();
    EXPECT_EQ(live.client.protocol_major(), v3 ? 3 : 4);
    // The keep-alive answers were taken for what they are: one session, nothing skipped.
    EXPECT_EQ(live.client.sessions_started(), 1);
    EXPECT_FALSE(live.logged("skipped") || live.logged("reconnecting")) << live.all_log();
    ASSERT_EQ(live.records.size(), file.size()) << live.all_log();
    for (size_t i = 0; i < file.size(); ++i) {
        const auto& got = live.records[i];
        EXPECT_EQ(got.bytes, file[i]) << "record " << i;
        EXPECT_EQ(got.station_id, "NC_PHC");
        if (i > 0) {
            EXPECT_EQ(got.sequence, live.records[i - 1].sequence + 1);
        }
        std::string copy = file[i];
        MSRecord* msr = nullptr;
        ASSERT_EQ(msr_parse(copy.data(), 4096, &msr, 4096, 1, 0), MS_NOERROR);
        EXPECT_EQ(got.header.channel, "SHZ");
        EXPECT_EQ(got.header.location, "");
        EXPECT_DOUBLE_EQ(got.header.start_time, static_cast<double>(msr->starttime) / HPTMODULUS);
        EXPECT_EQ(got.header.sample_count, msr->samplecnt);
        const DecodedRecord d = decode_record(got.bytes);
        ASSERT_TRUE(d.ok()) << d.error;
        ASSERT_EQ(msr->sampletype, 'f');  // these recordings hold 32-bit floats
        const auto* samples = static_cast<const float*>(msr->datasamples);
        EXPECT_TRUE(d.reals == std::vector<double>(samples, samples + msr->numsamples))
            << "samples of record " << i;
        msr_free(&msr);
    }
    EXPECT_TRUE(live.notices.empty()) << live.notices.front().text;

    // A later session resuming after record 4 that stops after 10 records, and a third
    // resuming from where that one stopped. (Asked for the ring's very first packet,
    // ringserver 4.5.3 sends nothing at all, so the first resumes after record 4.)
    RunningClient first(options_for(server.port(), v3), 10);
    first.client.set_resume_point("NC_PHC", {true, live.records[4].sequence});
    first.start();
    ASSERT_TRUE(first.wait([&] { return first.records.size() >= 10; })) << first.all_log();
    first.stop();
    ASSERT_EQ(first.records.size(), 10u);
    EXPECT_EQ(first.records.front().bytes, file[5]);
    RunningClient rest(options_for(server.port(), v3));
    rest.client.set_resume_point("NC_PHC", first.client.resume_points().at("NC_PHC"));
    rest.start();
    const size_t left = file.size() - 15;
    ASSERT_TRUE(rest.wait([&] { return rest.records.size() >= left; })) << rest.all_log();
    std::this_thread::sleep_for(1s);
    rest.stop();
    ASSERT_EQ(rest.records.size(), left);
    EXPECT_EQ(rest.records.front().sequence, first.records.back().sequence + 1);
    for (size_t i = 0; i < left; ++i)
        EXPECT_EQ(rest.records[i].bytes, file[15 + i]) << "record " << 15 + i;
    EXPECT_TRUE(rest.notices.empty());
}

// The server is stopped mid-stream and started again on the same port and ring.
TEST_P(SeedLinkRingserver, ReconnectsWithBackOffAndResumesAfterTheServerReturns) {
    RunningClient c(options_for(server.port(), GetParam()));
    c.start();
    ASSERT_TRUE(c.wait([&] { return c.logged("station NC_PHC: DATA"); })) << c.all_log();
    write_file(server.scan_dir() + "/phc-a.mseed", file, 0, 12);
    ASSERT_TRUE(c.wait([&] { return c.records.size() >= 12; })) << c.all_log();
    server.stop();
    ASSERT_TRUE(c.wait([&] { return c.logged("reconnecting in 0.4"); })) << c.all_log();
    ASSERT_TRUE(server.start(server.port())) << server.log_text();
    write_file(server.scan_dir() + "/phc-b.mseed", file, 12, file.size());
    ASSERT_TRUE(c.wait([&] { return c.records.size() >= file.size(); })) << c.all_log();
    std::this_thread::sleep_for(1500ms);
    c.stop();
    ASSERT_EQ(c.records.size(), file.size()) << c.all_log();
    for (size_t i = 0; i < file.size(); ++i)
        EXPECT_EQ(c.records[i].bytes, file[i]) << "record " << i;
    EXPECT_GE(c.client.sessions_started(), 3);
    EXPECT_TRUE(c.logged("connection failed")) << c.all_log();  // while the server was away
}

INSTANTIATE_TEST_SUITE_P(Protocol, SeedLinkRingserver, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "v3" : "v4"; });

}  // namespace
}  // namespace zelvik::acquire
