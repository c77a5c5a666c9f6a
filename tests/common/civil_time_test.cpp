// Golden instants checked with `date -u -d '<instant> UTC' +%s`.
#include "common/civil_time.h"

#include <gtest/gtest.h>

namespace zelvik::common {
namespace {

TEST(CivilTime, RoundTripsGoldenInstants) {
    struct Case {
        Civil civil;
        double epoch;
    };
    const Case cases[] = {
        {{1970, 1, 1, 0, 0, 0.0}, 0.0},
        {{2000, 2, 29, 12, 0, 0.0}, 951825600.0},     // leap year: divisible by 400
        {{2004, 2, 29, 23, 59, 59.0}, 1078099199.0},  // leap year: divisible by 4
        {{2100, 3, 1, 0, 0, 0.0}, 4107542400.0},      // 2100 has no 29 February
        {{1969, 12, 31, 23, 59, 59.0}, -1.0},
        {{2014, 3, 6, 12, 34, 56.5}, 1394109296.5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(epoch_from_civil(c.civil), c.epoch);
        EXPECT_EQ(civil_from_epoch(c.epoch), c.civil);
    }
}

TEST(CivilTime, NormalisesMonthOverflow) {
    EXPECT_EQ(epoch_from_civil({2013, 13, 1, 0, 0, 0.0}),
              epoch_from_civil({2014, 1, 1, 0, 0, 0.0}));
    EXPECT_EQ(epoch_from_civil({2014, 0, 1, 0, 0, 0.0}),
              epoch_from_civil({2013, 12, 1, 0, 0, 0.0}));
}

TEST(CivilTime, FormatsUtc) {
    EXPECT_EQ(format_utc(1394109296, "%Y-%m-%d %H:%M:%S"), "2014-03-06 12:34:56");
}

}  // namespace
}  // namespace zelvik::common
