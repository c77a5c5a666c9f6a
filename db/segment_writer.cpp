// Statements of the segment writer. Each call copies its values into the buffers bound
// at prepare() and executes; nothing is committed here but in commit().
#include "db/segment_writer.h"

#include <cstdio>

#include "db/odbc_handle.h"
#include "db/store_catalog.h"

namespace zelvik::db {

struct SegmentWriter::Statements {
    OdbcStatement find, insert, chan_find, chan_insert, forget, extend, last, overlap;
    char sta[8] = {}, chan[8] = {}, loc[8] = {}, creater[16] = {};
    char cpath[1024] = {};
    double lo = 0, hi = 0, tbegin = 0, tqty = 0, sps = 0, tend = 0;
    SQLSMALLINT datatype = 0;
    SQLBIGINT foff = 0;
    SQL_TIMESTAMP_STRUCT lddate = {};
    SQLLEN nts = SQL_NTS, zero = 0;
    // results of `find`
    double found_tbegin = 0, found_tqty = 0;
    char found_loc[8] = {};
    char found_cpath[1024] = {};
    SQLLEN found_ind[4] = {};
    char forget_cpath[1024] = {};
    // results of `last` and `overlap`
    double last_tbegin = 0, last_tqty = 0, last_sps = 0;
    SQLSMALLINT last_datatype = 0;
    SQLBIGINT last_foff = 0;
    char last_cpath[1024] = {};
    SQLLEN last_ind[6] = {};
    SQLBIGINT overlaps = 0;
    SQLLEN overlaps_ind = 0;
};

namespace {

template <size_t N>
void copy_text(char (&dst)[N], std::string_view src) {
    std::snprintf(dst, N, "%.*s", static_cast<int>(src.size()), src.data());
}

}  // namespace

SegmentWriter::SegmentWriter(const OdbcConnection& conn, const StoreCatalog& catalog,
                             std::string operation, std::string creator)
    : conn_(conn),
      catalog_(catalog),
      operation_(std::move(operation)),
      st_(std::make_unique<Statements>()) {
    copy_text(st_->creater, creator);
}

SegmentWriter::~SegmentWriter() = default;

bool SegmentWriter::prepare() {
    Statements& s = *st_;
    if (!odbc_ok(SQLSetConnectAttr(conn_.get(), SQL_ATTR_AUTOCOMMIT,
                                   reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
        error_ =
            odbc_error_text("prepare", "cannot switch autocommit off", SQL_HANDLE_DBC, conn_.get());
        return false;
    }
    const Table f = Table::kFilelist, c = Table::kSitechan;
    auto fc = [&](const char* n) { return catalog_.column(f, n); };
    auto cc = [&](const char* n) { return catalog_.column(c, n); };
    auto text = [&](OdbcStatement& st, SQLUSMALLINT n, char* buf, SQLLEN size) {
        SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                         static_cast<SQLULEN>(size - 1), 0, buf, size, &s.nts);
    };
    auto dbl = [&](OdbcStatement& st, SQLUSMALLINT n, double* v) {
        SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, v, 0,
                         &s.zero);
    };
    auto stamp = [&](OdbcStatement& st, SQLUSMALLINT n) {
        SQLBindParameter(st.get(), n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19,
                         0, &s.lddate, 0, &s.zero);
    };
    // "??" stands for no location, which older rows may hold as NULL.
    const std::string loc_match =
        "(" + fc("LCODE") + "=? or (" + fc("LCODE") + " is null and ?='?\?'))";
    const struct {
        OdbcStatement* st;
        std::string sql;
    } texts[] = {
        {&s.find, "select " + fc("TBEGIN") + "," + fc("TQTY") + "," + fc("LCODE") + "," +
                      fc("CPATH") + " from " + catalog_.table(f) + " where " + fc("STA") +
                      "=? and " + fc("CH") + "=? and " + fc("TBEGIN") + ">? and " + fc("TBEGIN") +
                      "<?"},
        // A row whose data file is gone: matched by the same window (the driver may
        // round the stored TBEGIN) and its path.
        {&s.forget, "delete from " + catalog_.table(f) + " where " + fc("STA") + "=? and " +
                        fc("CH") + "=? and " + fc("TBEGIN") + ">? and " + fc("TBEGIN") + "<? and " +
                        fc("CPATH") + "=?"},
        {&s.insert, "insert into " + catalog_.table(f) + " (" + fc("STA") + "," + fc("CH") + "," +
                        fc("LCODE") + "," + fc("TBEGIN") + "," + fc("TQTY") + "," + fc("SPS") +
                        "," + fc("DATATYPE") + "," + fc("FOFF") + "," + fc("CPATH") + "," +
                        fc("TEND") + "," + fc("CREATER") + "," + fc("LDDATE") +
                        ") values (?,?,?,?,?,?,?,?,?,?,?,?)"},
        // Live streams: the row being extended is found by its start, to a microsecond.
        {&s.extend, "update " + catalog_.table(f) + " set " + fc("TQTY") + "=?," + fc("TEND") +
                        "=? where " + fc("STA") + "=? and " + fc("CH") + "=? and " + loc_match +
                        " and " + fc("TBEGIN") + ">? and " + fc("TBEGIN") + "<?"},
        {&s.last, "select " + fc("TBEGIN") + "," + fc("TQTY") + "," + fc("SPS") + "," +
                      fc("DATATYPE") + "," + fc("FOFF") + "," + fc("CPATH") + " from " +
                      catalog_.table(f) + " where " + fc("STA") + "=? and " + fc("CH") + "=? and " +
                      loc_match + " order by " + fc("TBEGIN") + " desc"},
        {&s.overlap, "select count(*) from " + catalog_.table(f) + " where " + fc("STA") +
                         "=? and " + fc("CH") + "=? and " + loc_match + " and " + fc("TBEGIN") +
                         "<? and " + fc("TBEGIN") + "+" + fc("TQTY") + ">?"},
        {&s.chan_find, "select " + cc("SPS") + " from " + catalog_.table(c) + " where " +
                           cc("STA") + "=? and " + cc("CHAN") + "=? and " + cc("LCODE") + "=?"},
        {&s.chan_insert, "insert into " + catalog_.table(c) + " (" + cc("STA") + "," + cc("CHAN") +
                             "," + cc("LCODE") + "," + cc("SPS") + "," + cc("LDDATE") +
                             ") values (?,?,?,?,?)"},
    };
    for (const auto& t : texts) {
        *t.st = OdbcStatement(conn_);
        if (!t.st->valid() || !odbc_ok(t.st->prepare(t.sql))) {
            error_ = t.st->error_text("prepare", "cannot prepare \"" + t.sql + "\"");
            return false;
        }
    }
    text(s.find, 1, s.sta, 8), text(s.find, 2, s.chan, 8), dbl(s.find, 3, &s.lo),
        dbl(s.find, 4, &s.hi);
    SQLBindCol(s.find.get(), 1, SQL_C_DOUBLE, &s.found_tbegin, 0, &s.found_ind[0]);
    SQLBindCol(s.find.get(), 2, SQL_C_DOUBLE, &s.found_tqty, 0, &s.found_ind[1]);
    SQLBindCol(s.find.get(), 3, SQL_C_CHAR, s.found_loc, sizeof s.found_loc, &s.found_ind[2]);
    SQLBindCol(s.find.get(), 4, SQL_C_CHAR, s.found_cpath, sizeof s.found_cpath, &s.found_ind[3]);
    text(s.forget, 1, s.sta, 8), text(s.forget, 2, s.chan, 8), dbl(s.forget, 3, &s.lo),
        dbl(s.forget, 4, &s.hi), text(s.forget, 5, s.forget_cpath, sizeof s.forget_cpath);
    text(s.insert, 1, s.sta, 8), text(s.insert, 2, s.chan, 8), text(s.insert, 3, s.loc, 8);
    dbl(s.insert, 4, &s.tbegin), dbl(s.insert, 5, &s.tqty), dbl(s.insert, 6, &s.sps);
    SQLBindParameter(s.insert.get(), 7, SQL_PARAM_INPUT, SQL_C_SSHORT, SQL_SMALLINT, 0, 0,
                     &s.datatype, 0, &s.zero);
    SQLBindParameter(s.insert.get(), 8, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &s.foff,
                     0, &s.zero);
    text(s.insert, 9, s.cpath, sizeof s.cpath), dbl(s.insert, 10, &s.tend);
    text(s.insert, 11, s.creater, sizeof s.creater), stamp(s.insert, 12);
    text(s.chan_find, 1, s.sta, 8), text(s.chan_find, 2, s.chan, 8), text(s.chan_find, 3, s.loc, 8);
    text(s.chan_insert, 1, s.sta, 8), text(s.chan_insert, 2, s.chan, 8),
        text(s.chan_insert, 3, s.loc, 8);
    dbl(s.chan_insert, 4, &s.sps), stamp(s.chan_insert, 5);
    dbl(s.extend, 1, &s.tqty), dbl(s.extend, 2, &s.tend), text(s.extend, 3, s.sta, 8),
        text(s.extend, 4, s.chan, 8), text(s.extend, 5, s.loc, 8), text(s.extend, 6, s.loc, 8),
        dbl(s.extend, 7, &s.lo), dbl(s.extend, 8, &s.hi);
    text(s.last, 1, s.sta, 8), text(s.last, 2, s.chan, 8), text(s.last, 3, s.loc, 8),
        text(s.last, 4, s.loc, 8);
    SQLBindCol(s.last.get(), 1, SQL_C_DOUBLE, &s.last_tbegin, 0, &s.last_ind[0]);
    SQLBindCol(s.last.get(), 2, SQL_C_DOUBLE, &s.last_tqty, 0, &s.last_ind[1]);
    SQLBindCol(s.last.get(), 3, SQL_C_DOUBLE, &s.last_sps, 0, &s.last_ind[2]);
    SQLBindCol(s.last.get(), 4, SQL_C_SSHORT, &s.last_datatype, 0, &s.last_ind[3]);
    SQLBindCol(s.last.get(), 5, SQL_C_SBIGINT, &s.last_foff, 0, &s.last_ind[4]);
    SQLBindCol(s.last.get(), 6, SQL_C_CHAR, s.last_cpath, sizeof s.last_cpath, &s.last_ind[5]);
    text(s.overlap, 1, s.sta, 8), text(s.overlap, 2, s.chan, 8), text(s.overlap, 3, s.loc, 8),
        text(s.overlap, 4, s.loc, 8), dbl(s.overlap, 5, &s.hi), dbl(s.overlap, 6, &s.lo);
    SQLBindCol(s.overlap.get(), 1, SQL_C_SBIGINT, &s.overlaps, 0, &s.overlaps_ind);
    return true;
}

bool SegmentWriter::extend_segment(const SegmentRecord& segment) {
    Statements& s = *st_;
    copy_code(s.sta, segment.station), copy_code(s.chan, segment.channel),
        copy_code(s.loc, segment.location);
    s.tqty = segment.tqty;
    s.tend = segment.tbegin + segment.tqty;
    s.lo = segment.tbegin - 1e-6;
    s.hi = segment.tbegin + 1e-6;
    SQLLEN rows = 0;
    if (odbc_ok(SQLExecute(s.extend.get())) && odbc_ok(SQLRowCount(s.extend.get(), &rows)) &&
        rows >= 1)
        return true;
    error_ = rows == 0 ? "[" + operation_ + "] the FILELIST row of the growing segment is gone"
                       : s.extend.error_text(operation_, "cannot extend the FILELIST row");
    return false;
}

int SegmentWriter::last_segment(std::string_view station, std::string_view channel,
                                std::string_view location, SegmentRecord& out) {
    Statements& s = *st_;
    copy_code(s.sta, station), copy_code(s.chan, channel), copy_code(s.loc, location);
    if (!odbc_ok(SQLExecute(s.last.get()))) {
        error_ = s.last.error_text(operation_, "cannot look up the channel's last segment");
        return -1;
    }
    const SQLRETURN r = SQLFetch(s.last.get());
    s.last.close_cursor();
    if (r == SQL_NO_DATA) return 0;
    if (!odbc_ok(r)) {
        error_ = s.last.error_text(operation_, "cannot look up the channel's last segment");
        return -1;
    }
    const bool null_any = s.last_ind[0] == SQL_NULL_DATA || s.last_ind[1] == SQL_NULL_DATA ||
                          s.last_ind[2] == SQL_NULL_DATA;
    out.tbegin = null_any ? 0 : s.last_tbegin;
    out.tqty = null_any ? 0 : s.last_tqty;
    out.sps = null_any ? 0 : s.last_sps;
    out.datatype = s.last_ind[3] == SQL_NULL_DATA ? int16_t{-1} : s.last_datatype;
    out.foff = s.last_ind[4] == SQL_NULL_DATA ? 0 : s.last_foff;
    out.cpath = s.last_ind[5] == SQL_NULL_DATA ? "" : s.last_cpath;
    return 1;
}

int SegmentWriter::holds(std::string_view station, std::string_view channel,
                         std::string_view location, double begin, double end) {
    Statements& s = *st_;
    copy_code(s.sta, station), copy_code(s.chan, channel), copy_code(s.loc, location);
    s.lo = begin;
    s.hi = end;
    s.overlaps = 0;
    SQLRETURN r = SQL_ERROR;
    if (odbc_ok(SQLExecute(s.overlap.get()))) {
        r = SQLFetch(s.overlap.get());
        s.overlap.close_cursor();
    }
    if (!odbc_ok(r)) {
        error_ = s.overlap.error_text(operation_, "cannot look for stored data");
        return -1;
    }
    return s.overlaps > 0 ? 1 : 0;
}

bool SegmentWriter::find_segments(std::string_view station, std::string_view channel, double lo,
                                  double hi, std::vector<StoredSegment>& out) {
    Statements& s = *st_;
    out.clear();
    copy_code(s.sta, station), copy_code(s.chan, channel);
    s.lo = lo;
    s.hi = hi;
    SQLRETURN r = SQL_ERROR;
    if (odbc_ok(SQLExecute(s.find.get()))) {
        while (odbc_ok(r = SQLFetch(s.find.get()))) {
            out.push_back({s.found_tbegin, s.found_tqty,
                           s.found_ind[2] == SQL_NULL_DATA ? "??" : s.found_loc,
                           s.found_ind[3] == SQL_NULL_DATA ? "" : s.found_cpath});
        }
        s.find.close_cursor();
    }
    if (r == SQL_NO_DATA) return true;
    error_ = s.find.error_text(operation_, "cannot look for existing segments");
    return false;
}

bool SegmentWriter::forget_segment(std::string_view station, std::string_view channel, double lo,
                                   double hi, std::string_view cpath) {
    Statements& s = *st_;
    copy_code(s.sta, station), copy_code(s.chan, channel);
    s.lo = lo;
    s.hi = hi;
    copy_text(s.forget_cpath, cpath);
    if (odbc_ok(SQLExecute(s.forget.get()))) return true;
    // Reported as part of the look-up that found the row.
    error_ = s.find.error_text(operation_, "cannot look for existing segments");
    return false;
}

bool SegmentWriter::add_segment(const SegmentRecord& segment) {
    Statements& s = *st_;
    copy_code(s.sta, segment.station), copy_code(s.chan, segment.channel),
        copy_code(s.loc, segment.location);
    s.tbegin = segment.tbegin;
    s.sps = segment.sps;
    s.tqty = segment.tqty;
    s.tend = s.tbegin + s.tqty;
    s.datatype = segment.datatype;
    s.foff = segment.foff;
    copy_text(s.cpath, segment.cpath);
    s.lddate = odbc_timestamp(segment.load_date);
    if (odbc_ok(SQLExecute(s.insert.get()))) return true;
    error_ = s.insert.error_text(operation_, "cannot add the FILELIST row");
    return false;
}

bool SegmentWriter::add_channel(std::string_view station, std::string_view channel,
                                std::string_view location, double sps, int64_t load_date) {
    Statements& s = *st_;
    copy_code(s.sta, station), copy_code(s.chan, channel), copy_code(s.loc, location);
    s.sps = sps;
    s.lddate = odbc_timestamp(load_date);
    if (!odbc_ok(SQLExecute(s.chan_find.get()))) {
        error_ = s.chan_find.error_text(operation_, "cannot look up SITECHAN");
        return false;
    }
    const SQLRETURN r = SQLFetch(s.chan_find.get());
    s.chan_find.close_cursor();
    if (r == SQL_NO_DATA && !odbc_ok(SQLExecute(s.chan_insert.get()))) {
        error_ = s.chan_insert.error_text(operation_, "cannot add the SITECHAN row");
        return false;
    }
    return true;
}

bool SegmentWriter::commit() {
    if (odbc_ok(SQLEndTran(SQL_HANDLE_DBC, conn_.get(), SQL_COMMIT))) return true;
    error_ = odbc_error_text(operation_, "commit failed", SQL_HANDLE_DBC, conn_.get());
    return false;
}

void SegmentWriter::roll_back() {
    SQLEndTran(SQL_HANDLE_DBC, conn_.get(), SQL_ROLLBACK);
}

}  // namespace zelvik::db
