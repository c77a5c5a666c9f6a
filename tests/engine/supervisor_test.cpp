// Supervisor on a real SQLite store: THREADS out of range, a catch-up run with the real
// worker thread that ends by itself with every row stored.
#include "engine/supervisor.h"

#include <gtest/gtest.h>

#include <chrono>

#include "common/clock.h"
#include "tests/support/engine_fixture.h"

namespace zelvik::detect {
namespace {

using test::kT0;

SupervisorSettings settings_for(const test::EngineFixture& fx, int threads) {
    SupervisorSettings s;
    s.settings_path = fx.ini();
    s.arguments = {"zelvik", "BEGIN='2020-09-13 12:26:40'"};  // kT0
    s.thread_count = threads;
    s.sleep_seconds = 0;
    s.storage_days = 0;
    s.wav_file = "*";
    s.shutdown_wait = std::chrono::milliseconds(10000);
    s.reconnect_pause_ms = 0;
    return s;
}

// Runs passes until the worker went idle (the end of a catch-up run), at most ~20 s.
bool run_until_caught_up(Supervisor& sup) {
    for (int i = 0; i < 2000 && !sup.caught_up(); ++i) {
        (void)sup.run_once(common::now_utc_seconds());
        (void)sup.stop_signal().wait_for(std::chrono::milliseconds(10));
    }
    return sup.caught_up();
}

TEST(Supervisor, ThreadsOutOfRangeAreClampedWithOneLine) {
    struct Case {
        int threads;
        size_t built;
        const char* line;
    };
    const Case cases[] = {
        {-5, 0, "THREADS -5 outside 0..1000: 0 channels"},
        {100000, Supervisor::kMaxChannels, "THREADS 100000 outside 0..1000: 1000 channels"}};
    for (const Case& c : cases) {
        test::EngineFixture fx;
        auto ws = fx.connect_store();
        SupervisorSettings s = settings_for(fx, c.threads);
        s.stop_when_idle = true;
        Supervisor sup(s, *ws);
        EXPECT_EQ(sup.start_up(), static_cast<int64_t>(kT0));
        EXPECT_EQ(sup.detectors().size(), c.built);
        sup.shut_down();
        EXPECT_EQ(fx.log_count(c.line), 1u) << c.threads;
        // The missing sections are default channels (QRS.BHZ), unknown to the store.
        if (c.built > 0) {
            EXPECT_EQ(fx.log_count("(QRS.BHZ.\?\?) waits for its first data"), c.built);
        }
    }
}

TEST(Supervisor, CatchUpRunStoresEveryDetectionAndRaisesAlarms) {
    test::EngineFixture fx;
    const char* stations[] = {"CA1", "CA2"};
    for (int n = 0; n < 2; ++n) {
        fx.add_channel(stations[n], "HHZ", 100);
        // Two hours in two files, with bursts in both and one close to the hour boundary.
        fx.add_segment(stations[n], "HHZ", kT0, 100,
                       test::synthetic_samples(3600, 100, {600, 3595}, 100, 0, 3000, 8, n + 1));
        fx.add_segment(stations[n], "HHZ", kT0 + 3600, 100,
                       test::synthetic_samples(3600, 100, {1200}, 100, 0, 3000, 8, n + 9));
        fx.add_thread(n, stations[n], "HHZ");
    }
    auto ws = fx.connect_store();
    SupervisorSettings s = settings_for(fx, 2);
    s.stop_when_idle = true;
    Supervisor sup(s, *ws);
    (void)sup.start_up();
    ASSERT_TRUE(run_until_caught_up(sup));
    (void)sup.run_once(common::now_utc_seconds());
    const std::vector<ChannelRow> rows = sup.rows();
    sup.shut_down();
    ASSERT_EQ(rows.size(), 2u);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(fx.event_rows(stations[n]), 3) << stations[n];
        EXPECT_NEAR(rows[n].last_data_time, kT0 + 7200, 1e-6);
        EXPECT_NEAR(rows[n].last_onset, kT0 + 3600 + 1200, 1.0);
        EXPECT_TRUE(rows[n].in_alarm);
        EXPECT_NEAR(rows[n].backlog_end, kT0 + 7200, 1.0);
    }
}

TEST(Supervisor, AChannelWithAnAbsurdRateDoesNotStopTheOthers) {
    // 1e7 sps with windows of 10 and 100 samples passes the trigger but would size each
    // hour's window at 144 GB.
    test::EngineFixture fx;
    fx.add_channel("BAD", "HHZ", 1e7);
    fx.add_segment("BAD", "HHZ", kT0, 100, test::synthetic_samples(600, 100, {300}));
    fx.add_thread(0, "BAD", "HHZ");
    fx.set("THREAD0", "STA", "1e-6");
    fx.set("THREAD0", "LTA", "1e-5");
    fx.add_channel("GUD", "HHZ", 100);
    fx.add_segment("GUD", "HHZ", kT0, 100, test::synthetic_samples(600, 100, {300}));
    fx.add_thread(1, "GUD", "HHZ");
    auto ws = fx.connect_store();
    SupervisorSettings s = settings_for(fx, 2);
    s.stop_when_idle = true;
    Supervisor sup(s, *ws);
    (void)sup.start_up();
    ASSERT_TRUE(run_until_caught_up(sup));
    sup.shut_down();
    EXPECT_EQ(fx.event_rows("GUD"), 1);
    EXPECT_EQ(fx.log_count("(BAD.HHZ.\?\?) skipped: sample rate 1e+07 sps above"), 1u);
    EXPECT_EQ(fx.log_count("stopped by"), 0u) << fx.log_text();
}

TEST(Supervisor, ShutdownStopsTheReportSenderEvenWithoutChannels) {
    // With mail configured and no channel, nothing but the shutdown itself raises the
    // report stop flag; the sender must not be left to wait out its period.
    test::EngineFixture fx;
    auto ws = fx.connect_store();
    SupervisorSettings s = settings_for(fx, 0);
    s.mail.server = "127.0.0.1";
    s.mail.recipient = "ops@example.org";
    Supervisor sup(s, *ws);
    (void)sup.start_up();
    EXPECT_TRUE(sup.report_sender().ready());
    sup.shut_down();
    EXPECT_TRUE(sup.report_sender().stop_requested());
    EXPECT_TRUE(sup.report_sender().join(std::chrono::milliseconds(0)));
    EXPECT_EQ(sup.report_sender().mails_sent() + sup.report_sender().mails_failed(), 0);
}

}  // namespace
}  // namespace zelvik::detect
