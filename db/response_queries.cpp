// Response selects: a row valid at `when` (STARTDATE <= when, ENDDATE >= when or NULL)
// for the channel; the text is read in pieces because it may be far longer than any
// fixed buffer.
#include "db/response_queries.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "db/store_catalog.h"
#include "db/wave_store.h"

namespace zelvik::db {
namespace {

const char* kOpNames[2][4] = {
    {"bind_sel_fap_loc_net", "bind_sel_fap_loc", "bind_sel_fap_net", "bind_sel_fap_"},
    {"bind_sel_sac_loc_net", "bind_sel_sac_loc", "bind_sel_sac_net", "bind_sel_sac_"},
};

}  // namespace

bool ResponseQueries::prepare(const OdbcConnection& conn, const StoreCatalog& catalog) {
    conn_ = &conn;
    catalog_ = &catalog;
    for (int sac = 0; sac < 2; ++sac) {
        for (int v = 0; v < kVariants; ++v) {
            if (!prepare_one(sac == 1, static_cast<Variant>(v))) return false;
        }
    }
    return true;
}

void ResponseQueries::fail(Select& s, const std::string& text) {
    last_error_ = text;
    s.stmt.close_cursor();
    s.stmt.reset();
}

bool ResponseQueries::prepare_one(bool sac, Variant v) {
    const char* op = kOpNames[sac ? 1 : 0][v];
    Select& s = selects_[sac ? 1 : 0][v];
    s.stmt = OdbcStatement(*conn_);
    if (!s.stmt.valid()) {
        last_error_ =
            odbc_error_text(op, "Statement handle allocation error", SQL_HANDLE_DBC, conn_->get());
        return false;
    }
    const StoreCatalog& c = *catalog_;
    const Table t = Table::kCalibration;
    auto col = [&](const char* name) { return c.column(t, name).c_str(); };
    const char* r = col(sac ? "SAC" : "FAP");
    char sql[1024];
    switch (v) {
        case kLocNet:
            std::snprintf(sql, sizeof sql,
                          "select %s from %s where %s=? and %s=? and %s=? and %s=? and %s<=? and "
                          "(%s>=? or %s is null)",
                          r, c.table(t).c_str(), col("STA"), col("CHAN"), col("LOCATION"),
                          col("NETWORK"), col("STARTDATE"), col("ENDDATE"), col("ENDDATE"));
            break;
        case kLoc:
        case kNet:
            std::snprintf(sql, sizeof sql,
                          "select %s from %s where %s=? and %s=? and %s=? and %s<=? and (%s>=? or "
                          "%s is null)",
                          r, c.table(t).c_str(), col("STA"), col("CHAN"),
                          col(v == kLoc ? "LOCATION" : "NETWORK"), col("STARTDATE"), col("ENDDATE"),
                          col("ENDDATE"));
            break;
        default:
            std::snprintf(
                sql, sizeof sql,
                "select %s from %s where %s=? and %s=? and %s<=? and (%s>=? or %s is null)", r,
                c.table(t).c_str(), col("STA"), col("CHAN"), col("STARTDATE"), col("ENDDATE"),
                col("ENDDATE"));
            break;
    }
    if (!odbc_step_ok(s.stmt.prepare(sql))) {
        fail(s, s.stmt.error_text(op, "Prepare statement error"));
        return false;
    }
    std::vector<std::pair<char*, SQLLEN*>> texts = {{s.sta, &s.sta_ind}, {s.chan, &s.chan_ind}};
    if (v == kLocNet || v == kLoc) texts.emplace_back(s.loc, &s.loc_ind);
    if (v == kLocNet || v == kNet) texts.emplace_back(s.net, &s.net_ind);
    SQLUSMALLINT n = 0;
    for (auto& [buf, ind] : texts) {
        ++n;
        if (!odbc_step_ok(SQLBindParameter(s.stmt.get(), n, SQL_PARAM_INPUT, SQL_C_CHAR,
                                           SQL_VARCHAR, 8, 0, buf, 8, ind))) {
            fail(s, s.stmt.error_text(op, "Bind parameter_" + std::to_string(n) + " error"));
            return false;
        }
    }
    for (int k = 0; k < 2; ++k) {
        ++n;
        if (!odbc_step_ok(SQLBindParameter(s.stmt.get(), n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                                           SQL_TYPE_TIMESTAMP, 19, 0, &s.when, 0, &s.when_ind))) {
            fail(s, s.stmt.error_text(op, "Bind parameter_" + std::to_string(n) + " error"));
            return false;
        }
    }
    return true;
}

int ResponseQueries::select(bool sac, std::string_view sta, std::string_view chan,
                            std::string_view loc, std::string_view net, const StoreTimestamp& when,
                            std::string& out) {
    const char* op = sac ? "select_sac" : "select_fap";
    const Variant v = net.empty() ? (loc.empty() ? kPlain : kLoc) : (loc.empty() ? kNet : kLocNet);
    Select& s = selects_[sac ? 1 : 0][v];
    if (!s.stmt.valid()) {
        last_error_ = std::string("[") + op + "] Execute statement error";
        return -1;
    }
    copy_code(s.sta, sta);
    copy_code(s.chan, chan);
    copy_code(s.loc, loc);
    copy_code(s.net, net);
    s.sta_ind = s.chan_ind = s.loc_ind = s.net_ind = SQL_NTS;
    s.when = SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(when.year),
                                  static_cast<SQLUSMALLINT>(when.month),
                                  static_cast<SQLUSMALLINT>(when.day),
                                  static_cast<SQLUSMALLINT>(when.hour),
                                  static_cast<SQLUSMALLINT>(when.minute),
                                  static_cast<SQLUSMALLINT>(when.second),
                                  when.fraction};
    s.when_ind = 0;
    // A failed run closes the cursor but keeps the prepared statement: freeing it would
    // make every later look-up fail until a reconnect, which only a lost connection
    // brings about.
    if (!odbc_step_ok(SQLExecute(s.stmt.get()))) {
        last_error_ = s.stmt.error_text(op, "Execute statement error");
        s.stmt.close_cursor();
        return -1;
    }
    const SQLRETURN f = SQLFetch(s.stmt.get());
    if (f == SQL_NO_DATA) {
        s.stmt.close_cursor();
        return 0;
    }
    if (!odbc_ok(f)) {
        last_error_ = s.stmt.error_text(op, "Fetch data error");
        s.stmt.close_cursor();
        return -1;
    }
    return read_text(s, op, out);
}

