// Connecting, the catalogue, sampling rates, responses and the event list on both
// drivers, with the pitfalls seen on this machine (15-digit doubles in SQLite, 22001
// for an over-long text in PostgreSQL, lower-case names).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "common/civil_time.h"
#include "common/clock.h"
#include "common/log.h"
#include "config/connection_config.h"
#include "report/log_open.h"
#include "tests/db/store_test_fixture.h"
#include "tests/support/temp_dir.h"

namespace zelvik::db {
namespace {

class StoreQueries : public StoreTest {};

TEST_P(StoreQueries, ParametersAreCheckedWhereTheyComeIn) {
    EXPECT_EQ(ws_.set_param("USE_TEND", "0"), kOk);
    EXPECT_EQ(ws_.set_param("color", "red"), kUnknownParam);
    EXPECT_EQ(ws_.set_param("odbc", std::string(32, 'x')), -1);  // refused, not cut
    EXPECT_NE(ws_.last_error().find("longer than 31"), std::string::npos);
    EXPECT_EQ(ws_.data_source_name(), "QSX");
    EXPECT_EQ(ws_.set_param("Data", "C:\\Data\\Wave"), kOk);
    EXPECT_EQ(ws_.data_directory(), "C:/Data/Wave");
    // A data source name of exactly 31 characters connects.
    std::string dsn31 = store_->dsn();
    dsn31.resize(31, 'z');
    test::add_odbc_alias(dsn31, store_->dsn());
    store_->configure(ws_);
    ASSERT_EQ(ws_.set_param("ODBC", dsn31), kOk);
    EXPECT_TRUE(ws_.connect()) << ws_.last_error();
    EXPECT_TRUE(ws_.is_alive());
    ws_.disconnect();
    ws_.disconnect();  // twice is harmless
    EXPECT_FALSE(ws_.is_alive());
}

TEST_P(StoreQueries, CatalogueAdoptsTheDatabaseSpelling) {
    make(false);
    // Tables and columns in lower and mixed case; EVENTLIST's amp must stay AMP in SQL.
    ASSERT_TRUE(
        store_->exec("create table filelist (sta varchar(7), ch varchar(7), lcode varchar(7), "
                     "tbegin double precision, tqty double precision, sps double precision, "
                     "datatype smallint, foff bigint, cpath varchar(1023))"));
    ASSERT_TRUE(store_->exec(
        "create table eventlist (nindex integer, sta varchar(7), tbegin double precision, "
        "event_type integer, amp double precision, per double precision, lddate timestamp)"));
    ASSERT_TRUE(store_->exec(
        "create table calibration (network varchar(7), location varchar(7), sta varchar(7), "
        "chan varchar(7), startdate timestamp, enddate timestamp, sac text, fap text)"));
    ASSERT_TRUE(
        store_->exec("create table SiteChan (Sta varchar(7), Chan varchar(7), LCode varchar(7), "
                     "Sps double precision)"));
    ASSERT_TRUE(store_->exec(
        "insert into SiteChan (Sta, Chan, LCode, Sps) values ('ABC', 'BHZ', '?\?', 20)"));
    ASSERT_TRUE(store_->exec("create table extra_table (x integer)"));
    ASSERT_TRUE(connect(true));
    const StoreCatalog c = ws_.catalog();
    EXPECT_EQ(c.table(Table::kFilelist), "filelist");
    EXPECT_EQ(c.column(Table::kFilelist, "TBEGIN"), "tbegin");
    EXPECT_EQ(c.column(Table::kEventlist, "AMP"), "AMP");
    EXPECT_EQ(c.column(Table::kEventlist, "STA"), "sta");
    // Mixed case as written where the database keeps it (SQLite); PostgreSQL folds it.
    const bool folds = GetParam() == "postgres";
    EXPECT_EQ(c.table(Table::kSitechan), folds ? "sitechan" : "SiteChan");
    EXPECT_EQ(c.column(Table::kSitechan, "LCODE"), folds ? "lcode" : "LCode");
    EXPECT_EQ(ws_.get_sps("ABC", "BHZ", ""), 20.0);
    EXPECT_EQ(c.table(Table::kSite), "SITE");  // missing: keeps its default
    EXPECT_EQ(c.column(Table::kFilelist, "TEND"), "TEND");
    EXPECT_FALSE(ws_.use_tend());  // no TEND column: the flag is cleared at connect
    EXPECT_TRUE(ws_.is_alive());
    EXPECT_TRUE(ws_.insert_data("ABC", 1394100000.0, 1.0, 2.0)) << ws_.event_last_error();
    EXPECT_EQ(ws_.is_exist("ABC", 1394100000.0), 1);
}

TEST_P(StoreQueries, MissingEventListFailsConnectAndIsLogged) {
    test::TempDir dir("zelvik-log");
    dir.write("zelvik.ini", "[LOG]\nDIR=" + dir.file("log") + "\n");
    config::ConnectionConfig settings({"zelvik"}, dir.file("zelvik.ini"));
    common::log_reset_for_testing();
    ASSERT_TRUE(report::log_open(settings));
    ASSERT_TRUE(store_->exec("drop table EVENTLIST"));
    store_->configure(ws_);
    EXPECT_FALSE(ws_.connect());
    EXPECT_FALSE(ws_.is_alive());  // a failed connect keeps no handles
    const std::string log =
        test::read_file(common::log_directory() +
                        common::format_local(common::now_utc_seconds(), "%d%m%Y") + ".log");
    // SQLite's driver compiles a delete only when it runs, so there the first statement
    // that notices the missing table is the select of bind_is_data_exist.
    const char* first = GetParam() == "sqlite" ? "[bind_is_data_exist]" : "[bind_del_evlst_data]";
    EXPECT_NE(log.find(std::string(first) + " Prepare statement error : "), std::string::npos)
        << log;
    common::log_reset_for_testing();
}

TEST_P(StoreQueries, MissingFilelistLeavesTheProbeEmpty) {
    ASSERT_TRUE(store_->exec("drop table FILELIST"));
    ASSERT_TRUE(connect());
    EXPECT_FALSE(ws_.is_alive());
    std::vector<float> buf(10);
    double t0 = 0, t1 = 1;
    EXPECT_EQ(ws_.read_samples(buf.data(), buf.size(), "A", "B", "", t0, t1), kConnectionLost);
}

TEST_P(StoreQueries, SampleRateIsLookedUpWithBoundCodes) {
    store_->add_channel("ABC", "BHZ", "??", 40.0);
    store_->add_channel("ABC", "BHZ", "00", 100.0);
    store_->add_channel("O'K", "HHZ", std::nullopt, 200.0);
    ASSERT_TRUE(connect());
    struct Case {
        const char* sta;
        const char* chan;
        const char* loc;
        double want;
    };
    const Case cases[] =
        {
            {"ABC", "BHZ", "", 40.0},         {"ABC", "BHZ", "??", 40.0},
            {"ABC", "BHZ", "00", 100.0},      {"ABC", "LHZ", "", 0.0},
            {"O'K", "HHZ", "", 200.0},  // a quote in a code is just a character
            {"x' or '1'='1", "BHZ", "", 0.0}, {"A'--", "BHZ", "", 0.0},
        };
    for (const auto& c : cases) EXPECT_EQ(ws_.get_sps(c.sta, c.chan, c.loc), c.want) << c.sta;
    EXPECT_EQ(store_->count("select STA from SITECHAN"), 3);
}

TEST_P(StoreQueries, ResponsesValidAtTheGivenTime) {
    const std::string big(100 * 1024, 'f');  // longer than any fixed buffer
    store_->add_response(
        {"ABC", "BHZ", "", "", "2010-01-01 00:00:00", "2012-01-01 00:00:00", "old", std::nullopt});
    store_->add_response(
        {"ABC", "BHZ", "", "", "2012-01-01 00:00:00", std::nullopt, "current", std::nullopt});
    store_->add_response(
        {"ABC", "BHZ", "", "", "2030-01-01 00:00:00", std::nullopt, "future", std::nullopt});
    store_->add_response(
        {"DEF", "BHZ", "??", "", "2010-01-01 00:00:00", std::nullopt, std::nullopt, big});
    store_->add_response(
        {"GHI", "BHZ", "00", "XX", "2010-01-01 00:00:00", std::nullopt, "loc-net", "fap"});
    ASSERT_TRUE(connect());
    const StoreTimestamp when = store_timestamp_utc(1394100000.0);  // 2014-03-06
    struct Case {
        bool sac;
        const char* sta;
        const char* loc;
        const char* net;
        int want;
        std::string text;
    };
    const Case cases[] = {
        {true, "ABC", "", "", 1, "current"},   {false, "ABC", "", "", 0, ""},  // FAP column NULL
        {true, "DEF", "", "", 0, ""},          {false, "DEF", "??", "", 1, big},
        {false, "DEF", "00", "", 0, ""},       {true, "GHI", "00", "XX", 1, "loc-net"},
        {true, "GHI", "", "XX", 1, "loc-net"}, {true, "GHI", "00", "", 1, "loc-net"},
        {true, "GHI", "10", "XX", 0, ""},      {true, "NONE", "", "", 0, ""},
    };
    for (const auto& c : cases) {
        std::string out;
        const int r = c.sac ? ws_.select_sac(c.sta, "BHZ", c.loc, c.net, when, out)
                            : ws_.select_fap(c.sta, "BHZ", c.loc, c.net, when, out);
        EXPECT_EQ(r, c.want) << c.sta << c.loc << c.net << " " << ws_.response_last_error();
        EXPECT_TRUE(out == c.text) << c.sta << " got " << out.size() << " chars";
    }
}

TEST_P(StoreQueries, EventListKeepsOwnRowsOnly) {
    ASSERT_TRUE(
        store_->exec("insert into EVENTLIST (STA, TBEGIN, EVENT_TYPE, AMP, PER) values "
                     "('ABC', 1394000000.5, 2, 1, 1)"));
    ASSERT_TRUE(connect());
    // Times with 10 us steps survive SQLite's 15 significant digits.
    const double onset = 1394100000.12345;
    EXPECT_EQ(ws_.is_exist("ABC", onset), 0);
    ASSERT_TRUE(ws_.insert_data("ABC", onset, 0.5, -1.0)) << ws_.event_last_error();
    EXPECT_EQ(ws_.is_exist("ABC", onset), 1);
    ASSERT_TRUE(ws_.insert_data("ABC", 1394000000.0, 0.0, 1.2));
    ASSERT_TRUE(ws_.insert_data("DEF", 1394100500.0, 3.5, 0.8));
    EXPECT_EQ(ws_.is_exist("ABC", 1394000000.5), 0);  // EVENT_TYPE 2 is not ours
    EXPECT_EQ(store_->scalar("select AMP from EVENTLIST where STA='ABC' and EVENT_TYPE=1 and PER=0 "
                             "and TBEGIN>1394050000"),
              GetParam() == "sqlite" ? "0.0" : "0");
    EXPECT_EQ(store_->count("select STA from EVENTLIST where EVENT_TYPE=1 and AMP=0 and PER=0"), 2);
    EXPECT_EQ(store_->count("select STA from EVENTLIST where AMP=3.5 and PER=0.8"), 1);
    EXPECT_NE(store_->scalar("select LDDATE from EVENTLIST where STA='DEF'"), "");
    ASSERT_TRUE(ws_.delete_data(1394100000.0));  // removes ABC@1394000000 (type 1) only
    EXPECT_EQ(store_->count("select STA from EVENTLIST"), 3);
    EXPECT_EQ(ws_.is_exist("ABC", 1394000000.0), 0);
    EXPECT_TRUE(ws_.delete_data(0.0));  // deleting nothing is still success
    EXPECT_FALSE(ws_.insert_data("ABCDEFGH", 1.0, 1.0, 1.0));
}

// The many-row statements agree with the one-row ones: what insert_data wrote,
// find_events finds, and what insert_events wrote, is_exist finds, over chunks of every
// size; rows of EVENT_TYPE 2 and over-long codes are never found.
TEST_P(StoreQueries, EventRowsInManyRowStatementsAgreeWithTheOneRowStatements) {
    ASSERT_TRUE(
        store_->exec("insert into EVENTLIST (STA, TBEGIN, EVENT_TYPE, AMP, PER) values "
                     "('ABC', 1394000000.5, 2, 1, 1)"));
    ASSERT_TRUE(connect());
    // 10 us steps, which survive SQLite's 15 significant digits.
    std::vector<EventRow> rows;
    for (int i = 0; i < 100; ++i)
        rows.push_back(
            {i % 2 ? "ABC" : "DEF", 1394100000.12345 + 0.00001 * i, 1.5, i % 5 ? 0.8 : -1.0});
    rows.push_back({"ABC", 1394000000.5, 1.0, 1.0});             // the EVENT_TYPE 2 row's time
    rows.push_back({"ABCDEFGHIJ", 1394100000.12345, 1.0, 1.0});  // never cut to ABCDEFG
    ASSERT_TRUE(ws_.insert_data("ABCDEFG", 1394100000.12345, 1.0, 1.0));
    for (int i = 0; i < 100; i += 7)
        ASSERT_TRUE(ws_.insert_data(rows[i].sta, rows[i].onset, 1.0, 1.0))
            << ws_.event_last_error();
    std::unique_ptr<bool[]> exists(new bool[rows.size()]);
    ASSERT_TRUE(ws_.find_events(rows.data(), rows.size(), exists.get())) << ws_.event_last_error();
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(exists[i], i < 100 && i % 7 == 0) << i;

    std::vector<EventRow> missing;
    for (int i = 0; i < 100; ++i)
        if (i % 7 != 0) missing.push_back(rows[i]);
    ASSERT_TRUE(ws_.insert_events(missing.data(), missing.size())) << ws_.event_last_error();
    for (int i = 0; i < 100; ++i) EXPECT_EQ(ws_.is_exist(rows[i].sta, rows[i].onset), 1) << i;
    ASSERT_TRUE(ws_.find_events(rows.data(), rows.size(), exists.get()));
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(exists[i], i < 100) << i;
    EXPECT_EQ(store_->count("select STA from EVENTLIST where EVENT_TYPE=1"), 101);
    // As insert_data: amplitude and period both 0 unless both are > 0.
    EXPECT_EQ(store_->count("select STA from EVENTLIST where EVENT_TYPE=1 and AMP=0 and PER=0"),
              17);
    EXPECT_EQ(store_->count("select STA from EVENTLIST where LDDATE is null"), 1);  // type 2 only
    EXPECT_FALSE(ws_.insert_events(&rows.back(), 1));
    EXPECT_NE(ws_.event_last_error().find("longer than 7"), std::string::npos);
    EXPECT_TRUE(ws_.insert_events(rows.data(), 0));
}

INSTANTIATE_TEST_SUITE_P(Drivers, StoreQueries, ::testing::Values("sqlite", "postgres"),
                         store_test_name);

}  // namespace
}  // namespace zelvik::db
