// Event list statements over many rows. The existence test is one select over a VALUES
// list joined to EVENTLIST by station and onset, answering the places of the rows found;
// the insert is one multi-row VALUES insert. Both are plain SQL that SQLite and
// PostgreSQL share, with every value a bound parameter.
#include "db/event_batch_queries.h"

#include <algorithm>

#include "db/store_catalog.h"

namespace zelvik::db {

int EventBatchQueries::size_index(size_t count) {
    int k = 0;
    while (k + 1 < kSizes && (size_t{1} << (k + 1)) <= count) ++k;
    return k;
}

void EventBatchQueries::attach(const OdbcConnection& conn, const StoreCatalog& catalog) {
    conn_ = &conn;
    catalog_ = &catalog;
    for (int k = 0; k < kSizes; ++k) {
        find_[k].reset();
        insert_[k].reset();
    }
}

std::string EventBatchQueries::find_sql(size_t count) const {
    const Table t = Table::kEventlist;
    auto col = [&](const char* name) -> const std::string& { return catalog_->column(t, name); };
    // The casts give the VALUES columns their types where nothing else does: psqlODBC
    // prepares before any parameter is bound, and PostgreSQL would take them as text.
    const std::string row =
        "(cast(? as integer),cast(? as varchar(7)),cast(? as double precision))";
    std::string values;
    for (size_t i = 0; i < count; ++i) values += (i == 0 ? "" : ",") + row;
    // VALUES columns are column1, column2, ... in both SQLite and PostgreSQL.
    return "select v.column1 from (values " + values + ") v where exists (select 1 from " +
           catalog_->table(t) + " e where e." + col("STA") + "=v.column2 and e." + col("TBEGIN") +
           "=v.column3 and e." + col("EVENT_TYPE") + "=1)";
}

std::string EventBatchQueries::insert_sql(size_t count) const {
    const Table t = Table::kEventlist;
    auto col = [&](const char* name) -> const std::string& { return catalog_->column(t, name); };
    std::string sql = "insert into " + catalog_->table(t) + "(" + col("STA") + "," + col("TBEGIN") +
                      "," + col("AMP") + "," + col("PER") + "," + col("EVENT_TYPE") + "," +
                      col("LDDATE") + ") values ";
    for (size_t i = 0; i < count; ++i) sql += i == 0 ? "(?,?,?,?,1,?)" : ",(?,?,?,?,1,?)";
    return sql;
}

bool EventBatchQueries::ready(OdbcStatement& st, const char* op, const std::string& sql) {
    if (st.valid()) return true;
    if (conn_ == nullptr) {
        last_error_ = std::string("[") + op + "] Not connected";
        return false;
    }
    st = OdbcStatement(*conn_);
    if (!st.valid()) {
        last_error_ =
            odbc_error_text(op, "Statement handle allocation error", SQL_HANDLE_DBC, conn_->get());
        return false;
    }
    if (odbc_step_ok(st.prepare(sql))) return true;
    last_error_ = st.error_text(op, "Prepare statement error");
    st.reset();
    return false;
}

bool EventBatchQueries::bind(OdbcStatement& st, const char* op, SQLUSMALLINT n, SQLSMALLINT c_type,
                             SQLSMALLINT sql_type, SQLULEN size, void* value, SQLLEN length,
                             SQLLEN* ind) {
    if (odbc_step_ok(SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, c_type, sql_type, size, 0,
                                      value, length, ind)))
        return true;
    last_error_ = st.error_text(op, "Bind parameter_" + std::to_string(n) + " error");
    st.reset();
    return false;
}

bool EventBatchQueries::bind_find(OdbcStatement& st, size_t count) {
    const char* op = "find_events";
    for (size_t i = 0; i < count; ++i) {
        const auto n = static_cast<SQLUSMALLINT>(3 * i);
        if (!bind(st, op, n + 1, SQL_C_SLONG, SQL_INTEGER, 0, &position_[i], 0, &zero_ind_) ||
            !bind(st, op, n + 2, SQL_C_CHAR, SQL_VARCHAR, 8, sta_[i], 8, &sta_ind_[i]) ||
            !bind(st, op, n + 3, SQL_C_DOUBLE, SQL_DOUBLE, 0, &onset_[i], 0, &zero_ind_))
            return false;
    }
    if (odbc_ok(SQLBindCol(st.get(), 1, SQL_C_SLONG, &found_, 0, &found_ind_))) return true;
    last_error_ = st.error_text(op, "Bind column_1 error");
    st.reset();
    return false;
}

