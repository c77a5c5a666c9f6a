// BEGIN: command-line dates and back-offs, settings values, and garbage that must fall
// back instead of starting detection at year 0. Epochs checked with `date -u -d ... +%s`.
#include "engine/begin_time.h"

#include <gtest/gtest.h>

namespace zelvik::detect {
namespace {

constexpr int64_t kNow = 1600000000;  // 2020-09-13 12:26:40 UTC

TEST(BeginTime, ParsesTheThreeDateFormats) {
    struct Case {
        const char* text;
        std::optional<int64_t> epoch;
    };
    const Case cases[] = {
        {"2014-03-06", 1394064000},
        {"2014.03.06 12:30:15", 1394109015},
        {"2014/03/06 12:30:15", 1394109015},
        {"2012-02-29", 1330473600},    // leap day
        {"2013-02-29", std::nullopt},  // no such day
        {"2014-13-01", std::nullopt},
        {"2014-03-06 25:00:00", std::nullopt},
        {"2014-03", std::nullopt},  // two fields only
        {"garbage", std::nullopt},
        {"", std::nullopt},
        {"1800", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_begin_date(c.text), c.epoch) << c.text;
}

TEST(BeginTime, ChoosesCommandLineThenSettingsThenDefault) {
    struct Case {
        std::vector<std::string> args;
        const char* setting;
        int64_t start;
        const char* origin;
        bool problem;
    };
    const Case cases[] = {
        {{"zelvik", "BEGIN=-3600"}, "1800", kNow - 3600, "command line", false},
        {{"zelvik", "begin='2014-03-06"}, "1800", 1394064000, "command line", false},
        {{"zelvik", "BEGIN='2014-03-06 12:30:15'"}, "1800", 1394109015, "command line", false},
        // As a shell hands them over: the apostrophe gone, the date one argument.
        {{"zelvik", "BEGIN=2014-03-06 12:30:15"}, "1800", 1394109015, "command line", false},
        {{"zelvik", "BEGIN=2014.03.06"}, "1800", 1394064000, "command line", false},
        {{"zelvik", "BEGIN='-3600'"}, "1800", kNow - 3600, "command line", false},
        {{"zelvik", "BEGIN=3600"}, "-600", kNow - 600, "settings", true},
        {{"zelvik"}, "-600", kNow - 600, "settings", false},
        {{"zelvik"}, "1800", kNow - 1800, "settings", false},
        {{"zelvik"}, "2014-03-06", 1394064000, "settings", false},
        // Garbage is named and the next source used, never read as year 0 or as 0 s.
        {{"zelvik", "BEGIN='garbage"}, "-600", kNow - 600, "settings", true},
        {{"zelvik", "BEGIN=-abc"}, "-600", kNow - 600, "settings", true},
        {{"zelvik", "BEGIN=--100"}, "-600", kNow - 600, "settings", true},
        {{"zelvik"}, "yesterday", kNow - 1800, "default", true},
        {{"zelvik"}, "-", kNow - 1800, "default", true},
        {{"zelvik"}, "-99999999999999", kNow - 1800, "default", true},
    };
    for (const Case& c : cases) {
        const BeginTime b = detection_start_time(c.args, c.setting, kNow);
        EXPECT_EQ(b.start, c.start) << c.args.back() << " / " << c.setting;
        EXPECT_EQ(b.origin, c.origin) << c.args.back() << " / " << c.setting;
        EXPECT_EQ(!b.problem.empty(), c.problem)
            << c.args.back() << " / " << c.setting << ": " << b.problem;
    }
}

// What the program refuses at start (exit 2) before anything is written.
TEST(BeginTime, NamesTheFirstUnusableArgument) {
    struct Case {
        std::vector<std::string> args;
        const char* named;  // nullptr: no problem
    };
    const Case cases[] = {
        {{"zelvik", "ODBC=x", "BEGIN=2016-12-14 17:00:00"}, nullptr},
        {{"zelvik", "begin=2016/12/14"}, nullptr},
        {{"zelvik", "BEGIN=-3600"}, nullptr},
        {{"zelvik", "BEGIN=3600"}, "'BEGIN=3600'"},  // a year 3600 is no date; -3600 is meant
        {{"zelvik", "BEGIN=-1h"}, "'BEGIN=-1h'"},
        {{"zelvik", "BEGIN=-60", "BEGIN=tomorrow"}, "'BEGIN=tomorrow'"},
        {{"zelvik", "BEGINNER"}, nullptr},  // not a BEGIN= argument
    };
    for (const Case& c : cases) {
        const std::string problem = begin_arguments_problem(c.args);
        if (c.named == nullptr) {
            EXPECT_EQ(problem, "") << c.args.back();
        } else {
            EXPECT_NE(problem.find(c.named), std::string::npos) << problem;
        }
    }
}

}  // namespace
}  // namespace zelvik::detect
