// Worker passes driven by hand over a PostgreSQL store that is stopped in the middle of
// a run and started again: the outage is logged once, detection resumes where it left
// off, the measurement open across the outage is finished, no row is lost or doubled.
#include "engine/worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "engine/compute_lane.h"
#include "tests/support/engine_fixture.h"

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

// A station the acquisition side has not stored yet waits instead of being skipped for
// the run, and starts from the detection start once its first data are there.
TEST(Worker, ChannelNotInTheStoreYetStartsWhenItsDataArrive) {
    test::EngineFixture fx;
    fx.add_thread(0, "LAT", "HHZ");
    test::EngineLink e(fx.store());
    ASSERT_TRUE(e.ws.connect()) << e.ws.last_error();
    OneChannelWorker run(e, fx.ini(), kT0);
    auto& [detectors, worker] = run;
    EXPECT_EQ(detectors[0]->state(), ChannelState::kWaitingForData);
    EXPECT_FALSE(worker.run_pass());
    EXPECT_FALSE(detectors[0]->needs_retry());  // a catch-up run does not wait for it
    fx.add_channel("LAT", "HHZ", 100);
    fx.add_segment("LAT", "HHZ", kT0, 100, test::synthetic_samples(600, 100, {300}, 100, 0));
    EXPECT_TRUE(worker.run_pass());
    EXPECT_EQ(detectors[0]->state(), ChannelState::kRunning);
    EXPECT_NEAR(detectors[0]->last_onset(), kT0 + 300, 1.0);
    EXPECT_EQ(fx.log_count("(LAT.HHZ.\?\?) waits for its first data: not in the store yet"), 1u);
    EXPECT_EQ(fx.log_count("(LAT.HHZ.\?\?) runs: 100 sps"), 1u);
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

// What a catch-up over five channels handed on: the log without its stamps, the event
// rows in the order they were inserted, and the detection reports in the order made.
struct CatchUpOutput {
    std::string log, rows;
    std::vector<std::string> reports;
};

CatchUpOutput catch_up_five_channels(bool beside) {
    test::EngineFixture fx;
    for (int c = 0; c < 5; ++c) {
        const std::string sta = "S" + std::to_string(c);
        fx.add_channel(sta, "HHZ", 100);
        fx.add_thread(c, sta, "HHZ");
        if (c == 4) continue;  // a channel without data: its reads find nothing
        const auto seed = static_cast<uint32_t>(20 + c);
        // Bursts in both hours, one open across the end of the first; channel 2 has a
        // gap of a minute after its first hour, which starts the warm-up again.
        fx.add_segment(sta, "HHZ", kT0, 100,
                       test::synthetic_samples(3600, 100, {300.0 + 100 * c, 1800, 3597}, 100, 0,
                                               3000, 8, seed));
        const double second = c == 2 ? kT0 + 3660 : kT0 + 3600;
        fx.add_segment(sta, "HHZ", second, 100,
                       test::synthetic_samples(3600, 100, {900.0 + 50 * c, 2400}, 100, 0, 3000, 8,
                                               seed + 100));
    }
    CatchUpOutput out;
    {
        test::EngineLink e(fx.store());
        if (!e.ws.connect()) throw std::runtime_error(e.ws.last_error());
        Worker::DetectorList detectors;
        Worker worker(detectors, e.link, &e.sink, e.stop, 0, 0, beside);
        for (int c = 0; c < 5; ++c) {
            detectors.push_back(std::make_unique<ChannelDetector>(
                e.link, &e.sink,
                [&out](const std::string& station, double onset, double sta_variance, float ratio) {
                    std::ostringstream line;
                    line.precision(17);
                    line << station << ' ' << onset << ' ' << sta_variance << ' ' << ratio;
                    out.reports.push_back(line.str());
                }));
            detectors.back()->setup(fx.ini(), c, kT0);
        }
        while (worker.run_pass()) {
        }
        worker.finish_measurements();
    }
    std::istringstream log(fx.log_text());
    for (std::string line; std::getline(log, line);)
        out.log += line.substr(std::min<size_t>(line.size(), 21)) + "\n";
    out.rows = fx.store().scalar(
        "select group_concat(STA || ' ' || TBEGIN || ' ' || AMP || ' ' || PER, ';') "
        "from (select * from EVENTLIST order by rowid)");
    return out;
}

// Channels whose chains run on the compute lane beside the worker's own hand on exactly
// what one thread visiting them in turn hands on, in the same order.
TEST(Worker, ChannelsRunBesideEachOtherHandOnWhatOneThreadWould) {
    const CatchUpOutput alone = catch_up_five_channels(false);
    const CatchUpOutput beside = catch_up_five_channels(true);
    EXPECT_GE(alone.reports.size(), 20u);
    EXPECT_NE(alone.log.find("(S2.HHZ.\?\?): gap of 60.00 s"), std::string::npos) << alone.log;
    EXPECT_EQ(alone.log.find("Ch: S4"), std::string::npos) << "S4 has no data";
    EXPECT_EQ(beside.reports, alone.reports);
    EXPECT_EQ(beside.rows, alone.rows);
    EXPECT_EQ(beside.log, alone.log);
}

TEST(ComputeLane, AJobThatThrowsIsReportedAndTheLaneGoesOn) {
    ComputeLane lane;
    EXPECT_EQ(lane.wait(), "");  // nothing handed over yet
    lane.run([] { throw std::runtime_error("filter exploded"); });
    EXPECT_TRUE(lane.busy());
    EXPECT_EQ(lane.wait(), "filter exploded");
    EXPECT_FALSE(lane.busy());
    int ran = 0;
    for (int i = 0; i < 100; ++i) {
        lane.run([&ran] { ++ran; });
        EXPECT_EQ(lane.wait(), "");
    }
    EXPECT_EQ(ran, 100);
    lane.run([] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
    // The destructor waits for the job still running.
}

// A stop while a measurement is open in the middle of stored data once stored it cut
// short, and a restart then kept that row. It is completed from the store instead, and
// gives the row a run through the whole data gives; one at the end of the stored data
// is still finished with what it has.
TEST(Worker, StopCompletesAnOpenMeasurementFromTheStore) {
    auto rows_after = [](bool stop_after_first_hour) {
        test::EngineFixture fx;
        fx.add_thread(0, "CUT", "HHZ");
        fx.add_channel("CUT", "HHZ", 100);
        fx.add_segment("CUT", "HHZ", kT0, 100,
                       test::synthetic_samples(7200, 100, {3597}, 100, 0, 3000, 8, 7));
        fx.store().add_response({"CUT", "HHZ", "??", "", "2000-01-01 00:00:00", std::nullopt,
                                 "ZEROS 3\nPOLES 2\n-4.443 4.443\n-4.443 -4.443\nCONSTANT 1.35e8\n",
                                 std::nullopt});
        test::EngineLink e(fx.store());
        EXPECT_TRUE(e.ws.connect()) << e.ws.last_error();
        OneChannelWorker run(e, fx.ini(), kT0);
        if (stop_after_first_hour) {
            EXPECT_TRUE(run.worker.run_pass());
            EXPECT_EQ(fx.store().count("select STA from EVENTLIST"), 0);
            run.worker.finish_measurements(std::chrono::seconds(10));
        } else {
            while (run.worker.run_pass()) {
            }
            run.worker.finish_measurements();
        }
        return fx.store().scalar(
            "select group_concat(TBEGIN || ' ' || AMP || ' ' || PER, ';') from EVENTLIST");
    };
    const std::string whole = rows_after(false);
    const std::string stopped = rows_after(true);
    ASSERT_FALSE(whole.empty());
    EXPECT_EQ(stopped, whole.substr(0, whole.find(';'))) << whole;
}

}  // namespace
}  // namespace zelvik::detect
