// The Engine with its real supervisor and worker threads on a real SQLite store: a
// catch-up run ends by itself with every row stored and tells the front end only of
// changes; a stop during the worker's idle pause ends the run at once. These tests also
// run under ThreadSanitizer (scripts/test.sh).
#include "shell/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "common/clock.h"
#include "shell/headless_events.h"
#include "tests/support/engine_fixture.h"

namespace zelvik::shell {
namespace {

using test::kT0;

// Records every call; the engine calls from its supervisor thread, the test reads after
// the engine has ended (and under the lock, so the sanitizer sees the hand-over).
class RecordingEvents : public EngineEvents {
public:
    void channels_changed(std::vector<ChannelView> rows) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++row_updates;
            last_rows = std::move(rows);
        }
        changed_.notify_all();
    }
    // Waits until some row shows data, at most `timeout`.
    bool wait_for_data(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] {
            return !last_rows.empty() && last_rows[0].last_data_time > 0.0;
        });
    }
    void alarm_changed(bool on, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        alarms.emplace_back(on, text);
    }
    void info_changed(const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        info = text;
    }
    void play_alarm(const std::string& wav) override {
        std::lock_guard<std::mutex> lock(mutex_);
        played.push_back(wav);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    int row_updates = 0;
    std::vector<ChannelView> last_rows;
    std::vector<std::pair<bool, std::string>> alarms;
    std::string info;
    std::vector<std::string> played;
};

detect::SupervisorSettings settings_for(const test::EngineFixture& fx, int threads,
                                        int sleep_seconds) {
    detect::SupervisorSettings s;
    s.settings_path = fx.ini();
    s.arguments = {"zelvik", "BEGIN='2020-09-13 12:26:40'"};
    s.thread_count = threads;
    s.sleep_seconds = sleep_seconds;
    s.storage_days = 0;
    s.wav_file = "alarm.wav";
    s.reconnect_pause_ms = 0;
    return s;
}

TEST(EngineThreads, CatchUpRunEndsByItselfWithEveryRowStored) {
    test::EngineFixture fx;
    fx.add_channel("EA1", "HHZ", 100);
    fx.add_channel("EA2", "HHZ", 100);
    fx.add_segment("EA1", "HHZ", kT0, 100,
                   test::synthetic_samples(1800, 100, {400, 1200}, 100, 0, 3000, 8, 1));
    fx.add_segment("EA2", "HHZ", kT0, 100,
                   test::synthetic_samples(1800, 100, {700}, 100, 0, 3000, 8, 2));
    fx.add_thread(0, "EA1", "HHZ", 1);
    fx.add_thread(1, "EA2", "HHZ", 0);
    auto ws = fx.connect_store();
    RecordingEvents events;
    detect::SupervisorSettings s = settings_for(fx, 2, 40);
    s.stop_when_idle = true;
    Engine engine(s, *ws, events);
    ASSERT_TRUE(engine.start());
    ASSERT_TRUE(engine.wait(std::chrono::seconds(30)));

    EXPECT_EQ(fx.event_rows("EA1"), 2) << fx.log_text();
    EXPECT_EQ(fx.event_rows("EA2"), 1);
    std::lock_guard<std::mutex> lock(events.mutex_);
    EXPECT_EQ(events.info, "duration: 120  silence: 30");
    ASSERT_EQ(events.last_rows.size(), 2u);
    EXPECT_TRUE(events.last_rows[0].in_alarm);
    EXPECT_TRUE(events.last_rows[1].in_alarm);
    EXPECT_NEAR(events.last_rows[0].last_onset, kT0 + 1200, 1.0);
    // The display turned on once (the sounding channel EA1) and off once at shutdown;
    // never once per pass.
    ASSERT_EQ(events.alarms.size(), 2u);
    EXPECT_EQ(events.alarms[0], std::make_pair(true, std::string("!!! A L A R M !!!")));
    EXPECT_EQ(events.alarms[1], std::make_pair(false, std::string()));
    ASSERT_FALSE(events.played.empty());
    EXPECT_EQ(events.played[0], "alarm.wav");
}

TEST(EngineThreads, StopDuringTheIdlePauseEndsTheRunAtOnce) {
    test::EngineFixture fx;
    fx.add_channel("EB1", "HHZ", 100);
    fx.add_segment("EB1", "HHZ", kT0, 100, test::synthetic_samples(120, 100, {}));
    fx.add_thread(0, "EB1", "HHZ");
    auto ws = fx.connect_store();
    RecordingEvents events;
    // SLEEP 40: the idle worker would wait 20 x 2 s if the stop did not wake it, which
    // is longer than the whole wait below.
    Engine engine(settings_for(fx, 1, 40), *ws, events);
    ASSERT_TRUE(engine.start());
    ASSERT_TRUE(events.wait_for_data(std::chrono::seconds(10)));
    engine.silence_for(60);
    engine.set_sound_enabled(false);
    engine.request_stop();
    EXPECT_TRUE(engine.wait(std::chrono::seconds(5)));
    EXPECT_TRUE(engine.finished());
}

