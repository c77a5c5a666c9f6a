// Worker passes driven by hand over a PostgreSQL store that is stopped in the middle of
// a run and started again: the outage is logged once, detection resumes where it left
// off, the measurement open across the outage is finished, no row is lost or doubled.
#include "detect/worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/detect/engine_fixture.h"

namespace zelvik::detect {
namespace {

using test::kT0;

// The detector of THREAD0 in `ini`, set up at `start` on the link, and a worker over it
// (SLEEP 0, no reconnect pause), wired as the supervisor wires them.
struct OneChannelWorker {
    OneChannelWorker(test::EngineLink& e, const std::string& ini, double start)
        : worker(detectors, e.link, &e.sink, e.stop, 0, 0) {
        detectors.push_back(std::make_unique<ChannelDetector>(e.link, &e.sink, nullptr));
        detectors[0]->setup(ini, 0, start);
    }

    Worker::DetectorList detectors;
    Worker worker;
};

TEST(Worker, ResumesAfterTheStoreCameBack) {
    // A server of the test's own: it is stopped and started again below.
    const auto own = test::PostgresServer::start_private();
    test::PostgresServer& server = *own;
    if (!server.available()) GTEST_SKIP() << server.reason();
    test::EngineFixture fx;  // settings file and log
    test::PostgresTestStore pg(true, server);
    pg.add_channel("PGS", "HHZ", std::nullopt, 100);
    // Bursts at 600 s and 3597 s of the first hour (the second still being measured
    // when the hour ends) and at 1200 s of the second hour.
    pg.write_int32("a.i32", test::synthetic_samples(3600, 100, {600, 3597}, 100, 0, 3000, 8, 4));
    pg.write_int32("b.i32", test::synthetic_samples(3600, 100, {1200}, 100, 0, 3000, 8, 5));
    for (int i = 0; i < 2; ++i) {
        test::TestSegment seg;
        seg.sta = "PGS";
        seg.chan = "HHZ";
        seg.tbegin = kT0 + 3600 * i;
        seg.tqty = 3600;
        seg.sps = 100;
        seg.cpath = i == 0 ? "a.i32" : "b.i32";
        pg.add_segment(seg);
    }
    fx.add_thread(0, "PGS", "HHZ");
    test::EngineLink e(pg);
    ASSERT_TRUE(e.ws.connect()) << e.ws.last_error();

    OneChannelWorker run(e, fx.ini(), kT0);
    auto& [detectors, worker] = run;
    ASSERT_EQ(detectors[0]->state(), ChannelState::kRunning);

    EXPECT_TRUE(worker.run_pass());
    EXPECT_EQ(pg.count("select STA from EVENTLIST where STA='PGS'"), 1);
    pg.close_connection();
    ASSERT_TRUE(server.stop());
    EXPECT_FALSE(worker.run_pass());
    EXPECT_FALSE(worker.run_pass());
    EXPECT_DOUBLE_EQ(detectors[0]->read_position(), kT0 + 3600);
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(worker.run_pass());
    EXPECT_FALSE(worker.run_pass());
    EXPECT_NEAR(detectors[0]->last_data_time(), kT0 + 7200, 1e-6);
    EXPECT_EQ(pg.count("select STA from EVENTLIST where STA='PGS'"), 3);
    EXPECT_EQ(fx.log_count("Couldn't connect to database."), 1u);
    EXPECT_EQ(fx.log_count("Connection restored."), 1u);
}

TEST(Worker, ChannelSetUpWithoutTheStoreRunsOnceItIsBack) {
    // A server of the test's own: it is stopped and started again below.
    const auto own = test::PostgresServer::start_private();
    test::PostgresServer& server = *own;
    if (!server.available()) GTEST_SKIP() << server.reason();
    test::EngineFixture fx;
    test::PostgresTestStore pg(true, server);
    pg.add_channel("PGW", "HHZ", std::nullopt, 100);
    pg.write_int32("w.i32", test::synthetic_samples(600, 100, {300}, 100, 0, 3000, 8, 6));
    test::TestSegment seg;
    seg.sta = "PGW";
    seg.chan = "HHZ";
    seg.tbegin = kT0;
    seg.tqty = 600;
    seg.sps = 100;
    seg.cpath = "w.i32";
    pg.add_segment(seg);
    fx.add_thread(0, "PGW", "HHZ");
    test::EngineLink e(pg);
    ASSERT_TRUE(e.ws.connect()) << e.ws.last_error();
    pg.close_connection();
    ASSERT_TRUE(server.stop());

    OneChannelWorker run(e, fx.ini(), kT0);
    auto& [detectors, worker] = run;
    EXPECT_EQ(detectors[0]->state(), ChannelState::kWaitingForStore);
    EXPECT_FALSE(worker.run_pass());
    EXPECT_FALSE(worker.run_pass());
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(worker.run_pass());
    EXPECT_EQ(detectors[0]->state(), ChannelState::kRunning);
    EXPECT_NEAR(detectors[0]->last_onset(), kT0 + 300, 1.0);
    EXPECT_EQ(pg.count("select STA from EVENTLIST where STA='PGW'"), 1);
    EXPECT_EQ(fx.log_count("(PGW.HHZ.\?\?) waits for the store"), 1u);
    EXPECT_EQ(fx.log_count("(PGW.HHZ.\?\?) runs: 100 sps"), 1u);
}

// SLEEP 0 and 1 once made the idle loop ask the store without a pause, at a whole
// core. Over an idle store the thread now makes a few passes a second at most, and a
// stop still ends the pause at once.
TEST(Worker, IdlePassesPauseEvenWithSleepBelowTwo) {
    test::EngineFixture fx;
    for (const int sleep : {0, 1}) {
        test::EngineLink e(fx.store());
        ASSERT_TRUE(e.ws.connect()) << e.ws.last_error();
        Worker::DetectorList none;
        Worker worker(none, e.link, &e.sink, e.stop, sleep, 0);
        ASSERT_TRUE(worker.start());
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        const auto asked = std::chrono::steady_clock::now();
        e.stop.request();
        ASSERT_TRUE(worker.join(std::chrono::milliseconds(5000)));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(300));
        EXPECT_GE(worker.passes(), 1) << "SLEEP " << sleep;
        EXPECT_LE(worker.passes(), 4) << "SLEEP " << sleep;
    }
}

// An outage whose first reconnect succeeds still ends in the log: every "Connection
// lost" line is followed by exactly one "Connection restored".
TEST(StoreLink, EveryLoggedOutageEndsOnce) {
    test::EngineFixture fx;
    test::EngineLink e(fx.store());
    ASSERT_TRUE(e.ws.connect()) << e.ws.last_error();
    for (const bool log_before_wait : {false, true}) {
        e.link.mark_lost();
        EXPECT_TRUE(e.link.ensure_connected(log_before_wait, 0));
        EXPECT_TRUE(e.link.ensure_connected(log_before_wait, 0));  // no outage: no line
    }
    EXPECT_EQ(fx.log_count("Connection lost."), 2u);
    EXPECT_EQ(fx.log_count("Connection restored."), 2u);
    EXPECT_EQ(e.link.outages_ended(), 2u);
    EXPECT_FALSE(e.link.down());
}

}  // namespace
}  // namespace zelvik::detect
