// zelvik-store response --stationxml on real stores: a hand-written inventory goes in,
// and Zelvik's own response look-up and evaluator must give each channel's sensitivity
// in counts per metre of displacement; channels it cannot use and files that are not
// StationXML are named.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "db/wave_store.h"
#include "signal/instrument_response.h"
#include "tests/support/store_fixture.h"
#include "tools/store_tool.h"

namespace zelvik::tools {
namespace {

const std::string kInventory = ZELVIK_STATIONXML_DATA_DIR "/inventory.xml";

class StationXmlResponses : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string reason;
        store_ = test::make_test_store(GetParam(), reason, true);
        if (!store_) GTEST_SKIP() << reason;
    }
    int run(const std::string& file) {
        out_.str(""), err_.str("");
        return run_store_tool({"zelvik-store", "ODBC=" + store_->dsn(), "USER=" + store_->user(),
                               "PASSWORD=" + store_->password(), "DATA=" + store_->data_dir(),
                               "response", "--stationxml", file},
                              out_, err_);
    }
    std::unique_ptr<test::TestStore> store_;
    std::ostringstream out_, err_;
};

TEST_P(StationXmlResponses, StoredChannelsGiveTheirSensitivityInMetres) {
    ASSERT_EQ(run(kInventory), 0) << err_.str() << out_.str();
    const std::string said = out_.str();
    EXPECT_NE(said.find("XX.ZLV1.00.LHZ skipped: no analog pole-zero stage"), std::string::npos)
        << said;
    EXPECT_NE(said.find("XX.ZLV1.00.BHE: A0 6.5e+07"), std::string::npos) << said;
    EXPECT_EQ(store_->count("select STA from CALIBRATION"), 4);

    db::WaveStore ws;
    store_->configure(ws);
    ASSERT_TRUE(ws.connect()) << ws.last_error();
    const double two_pi = 2.0 * M_PI;
    // Golden values from the inventory's InstrumentSensitivity alone, all given at 1 Hz:
    // 6.0e8 counts per m/s times 2 pi (m/s per m of displacement at 1 Hz) for the
    // velocity channels, 4.0e5 counts per m/s**2 times (2 pi)^2 for the accelerometer.
    // BHN states its poles in Hz, BHE an A0 10 % too high; both must come out alike.
    struct Case {
        const char *chan, *loc;
        double counts_per_metre;
    };
    const Case cases[] = {
        {"BHZ", "??", 6.0e8 * two_pi},
        {"BHN", "00", 6.0e8 * two_pi},
        {"BHE", "00", 6.0e8 * two_pi},
        {"HNZ", "10", 4.0e5 * two_pi * two_pi},
    };
    const auto in_2020 = db::store_timestamp_utc(1577836800.0);  // date -u -d 2020-01-01 +%s
    detect::InstrumentResponse responses[4];
    for (size_t i = 0; i < 4; ++i) {
        std::string text;
        ASSERT_EQ(ws.select_sac("ZLV1", cases[i].chan, cases[i].loc, "", in_2020, text), 1)
            << cases[i].chan;
        ASSERT_TRUE(responses[i].parse_paz(text)) << text;
        EXPECT_NEAR(responses[i].evaluate(1.0f) / cases[i].counts_per_metre, 1.0, 1e-3)
            << cases[i].chan << "\n"
            << text;
    }
    // Away from 1 Hz only the poles shape the response: near the 120 s corner and above
    // the high corner, the Hz and the mis-scaled channel must follow the rad/s one.
    EXPECT_EQ(said.find("BHN: A0"), std::string::npos) << said;  // its A0 was right in Hz
    for (const float f : {0.005f, 0.02f, 30.0f})
        for (size_t i = 1; i < 3; ++i)
            EXPECT_NEAR(responses[i].evaluate(f) / responses[0].evaluate(f), 1.0, 1e-3)
                << cases[i].chan << " at " << f << " Hz";
    std::string none;
    EXPECT_EQ(ws.select_sac("ZLV1", "LHZ", "00", "", in_2020, none), 0);
    // HNZ ends "2030-01-01T02:00:00+02:00", 2030-01-01 00:00:00 UTC (1893456000).
    EXPECT_EQ(ws.select_sac("ZLV1", "HNZ", "10", "", db::store_timestamp_utc(1893456000.0), none),
              1);
    EXPECT_EQ(ws.select_sac("ZLV1", "HNZ", "10", "", db::store_timestamp_utc(1893456001.0), none),
              0);
}

TEST_P(StationXmlResponses, FilesThatAreNotStationXmlAreRefused) {
    test::TempDir dir("zelvik-sxml");
    struct Case {
        const char *name, *content, *reason;
    };
    const Case cases[] = {
        {"paz.txt", "ZEROS 3\nPOLES 2\nCONSTANT 1.35e8\n", "is not XML"},
        {"map.xml", "<?xml version=\"1.0\"?><map><layer/></map>", "is XML but not StationXML"},
        {"cut.xml", "<FDSNStationXML><Network code=\"XX\">", "is not XML"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(dir.write(c.name, c.content)), 1) << c.name;
        const std::string message = err_.str();
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    }
    EXPECT_EQ(store_->count("select STA from CALIBRATION"), 0);
}

INSTANTIATE_TEST_SUITE_P(Drivers, StationXmlResponses, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace zelvik::tools
