// The editor's store look-ups on real stores: SQLite through its ODBC driver and a
// PostgreSQL server on loopback.
#include "editor/store_session.h"

#include <gtest/gtest.h>

#include "tests/support/store_fixture.h"

namespace zelvik::editor {
namespace {

class StoreSessionTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string reason;
        store_ = test::make_test_store(GetParam(), reason);
        if (!store_) GTEST_SKIP() << reason;
        store_->add_channel("KIV", "SHZ", std::nullopt, 20);
        store_->add_channel("KIV", "SHE", std::nullopt, 20);
        store_->add_channel("KIV", "SHZ", std::string("00"), 20);
        store_->add_channel("ARU", "BHZ", std::nullopt, 40);
        store_->add_channel("O'B", "HHZ", std::nullopt, 100);
        store_->add_channel("O", "LHZ", std::nullopt, 1);
    }
    ConnectionParams params() const {
        return {store_->dsn(), store_->user(), store_->password(), store_->data_dir()};
    }
    std::unique_ptr<test::TestStore> store_;
};

TEST_P(StoreSessionTest, StationsAndChannelsOfSitechan) {
    StoreSession session;
    ASSERT_TRUE(session.open(params())) << session.error();
    const auto st = session.stations();
    ASSERT_TRUE(st);
    EXPECT_EQ(offered_codes(*st), (std::vector<std::string>{"ARU", "KIV", "O", "O'B"}));
    const auto ch = session.channels("KIV");
    ASSERT_TRUE(ch);
    EXPECT_EQ(offered_codes(*ch), (std::vector<std::string>{"SHE", "SHZ"}));
    EXPECT_EQ(session.channels("NONE")->size(), 0u);
}

// The station is a bound value: a quote neither breaks the query nor widens it.
TEST_P(StoreSessionTest, StationWithAQuoteIsOnlyACode) {
    StoreSession session;
    ASSERT_TRUE(session.open(params()));
    const auto quoted = session.channels("O'B");
    ASSERT_TRUE(quoted);
    EXPECT_EQ(*quoted, std::vector<std::string>{"HHZ"});
    const auto injected = session.channels("X' or '1'='1");
    ASSERT_TRUE(injected);
    EXPECT_TRUE(injected->empty());
}

TEST_P(StoreSessionTest, ReportListsTheTables) {
    StoreSession session;
    ASSERT_TRUE(session.open(params()));
    const auto tables = session.tables();
    ASSERT_TRUE(tables);
    bool has_sitechan = false;
    for (const std::string& t : *tables) has_sitechan |= (t == "SITECHAN" || t == "sitechan");
    EXPECT_TRUE(has_sitechan);
    const std::string report = connection_report(store_->dsn(), "ops", tables);
    EXPECT_EQ(report.rfind("Успешное подключение к DSN: " + store_->dsn() +
                               "\t\r\nПользователь: ops\r\n\r\nКоличество таблиц: " +
                               std::to_string(tables->size()) + "\r\n\t",
                           0),
              0u);
    EXPECT_EQ(connection_report("D", "u", std::nullopt),
              "Успешное подключение к DSN: D\t\r\nПользователь: u\r\n\r\n");
}

TEST_P(StoreSessionTest, FailedConnectGivesTheDriverMessage) {
    StoreSession session;
    ConnectionParams p = params();
    p.data_source = "NoSuchSource";
    p.password = "topsecret";
    EXPECT_FALSE(session.open(p));
    EXPECT_FALSE(session.error().empty());
    EXPECT_EQ(session.error().find("topsecret"), std::string::npos);
    EXPECT_FALSE(session.stations());
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreSessionTest, ::testing::Values("sqlite", "postgres"));

TEST(StoreSessionCodes, NineCharacterCodesOfferedAsSeven) {
    test::SqliteTestStore store;
    ASSERT_TRUE(store.exec("insert into SITECHAN (STA, CHAN) values ('ABCDEFGHI', 'BHZ')"));
    ASSERT_TRUE(store.exec("insert into SITECHAN (STA, CHAN) values ('ABCDEFGXY', 'BHN')"));
    StoreSession session;
    ASSERT_TRUE(session.open({store.dsn(), "", "", ""}));
    const auto st = session.stations();
    ASSERT_TRUE(st);
    EXPECT_EQ(offered_codes(*st), std::vector<std::string>{"ABCDEFG"});
    // The full code still finds its channels.
    EXPECT_EQ(*session.channels("ABCDEFGHI"), std::vector<std::string>{"BHZ"});
}

}  // namespace
}  // namespace zelvik::editor
