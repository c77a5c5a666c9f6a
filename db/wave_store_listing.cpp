// WaveStore's look-ups for displays: where a channel's data ends and the stored
// detections of a station, and the one-value channel query they share with get_sps. They
// run seldom, so each statement is prepared for its call and the detector's prepared set
// is left alone.
#include "db/odbc_handle.h"
#include "db/store_catalog.h"
#include "db/store_connection.h"
#include "db/wave_store.h"

namespace zelvik::db {

int WaveStore::last_data_end(std::string_view sta, std::string_view chan, std::string_view loc,
                             double& end) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fits_code(sta) || !fits_code(chan) || !fits_code(loc)) return 0;
    if (!conn_) {
        last_error_ = "[last_data_end] Not connected";
        return -1;
    }
    return select_channel_value_locked("last_data_end", Table::kFilelist,
                                       "max(" + segment_end_expr_locked() + ")", sta, chan, loc,
                                       end);
}

int WaveStore::select_channel_value_locked(const char* operation, Table t,
                                           const std::string& value_expr, std::string_view sta,
                                           std::string_view chan, std::string_view loc,
                                           double& value) {
    const bool with_loc = !unlocated(loc);
    // Codes are parameters, never pasted into the text: a quote in a code must
    // neither break nor change the statement.
    const std::string sql = "select " + value_expr + " from " + catalog_.table(t) + " where " +
                            channel_condition(catalog_, t, with_loc);
    ChannelQuery q;
    if (!q.prepare(conn_->dbc, sql, with_loc, 0)) {
        last_error_ =
            odbc_error_text(operation, "Prepare statement error", SQL_HANDLE_DBC, conn_->dbc.get());
        return -1;
    }
    q.set(sta, chan, loc, 0, 0);
    if (!odbc_ok(SQLExecute(q.stmt.get()))) {
        last_error_ = q.stmt.error_text(operation, "Execute statement error");
        return -1;
    }
    double found = 0;
    SQLLEN ind = 0;
    SQLBindCol(q.stmt.get(), 1, SQL_C_DOUBLE, &found, 0, &ind);
    const SQLRETURN r = SQLFetch(q.stmt.get());
    q.stmt.close_cursor();
    if (r == SQL_NO_DATA || (odbc_ok(r) && ind == SQL_NULL_DATA)) return 0;
    if (!odbc_ok(r)) {
        last_error_ = q.stmt.error_text(operation, "Fetch data error");
        return -1;
    }
    value = found;
    return 1;
}

int WaveStore::select_events(std::string_view sta, double from, double to, int limit,
                             std::vector<StoredEvent>& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    out.clear();
    if (!fits_code(sta) || limit <= 0) return 0;
    if (!conn_) {
        last_error_ = "[select_events] Not connected";
        return -1;
    }
    const Table t = Table::kEventlist;
    auto col = [&](const char* n) { return catalog_.column(t, n); };
    const std::string sql = "select " + col("TBEGIN") + "," + col("AMP") + "," + col("PER") +
                            " from " + catalog_.table(t) + " where " + col("STA") + "=? and " +
                            col("EVENT_TYPE") + "=1 and " + col("TBEGIN") + ">=? and " +
                            col("TBEGIN") + "<? order by " + col("TBEGIN") + " desc";
    OdbcStatement st(conn_->dbc);
    if (!st.valid() || !odbc_ok(st.prepare(sql))) {
        last_error_ = st.valid() ? st.error_text("select_events", "Prepare statement error")
                                 : "[select_events] Statement handle allocation error";
        return -1;
    }
    char code[8] = {};
    copy_code(code, sta);
    SQLLEN code_ind = SQL_NTS, zero_ind = 0;
    SQLBindParameter(st.get(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, code, 8,
                     &code_ind);
    SQLBindParameter(st.get(), 2, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &from, 0,
                     &zero_ind);
    SQLBindParameter(st.get(), 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &to, 0,
                     &zero_ind);
    if (!odbc_ok(SQLExecute(st.get()))) {
        last_error_ = st.error_text("select_events", "Execute statement error");
        return -1;
    }
    double onset = 0, amp = 0, per = 0;
    SQLLEN ind[3] = {};
    SQLBindCol(st.get(), 1, SQL_C_DOUBLE, &onset, 0, &ind[0]);
    SQLBindCol(st.get(), 2, SQL_C_DOUBLE, &amp, 0, &ind[1]);
    SQLBindCol(st.get(), 3, SQL_C_DOUBLE, &per, 0, &ind[2]);
    SQLRETURN r = SQL_SUCCESS;
    while (static_cast<int>(out.size()) < limit && odbc_ok(r = SQLFetch(st.get()))) {
        if (ind[0] == SQL_NULL_DATA) continue;
        out.push_back(
            {onset, ind[1] == SQL_NULL_DATA ? -1.0 : amp, ind[2] == SQL_NULL_DATA ? -1.0 : per});
    }
    if (r != SQL_NO_DATA && !odbc_ok(r)) {
        last_error_ = st.error_text("select_events", "Fetch data error");
        st.close_cursor();
        return -1;
    }
    st.close_cursor();
    return static_cast<int>(out.size());
}

}  // namespace zelvik::db
