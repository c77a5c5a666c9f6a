// The texts a run gives at its start (what it watches), while it runs (progress with
// many channels) and at the end of a catch-up (per-channel figures). Goldens by hand;
// 1600000000 is 2020-09-13 12:26:40 UTC (`date -u -d @1600000000`).
#include <gtest/gtest.h>

#include "engine/watch_summary.h"
#include "shell/catch_up_summary.h"
#include "shell/headless_events.h"

namespace zelvik::shell {
namespace {

constexpr double kT0 = 1600000000.0;
using detect::ChannelState;

TEST(WatchSummary, NamesWhatRunsAndWhatDoesNot) {
    struct Case {
        std::vector<detect::SetUpChannel> channels;
        bool dir_exists;
        const char* text;
        bool can_watch;
    };
    const Case cases[] = {
        {{},
         true,
         "watching 0 of 0 channels: no channel sections (SYSTEM THREADS is 0 or missing)",
         false},
        {{{0, "AAA.BHZ.??", ChannelState::kRunning, ""},
          {1, "BBB.BHZ.??", ChannelState::kUnusable, "ORDER 9 outside 1..6"},
          {2, "CCC.BHZ.??", ChannelState::kRunning, ""},
          {3, "DDD.BHZ.??", ChannelState::kWaitingForStore, "no connection"}},
         true,
         "watching 2 of 4 channels; skipped: THREAD1 BBB.BHZ.?? (ORDER 9 outside 1..6); waiting "
         "for the store: THREAD3 DDD.BHZ.?? (no connection)",
         true},
        {{{0, "AAA.BHZ.??", ChannelState::kUnusable, "no SITECHAN row"}},
         true,
         "watching 0 of 1 channels; skipped: THREAD0 AAA.BHZ.?? (no SITECHAN row)",
         false},
        {{{0, "AAA.BHZ.??", ChannelState::kRunning, ""}},
         false,
         "watching 1 of 1 channels; data directory \"/no/data\" does not exist, no samples can "
         "be read",
         false},
    };
    for (const Case& c : cases) {
        const detect::WatchSummary s =
            detect::summarise_watch(c.channels, "/no/data", c.dir_exists);
        EXPECT_EQ(s.text, c.text);
        EXPECT_EQ(s.can_watch(), c.can_watch) << c.text;
    }
}

TEST(CatchUpSummary, OneRowPerChannelAndTheTotal) {
    const std::vector<CatchUpFigures> channels = {
        {"ABC.BHZ.??", true, kT0 + 300, 3, 2, {1, 1, 0, 0, 1}},
        {"LONGNAM.HHZ.00", true, 0.0, 0, 0},
        {"XYZ.BHZ.??", false, 0.0, 0, 0},
    };
    EXPECT_EQ(catch_up_summary(channels),
              "zelvik: summary of the run:\n"
              "zelvik:   channel              data reached (UTC)    detections rows stored  "
              "by pick grade 0/1/2/3/4\n"
              "zelvik:   ABC.BHZ.??           2020-09-13 12:31:40            3           2  "
              "1/1/0/0/1\n"
              "zelvik:   LONGNAM.HHZ.00       no data                        0           0  "
              "0/0/0/0/0\n"
              "zelvik:   XYZ.BHZ.??           did not run                    0           0  "
              "0/0/0/0/0\n"
              "zelvik:   total, 3 channels                                   3           2  "
              "1/1/0/0/1\n");
}

// Beyond four channels the line holds the totals and the channel furthest behind.
TEST(HeadlessEvents, ProgressWithManyChannelsIsOneShortLine) {
    std::vector<ChannelView> rows;
    const char* stations[] = {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF"};
    const double done[] = {100, 80, 20, 60, 100, 40};  // seconds of a 100 s backlog
    for (int i = 0; i < 6; ++i) {
        ChannelView v;
        v.settings.index = i;
        v.settings.station = stations[i];
        v.state = ChannelState::kRunning;
        v.last_data_time = kT0 + done[i];
        v.start_time = kT0;
        v.backlog_end = kT0 + 100;
        rows.push_back(v);
    }
    rows[4].state = ChannelState::kUnusable;
    EXPECT_EQ(HeadlessEvents::progress_line(rows),
              "6 channels, 5 running, 60% done; slowest CCC.BHZ.?? 2020-09-13 12:27:00 20%");
    rows[1].last_data_time = 0.0;  // a running channel without data is further behind
    EXPECT_EQ(HeadlessEvents::progress_line(rows),
              "6 channels, 5 running, 55% done; slowest BBB.BHZ.?? no data yet");
}

}  // namespace
}  // namespace zelvik::shell
