// InstrumentResponse: the FAP and PAZ examples, sorting of unordered tables, and texts
// that are malformed, absurd or hostile (none may crash or allocate without bound).
#include "signal/instrument_response.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace zelvik::detect {
namespace {

TEST(InstrumentResponse, FapTableInterpolatesInsideAndGivesZeroOutside) {
    // The same three entries, in order, out of order and with mixed separators.
    const char* texts[] = {"1.0 100 0|2.0 200 0|4.0 400 0", "4.0 400 0|1.0 100 0|2.0 200 0",
                           "2.0 200 0;;4.0 400 0\n|1.0 100 0\n", "1.0,100,0|2.0,200,0|4.0,400,0"};
    for (const char* text : texts) {
        InstrumentResponse r;
        ASSERT_TRUE(r.parse_fap(text)) << text;
        EXPECT_EQ(r.kind(), ResponseKind::kFap);
        ASSERT_EQ(r.table().size(), 3u) << text;
        const struct {
            float f;
            double v;
        } points[] = {{3.0f, 300}, {2.0f, 200}, {4.0f, 400}, {1.0f, 100},
                      {1.5f, 150}, {0.5f, 0},   {5.0f, 0},   {NAN, 0}};
        for (const auto& p : points)
            EXPECT_DOUBLE_EQ(r.evaluate(p.f), p.v) << text << " at " << p.f;
    }
}

TEST(InstrumentResponse, FapDropsUnusableEntries) {
    struct Case {
        const char* text;
        bool ok;
        size_t entries;
    };
    const Case cases[] = {
        {"0 100 0|1.0 0 0", false, 0},  // frequency or amplitude 0
        {"", false, 0},
        {"|||;;\n", false, 0},
        {"garbage|more garbage", false, 0},
        {"nan 100 0|inf 100 0|1 nan 0|1 -inf 0", false, 0},
        {"1e999 100 0|1 1e999 0|1 1e300 0", false, 0},  // overflows double or float
        {"1 100 nan|2 200 0", true, 1},                 // phase not finite
        {"1 100|2 200 0|x 3 0|3", true, 2},             // phase missing: 0
        {"  1.5   150   0  |+2 200 0", true, 2},
    };
    for (const Case& c : cases) {
        InstrumentResponse r;
        EXPECT_EQ(r.parse_fap(c.text), c.ok) << c.text;
        EXPECT_EQ(r.table().size(), c.entries) << c.text;
        if (!c.ok) {
            EXPECT_EQ(r.evaluate(1.0f), -1.0) << c.text;
        }
    }
}

TEST(InstrumentResponse, FapRefusesTablesBeyondTheEntryLimit) {
    std::string text;
    for (int i = 1; i <= InstrumentResponse::kMaxFapEntries + 1; ++i)
        text += std::to_string(i) + " 1 0|";
    InstrumentResponse r;
    EXPECT_FALSE(r.parse_fap(text));
    EXPECT_TRUE(r.table().empty());
}

TEST(InstrumentResponse, PazEvaluatesConstantTimesZerosOverPoles) {
    // Golden values by hand with Python: 2|jw| / |(jw - p1)(jw - p2)|, p = -4.44 +- 4.44j.
    struct Case {
        const char* text;
        float f;
        double expected;
        size_t zeros;
    };
    const Case cases[] = {
        {"ZEROS 1|0 0|POLES 2|-4.44 4.44|-4.44 -4.44|CONSTANT 2.0", 1.0f, 0.22522513033103728, 1},
        {"ZEROS 1\n0 0\nPOLES 2\n-4.44 4.44\n-4.44 -4.44\nCONSTANT 2.0", 5.0f, 0.063611240435171773,
         1},
        {"ZEROS 1;0,0|POLES 2;-4.44,4.44\n-4.44,-4.44|CONSTANT 2.0", 1.0f, 0.22522513033103728, 1},
        // Three zeros announced, one listed: two more at the origin. Constant stays 1.
        {"ZEROS 3|0 0|POLES 2|-4.44 4.44|-4.44 -4.44", 1.0f, 4.4457658751022588, 3},
        // Zeros listed beyond the announced count are ignored.
        {"ZEROS 1|0 0|5 5|POLES 2|-4.44 4.44|-4.44 -4.44|CONSTANT 2.0", 1.0f, 0.22522513033103728,
         1},
    };
    for (const Case& c : cases) {
        InstrumentResponse r;
        ASSERT_TRUE(r.parse_paz(c.text)) << c.text;
        EXPECT_EQ(r.kind(), ResponseKind::kPaz);
        EXPECT_EQ(r.zeros().size(), c.zeros);
        EXPECT_EQ(r.poles().size(), 2u);
        EXPECT_NEAR(r.evaluate(c.f), c.expected, 1e-12 * c.expected) << c.text;
    }
}

// A text that cannot be read leaves kind PAZ but converts nothing: a response of 1
// count per metre would give amplitudes a million times too large without a word.
TEST(InstrumentResponse, PazRefusesMalformedAndAbsurdTexts) {
    const char* texts[] = {
        "",
        "POLES 2|-1 1|-1 -1",                       // no ZEROS
        "ZEROS 1|0 0",                              // no POLES
        "ZEROS 1000000000|POLES 2|-1 1|-1 -1",      // absurd count
        "ZEROS 99999999999999999999|POLES 1|-1 0",  // beyond int
        "ZEROS -3|POLES 2|-1 1|-1 -1",
        "ZEROS 0|POLES 2|nan 1|-1 -1",
        "ZEROS 0|POLES 2|-1 inf|-1 -1",
        "ZEROS 0|POLES 1|-1 0|CONSTANT inf",
        "ZEROS 0|POLES 1|-1 0|CONSTANT 1e999",
        "ZEROS",
    };
    for (const char* text : texts) {
        InstrumentResponse r;
        EXPECT_FALSE(r.parse_paz(text)) << text;
        EXPECT_EQ(r.kind(), ResponseKind::kPaz);
        EXPECT_TRUE(r.zeros().empty() && r.poles().empty()) << text;
        EXPECT_EQ(r.evaluate(1.0f), 0.0) << text;
    }
}

TEST(InstrumentResponse, PazSkipsGarbageTokensAndGivesZeroForPolesOnTheAxis) {
    InstrumentResponse r;
    ASSERT_TRUE(r.parse_paz("ZEROS 0|POLES 2|junk|-4.44 4.44|@@|-4.44 -4.44|CONSTANT 3"));
    EXPECT_EQ(r.poles().size(), 2u);
    EXPECT_GT(r.evaluate(1.0f), 0.0);
    // A pole at s = j2pi (1 Hz) makes the quotient infinite: evaluation reports 0.
    ASSERT_TRUE(r.parse_paz("ZEROS 0|POLES 1|0 6.2831853071795862|CONSTANT 1"));
    EXPECT_EQ(r.evaluate(1.0f), 0.0);
}

TEST(InstrumentResponse, RandomTextsNeverCrashAndEvaluateFinitely) {
    std::mt19937 random(20261209);
    const std::string alphabet = "0123456789 .-+eE|;\nZEROSPLCNTAinf,x";
    for (int round = 0; round < 3000; ++round) {
        std::string text = round % 3 == 0 ? "ZEROS 2|POLES 3|" : "";
        const int length = static_cast<int>(random() % 200);
        for (int i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        InstrumentResponse paz, fap;
        (void)paz.parse_paz(text);
        (void)fap.parse_fap(text);
        ASSERT_LE(paz.zeros().size(), static_cast<size_t>(InstrumentResponse::kMaxPazCount));
        ASSERT_LE(paz.poles().size(), static_cast<size_t>(InstrumentResponse::kMaxPazCount));
        for (const float f : {0.1f, 1.0f, 7.5f}) {
            ASSERT_TRUE(std::isfinite(paz.evaluate(f))) << text;
            ASSERT_TRUE(std::isfinite(fap.evaluate(f))) << text;
        }
    }
}

}  // namespace
}  // namespace zelvik::detect
