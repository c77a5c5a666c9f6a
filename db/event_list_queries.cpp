// Event list statements. Rows this program writes carry EVENT_TYPE 1 (a literal in the
// SQL), and only those are ever found or deleted here.
#include "db/event_list_queries.h"

#include "db/store_catalog.h"

namespace zelvik::db {

bool EventListQueries::prepare_statement(OdbcStatement& st, const char* op,
                                         const std::string& sql) {
    st = OdbcStatement(*conn_);
    if (!st.valid()) {
        last_error_ =
            odbc_error_text(op, "Statement handle allocation error", SQL_HANDLE_DBC, conn_->get());
        return false;
    }
    if (!odbc_step_ok(st.prepare(sql))) {
        last_error_ = st.error_text(op, "Prepare statement error");
        return false;
    }
    return true;
}

bool EventListQueries::bind_double(OdbcStatement& st, const char* op, SQLUSMALLINT n,
                                   double* value) {
    if (odbc_step_ok(SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                                      value, 0, &zero_ind_)))
        return true;
    last_error_ = st.error_text(op, "Bind parameter_" + std::to_string(n) + " error");
    return false;
}

bool EventListQueries::bind_text(OdbcStatement& st, const char* op, SQLUSMALLINT n, char* buf,
                                 SQLLEN* ind) {
    if (odbc_step_ok(SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0,
                                      buf, 8, ind)))
        return true;
    last_error_ = st.error_text(op, "Bind parameter_" + std::to_string(n) + " error");
    return false;
}

bool EventListQueries::prepare(const OdbcConnection& conn, const StoreCatalog& c) {
    conn_ = &conn;
    const Table t = Table::kEventlist;
    const std::string& tab = c.table(t);
    auto col = [&](const char* name) -> const std::string& { return c.column(t, name); };

    const char* op = "bind_del_evlst_data";
    if (!prepare_statement(del_, op,
                           "delete from " + tab + " where " + col("EVENT_TYPE") + "=1 and " +
                               col("TBEGIN") + "<?") ||
        !bind_double(del_, op, 1, &del_limit_))
        return false;

    op = "bind_is_data_exist";
    if (!prepare_statement(exists_, op,
                           "select " + col("STA") + " from " + tab + " where " + col("STA") +
                               "=? and " + col("TBEGIN") + "=? and " + col("EVENT_TYPE") + "=1") ||
        !bind_text(exists_, op, 1, exists_sta_, &exists_sta_ind_) ||
        !bind_double(exists_, op, 2, &exists_time_))
        return false;

    op = "bind_ins_evlst_data";
    const std::string ins = "insert into " + tab + "(" + col("STA") + "," + col("TBEGIN") + "," +
                            col("AMP") + "," + col("PER") + "," + col("EVENT_TYPE") + "," +
                            col("LDDATE") + ") values (?,?,?,?,1,?)";
    if (!prepare_statement(ins_, op, ins) || !bind_text(ins_, op, 1, ins_sta_, &ins_sta_ind_) ||
        !bind_double(ins_, op, 2, &ins_time_) || !bind_double(ins_, op, 3, &ins_amp_) ||
        !bind_double(ins_, op, 4, &ins_per_))
        return false;
    if (!odbc_step_ok(SQLBindParameter(ins_.get(), 5, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                                       SQL_TYPE_TIMESTAMP, 19, 0, &ins_written_, 0,
                                       &ins_written_ind_))) {
        last_error_ = ins_.error_text(op, "Bind parameter_5 error");
        return false;
    }
    return true;
}

bool EventListQueries::delete_data(double limit) {
    del_limit_ = limit;
    const SQLRETURN r = del_.valid() ? SQLExecute(del_.get()) : SQL_ERROR;
    // Deleting nothing answers SQL_NO_DATA, which is still a success.
    if (odbc_step_ok(r)) return true;
    last_error_ = del_.error_text("delete_data", "Execute statement error");
    return false;
}

int EventListQueries::is_exist(std::string_view sta, double onset) {
    copy_code(exists_sta_, sta);
    exists_sta_ind_ = SQL_NTS;
    exists_time_ = onset;
    if (!exists_.valid() || !odbc_ok(SQLExecute(exists_.get()))) {
        last_error_ = exists_.error_text("is_exist", "Execute statement error");
        exists_.close_cursor();
        return -1;
    }
    const SQLRETURN r = SQLFetch(exists_.get());
    if (r != SQL_NO_DATA && !odbc_ok(r)) {
        last_error_ = exists_.error_text("is_exist", "Fetch data error");
        exists_.close_cursor();
        return -1;
    }
    exists_.close_cursor();
    return r == SQL_NO_DATA ? 0 : 1;
}

bool EventListQueries::insert_data(std::string_view sta, double onset, double amp, double per) {
    copy_code(ins_sta_, sta);
    ins_sta_ind_ = SQL_NTS;
    ins_time_ = onset;
    const bool measured = amp > 0.0 && per > 0.0;
    ins_amp_ = measured ? amp : 0.0;
    ins_per_ = measured ? per : 0.0;
    ins_written_ = odbc_timestamp_now();
    ins_written_ind_ = 0;
    const SQLRETURN r = ins_.valid() ? SQLExecute(ins_.get()) : SQL_ERROR;
    if (odbc_ok(r)) return true;
    last_error_ = ins_.error_text("insert_data", "Execute statement error");
    return false;
}

}  // namespace zelvik::db