// The whole path of a stall on the real clock: worker and supervisor threads, the data
// watch, the headless front end's stderr, the log.
TEST(EngineThreads, StallAndResumptionReachStderrAndTheLogOnce) {
    test::EngineFixture fx;
    fx.add_channel("EW1", "HHZ", 100);
    fx.add_segment("EW1", "HHZ", kT0, 100, test::synthetic_samples(120, 100, {}));
    fx.add_thread(0, "EW1", "HHZ");
    auto ws = fx.connect_store();
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    HeadlessEvents events(err, nullptr, false);
    detect::SupervisorSettings s = settings_for(fx, 1, 2);
    s.no_data_seconds = 2;
    Engine engine(s, *ws, events);
    ASSERT_TRUE(engine.start());
    const auto logged = [&](const char* needle) {
        for (int i = 0; i < 500 && fx.log_count(needle) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return fx.log_count(needle);
    };
    EXPECT_EQ(logged("Channel 0 (EW1.HHZ.\?\?): no new data for "), 1u);
    // The acquisition side writes the next two minutes while Zelvik runs.
    fx.add_segment("EW1", "HHZ", kT0 + 120, 100, test::synthetic_samples(120, 100, {}));
    EXPECT_EQ(logged("Channel 0 (EW1.HHZ.\?\?): data again after "), 1u);
    engine.request_stop();
    ASSERT_TRUE(engine.wait(std::chrono::seconds(15)));
    std::fflush(err);
    std::rewind(err);
    std::string text;
    char buf[512];
    while (std::fgets(buf, sizeof buf, err) != nullptr) text += buf;
    std::fclose(err);
    EXPECT_NE(text.find("zelvik: Channel 0 (EW1.HHZ.\?\?): no new data for "), std::string::npos)
        << text;
    EXPECT_NE(text.find("zelvik: Channel 0 (EW1.HHZ.\?\?): data again after "), std::string::npos)
        << text;
    EXPECT_NE(text.find("last data time was 2020-09-13 12:28:40 UTC, now 2020-09-13 12:30:40 UTC"),
              std::string::npos)
        << text;
    // Written to the log by the engine, not a second time by the front end.
    EXPECT_EQ(fx.log_count("(EW1.HHZ.\?\?): data again after "), 1u);
}

// Durations run on a clock that does not jump: the system time set 11 h ahead neither
// stalls every channel nor ends the alarm, and set 10 minutes back does not draw the
// alarm out.
TEST(EngineThreads, SystemTimeJumpsNeitherStallChannelsNorStretchAlarms) {
    static std::atomic<double> offset{0.0};
    offset = 0.0;
    common::set_clock_for_testing([] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                   .count() +
               offset.load();
    });
    common::set_monotonic_clock_for_testing([] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    });
    test::EngineFixture fx;
    fx.add_channel("EJ1", "HHZ", 100);
    fx.add_segment("EJ1", "HHZ", kT0, 100, test::synthetic_samples(600, 100, {300}));
    fx.add_thread(0, "EJ1", "HHZ", 1);
    auto ws = fx.connect_store();
    RecordingEvents events;
    detect::SupervisorSettings s = settings_for(fx, 1, 2);
    s.no_data_seconds = 60;
    s.max_duration_seconds = 4;
    Engine engine(s, *ws, events);
    ASSERT_TRUE(engine.start());
    const auto alarm_turned = [&](bool on, std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            {
                std::lock_guard<std::mutex> lock(events.mutex_);
                if (!events.alarms.empty() && events.alarms.back().first == on) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    };
    ASSERT_TRUE(alarm_turned(true, std::chrono::seconds(20)));
    offset = 11 * 3600.0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(fx.log_count("no new data for"), 0u) << fx.log_text();
    offset = -600.0;
    EXPECT_TRUE(alarm_turned(false, std::chrono::seconds(15)));
    engine.request_stop();
    EXPECT_TRUE(engine.wait(std::chrono::seconds(15)));
    common::set_monotonic_clock_for_testing({});
    common::set_clock_for_testing({});
}

}  // namespace
}  // namespace zelvik::shell
