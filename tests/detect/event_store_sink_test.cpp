// The Store steps on real stores: one row per station and onset, the STORAGE_TIME purge,
// and rows kept while a PostgreSQL server is down, stored in order when it is back.
#include "detect/event_store_sink.h"

#include <gtest/gtest.h>

#include "db/wave_store.h"
#include "detect/stop_signal.h"
#include "detect/store_link.h"
#include "tests/detect/engine_fixture.h"

namespace zelvik::detect {
namespace {

Measurement measurement(const std::string& sta, double onset) {
    return {sta, "BHZ", "??", onset, 120.0f, 3.5f, 0.8f, 0.03};
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

}  // namespace
}  // namespace zelvik::detect
