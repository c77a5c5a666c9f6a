// WaveStore: rows of the PICKS table. The table is optional: a store made before it
// existed has none, and nothing is written there. The insert is prepared per call, as
// picks come a few per pass at most.
#include <cstring>

#include "db/odbc_handle.h"
#include "db/pick_row.h"
#include "db/store_connection.h"
#include "db/wave_store.h"

namespace zelvik::db {

bool WaveStore::has_picks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return conn_ && catalog_.found(Table::kPicks);
}

bool WaveStore::insert_picks(const PickRow* rows, size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    const char* const op = "insert_picks";
    if (!conn_ || !catalog_.found(Table::kPicks)) {
        event_error_ = "[insert_picks] No PICKS table";
        return false;
    }
    const auto col = [&](const char* c) { return catalog_.column(Table::kPicks, c); };
    const std::string sql = "insert into " + catalog_.table(Table::kPicks) + "(" + col("STA") +
                            "," + col("CH") + "," + col("LCODE") + "," + col("TONSET") + "," +
                            col("TPICK") + "," + col("GRADE") + "," + col("SNR") + "," +
                            col("LDDATE") + ") values (?,?,?,?,?,?,?,?)";
    OdbcStatement st(conn_->dbc);
    if (!st.valid() || !odbc_ok(st.prepare(sql))) {
        event_error_ = st.error_text(op, "Prepare statement error");
        return false;
    }
    char codes[3][8] = {};
    SQLLEN code_ind[3] = {SQL_NTS, SQL_NTS, SQL_NTS};
    double tonset = 0.0, tpick = 0.0, snr = 0.0;
    SQLINTEGER grade = 0;
    SQL_TIMESTAMP_STRUCT written = odbc_timestamp_now();
    SQLLEN zero = 0;
    const SQLHSTMT h = st.get();
    bool bound = true;
    for (SQLUSMALLINT i = 0; i < 3; ++i) {
        bound = bound && odbc_ok(SQLBindParameter(h, i + 1, SQL_PARAM_INPUT, SQL_C_CHAR,
                                                  SQL_VARCHAR, 8, 0, codes[i], 8, &code_ind[i]));
    }
    bound = bound &&
            odbc_ok(SQLBindParameter(h, 4, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &tonset,
                                     0, &zero)) &&
            odbc_ok(SQLBindParameter(h, 5, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &tpick,
                                     0, &zero)) &&
            odbc_ok(SQLBindParameter(h, 6, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &grade,
                                     0, &zero)) &&
            odbc_ok(SQLBindParameter(h, 7, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &snr, 0,
                                     &zero)) &&
            odbc_ok(SQLBindParameter(h, 8, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                                     SQL_TYPE_TIMESTAMP, 19, 0, &written, 0, &zero));
    if (!bound) {
        event_error_ = st.error_text(op, "Bind parameter error");
        return false;
    }
    for (size_t r = 0; r < count; ++r) {
        const std::string_view in[3] = {rows[r].sta, rows[r].ch, rows[r].lcode};
        for (int i = 0; i < 3; ++i) {
            if (!fits_code(in[i])) {
                event_error_ = "[insert_picks] Code longer than 7 characters";
                return false;
            }
            std::memset(codes[i], 0, sizeof codes[i]);
            std::memcpy(codes[i], in[i].data(), in[i].size());
        }
        tonset = rows[r].tonset, tpick = rows[r].tpick, snr = rows[r].snr;
        grade = rows[r].grade;
        if (!odbc_ok(SQLExecute(h))) {
            event_error_ = st.error_text(op, "Execute statement error");
            return false;
        }
    }
    return true;
}

}  // namespace zelvik::db
