// Settings taken over by a running supervisor on a real SQLite store with its real
// worker thread: a threshold changed on one channel leaves the other channels' event
// rows exactly as a run without the change stores them, and a channel set changed
// while an alarm is on keeps that alarm on the channel it belongs to.
#include <gtest/gtest.h>

#include <chrono>

#include "channel/channel_settings.h"
#include "common/clock.h"
#include "engine/channel_set_change.h"
#include "engine/supervisor.h"
#include "tests/support/engine_fixture.h"

namespace zelvik::detect {
namespace {

using test::kT0;

const char* const kStations[] = {"RA", "RB", "RC"};

SupervisorSettings live_settings(const test::EngineFixture& fx, int threads) {
    SupervisorSettings s;
    s.settings_path = fx.ini();
    s.arguments = {"zelvik", "BEGIN='2020-09-13 12:26:40'"};  // kT0
    s.thread_count = threads;
    s.sleep_seconds = 0;
    s.storage_days = 0;
    s.wav_file = "*";
    s.no_data_seconds = 0;
    s.max_duration_seconds = 100000;  // an alarm stays on for the whole test
    s.reconnect_pause_ms = 0;
    return s;
}

// Passes of the supervisor (this thread) until every running channel has read up to
// `t`, at most ~30 s.
bool run_until(Supervisor& sup, double t) {
    for (int i = 0; i < 3000; ++i) {
        (void)sup.run_once(common::now_utc_seconds());
        bool all = true;
        for (const auto& d : sup.detectors())
            if (d->state() == ChannelState::kRunning && d->last_data_time() < t - 0.02) all = false;
        if (all) return true;
        (void)sup.stop_signal().wait_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::vector<ChannelSettings> channels_in(const test::EngineFixture& fx, int count) {
    std::vector<ChannelSettings> out;
    for (int n = 0; n < count; ++n) out.push_back(read_channel_settings(fx.ini(), n));
    return out;
}

// "onset:amplitude:period" of every event row of `sta` from `from` to `to`, by onset.
std::string rows_of(test::EngineFixture& fx, const std::string& sta, double from, double to) {
    return fx.store().scalar(
        "select group_concat(r, ',') from (select TBEGIN || ':' || AMP || ':' || PER as r "
        "from EVENTLIST where EVENT_TYPE=1 and STA='" +
        sta + "' and TBEGIN >= " + std::to_string(from) + " and TBEGIN < " + std::to_string(to) +
        " order by TBEGIN)");
}

// Three channels over two stretches of ten minutes; the second arrives while the run
// goes on. With `change`, THREAD1's threshold rises to 100000 between the stretches.
struct ThreeChannelRun {
    explicit ThreeChannelRun(bool change) {
        for (int n = 0; n < 3; ++n) {
            fx.add_channel(kStations[n], "HHZ", 100);
            fx.add_segment(kStations[n], "HHZ", kT0, 100,
                           test::synthetic_samples(600, 100, {200, 450}, 100, 0, 3000, 8, n + 1));
            fx.add_thread(n, kStations[n], "HHZ");
        }
        auto ws = fx.connect_store();
        Supervisor sup(live_settings(fx, 3), *ws);
        (void)sup.start_up();
        EXPECT_TRUE(run_until(sup, kT0 + 600));
        if (change) {
            const ChannelDetector* kept[] = {sup.detectors()[0].get(), sup.detectors()[2].get()};
            fx.set("THREAD1", "Threshold", "100000");
            SettingsUpdate u{sup.settings(), channels_in(fx, 3), {}};
            EXPECT_TRUE(sup.apply_settings(u));
            EXPECT_EQ(sup.detectors()[0].get(), kept[0]);
            EXPECT_EQ(sup.detectors()[2].get(), kept[1]);
            EXPECT_EQ(sup.detectors()[1]->settings().threshold, 100000.0);
        }
        for (int n = 0; n < 3; ++n)
            fx.add_segment(kStations[n], "HHZ", kT0 + 600, 100,
                           test::synthetic_samples(600, 100, {300}, 100, 0, 3000, 8, n + 7));
        EXPECT_TRUE(run_until(sup, kT0 + 1200));
        sup.shut_down();
    }
    test::EngineFixture fx;
};

TEST(ChannelSetChange, ThresholdChangedOnOneChannelLeavesTheOthersAsTheyWere) {
    ThreeChannelRun plain(false), changed(true);
    for (const char* sta : {"RA", "RC"}) {
        EXPECT_FALSE(rows_of(plain.fx, sta, 0, 2e9).empty()) << sta;
        EXPECT_EQ(rows_of(changed.fx, sta, 0, 2e9), rows_of(plain.fx, sta, 0, 2e9)) << sta;
    }
    // Before the change RB is as it was; after it, its burst stays below 100000.
    EXPECT_EQ(rows_of(changed.fx, "RB", 0, kT0 + 600), rows_of(plain.fx, "RB", 0, kT0 + 600));
    EXPECT_EQ(plain.fx.event_rows("RB"), 3);
    EXPECT_EQ(changed.fx.event_rows("RB"), 2)
        << rows_of(changed.fx, "RB", 0, 2e9) << " / " << rows_of(plain.fx, "RB", 0, 2e9);
    EXPECT_EQ(changed.fx.log_count("Channel 1 (RB.HHZ.\?\?) runs"), 2u);
    EXPECT_EQ(changed.fx.log_count("Channel 0 (RA.HHZ.\?\?) runs"), 1u);
}

TEST(ChannelSetChange, ChannelAddedAndOneRemovedWhileAnAlarmIsOn) {
    test::EngineFixture fx;
    for (int n = 0; n < 3; ++n) {
        fx.add_channel(kStations[n], "HHZ", 100);
        fx.add_segment(kStations[n], "HHZ", kT0, 100,
                       test::synthetic_samples(
                           600, 100, n == 1 ? std::vector<double>{500} : std::vector<double>{}, 100,
                           0, 3000, 8, n + 1));
    }
    fx.add_thread(0, "RA", "HHZ");
    fx.add_thread(1, "RB", "HHZ");
    auto ws = fx.connect_store();
    Supervisor sup(live_settings(fx, 2), *ws);
    (void)sup.start_up();
    ASSERT_TRUE(run_until(sup, kT0 + 600));
    for (int i = 0; i < 500 && !sup.rows()[1].in_alarm; ++i) {
        (void)sup.run_once(common::now_utc_seconds());
        (void)sup.stop_signal().wait_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(sup.rows()[1].in_alarm);
    ASSERT_FALSE(sup.rows()[0].in_alarm);
    const ChannelDetector* rb = sup.detectors()[1].get();

    // RA goes; the editor renumbers RB to THREAD0; RC comes as THREAD1.
    fx.add_thread(0, "RB", "HHZ");
    fx.add_thread(1, "RC", "HHZ");
    SettingsUpdate u{sup.settings(), channels_in(fx, 2), {}};
    ASSERT_TRUE(sup.apply_settings(u));
    (void)sup.run_once(common::now_utc_seconds());
    const std::vector<ChannelRow> rows = sup.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(sup.detectors()[0].get(), rb);
    EXPECT_EQ(rows[0].settings.station, "RB");
    EXPECT_EQ(rows[0].settings.index, 0);
    EXPECT_TRUE(rows[0].in_alarm);
    EXPECT_EQ(rows[1].settings.station, "RC");
    EXPECT_FALSE(rows[1].in_alarm);
    // RC starts as far back as the run did, and reads its data (it may still be setting
    // up, which run_until() does not wait for).
    for (int i = 0; i < 3000 && sup.rows()[1].last_data_time < kT0 + 590; ++i) {
        (void)sup.run_once(common::now_utc_seconds());
        (void)sup.stop_signal().wait_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(sup.rows()[1].last_data_time, kT0 + 590);
    EXPECT_EQ(fx.log_count("Channel 1 (RC.HHZ.\?\?) runs"), 1u);
    sup.shut_down();
    EXPECT_EQ(fx.event_rows("RB"), 1);
}

TEST(ChannelSetChange, ConnectionValuesApplyByReconnecting) {
    test::EngineFixture fx;
    fx.add_channel("RA", "HHZ", 100);
    fx.add_segment("RA", "HHZ", kT0, 100, test::synthetic_samples(600, 100, {}, 100));
    fx.add_thread(0, "RA", "HHZ");
    auto ws = fx.connect_store();
    Supervisor sup(live_settings(fx, 1), *ws);
    (void)sup.start_up();
    ASSERT_TRUE(run_until(sup, kT0 + 600));
    const ChannelDetector* ra = sup.detectors()[0].get();
    const test::TestStore& st = fx.store();
    SettingsUpdate u{sup.settings(),
                     channels_in(fx, 1),
                     {{"ODBC", st.dsn()},
                      {"USER", st.user()},
                      {"PASSWORD", st.password()},
                      {"DATA", st.data_dir()}}};
    ASSERT_TRUE(sup.apply_settings(u));
    EXPECT_EQ(sup.detectors()[0].get(), ra);
    fx.add_segment("RA", "HHZ", kT0 + 600, 100, test::synthetic_samples(60, 100, {}, 100));
    EXPECT_TRUE(run_until(sup, kT0 + 660));
    sup.shut_down();
    EXPECT_EQ(fx.log_count("Reconnected to the store. ODBC: " + st.dsn()), 1u);
    EXPECT_EQ(fx.log_count("Connection lost"), 0u);
}

TEST(ChannelSetChange, PlanKeepsEqualSectionsUnderNewNumbers) {
    auto ch = [](int n, const char* sta, double thr = 4) {
        ChannelSettings c;
        c.index = n;
        c.station = sta;
        c.threshold = thr;
        return c;
    };
    // Delete B of A B C: C moves to number 1 and is kept; a changed A restarts.
    const ChannelPlan p =
        plan_channels({ch(0, "A"), ch(1, "B"), ch(2, "C")}, {ch(0, "A", 9), ch(1, "C")});
    EXPECT_EQ(p.old_of_new, (std::vector<int>{-1, 2}));
    EXPECT_EQ(p.changed_from, (std::vector<int>{0, -1}));
    EXPECT_EQ(p.removed, (std::vector<int>{1}));
    EXPECT_EQ(new_of_old(p.old_of_new, 3), (std::vector<int>{-1, -1, 1}));
    EXPECT_FALSE(p.same());
    EXPECT_TRUE(plan_channels({ch(0, "A")}, {ch(0, "A")}).same());
}

}  // namespace
}  // namespace zelvik::detect
