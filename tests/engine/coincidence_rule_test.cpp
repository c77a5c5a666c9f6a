// The coincidence rule by itself: which detections raise the alarm and which stay below,
// pass by pass, with the stations' progress given by hand.
#include "engine/coincidence_rule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelvik::detect {
namespace {

NetworkDetection at(int channel, const char* station, double onset) {
    return {channel, station, std::string(station) + ".HHZ.??", onset, 1.0, 5.0f};
}

// Progress of channels 0..n-1 on stations `stations`, all at `data_time`.
std::vector<ChannelProgress> all_at(const std::vector<const char*>& stations, double data_time) {
    std::vector<ChannelProgress> out;
    for (const char* s : stations) out.push_back({s, data_time, 1.5, true});
    return out;
}

std::string text(const CoincidenceOutcome& o) {
    std::string out;
    for (const auto& r : o.raised)
        out += "raised " + r.detection.station + "@" + std::to_string(int(r.detection.onset)) +
               " by " + std::to_string(r.stations) + "; ";
    for (const auto& d : o.below)
        out += "below " + d.station + "@" + std::to_string(int(d.onset)) + "; ";
    return out;
}

TEST(CoincidenceRule, GroupsByStationsWithinTheWindow) {
    struct Case {
        const char* name;
        int k;
        std::vector<NetworkDetection> detections;  // all handed over before one pass
        const char* first_pass;                    // data times not yet past the window
        const char* settled_pass;                  // every station far beyond them
    };
    const std::vector<const char*> stations = {"AAA", "BBB", "CCC", "AAA"};
    const Case cases[] = {
        {"two stations 5 s apart",
         2,
         {at(0, "AAA", 100), at(1, "BBB", 105)},
         "raised AAA@100 by 2; raised BBB@105 by 2; ",
         ""},
        {"two stations 30 s apart",
         2,
         {at(0, "AAA", 100), at(1, "BBB", 130)},
         "",
         "below AAA@100; below BBB@130; "},
        {"two channels of one station count once",
         2,
         {at(0, "AAA", 100), at(3, "AAA", 101)},
         "",
         "below AAA@100; below AAA@101; "},
        {"three stations, but not within one span",
         3,
         {at(0, "AAA", 100), at(1, "BBB", 108), at(2, "CCC", 116)},
         "",
         "below AAA@100; below BBB@108; below CCC@116; "},
        {"three stations within 10 s",
         3,
         {at(2, "CCC", 109), at(0, "AAA", 100), at(1, "BBB", 105)},
         "raised AAA@100 by 3; raised BBB@105 by 3; raised CCC@109 by 3; ",
         ""},
        {"a pair and a lone one",
         2,
         {at(0, "AAA", 100), at(1, "BBB", 104), at(2, "CCC", 300)},
         "raised AAA@100 by 2; raised BBB@104 by 2; ",
         "below CCC@300; "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CoincidenceRule rule(c.k, 10.0, stations.size());
        for (const NetworkDetection& d : c.detections) rule.add(d);
        EXPECT_EQ(text(rule.pass(all_at(stations, 100.0), 1000)), c.first_pass);
        // The progress of one pass counts from the next one on.
        EXPECT_EQ(text(rule.pass(all_at(stations, 1000.0), 1001)), "");
        EXPECT_EQ(text(rule.pass(all_at(stations, 1000.0), 1002)), c.settled_pass);
        EXPECT_EQ(text(rule.pass(all_at(stations, 1000.0), 1003)), "");
    }
}

TEST(CoincidenceRule, WaitsForStationsThatRunBehind) {
    const std::vector<const char*> stations = {"AAA", "BBB", "CCC"};
    CoincidenceRule rule(2, 10.0, stations.size());
    rule.add(at(0, "AAA", 100));
    std::vector<ChannelProgress> p = all_at(stations, 500.0);
    p[1].data_time = 105.0;  // BBB has not declared all of [100, 110] yet
    EXPECT_EQ(text(rule.pass(p, 1)), "");
    EXPECT_EQ(text(rule.pass(p, 2)), "");
    rule.add(at(1, "BBB", 104));
    EXPECT_EQ(text(rule.pass(p, 3)), "raised AAA@100 by 2; raised BBB@104 by 2; ");
    EXPECT_DOUBLE_EQ(rule.confirmed_onset(0), 100.0);
    EXPECT_DOUBLE_EQ(rule.confirmed_onset(1), 104.0);
    EXPECT_DOUBLE_EQ(rule.confirmed_onset(2), 0.0);

    // A stalled station (not live) is not waited for.
    rule.add(at(2, "CCC", 400));
    p[1].live = false;
    EXPECT_EQ(text(rule.pass(p, 4)), "");
    EXPECT_EQ(text(rule.pass(p, 5)), "below CCC@400; ");
}

TEST(CoincidenceRule, LateStationStillRaisesAndEndOfRunDecidesTheRest) {
    const std::vector<const char*> stations = {"AAA", "BBB"};
    CoincidenceRule rule(2, 10.0, stations.size());
    rule.add(at(0, "AAA", 100));
    std::vector<ChannelProgress> p = all_at(stations, 500.0);
    p[1].live = false;
    (void)rule.pass(p, 1);
    EXPECT_EQ(text(rule.pass(p, 2)), "below AAA@100; ");
    // BBB's data came late, with a detection 3 s after AAA's.
    rule.add(at(1, "BBB", 103));
    EXPECT_EQ(text(rule.pass(all_at(stations, 500.0), 3)),
              "raised AAA@100 by 2; raised BBB@103 by 2; ");

    // Waiting ends with the run, or after an hour of the clock.
    rule.add(at(0, "AAA", 2000));
    EXPECT_EQ(text(rule.pass(all_at(stations, 1000.0), 4)), "");
    EXPECT_EQ(text(rule.pass(all_at(stations, 1000.0), 5, true)), "below AAA@2000; ");
    rule.add(at(1, "BBB", 5000));
    EXPECT_EQ(text(rule.pass(all_at(stations, 1000.0), 10)), "");
    EXPECT_EQ(text(rule.pass(all_at(stations, 1000.0), 10 + 3599)), "");
    EXPECT_EQ(text(rule.pass(all_at(stations, 1000.0), 10 + 3600)), "below BBB@5000; ");
}

}  // namespace
}  // namespace zelvik::detect
