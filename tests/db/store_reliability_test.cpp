// The store across a server that goes away and comes back, and shared by two threads
// the way the supervisor and the worker share it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/db/store_test_fixture.h"

namespace zelvik::db {
namespace {

constexpr double kT = 1394100000.0;

TEST(StoreReliability, ReadingResumesAfterTheServerRestarts) {
    // A server of its own: stopping the shared one would pull it from under other tests.
    const auto own = test::PostgresServer::start_private();
    test::PostgresServer& server = *own;
    if (!server.available()) GTEST_SKIP() << server.reason();
    ASSERT_TRUE(server.running()) << server.reason();
    test::PostgresTestStore store(true, server);
    store.write_int32("r.dat", std::vector<int32_t>(1000, 7));
    store.add_segment({"ABC", "BHZ", "??", kT, 100, 10.0, 2, 0, "r.dat", std::nullopt});
    store.close_connection();
    WaveStore ws;
    store.configure(ws);
    ASSERT_TRUE(ws.connect()) << ws.last_error();
    std::vector<float> buf(1001);
    double t0 = kT, t1 = kT + 50;
    ASSERT_EQ(ws.read_samples(buf.data(), buf.size(), "ABC", "BHZ", "", t0, t1), kOk);

    ASSERT_TRUE(server.stop());
    EXPECT_FALSE(ws.is_alive());
    t0 = kT, t1 = kT + 50;
    EXPECT_EQ(ws.read_samples(buf.data(), buf.size(), "ABC", "BHZ", "", t0, t1), kConnectionLost);
    EXPECT_FALSE(ws.connect());
    EXPECT_FALSE(ws.is_alive());  // the failed connect left nothing behind to probe

    ASSERT_TRUE(server.start());
    // The old connection answered 08S01 and stays dead; only a new connect with every
    // statement prepared again brings reading back.
    ASSERT_TRUE(ws.connect()) << ws.last_error();
    EXPECT_TRUE(ws.is_alive());
    buf.assign(buf.size(), 0.0f);
    t0 = kT, t1 = kT + 50;
    ASSERT_EQ(ws.read_samples(buf.data(), buf.size(), "ABC", "BHZ", "", t0, t1), kOk);
    EXPECT_EQ(buf[499], 7.0f);
    EXPECT_TRUE(ws.insert_data("ABC", kT, 1, 1)) << ws.event_last_error();
}

class SharedStore : public StoreTest {};

TEST_P(SharedStore, SupervisorAndWorkerShareOneConnection) {
    store_->write_int32("s.dat", std::vector<int32_t>(36000, 3));
    store_->add_segment({"ABC", "BHZ", "??", kT, 3600, 10.0, 2, 0, "s.dat", std::nullopt});
    store_->add_channel("ABC", "BHZ", "??", 10.0);
    ASSERT_TRUE(connect());
    std::atomic<int> bad{0};
    std::thread worker([&] {
        std::vector<float> buf(36001);
        for (int i = 0; i < 40; ++i) {
            double t0 = kT, t1 = kT + 3600;
            if (ws_.read_samples(buf.data(), buf.size(), "ABC", "BHZ", "", t0, t1) != kOk ||
                buf[35999] != 3.0f)
                ++bad;
            if (!ws_.insert_data("ABC", kT + i, 1, 1) || ws_.is_exist("ABC", kT + i) != 1) ++bad;
        }
    });
    for (int i = 0; i < 40; ++i) {
        if (!ws_.is_alive() || ws_.get_sps("ABC", "BHZ", "") != 10.0) ++bad;
        std::string text;
        if (ws_.select_sac("ABC", "BHZ", "", "", store_timestamp_utc(kT), text) != 0) ++bad;
    }
    worker.join();
    EXPECT_EQ(bad.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Drivers, SharedStore, ::testing::Values("sqlite", "postgres"),
                         store_test_name);

}  // namespace
}  // namespace zelvik::db
