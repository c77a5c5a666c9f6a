#include "common/text.h"

#include <gtest/gtest.h>

#include <climits>

namespace zelvik::common {
namespace {

TEST(Text, LeadingNumbersFollowTheSettingsRule) {
    struct IntCase {
        const char* text;
        long long value;
    };
    const IntCase ints[] = {
        {"40", 40}, {"40abc", 40}, {"  -7x", -7}, {"abc", 0},
        {"", 0},    {"+3", 3},     {"- 3", 0},    {"99999999999999999999999", LLONG_MAX}};
    for (const auto& c : ints) EXPECT_EQ(leading_long(c.text), c.value) << c.text;
    EXPECT_EQ(leading_int("99999999999"), INT_MAX);
    EXPECT_EQ(leading_int("-99999999999"), INT_MIN);

    struct RealCase {
        const char* text;
        double value;
    };
    const RealCase reals[] = {{"0.5", 0.5},    {"1e3x", 1000.0}, {"-2.5E-1", -0.25}, {".5", 0.5},
                              {"inf", 0.0},    {"nan", 0.0},     {"0x10", 0.0},      {"3e", 3.0},
                              {"  12.", 12.0}, {"abc", 0.0}};
    for (const auto& c : reals) EXPECT_EQ(leading_double(c.text), c.value) << c.text;
}

TEST(Text, CaseAndCapacity) {
    EXPECT_TRUE(iequals("Threshold", "THRESHOLD"));
    EXPECT_FALSE(iequals("abc", "abcd"));
    EXPECT_TRUE(istarts_with("odbc=MyDsn", "ODBC="));
    EXPECT_FALSE(istarts_with("OD", "ODBC="));
    EXPECT_EQ(truncate_to_capacity("ABCDEFGHIJ", 8), "ABCDEFG");
    EXPECT_EQ(truncate_to_capacity("AB", 8), "AB");
    EXPECT_EQ(truncate_to_capacity("AB", 0), "");
    EXPECT_EQ(forward_slashes("C:\\Data\\Wave"), "C:/Data/Wave");
    EXPECT_EQ(trim("  \tx y \r\n"), "x y");
}

}  // namespace
}  // namespace zelvik::common
