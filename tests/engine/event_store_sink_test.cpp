// The Store steps on real stores: one row per station and onset, the STORAGE_TIME purge,
// rows kept while a PostgreSQL server is down, stored in order when it is back; the rows
// of a pass in one transaction, kept whole when the server goes between the inserts and
// the commit or when the store refuses the commit, and written once afterwards.
#include "engine/event_store_sink.h"

#include <gtest/gtest.h>

#include <optional>

#include "channel/stop_signal.h"
#include "channel/store_link.h"
#include "common/clock.h"
#include "db/wave_store.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/store_fixture.h"

namespace zelvik::detect {
namespace {

Measurement measurement(const std::string& sta, double onset) {
    return {sta, "BHZ", "??", onset, 120.0f, 3.5f, 0.8f, 0.03, std::nullopt};
}

Measurement picked(const std::string& sta, double onset, int grade) {
    Measurement m = measurement(sta, onset);
    OnsetPick p;
    p.trigger_onset = onset, p.time = onset + 0.25, p.snr = 12.5, p.grade = grade;
    p.uncertainty = 0.02, p.fallback = PickFallback::kNone;
    m.pick = p;
    return m;
}

// A PICKS row per detection where the store has that table (any letter case), with the
// event row as before; where it has none, or refuses the picks, the event rows still go in.
TEST(EventStoreSink, WritesAPickRowBesideEachEventWhereTheStoreHasThePicksTable) {
    struct Case {
        const char* name;
        const char* replace_table;  // "" keeps the PICKS table of the schema
        long picks_after;
    };
    const Case cases[] = {
        {"PICKS", "", 2},
        {"lower-case picks",
         "create table picks (sta varchar(7), ch varchar(7), lcode varchar(7), "
         "tonset double precision, tpick double precision, grade integer, "
         "snr double precision, lddate timestamp)",
         2},
        {"no such table", "-", -1},
        {"a table that refuses rows", "create table PICKS (STA varchar(7))", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::EngineFixture fx;
        if (*c.replace_table) {
            ASSERT_TRUE(fx.store().exec("drop table PICKS"));
            if (*c.replace_table != '-') {
                ASSERT_TRUE(fx.store().exec(c.replace_table));
            }
        }
        auto ws = fx.connect_store();
        StopSignal stop;
        StoreLink link(*ws, stop);
        EventStoreSink sink(link, 0, 0);
        sink.begin_pass();
        sink.store(picked("PKA", test::kT0, 1));
        sink.store(picked("PKB", test::kT0 + 5, 3));
        sink.store(measurement("PKC", test::kT0 + 9));  // no pick made: no PICKS row
        EXPECT_EQ(sink.end_pass(), 0u);
        EXPECT_EQ(fx.event_rows(), 3);
        if (c.picks_after >= 0) {
            EXPECT_EQ(fx.store().count("select STA from PICKS"), c.picks_after);
        }
        if (c.picks_after == 2) {
            EXPECT_EQ(fx.store().count("select STA from PICKS where STA='PKB' and CH='BHZ' and "
                                       "LCODE='?"
                                       "?' and GRADE=3 and SNR=12.5 and TPICK - TONSET = "
                                       "0.25 and LDDATE is not null"),
                      1);
        }
    }
}

TEST(EventStoreSink, StoresOnceAndPurgesOldRows) {
    test::EngineFixture fx;
    auto ws = fx.connect_store();
    StopSignal stop;
    StoreLink link(*ws, stop);
    EventStoreSink sink(link, 30, 0);
    sink.store(measurement("AAA", test::kT0));
    sink.store(measurement("AAA", test::kT0));  // the same detection again
    sink.store(measurement("BBB", test::kT0));
    EXPECT_EQ(fx.event_rows("AAA"), 1);
    EXPECT_EQ(fx.event_rows(), 2);
    // 31 days later the first rows are older than STORAGE_TIME and go, whatever station.
    sink.store(measurement("CCC", test::kT0 + 31 * 86400.0));
    EXPECT_EQ(fx.event_rows(), 1);
    EXPECT_EQ(fx.event_rows("CCC"), 1);
    EXPECT_EQ(sink.pending(), 0u);
}

TEST(EventStoreSink, PurgeNeverTakesRowsYoungerThanStorageTimeBeforeNow) {
    // A channel dated ten years ahead must not make the other channels' rows "old".
    const double now = test::kT0 + 100 * 86400.0;
    common::set_clock_for_testing([now] { return now; });
    for (const bool in_pass : {false, true}) {
        test::EngineFixture fx;
        auto ws = fx.connect_store();
        StopSignal stop;
        StoreLink link(*ws, stop);
        EventStoreSink sink(link, 30, 0);
        sink.store(measurement("DAY", now - 86400.0));
        sink.store(measurement("OLD", now - 40 * 86400.0));
        if (in_pass) sink.begin_pass();
        sink.store(measurement("FUT", now + 3650 * 86400.0));
        if (in_pass) {
            EXPECT_EQ(sink.end_pass(), 0u);
        }
        EXPECT_EQ(fx.event_rows("DAY"), 1) << in_pass;
        EXPECT_EQ(fx.event_rows("FUT"), 1) << in_pass;
        EXPECT_EQ(fx.event_rows("OLD"), 0) << in_pass;
    }
    common::set_clock_for_testing({});
}

// One pass's rows in statements of many rows on SQLite: stored rows found, repeats left
// out, and a row the store refuses (a station code too long for the column) costs only
// itself: the pass is then stored row by row.
TEST(EventStoreSink, ManyRowsOfAPassFindStoredOnesAndLoseOnlyARefusedRow) {
    test::EngineFixture fx;
    auto ws = fx.connect_store();
    StopSignal stop;
    StoreLink link(*ws, stop);
    EventStoreSink sink(link, 0, 0);
    for (int i = 0; i < 100; i += 10) sink.store(measurement("SQA", test::kT0 + i));
    ASSERT_EQ(fx.event_rows(), 10);

    struct Case {
        const char* name;
        bool refused_row;
        long rows_after;
    };
    const Case cases[] = {{"batched", false, 100}, {"one row refused", true, 200}};
    double base = test::kT0;
    for (const Case& c : cases) {
        sink.begin_pass();
        for (int i = 0; i < 100; ++i) {
            sink.store(measurement(i % 2 ? "SQA" : "SQB", base + (i % 2 ? i - 1 : i)));
            if (i == 50 && c.refused_row) sink.store(measurement("TOOLONGCODE", base + i));
        }
        EXPECT_EQ(sink.end_pass(), 0u) << c.name;
        EXPECT_EQ(fx.event_rows(), c.rows_after) << c.name;
        EXPECT_EQ(fx.event_rows("TOOLONGCODE"), 0) << c.name;
        base += 1000.0;
    }
    EXPECT_EQ(fx.log_count("Station code longer than 7 characters"), 2u);  // batch, then the row
    EXPECT_EQ(sink.rows_stored("SQA.BHZ.??") + sink.rows_stored("SQB.BHZ.??"), 200);
}

TEST(EventStoreSink, KeepsRowsWhileTheServerIsDownAndStoresThemInOrder) {
    // A server of the test's own: it is stopped and started again below.
    const auto own = test::PostgresServer::start_private();
    test::PostgresServer& server = *own;
    if (!server.available()) GTEST_SKIP() << server.reason();
    test::EngineFixture fx;  // log directory
    test::PostgresTestStore pg(true, server);
    test::EngineLink e(pg);
    ASSERT_TRUE(e.ws.connect()) << e.ws.last_error();
    EventStoreSink& sink = e.sink;
    sink.store(measurement("PGA", test::kT0));

    pg.close_connection();
    ASSERT_TRUE(server.stop());
    sink.store(measurement("PGA", test::kT0 + 10));
    sink.store(measurement("PGB", test::kT0 + 20));
    EXPECT_EQ(sink.pending(), 2u);
    EXPECT_TRUE(e.link.down());
    ASSERT_TRUE(server.start());

    EXPECT_EQ(sink.flush(), 0u);
    sink.store(measurement("PGB", test::kT0 + 20));  // already stored: no second row
    EXPECT_EQ(pg.count("select STA from EVENTLIST where EVENT_TYPE=1"), 3);
    EXPECT_EQ(pg.count("select STA from EVENTLIST where STA='PGB'"), 1);
    EXPECT_EQ(fx.log_count("Couldn't connect to database."), 1u);
    EXPECT_EQ(fx.log_count("kept until the store answers"), 2u);
}

// A pass's rows are invisible to other connections until the end of the pass, and the
// purge runs once with the newest onset (a per-row purge would leave the same rows).
TEST(EventStoreSink, RowsOfAPassAreCommittedTogetherAtItsEnd) {
    test::EngineFixture fx;
    auto ws = fx.connect_store();
    StopSignal stop;
    StoreLink link(*ws, stop);
    EventStoreSink sink(link, 30, 0);
    sink.store(measurement("OLD", test::kT0 - 40 * 86400.0));  // outside a pass: at once
    ASSERT_EQ(fx.event_rows("OLD"), 1);
    long seen_before_commit = -1;
    sink.set_before_commit([&] { seen_before_commit = fx.event_rows(); });

    sink.begin_pass();
    sink.store(measurement("AAA", test::kT0));
    sink.store(measurement("BBB", test::kT0 + 1));
    sink.store(measurement("AAA", test::kT0));  // the same detection twice in one pass
    EXPECT_EQ(fx.event_rows(), 1);              // nothing written during the pass
    EXPECT_EQ(sink.pending(), 3u);
    EXPECT_EQ(sink.end_pass(), 0u);

    EXPECT_EQ(seen_before_commit, 1);  // written, not yet committed: another reader sees none
    EXPECT_EQ(fx.event_rows("AAA"), 1);
    EXPECT_EQ(fx.event_rows("BBB"), 1);
    EXPECT_EQ(fx.event_rows("OLD"), 0);  // purged once, with the newest onset of the pass
    EXPECT_EQ(sink.pending(), 0u);
}

TEST(EventStoreSink, ServerStoppedBeforeTheCommitKeepsThePassAndWritesItOnce) {
    const auto own = test::PostgresServer::start_private();
    test::PostgresServer& server = *own;
    if (!server.available()) GTEST_SKIP() << server.reason();
    test::EngineFixture fx;
    test::PostgresTestStore pg(true, server);
    test::EngineLink e(pg);
    ASSERT_TRUE(e.ws.connect()) << e.ws.last_error();
    EventStoreSink& sink = e.sink;
    sink.store(measurement("PGA", test::kT0));
    ASSERT_EQ(pg.count("select STA from EVENTLIST"), 1);

    bool stopped = false;
    sink.set_before_commit([&] {
        pg.close_connection();
        stopped = server.stop();
    });
    sink.begin_pass();
    sink.store(measurement("PGA", test::kT0));  // stored before: found, not doubled
    sink.store(measurement("PGB", test::kT0 + 10));
    sink.store(measurement("PGC", test::kT0 + 20));
    EXPECT_EQ(sink.end_pass(), 3u);  // inserted, but the commit never came
    ASSERT_TRUE(stopped);
    sink.set_before_commit({});
    ASSERT_TRUE(server.start());

    EXPECT_EQ(sink.flush(), 0u);
    EXPECT_EQ(sink.flush(), 0u);
    EXPECT_EQ(pg.count("select STA from EVENTLIST where EVENT_TYPE=1"), 3);
    for (const char* sta : {"PGA", "PGB", "PGC"})
        EXPECT_EQ(pg.count(std::string("select STA from EVENTLIST where STA='") + sta + "'"), 1)
            << sta;
    EXPECT_EQ(fx.log_count("3 event rows kept until the store answers"), 1u);
}

// A pass of many rows goes to the store in statements of many rows: rows stored before,
// repeats within the pass and chunks of every size must still come out once each.
TEST(EventStoreSink, ServerStoppedBeforeTheCommitOfALargePassWritesEveryRowOnce) {
    const auto own = test::PostgresServer::start_private();
    test::PostgresServer& server = *own;
    if (!server.available()) GTEST_SKIP() << server.reason();
    test::EngineFixture fx;
    test::PostgresTestStore pg(true, server);
    test::EngineLink e(pg);
    ASSERT_TRUE(e.ws.connect()) << e.ws.last_error();
    EventStoreSink& sink = e.sink;
    const char* stations[] = {"PGA", "PGB", "PGC"};
    // 127 distinct rows (chunks of 64, 32, 16, 8, 4, 2 and 1); every 9th one was stored
    // before the pass, every 20th one comes twice.
    auto row = [&](int i) { return measurement(stations[i % 3], test::kT0 + 0.25 * i); };
    for (int i = 0; i < 127; i += 9) sink.store(row(i));
    ASSERT_EQ(pg.count("select STA from EVENTLIST"), 15);

    bool stopped = false;
    sink.set_before_commit([&] {
        pg.close_connection();
        stopped = server.stop();
    });
    sink.begin_pass();
    for (int i = 0; i < 127; ++i) {
        sink.store(row(i));
        if (i % 20 == 0) sink.store(row(i));
    }
    EXPECT_EQ(sink.end_pass(), 134u);
    ASSERT_TRUE(stopped);
    sink.set_before_commit({});
    ASSERT_TRUE(server.start());

    EXPECT_EQ(sink.flush(), 0u);
    EXPECT_EQ(pg.count("select STA from EVENTLIST where EVENT_TYPE=1"), 127);
    EXPECT_EQ(pg.count("select distinct STA, TBEGIN from EVENTLIST"), 127);
    for (const char* sta : stations) {
        EXPECT_EQ(pg.count(std::string("select STA from EVENTLIST where STA='") + sta + "'"),
                  sta[2] == 'A' ? 43 : 42)
            << sta;
    }
    // Inserted once each, whether before the pass or after the server came back.
    EXPECT_EQ(sink.rows_stored("PGA.BHZ.??") + sink.rows_stored("PGB.BHZ.??") +
                  sink.rows_stored("PGC.BHZ.??"),
              127);
}

TEST(EventStoreSink, RefusedCommitKeepsThePassQueuedUntilTheStoreTakesIt) {
    // A deferred constraint trigger refuses every commit while REFUSE holds a row: the
    // connection stays alive, only the commit fails.
    std::string skip;
    auto store = test::make_test_store("postgres", skip);
    if (!store) GTEST_SKIP() << skip;
    test::EngineFixture fx;
    ASSERT_TRUE(store->exec("create table REFUSE (X integer)")) << store->error();
    ASSERT_TRUE(store->exec(
        "create function refuse_commit() returns trigger language plpgsql as "
        "$$ begin if exists (select 1 from REFUSE) then raise exception 'commit refused'; "
        "end if; return null; end $$"))
        << store->error();
    ASSERT_TRUE(
        store->exec("create constraint trigger refuse_events after insert on EVENTLIST deferrable "
                    "initially deferred for each row execute function refuse_commit()"))
        << store->error();
    ASSERT_TRUE(store->exec("insert into REFUSE values (1)")) << store->error();
    test::EngineLink e(*store);
    ASSERT_TRUE(e.ws.connect()) << e.ws.last_error();

    e.sink.begin_pass();
    e.sink.store(measurement("RFA", test::kT0));
    e.sink.store(measurement("RFB", test::kT0 + 5));
    EXPECT_EQ(e.sink.end_pass(), 2u);
    EXPECT_FALSE(e.link.down());  // the store answers; it only refused the commit
    EXPECT_EQ(store->count("select STA from EVENTLIST"), 0);
    EXPECT_EQ(fx.log_count("[end_events] Commit error"), 1u);
    EXPECT_EQ(fx.log_count("commit refused"), 1u);

    ASSERT_TRUE(store->exec("delete from REFUSE")) << store->error();
    e.sink.begin_pass();
    e.sink.store(measurement("RFC", test::kT0 + 9));
    EXPECT_EQ(e.sink.end_pass(), 0u);
    EXPECT_EQ(e.sink.flush(), 0u);
    EXPECT_EQ(store->count("select STA from EVENTLIST where EVENT_TYPE=1"), 3);
    EXPECT_EQ(store->count("select STA from EVENTLIST where STA='RFA'"), 1);
}

TEST(EventStoreSink, SqliteCommitRefusedWhileAReaderHoldsTheStore) {
    // A reader's open transaction on a store with a rollback journal: the rows go in,
    // but the commit cannot take the store and times out. The store connection here
    // waits 200 ms for locks instead of the fixture's 5 s.
    test::EngineFixture fx;
    test::add_odbc_data_source(
        "zelvik_short_timeout",
        {{"Driver", test::kSqliteDriver}, {"Database", fx.store().file()}, {"Timeout", "200"}});
    db::WaveStore ws;
    fx.store().configure(ws);
    ASSERT_EQ(ws.set_param("ODBC", "zelvik_short_timeout"), 0);
    ASSERT_TRUE(ws.connect()) << ws.last_error();
    StopSignal stop;
    StoreLink link(ws, stop);
    EventStoreSink sink(link, 0, 0);

    ASSERT_TRUE(fx.store().exec("begin")) << fx.store().error();
    ASSERT_EQ(fx.event_rows(), 0);  // the reader now holds its shared lock
    sink.begin_pass();
    sink.store(measurement("SQA", test::kT0));
    sink.store(measurement("SQB", test::kT0 + 1));
    EXPECT_EQ(sink.end_pass(), 2u);
    EXPECT_EQ(fx.log_count("[end_events] Commit error"), 1u);
    ASSERT_TRUE(fx.store().exec("commit")) << fx.store().error();

    EXPECT_EQ(sink.flush(), 0u);
    EXPECT_EQ(fx.event_rows(), 2);
    EXPECT_EQ(fx.event_rows("SQA"), 1);
    // Reading goes on as before after the transaction: autocommit is back on.
    EXPECT_TRUE(ws.is_alive());
    sink.store(measurement("SQC", test::kT0 + 2));
    EXPECT_EQ(fx.event_rows(), 3);
}

}  // namespace
}  // namespace zelvik::detect
