// The headless front end writes one line per change, never one per pass, and its
// progress line shows each channel's data time and share of the backlog.
#include "shell/headless_events.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/clock.h"
#include "tests/support/engine_fixture.h"

namespace zelvik::shell {
namespace {

using test::kT0;

std::string contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, f) != nullptr) out += buf;
    return out;
}

size_t count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

ChannelView row(int index, const char* sta, bool alarm, double data_time, double onset) {
    ChannelView v;
    v.settings.index = index;
    v.settings.station = sta;
    v.state = detect::ChannelState::kRunning;
    v.in_alarm = alarm;
    v.last_data_time = data_time;
    v.last_onset = onset;
    v.start_time = kT0;
    v.backlog_end = kT0 + 100;
    return v;
}

TEST(HeadlessEvents, OneLinePerChange) {
    test::EngineFixture fx;  // a real log to write to
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    HeadlessEvents events(err, nullptr, false);
    // Passes: quiet, alarm on channel 1 (repeated over three passes), then over.
    events.channels_changed({row(0, "AAA", false, kT0 + 1, 0), row(1, "BBB", false, kT0 + 1, 0)});
    for (int pass = 0; pass < 3; ++pass) {
        events.channels_changed({row(0, "AAA", false, kT0 + 2 + pass, 0),
                                 row(1, "BBB", true, kT0 + 2 + pass, kT0 + 1.5)});
    }
    events.alarm_changed(true, "!!! A L A R M !!!");
    events.channels_changed(
        {row(0, "AAA", false, kT0 + 9, 0), row(1, "BBB", false, kT0 + 9, kT0 + 1.5)});
    events.alarm_changed(false, "");
    const std::string text = contents(err);
    std::fclose(err);
    EXPECT_EQ(count(text, "Channel 1 (BBB.BHZ.\?\?) in alarm: event at 2020-09-13 12:26:41 UTC"),
              1u)
        << text;
    EXPECT_EQ(count(text, "Channel 1 (BBB.BHZ.\?\?) alarm ended"), 1u) << text;
    EXPECT_EQ(count(text, "Channel 0"), 0u) << text;
    EXPECT_EQ(count(text, "Alarm display on: !!! A L A R M !!!"), 1u) << text;
    EXPECT_EQ(count(text, "Alarm display off"), 1u) << text;
    EXPECT_EQ(count(text, "progress"), 0u) << text;
    EXPECT_EQ(fx.log_count("in alarm: event at"), 1u);
}

TEST(HeadlessEvents, ProgressLineShowsDataTimeAndShare) {
    std::vector<ChannelView> rows = {row(0, "AAA", false, kT0 + 50, 0), row(1, "BBB", false, 0, 0),
                                     row(2, "CCC", false, kT0 + 400, 0)};
    rows[2].state = detect::ChannelState::kUnusable;
    EXPECT_EQ(
        HeadlessEvents::progress_line(rows),
        "AAA.BHZ.\?\? 2020-09-13 12:27:30 50%; BBB.BHZ.\?\? no data yet; CCC.BHZ.\?\? not running");
    EXPECT_EQ(HeadlessEvents::progress_line({}), "no channels");
}

TEST(HeadlessEvents, ProgressAtMostOnceASecond) {
    double now = kT0;
    common::set_clock_for_testing([&now] { return now; });
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    HeadlessEvents events(err, nullptr, true);
    const double steps[] = {0.0, 0.3, 0.6, 0.99, 1.0, 1.5, 2.2};  // seconds of clock time
    for (double t : steps) {
        now = kT0 + t;
        events.channels_changed({row(0, "AAA", false, kT0 + 10 * t, 0)});
    }
    events.final_progress();
    common::set_clock_for_testing({});
    const std::string text = contents(err);
    std::fclose(err);
    // Lines at 0.0, 1.0 and 2.2 s, and the final one.
    EXPECT_EQ(count(text, "zelvik: progress AAA.BHZ."), 4u) << text;
}

}  // namespace
}  // namespace zelvik::shell
