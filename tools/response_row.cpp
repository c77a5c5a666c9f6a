// Values go into the statements as parameters; dates are bound as timestamps, the way
// Zelvik's response selects bind theirs, so the two compare alike on every driver
// (SQLite's keeps them as text).
#include "tools/response_row.h"

#include <algorithm>

#include "db/odbc_handle.h"
#include "db/store_catalog.h"

namespace zelvik::tools {
namespace {

SQL_TIMESTAMP_STRUCT to_timestamp(const DateFields& d) {
    return {static_cast<SQLSMALLINT>(d.year),
            static_cast<SQLUSMALLINT>(d.month),
            static_cast<SQLUSMALLINT>(d.day),
            static_cast<SQLUSMALLINT>(d.hour),
            static_cast<SQLUSMALLINT>(d.minute),
            static_cast<SQLUSMALLINT>(d.second),
            0};
}

}  // namespace

bool store_response_row(const db::OdbcConnection& conn, const db::StoreCatalog& c,
                        const ResponseRow& row, std::string& error) {
    const db::Table t = db::Table::kCalibration;
    auto col = [&](const char* n) { return c.column(t, n); };
    const char* column = row.sac ? "SAC" : "FAP";
    const std::string update = "update " + c.table(t) + " set " + col(column) + "=?, " +
                               col("ENDDATE") + "=? where " + col("STA") + "=? and " + col("CHAN") +
                               "=? and " + col("LOCATION") + "=? and " + col("NETWORK") +
                               "=? and " + col("STARTDATE") + "=?";
    const std::string insert = "insert into " + c.table(t) + " (" + col(column) + "," +
                               col("ENDDATE") + "," + col("STA") + "," + col("CHAN") + "," +
                               col("LOCATION") + "," + col("NETWORK") + "," + col("STARTDATE") +
                               ") values (?,?,?,?,?,?,?)";
    // ODBC takes non-const buffers for input parameters; these copies are only read.
    std::string text = row.text;
    std::string codes[4] = {row.codes[0], row.codes[1], row.codes[2], row.codes[3]};
    SQL_TIMESTAMP_STRUCT ts_start = to_timestamp(row.start), ts_end = to_timestamp(row.end);
    SQLLEN text_ind = static_cast<SQLLEN>(text.size()), nts = SQL_NTS, zero = 0;
    SQLLEN end_ind = row.has_end ? 0 : SQL_NULL_DATA;
    for (const std::string* sql : {&update, &insert}) {
        db::OdbcStatement st(conn);
        SQLHSTMT h = st.get();
        SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR,
                         std::max<SQLULEN>(text.size(), 1), 0, text.data(), text_ind, &text_ind);
        SQLBindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19, 0,
                         &ts_end, 0, &end_ind);
        for (SQLUSMALLINT i = 0; i < 4; ++i)
            SQLBindParameter(h, static_cast<SQLUSMALLINT>(3 + i), SQL_PARAM_INPUT, SQL_C_CHAR,
                             SQL_VARCHAR, 7, 0, codes[i].data(),
                             static_cast<SQLLEN>(codes[i].size() + 1), &nts);
        SQLBindParameter(h, 7, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19, 0,
                         &ts_start, 0, &zero);
        const SQLRETURN r = st.exec_direct(*sql);
        if (!db::odbc_ok(r) && r != SQL_NO_DATA) {
            error = st.error_text("response", "cannot store the response");
            return false;
        }
        SQLLEN rows = 0;
        if (sql == &update && (r == SQL_NO_DATA || !db::odbc_ok(SQLRowCount(h, &rows)) || rows < 1))
            continue;
        return true;
    }
    error = "[response] cannot store the response";
    return false;
}

}  // namespace zelvik::tools
