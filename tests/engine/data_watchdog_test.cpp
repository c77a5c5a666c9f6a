// The data watch and its NO DATA mail by themselves, pass by pass on a clock given by
// hand: stall and resumption, the store outage reported once, NODATA 0, data times
// ahead of the clock, and the hourly limit of the mail for a flapping channel.
#include "engine/data_watchdog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "engine/no_data_mail.h"

namespace zelvik::detect {
namespace {

constexpr int64_t kNow = 1765000000;  // 2025-12-06 05:46:40 UTC, a round live instant

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

class Watch {
public:
    explicit Watch(int no_data, bool watch = true)
        : dog(no_data, watch, {"Channel 0 (AAA.HHZ.\?\?)", "Channel 1 (BBB.HHZ.\?\?)"}) {
        common::log_reset_for_testing();  // lines are checked through lines()
    }
    // One pass at kNow + t with the two channels' data times; returns its lines.
    std::string at(int64_t t, double d0, double d1, bool down = false) {
        changed = dog.pass({{d0, true}, {d1, true}}, down, kNow + t);
        return joined(dog.lines());
    }
    DataWatchdog dog;
    bool changed = false;
};

TEST(DataWatchdog, ChannelStallsAfterNoDataAndResumesWithNewData) {
    Watch w(600);
    const double d = kNow - 5.0;
    EXPECT_EQ(w.at(0, d, d), "");
    EXPECT_EQ(w.at(300, d + 300, d), "");
    EXPECT_EQ(w.at(599, d + 599, d), "");
    EXPECT_FALSE(w.dog.states()[1].stalled);
    EXPECT_EQ(w.at(600, d + 600, d),
              "Channel 1 (BBB.HHZ.\?\?): no new data for 600 s; last data time 2025-12-06 "
              "05:46:35 UTC\n");
    EXPECT_TRUE(w.changed);
    EXPECT_TRUE(w.dog.states()[1].stalled);
    EXPECT_FALSE(w.dog.states()[0].stalled);
    EXPECT_EQ(w.at(900, d + 900, d), "");  // named once, not at every pass
    EXPECT_FALSE(w.changed);
    EXPECT_EQ(w.at(1000, d + 1000, d + 1000),
              "Channel 1 (BBB.HHZ.\?\?): data again after 1000 s without new data; last data "
              "time was 2025-12-06 05:46:35 UTC, now 2025-12-06 06:03:15 UTC\n");
    EXPECT_TRUE(w.changed);
    EXPECT_FALSE(w.dog.states()[1].stalled);
    EXPECT_DOUBLE_EQ(w.dog.states()[1].last_data_time, d + 1000);
}

TEST(DataWatchdog, StoreOutageIsOneStallOfEveryChannel) {
    Watch w(600);
    const double d = kNow;
    EXPECT_EQ(w.at(0, d, d), "");
    EXPECT_EQ(w.at(10, d + 10, d + 10, true), "");
    EXPECT_EQ(w.at(609, d + 10, d + 10, true), "");
    EXPECT_EQ(w.at(610, d + 10, d + 10, true),
              "No data from any channel for 600 s: the store does not answer since 2025-12-06 "
              "05:46:50 UTC\n");
    EXPECT_TRUE(w.dog.states()[0].stalled && w.dog.states()[0].by_outage);
    EXPECT_TRUE(w.dog.states()[1].stalled && w.dog.states()[1].by_outage);
    EXPECT_EQ(w.at(5000, d + 10, d + 10, true), "");
    EXPECT_EQ(w.at(5010, d + 10, d + 10),
              "The store answers again after 5000 s: channels are watched\n");
    EXPECT_FALSE(w.dog.states()[0].stalled || w.dog.states()[1].stalled);
    // Each channel has NODATA from the store's return to show new data.
    EXPECT_EQ(w.at(5100, d + 5100, d + 10), "");
    EXPECT_EQ(w.at(5610, d + 5610, d + 10),
              "Channel 1 (BBB.HHZ.\?\?): no new data for 600 s; last data time 2025-12-06 "
              "05:46:50 UTC\n");

    // An outage shorter than NODATA says nothing at all.
    Watch brief(600);
    EXPECT_EQ(brief.at(0, d, d), "");
    EXPECT_EQ(brief.at(100, d, d, true), "");
    EXPECT_EQ(brief.at(650, d, d, true), "");
    EXPECT_EQ(brief.at(651, d + 651, d + 651), "");
    EXPECT_EQ(brief.at(1200, d + 1200, d + 1200), "");
}

TEST(DataWatchdog, OffWithNoDataZeroOrForACatchUpRunButFutureTimesAreNamedOnce) {
    struct Case {
        int no_data;
        bool watch;
    };
    for (const Case c : {Case{0, true}, Case{600, false}}) {
        SCOPED_TRACE(c.no_data);
        Watch w(c.no_data, c.watch);
        EXPECT_FALSE(w.dog.watching());
        EXPECT_EQ(w.at(0, kNow, kNow), "");
        EXPECT_EQ(w.at(100000, kNow, kNow, true), "");
        EXPECT_EQ(w.at(200000, kNow, kNow), "");
        EXPECT_FALSE(w.dog.states()[0].stalled || w.dog.states()[1].stalled);
    }
    Watch w(600);
    EXPECT_EQ(w.at(0, kNow + 60, kNow), "");  // 60 s ahead is still tolerated
    EXPECT_EQ(w.at(1, kNow + 200, kNow + 1),
              "Channel 0 (AAA.HHZ.\?\?): data time 2025-12-06 05:50:00 UTC is 199 s ahead of the "
              "computer's clock: clock or data time wrong\n");
    EXPECT_EQ(w.at(2, kNow + 300, kNow + 2), "");  // once per channel
    EXPECT_EQ(w.at(3, kNow + 300, kNow + 3600),
              "Channel 1 (BBB.HHZ.\?\?): data time 2025-12-06 06:46:40 UTC is 3597 s ahead of "
              "the computer's clock: clock or data time wrong\n");
}

TEST(NoDataMail, FlappingChannelIsMailedOnceAnHour) {
    Watch w(60);
    NoDataMail mail({"AAA.HHZ.??", "BBB.HHZ.??"}, 60);
    std::vector<std::string> bodies;
    std::vector<int64_t> sent_at;
    int stalls = 0;
    double d1 = kNow;
    // BBB flaps: data move on for 30 s of every 90, so it stalls 60 s after each burst;
    // AAA runs on. Two hours and a little more.
    for (int64_t t = 0; t <= 7500; t += 10) {
        if (t % 90 >= 60) d1 = kNow + t;
        stalls += w.at(t, kNow + t, d1).find("no new data") != std::string::npos;
        const std::string body = mail.due(w.dog.states(), kNow + t);
        if (!body.empty()) {
            bodies.push_back(body);
            sent_at.push_back(t);
        }
    }
    EXPECT_GT(stalls, 80);
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(sent_at[0], 140);  // the first stall: last data at 80 s, NODATA 60 s
    EXPECT_GE(sent_at[1] - sent_at[0], 3600);
    EXPECT_GE(sent_at[2] - sent_at[1], 3600);
    EXPECT_NE(bodies[0].find("BBB.HHZ.??           no data since   2025-12-06 05:48:00 UTC"),
              std::string::npos)
        << bodies[0];
    EXPECT_EQ(bodies[0].find("AAA"), std::string::npos);
    EXPECT_NE(bodies[0].find("(NODATA 60 s)"), std::string::npos);
    // Each later mail gives the state the channel is in when the hour is over.
    EXPECT_NE(bodies[1].find("BBB.HHZ.??           data again"), std::string::npos) << bodies[1];
    EXPECT_NE(bodies[2].find("BBB.HHZ.??           no data since"), std::string::npos) << bodies[2];

    // A stall and its end more than an hour apart: one mail each, at once.
    Watch once(60);
    NoDataMail single({"AAA.HHZ.??", "BBB.HHZ.??"}, 60);
    int mails = 0;
    for (int64_t t = 0; t <= 9000; t += 10) {
        (void)once.at(t, kNow + t, t < 5000 ? kNow : kNow + t);
        if (!single.due(once.dog.states(), kNow + t).empty()) {
            ++mails;
            EXPECT_TRUE(t == 60 || t == 5000) << t;
        }
    }
    EXPECT_EQ(mails, 2);
}

}  // namespace
}  // namespace zelvik::detect
