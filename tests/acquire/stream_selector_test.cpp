// Command-line selectors and server addresses, and the SELECT arguments each protocol
// version gets for them (forms from the SeedLink 3.1 LLCCC and 4.0 LOC_B_S_SS syntax).
#include <gtest/gtest.h>

#include "acquire/stream_selector.h"

namespace zelvik::acquire {
namespace {

TEST(StreamSelector, ParsesSelectorsAndMakesBothSelectForms) {
    struct Case {
        const char* text;
        const char* station_id;
        const char* v3;
        const char* v4;
    };
    const Case cases[] = {
        {"GE_APE", "GE_APE", "", ""},                      // every stream
        {"ge_ape:00.BHZ", "GE_APE", "00BHZ", "00_B_H_Z"},  // upper-cased
        {"GE_APE:00.BH?", "GE_APE", "00BH?", "00_B_H_?"},
        {"GE_APE:.HHZ", "GE_APE", "--HHZ", "_H_H_Z"},  // blank location
        {"GE_APE:HHZ", "GE_APE", "HHZ", "*_H_H_Z"},    // any location
        {"GE_APE:*.B*", "GE_APE", "B??", "*_B_*"},
        {"GE_A*:1?.*", "GE_A*", "1????", "1?_*"},
    };
    for (const auto& c : cases) {
        StreamSelector s;
        std::string error;
        ASSERT_TRUE(parse_stream_selector(c.text, s, error)) << c.text << ": " << error;
        EXPECT_EQ(s.station_id(), c.station_id) << c.text;
        EXPECT_EQ(v3_select_pattern(s), c.v3) << c.text;
        EXPECT_EQ(v4_select_pattern(s), c.v4) << c.text;
    }
    for (const char* bad : {"GEAPE", "_APE", "GE_", "GE_APE:", "GE_APE:00.BHZZ", "GE_APE:000.BHZ",
                            "GE_A-E", "GE_APE:00."}) {
        StreamSelector s;
        std::string error;
        EXPECT_FALSE(parse_stream_selector(bad, s, error)) << bad;
        EXPECT_NE(error.find('\''), std::string::npos) << "the error quotes the input: " << error;
    }
}

TEST(StreamSelector, ParsesServerAddresses) {
    struct Case {
        const char* text;
        const char* host;
        uint16_t port;
    };
    const Case cases[] = {
        {"geofon.example", "geofon.example", 18000},
        {"127.0.0.1:18555", "127.0.0.1", 18555},
        {"[::1]:18001", "::1", 18001},
        {"[::1]", "::1", 18000},
    };
    for (const auto& c : cases) {
        ServerAddress a;
        std::string error;
        ASSERT_TRUE(parse_server_address(c.text, a, error)) << c.text << ": " << error;
        EXPECT_EQ(a.host, c.host);
        EXPECT_EQ(a.port, c.port);
    }
    for (const char* bad :
         {"", ":18000", "host:", "host:0", "host:65536", "host:12x", "::1:18000", "[::1"}) {
        ServerAddress a;
        std::string error;
        EXPECT_FALSE(parse_server_address(bad, a, error)) << bad;
    }
}

}  // namespace
}  // namespace zelvik::acquire
