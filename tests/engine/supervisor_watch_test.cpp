// The data watch and the coincidence rule inside the supervisor, with its real worker
// thread on a real store: data that stop and resume while the acquisition side appends
// rows and samples, a PostgreSQL outage longer than NODATA, NODATA 0, data times in the
// future, the NO DATA and ALERT mails received by a real SMTP server process. The
// supervisor's passes are driven by hand with a clock of the test's choosing, so NODATA
// can be minutes while the test takes seconds.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "common/civil_time.h"
#include "common/clock.h"
#include "engine/supervisor.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/smtp_test_servers.h"

namespace zelvik::detect {
namespace {

using namespace std::chrono_literals;
using test::kT0;

SupervisorSettings live_settings(const test::EngineFixture& fx, int threads, int no_data) {
    SupervisorSettings s;
    s.settings_path = fx.ini();
    s.arguments = {"zelvik", "BEGIN='2020-09-13 12:26:40'"};  // kT0
    s.thread_count = threads;
    s.sleep_seconds = 2;  // an idle worker looks again after 2 s
    s.storage_days = 0;
    s.wav_file = "*";
    s.no_data_seconds = no_data;
    s.reconnect_pause_ms = 0;
    return s;
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 15s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

bool data_time_reaches(const Supervisor& sup, size_t i, double t) {
    return eventually([&] { return sup.detectors()[i]->last_data_time() >= t - 1e-6; });
}

void append(test::EngineFixture& fx, const std::string& sta, double from, double seconds) {
    fx.add_segment(sta, "HHZ", from, 100, test::synthetic_samples(seconds, 100, {}));
}

TEST(SupervisorWatch, ChannelStallsAfterNoDataAndResumesWhenTheStoreGetsMore) {
    struct Case {
        int no_data;
        bool stalls;
    };
    for (const Case c : {Case{60, true}, Case{0, false}}) {
        SCOPED_TRACE(c.no_data);
        test::EngineFixture fx;
        for (const char* sta : {"WA1", "WA2"}) {
            fx.add_channel(sta, "HHZ", 100);
            append(fx, sta, kT0, 600);
        }
        fx.add_thread(0, "WA1", "HHZ");
        fx.add_thread(1, "WA2", "HHZ");
        auto ws = fx.connect_store();
        Supervisor sup(live_settings(fx, 2, c.no_data), *ws);
        (void)sup.start_up();
        ASSERT_TRUE(data_time_reaches(sup, 0, kT0 + 600) && data_time_reaches(sup, 1, kT0 + 600));
        const int64_t now = common::now_utc_seconds();
        (void)sup.run_once(now);

        // The acquisition goes on writing for WA1 only.
        append(fx, "WA1", kT0 + 600, 100);
        ASSERT_TRUE(data_time_reaches(sup, 0, kT0 + 700));
        (void)sup.run_once(now + 59);
        EXPECT_FALSE(sup.rows()[1].stalled);
        const AlarmPass stall = sup.run_once(now + 60);
        EXPECT_EQ(sup.rows()[1].stalled, c.stalls);
        EXPECT_EQ(stall.rows_changed, c.stalls);
        EXPECT_FALSE(sup.rows()[0].stalled);
        EXPECT_NEAR(sup.rows()[1].last_data_time, kT0 + 600, 1e-6);
        EXPECT_EQ(sup.watch_lines().size(), c.stalls ? 1u : 0u);
        (void)sup.run_once(now + 100000);

        append(fx, "WA2", kT0 + 600, 100);
        ASSERT_TRUE(data_time_reaches(sup, 1, kT0 + 700));
        (void)sup.run_once(now + 100001);
        EXPECT_FALSE(sup.rows()[1].stalled);
        sup.shut_down();
        EXPECT_EQ(fx.log_count("Channel 1 (WA2.HHZ.\?\?): no new data for 60 s; last data time "
                               "2020-09-13 12:36:40 UTC"),
                  c.stalls ? 1u : 0u);
        EXPECT_EQ(fx.log_count("Channel 1 (WA2.HHZ.\?\?): data again after 100001 s without new "
                               "data; last data time was 2020-09-13 12:36:40 UTC, now "
                               "2020-09-13 12:38:20 UTC"),
                  c.stalls ? 1u : 0u);
        // WA1's data last moved on before the pass at now + 59: it stalls at now + 100000.
        EXPECT_EQ(fx.log_count("Channel 0 (WA1.HHZ.\?\?): no new data"), c.stalls ? 1u : 0u);
    }
}

TEST(SupervisorWatch, StoreOutageLongerThanNoDataIsReportedOnce) {
    const auto own = test::PostgresServer::start_private();
    test::PostgresServer& server = *own;
    if (!server.available()) GTEST_SKIP() << server.reason();
    test::EngineFixture fx;  // settings file and log
    test::PostgresTestStore pg(true, server);
    for (const char* sta : {"WP1", "WP2", "WP3"}) {
        pg.add_channel(sta, "HHZ", std::nullopt, 100);
        const std::string rel = std::string(sta) + ".i32";
        pg.write_int32(rel, test::synthetic_samples(300, 100, {}));
        test::TestSegment seg;
        seg.sta = sta;
        seg.chan = "HHZ";
        seg.tbegin = kT0;
        seg.tqty = 300;
        seg.sps = 100;
        seg.cpath = rel;
        pg.add_segment(seg);
    }
    fx.add_thread(0, "WP1", "HHZ");
    fx.add_thread(1, "WP2", "HHZ");
    fx.add_thread(2, "WP3", "HHZ");
    db::WaveStore ws;
    pg.configure(ws);
    ASSERT_TRUE(ws.connect()) << ws.last_error();
    Supervisor sup(live_settings(fx, 3, 60), ws);
    (void)sup.start_up();
    for (size_t i = 0; i < 3; ++i) ASSERT_TRUE(data_time_reaches(sup, i, kT0 + 300));
    const int64_t now = common::now_utc_seconds();
    (void)sup.run_once(now);

    pg.close_connection();
    ASSERT_TRUE(server.stop());
    ASSERT_TRUE(eventually([&] { return fx.log_count("Couldn't connect to database.") > 0; }));
    std::this_thread::sleep_for(200ms);  // the link is marked down just after that line
    (void)sup.run_once(now + 10);        // the outage is seen from here
    (void)sup.run_once(now + 69);
    for (const ChannelRow& r : sup.rows()) EXPECT_FALSE(r.stalled);
    EXPECT_TRUE(sup.run_once(now + 70).rows_changed);
    for (const ChannelRow& r : sup.rows()) EXPECT_TRUE(r.stalled);
    (void)sup.run_once(now + 3000);
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(eventually([&] { return fx.log_count("Connection restored.") > 0; }));
    (void)sup.run_once(now + 3010);
    for (const ChannelRow& r : sup.rows()) EXPECT_FALSE(r.stalled);
    sup.shut_down();
    EXPECT_EQ(fx.log_count("No data from any channel for 60 s: the store does not answer since"),
              1u);
    EXPECT_EQ(fx.log_count("The store answers again after 3000 s: channels are watched"), 1u);
    EXPECT_EQ(fx.log_count("no new data for"), 0u) << fx.log_text();
}

TEST(SupervisorWatch, DataTimeAheadOfTheClockIsNamedOnce) {
    test::EngineFixture fx;
    fx.add_channel("WF1", "HHZ", 100);
    // The acquisition computer's clock runs 5 minutes ahead: its newest data lie in
    // our future.
    const double now = std::floor(common::now_utc());
    append(fx, "WF1", now - 300, 600);
    fx.add_thread(0, "WF1", "HHZ");
    auto ws = fx.connect_store();
    SupervisorSettings s = live_settings(fx, 1, 600);
    s.arguments = {"zelvik", "BEGIN=-400"};
    Supervisor sup(s, *ws);
    (void)sup.start_up();
    ASSERT_TRUE(data_time_reaches(sup, 0, now + 300));
    (void)sup.run_once(static_cast<int64_t>(now));
    (void)sup.run_once(static_cast<int64_t>(now) + 1);
    EXPECT_EQ(sup.watch_lines().size(), 0u);
    sup.shut_down();
    EXPECT_EQ(fx.log_count("Channel 0 (WF1.HHZ.\?\?): data time " + common::utc_text(now + 300) +
                           " UTC is 300 s ahead of the computer's clock: clock or data time "
                           "wrong"),
              1u)
        << fx.log_text();
}

TEST(SupervisorWatch, FlappingChannelSendsOneNoDataMailWithinTheHour) {
    test::TempDir mail_dir("zelvik-mail");
    testing::SmtpSinkProcess sink(mail_dir.path());
    ASSERT_NE(sink.port(), 0) << sink.error();
    test::EngineFixture fx;
    fx.add_channel("WM1", "HHZ", 100);
    append(fx, "WM1", kT0, 300);
    fx.add_thread(0, "WM1", "HHZ");
    auto ws = fx.connect_store();
    SupervisorSettings s = live_settings(fx, 1, 60);
    s.mail = {"127.0.0.1", "ops@example.org", "zelvik@example.org", "", sink.port()};
    Supervisor sup(s, *ws);
    (void)sup.start_up();
    ASSERT_TRUE(sup.report_sender().ready());
    ASSERT_TRUE(data_time_reaches(sup, 0, kT0 + 300));
    const int64_t now = common::now_utc_seconds();
    (void)sup.run_once(now);
    // Stalls, resumes, stalls and resumes again, all within twenty minutes.
    double end = kT0 + 300;
    for (int flap = 0; flap < 2; ++flap) {
        const int64_t t = now + 600 * flap;
        (void)sup.run_once(t + 60);
        EXPECT_TRUE(sup.rows()[0].stalled);
        append(fx, "WM1", end, 100);
        end += 100;
        ASSERT_TRUE(data_time_reaches(sup, 0, end));
        (void)sup.run_once(t + 100);
        EXPECT_FALSE(sup.rows()[0].stalled);
    }
    sup.shut_down();  // what is queued is mailed once before the sender ends
    EXPECT_EQ(fx.log_count("(WM1.HHZ.\?\?): no new data for"), 2u);
    ASSERT_EQ(sink.wait_for_mails(1, 10s), 1u);
    std::this_thread::sleep_for(300ms);
    const auto mails = sink.mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].content.find("Subject: NO DATA"), std::string::npos) << mails[0].content;
    EXPECT_NE(mails[0].content.find("WM1.HHZ.??           no data since   2020-09-13 12:31:40 UTC"),
              std::string::npos)
        << mails[0].content;
    EXPECT_EQ(sup.report_sender().mails_sent(), 1);
}

// One catch-up run over stations with a burst each; `bursts[i]` is the burst's second
// within the data of channel i. Returns the channels that entered alarm.
struct Network {
    const char* station;
    const char* channel;
    double burst;
};

std::set<int> coincidence_run(test::EngineFixture& fx, const std::vector<Network>& net,
                              int sink_port) {
    for (size_t i = 0; i < net.size(); ++i) {
        fx.add_channel(net[i].station, net[i].channel, 100);
        fx.add_segment(net[i].station, net[i].channel, kT0, 100,
                       test::synthetic_samples(600, 100, {net[i].burst}, 100, 0, 3000, 8,
                                               static_cast<uint32_t>(i + 3)));
        fx.add_thread(static_cast<int>(i), net[i].station, net[i].channel);
    }
    auto ws = fx.connect_store();
    SupervisorSettings s = live_settings(fx, static_cast<int>(net.size()), 600);
    s.sleep_seconds = 0;
    s.stop_when_idle = true;
    s.coincidence = 2;
    s.window_seconds = 10;
    s.mail = {"127.0.0.1", "ops@example.org", "zelvik@example.org", "", sink_port};
    Supervisor sup(s, *ws);
    (void)sup.start_up();
    std::set<int> entered;
    for (int i = 0; i < 3000; ++i) {
        const bool done = sup.caught_up();
        for (int c : sup.run_once(common::now_utc_seconds()).entered) entered.insert(c);
        if (done) break;
        std::this_thread::sleep_for(10ms);
    }
    sup.shut_down();
    return entered;
}

TEST(SupervisorWatch, TwoStationsWithinTheWindowRaiseTheAlarmAndTheAlertMail) {
    struct Case {
        const char* name;
        std::vector<Network> net;
        std::set<int> alarmed;
        size_t raised_lines, below_lines, alert_lines;
    };
    const Case cases[] = {
        {"two stations 5 s apart", {{"CO1", "HHZ", 300}, {"CO2", "HHZ", 305}}, {0, 1}, 2, 0, 2},
        {"two stations 30 s apart", {{"CO1", "HHZ", 300}, {"CO2", "HHZ", 330}}, {}, 0, 2, 0},
        {"two channels of one station", {{"CO1", "HHZ", 300}, {"CO1", "HHN", 302}}, {}, 0, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir mail_dir("zelvik-mail");
        testing::SmtpSinkProcess sink(mail_dir.path());
        ASSERT_NE(sink.port(), 0) << sink.error();
        test::EngineFixture fx;
        EXPECT_EQ(coincidence_run(fx, c.net, sink.port()), c.alarmed);
        // Every detection is measured and stored whatever the rule decided.
        EXPECT_EQ(fx.event_rows(), 2) << fx.log_text();
        EXPECT_EQ(fx.log_count(" Ev_time: "), 2u);
        EXPECT_EQ(fx.log_count(" raises the alarm: 2 stations within 10 s"), c.raised_lines);
        EXPECT_EQ(fx.log_count(" stays below the alarm rule: fewer than 2 stations within 10 s"),
                  c.below_lines);
        const size_t mails = sink.wait_for_mails(c.alert_lines > 0 ? 1 : 0, 10s);
        std::this_thread::sleep_for(c.alert_lines > 0 ? 0ms : 500ms);
        ASSERT_EQ(sink.mails().size(), c.alert_lines > 0 ? 1u : 0u) << mails;
        if (c.alert_lines == 0) continue;
        // mails() returns a copy: keep the content itself, not a reference into it.
        const std::string content = sink.mails()[0].content;
        EXPECT_NE(content.find("Subject: ALERT"), std::string::npos);
        EXPECT_NE(content.find("00000001"), std::string::npos) << content;
        EXPECT_EQ(content.find("00000002"), std::string::npos) << content;
    }
}

}  // namespace
}  // namespace zelvik::detect
