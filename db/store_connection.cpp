// Preparation of the statements WaveStore runs itself: the probe, the segment selects
// and the next-start selects. Names come from the catalogue, values are parameters.
#include "db/store_connection.h"

#include <cstdio>
#include <cstring>

#include "db/store_catalog.h"
#include "db/store_status.h"

namespace zelvik::db {
std::string channel_condition(const StoreCatalog& c, Table t, bool with_loc) {
    const std::string& lcode = c.column(t, "LCODE");
    std::string s = c.column(t, "STA") + "=? and " +
                    c.column(t, t == Table::kSitechan ? "CHAN" : "CH") + "=? and ";
    s += with_loc ? lcode + "=?" : "(" + lcode + "='?\?' or " + lcode + " is null)";
    return s;
}

void ChannelQuery::set(std::string_view s, std::string_view c, std::string_view l, double a,
                       double b) {
    copy_code(sta, s);
    copy_code(chan, c);
    copy_code(loc, l);
    sta_ind = chan_ind = loc_ind = SQL_NTS;
    t0 = a;
    t1 = b;
}

bool ChannelQuery::prepare(const OdbcConnection& conn, const std::string& sql, bool with_loc,
                           int doubles) {
    stmt = OdbcStatement(conn);
    located = with_loc;
    if (!stmt.valid()) return false;
    if (!odbc_ok(stmt.prepare(sql))) {
        stmt.reset();
        return false;
    }
    // Binding results are not checked: a failed bind shows up at execute.
    SQLUSMALLINT n = 0;
    auto text = [&](char* buf, SQLLEN* ind) {
        SQLBindParameter(stmt.get(), ++n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, buf, 8,
                         ind);
    };
    text(sta, &sta_ind);
    text(chan, &chan_ind);
    if (with_loc) text(loc, &loc_ind);
    double* times[3] = {&t0, &t1, &t2};
    for (int i = 0; i < doubles; ++i)
        SQLBindParameter(stmt.get(), ++n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, times[i],
                         0, &zero_ind);
    return true;
}

bool SegmentQuery::bind_results() {
    SQLHSTMT h = stmt.get();
    SQLBindCol(h, 1, SQL_C_DOUBLE, &tbegin, 0, &ind[0]);
    SQLBindCol(h, 2, SQL_C_DOUBLE, &sps, 0, &ind[1]);
    SQLBindCol(h, 3, SQL_C_DOUBLE, &tqty, 0, &ind[2]);
    SQLBindCol(h, 4, SQL_C_SSHORT, &datatype, 0, &ind[3]);
    SQLBindCol(h, 5, SQL_C_SBIGINT, &foff, 0, &ind[4]);
    SQLBindCol(h, 6, SQL_C_CHAR, cpath, sizeof cpath, &ind[5]);
    return true;
}

int StoreConnection::prepare_probe(const StoreCatalog& c) {
    probe = OdbcStatement(dbc);
    if (!probe.valid()) return kProbePrepareError;
    const std::string sql = "select " + c.column(Table::kFilelist, "TBEGIN") + " from " +
                            c.table(Table::kFilelist) + " where 1=0";
    if (!odbc_ok(probe.prepare(sql))) {
        probe.reset();
        return kProbePrepareError;
    }
    return kOk;
}

int StoreConnection::prepare_segments(const StoreCatalog& c, const std::string& end_expr) {
    const Table f = Table::kFilelist;
    const std::string& tb = c.column(f, "TBEGIN");
    const std::string head = "select " + tb + "," + c.column(f, "SPS") + "," + c.column(f, "TQTY") +
                             "," + c.column(f, "DATATYPE") + "," + c.column(f, "FOFF") + "," +
                             c.column(f, "CPATH") + " from " + c.table(f) + " where ";
    // The lower bound on TBEGIN lets the (STA, CH, TBEGIN) index start near the window
    // instead of at the channel's first row.
    const std::string tail =
        " and " + end_expr + ">? and " + tb + "<? and " + tb + ">? order by " + tb;
    if (!located.prepare(dbc, head + channel_condition(c, f, true) + tail, true, 3))
        return kSegmentPrepareError;
    located.bind_results();
    if (!unlocated.prepare(dbc, head + channel_condition(c, f, false) + tail, false, 3))
        return kSegmentPrepareError;
    unlocated.bind_results();
    return kOk;
}

bool StoreConnection::prepare_next_start(const StoreCatalog& c) {
    const Table f = Table::kFilelist;
    const std::string& tb = c.column(f, "TBEGIN");
    const std::string head = "select min(" + tb + ") from " + c.table(f) + " where ";
    const std::string tail = " and " + tb + ">=?";
    bool ok = true;
    for (NextStartQuery* q : {&next_located, &next_unlocated}) {
        const bool with_loc = q == &next_located;
        if (q->prepare(dbc, head + channel_condition(c, f, with_loc) + tail, with_loc, 1)) {
            SQLBindCol(q->stmt.get(), 1, SQL_C_DOUBLE, &q->first, 0, &q->first_ind);
        } else {
            ok = false;
        }
    }
    return ok;
}

}  // namespace zelvik::db