int ResponseQueries::read_text(Select& s, const char* op, std::string& out) {
    char probe[1] = {};
    SQLLEN total = 0;
    SQLRETURN r = SQLGetData(s.stmt.get(), 1, SQL_C_CHAR, probe, sizeof probe, &total);
    if (!odbc_step_ok(r)) {
        last_error_ = s.stmt.error_text(op, "Get data size error");
        s.stmt.close_cursor();
        return -1;
    }
    if (r == SQL_NO_DATA || total == SQL_NULL_DATA) {
        s.stmt.close_cursor();
        return r == SQL_NO_DATA ? 1 : 0;  // an empty text is a (blank) response
    }
    // Without a total length (SQL_NO_TOTAL) read in fixed pieces until the driver says
    // there is no more.
    const size_t piece = total >= 0 ? static_cast<size_t>(total) + 1 : 65536;
    std::vector<char> buf(piece, '\0');
    for (;;) {
        SQLLEN ind = 0;
        r = SQLGetData(s.stmt.get(), 1, SQL_C_CHAR, buf.data(), static_cast<SQLLEN>(buf.size()),
                       &ind);
        if (r == SQL_NO_DATA) break;
        if (!odbc_ok(r)) {
            last_error_ = s.stmt.error_text(op, "Get data error");
            s.stmt.close_cursor();
            return -1;
        }
        const size_t got =
            (ind == SQL_NO_TOTAL || ind < 0 || static_cast<size_t>(ind) >= buf.size())
                ? buf.size() - 1
                : static_cast<size_t>(ind);
        out.append(buf.data(), got);
        if (r == SQL_SUCCESS)
            break;  // the last piece; some drivers never answer SQL_NO_DATA after it
    }
    s.stmt.close_cursor();
    return 1;
}

}  // namespace zelvik::db
