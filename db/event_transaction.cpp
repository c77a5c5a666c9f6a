// WaveStore: the transaction around the event rows of one pass. Autocommit is off only
// between the two calls, so every other statement of the program stays a transaction of
// its own and no read keeps a transaction open.
#include <cstdint>

#include "db/odbc_handle.h"
#include "db/store_connection.h"
#include "db/wave_store.h"

namespace zelvik::db {
namespace {

SQLRETURN set_autocommit(const OdbcConnection& dbc, bool on) {
    return SQLSetConnectAttr(dbc.get(), SQL_ATTR_AUTOCOMMIT,
                             reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(
                                 on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                             0);
}

}  // namespace

bool WaveStore::begin_events() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!conn_ || !conn_->dbc.connected()) {
        event_error_ = "[begin_events] Not connected";
        return false;
    }
    if (odbc_ok(set_autocommit(conn_->dbc, false))) return true;
    event_error_ =
        odbc_error_text("begin_events", "Autocommit off error", SQL_HANDLE_DBC, conn_->dbc.get());
    return false;
}

bool WaveStore::end_events(bool commit) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!conn_ || !conn_->dbc.connected()) {
        event_error_ = "[end_events] Not connected";
        return false;
    }
    const SQLHDBC h = conn_->dbc.get();
    bool ok = true;
    if (commit && !odbc_ok(SQLEndTran(SQL_HANDLE_DBC, h, SQL_COMMIT))) {
        event_error_ = odbc_error_text("end_events", "Commit error", SQL_HANDLE_DBC, h);
        ok = false;
    }
    // A commit the store refused may leave the transaction open (SQLite when busy):
    // turning autocommit on would commit it, so it is rolled back first.
    if (!ok || !commit) (void)SQLEndTran(SQL_HANDLE_DBC, h, SQL_ROLLBACK);
    (void)set_autocommit(conn_->dbc, true);
    return ok;
}

}  // namespace zelvik::db