bool EventBatchQueries::bind_insert(OdbcStatement& st, size_t count) {
    const char* op = "insert_events";
    for (size_t i = 0; i < count; ++i) {
        const auto n = static_cast<SQLUSMALLINT>(5 * i);
        if (!bind(st, op, n + 1, SQL_C_CHAR, SQL_VARCHAR, 8, sta_[i], 8, &sta_ind_[i]) ||
            !bind(st, op, n + 2, SQL_C_DOUBLE, SQL_DOUBLE, 0, &onset_[i], 0, &zero_ind_) ||
            !bind(st, op, n + 3, SQL_C_DOUBLE, SQL_DOUBLE, 0, &amp_[i], 0, &zero_ind_) ||
            !bind(st, op, n + 4, SQL_C_DOUBLE, SQL_DOUBLE, 0, &per_[i], 0, &zero_ind_) ||
            !bind(st, op, n + 5, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19, &written_[i], 0,
                  &written_ind_[i]))
            return false;
    }
    return true;
}

bool EventBatchQueries::find(const EventRow* rows, size_t count, bool* exists) {
    while (count > 0) {
        const size_t n = size_t{1} << size_index(std::min(count, kMaxRows));
        if (!find_chunk(rows, n, exists)) return false;
        rows += n, exists += n, count -= n;
    }
    return true;
}

bool EventBatchQueries::insert(const EventRow* rows, size_t count) {
    while (count > 0) {
        const size_t n = size_t{1} << size_index(std::min(count, kMaxRows));
        if (!insert_chunk(rows, n)) return false;
        rows += n, count -= n;
    }
    return true;
}

bool EventBatchQueries::find_chunk(const EventRow* rows, size_t count, bool* exists) {
    OdbcStatement& st = find_[size_index(count)];
    if (!st.valid() && !(ready(st, "find_events", find_sql(count)) && bind_find(st, count)))
        return false;
    for (size_t i = 0; i < count; ++i) {
        position_[i] = static_cast<SQLINTEGER>(i);
        copy_code(sta_[i], rows[i].sta);
        sta_ind_[i] = SQL_NTS;
        onset_[i] = rows[i].onset;
        exists[i] = false;
    }
    if (!odbc_ok(SQLExecute(st.get()))) {
        last_error_ = st.error_text("find_events", "Execute statement error");
        st.close_cursor();
        return false;
    }
    SQLRETURN r;
    while (odbc_ok(r = SQLFetch(st.get()))) {
        if (found_ind_ != SQL_NULL_DATA && found_ >= 0 && static_cast<size_t>(found_) < count)
            exists[found_] = true;
    }
    st.close_cursor();
    if (r == SQL_NO_DATA) return true;
    last_error_ = st.error_text("find_events", "Fetch data error");
    return false;
}

bool EventBatchQueries::insert_chunk(const EventRow* rows, size_t count) {
    OdbcStatement& st = insert_[size_index(count)];
    if (!st.valid() && !(ready(st, "insert_events", insert_sql(count)) && bind_insert(st, count)))
        return false;
    const SQL_TIMESTAMP_STRUCT now = odbc_timestamp_now();
    for (size_t i = 0; i < count; ++i) {
        copy_code(sta_[i], rows[i].sta);
        sta_ind_[i] = SQL_NTS;
        onset_[i] = rows[i].onset;
        // As insert_data: a measurement without both values stores zeros.
        const bool measured = rows[i].amp > 0.0 && rows[i].per > 0.0;
        amp_[i] = measured ? rows[i].amp : 0.0;
        per_[i] = measured ? rows[i].per : 0.0;
        written_[i] = now;
        written_ind_[i] = 0;
    }
    if (odbc_ok(SQLExecute(st.get()))) return true;
    last_error_ = st.error_text("insert_events", "Execute statement error");
    return false;
}

}  // namespace zelvik::db
