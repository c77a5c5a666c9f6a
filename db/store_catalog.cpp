// Default table and column names and their resolution against the database's own
// spelling. A resolved name equals its default in upper case, so it keeps its length.
#include "db/store_catalog.h"

#include <cassert>
#include <cstring>

#include "common/text.h"
#include "db/odbc_handle.h"

namespace zelvik::db {
namespace {

struct TableDefault {
    const char* name;
    std::vector<std::string_view> columns;
};

const std::array<TableDefault, kTableCount>& defaults() {
    static const std::array<TableDefault, kTableCount> kDefaults = {{
        {"FILELIST",
         {"NINDEX", "STA", "TBEGIN", "TQTY", "SPS", "GAIN", "CPATH", "COMMENT", "DATATYPE", "CH",
          "CREATER", "LDDATE", "FOFF", "CALIB", "CALPER", "LCODE", "TEND"}},
        {"SITECHAN",
         {"NINDEX", "STA", "CHAN", "NGROUP", "CHANINDEX", "EDEPTH", "LAT", "LON", "SPS", "HANG",
          "VANG", "DESCR", "CALIBFILE", "LDDATE", "LCODE"}},
        {"SITE",
         {"NINDEX", "STA", "NGROUPS", "ELEV", "LAT", "LON", "DESCR", "LDDATE", "DNORTH", "DEAST",
          "REFSTA"}},
        {"ORIGIN",
         {"EVENTID", "LAT", "LON", "EDEPTH", "ORIGINTIME", "RMS", "DH", "DZ", "COMMENT", "LDDATE",
          "ORID", "MB", "MBUNC", "MS", "MSUNC"}},
        {"NETWORKS", {"NINDEX", "NETNAME", "NETTYPE", "NETLIST", "LDDATE"}},
        {"LASTID", {"KEYNAME", "KEYVALUE", "LDDATE"}},
        {"ID_SENS", {"ID_SENS", "SENS_UNITS", "CALIB_UNITS"}},
        {"ID_FREQ", {"ID_FREQ", "FREQ_UNITS"}},
        {"GEOGRAPHIC_REGION", {"COD2", "REGION", "NAME", "COMMENT"}},
        {"EVENTLIST", {"NINDEX", "STA", "TBEGIN", "EVENT_TYPE", "AMP", "PER", "LDDATE"}},
        {"EARTHQUAKE",
         {"N", "NINYEAR", "REGION", "DATE_IDC", "DS", "LAT", "LON", "DEPTH", "MS", "MPV", "I0",
          "COM", "FEEL", "RTIME", "NSTA", "NMB", "NMS", "NCSEM"}},
        {"CONTREG", {"LAT1", "LON1", "LAT2", "LON2", "NAME", "EPN"}},
        {"CALIBRATION",
         {"NETWORK", "LOCATION", "STA", "CHAN", "STARTDATE", "ENDDATE", "SENS", "ID_SENS", "FREQ",
          "ID_FREQ", "SAC", "FAP", "LDDATE"}},
        {"ARRIVAL", {"NINDEX", "FLAG",   "EVENTID",   "NUMB",   "STA",      "CHAN",     "IPHASE",
                     "ITIME",  "DELTIM", "AZIMUTH",   "SLOW",   "EMA",      "RECT",     "FM",
                     "IM_EM",  "PER",    "RESIDUALS", "AMPL",   "LDDATE",   "WGT",      "ARID",
                     "MS",     "MB",     "AMPTIME",   "DIST",   "CODA",     "REGCLASS", "MCODA",
                     "MPSP",   "MPLP",   "CHANTYPE",  "REMARK", "AFILTYPE", "PFILTYPE", "MWA"}},
        {"PICKS", {"STA", "CH", "LCODE", "TONSET", "TPICK", "GRADE", "SNR", "LDDATE"}},
    }};
    return kDefaults;
}

// The store's amplitude and period columns of EVENTLIST are always written by their
// default names; only these take part in its column resolution.
bool takes_part(Table t, std::string_view column) {
    if (t != Table::kEventlist) return true;
    return column != "AMP" && column != "PER";
}

std::string fetched_text(const SQLCHAR* buf, SQLLEN ind, size_t cap) {
    if (ind == SQL_NULL_DATA) return {};
    return std::string(reinterpret_cast<const char*>(buf),
                       strnlen(reinterpret_cast<const char*>(buf), cap));
}

}  // namespace

StoreCatalog::StoreCatalog() {
    reset();
}

void StoreCatalog::reset() {
    for (int i = 0; i < kTableCount; ++i) {
        const auto& d = defaults()[static_cast<size_t>(i)];
        tables_[static_cast<size_t>(i)].name = d.name;
        tables_[static_cast<size_t>(i)].found = false;
        tables_[static_cast<size_t>(i)].columns.assign(d.columns.begin(), d.columns.end());
    }
}

std::string_view StoreCatalog::default_table(Table t) {
    return defaults()[static_cast<size_t>(t)].name;
}

std::vector<std::string_view> StoreCatalog::default_columns(Table t) {
    return defaults()[static_cast<size_t>(t)].columns;
}

const std::string& StoreCatalog::table(Table t) const {
    return tables_[static_cast<size_t>(t)].name;
}

const std::string& StoreCatalog::column(Table t, std::string_view default_name) const {
    const auto& cols = defaults()[static_cast<size_t>(t)].columns;
    for (size_t i = 0; i < cols.size(); ++i) {
        if (cols[i] == default_name) return tables_[static_cast<size_t>(t)].columns[i];
    }
    assert(false && "column not in catalogue");
    return missing_;
}

void StoreCatalog::build(const OdbcConnection& conn) {
    reset();
    resolve_tables(conn);
    for (int i = 0; i < kTableCount; ++i) resolve_columns(conn, static_cast<Table>(i));
}

void StoreCatalog::resolve_tables(const OdbcConnection& conn) {
    OdbcStatement st(conn);
    if (!st.valid()) return;
    SQLCHAR type[] = "'TABLE'";
    if (SQLTables(st.get(), nullptr, 0, nullptr, 0, nullptr, 0, type, SQL_NTS) == SQL_ERROR) return;
    SQLCHAR buf[64] = {};
    SQLLEN ind = 0;
    SQLBindCol(st.get(), 3, SQL_C_CHAR, buf, sizeof buf, &ind);
    for (;;) {
        const SQLRETURN r = SQLFetch(st.get());
        if (!odbc_ok(r)) break;
        const std::string as_written = fetched_text(buf, ind, sizeof buf);
        const std::string upper = common::to_upper(as_written);
        for (int i = 0; i < kTableCount; ++i) {
            if (upper == defaults()[static_cast<size_t>(i)].name) {
                tables_[static_cast<size_t>(i)].name = as_written;
                tables_[static_cast<size_t>(i)].found = true;
                break;
            }
        }
    }
    st.close_cursor();
}

void StoreCatalog::resolve_columns(const OdbcConnection& conn, Table t) {
    OdbcStatement st(conn);
    if (!st.valid()) return;
    auto& desc = tables_[static_cast<size_t>(t)];
    auto* name = reinterpret_cast<SQLCHAR*>(desc.name.data());
    if (SQLColumns(st.get(), nullptr, 0, nullptr, 0, name, SQL_NTS, nullptr, 0) == SQL_ERROR)
        return;
    SQLCHAR buf[64] = {};
    SQLLEN ind = 0;
    SQLBindCol(st.get(), 4, SQL_C_CHAR, buf, sizeof buf, &ind);
    const auto& cols = defaults()[static_cast<size_t>(t)].columns;
    while (odbc_ok(SQLFetch(st.get()))) {
        const std::string as_written = fetched_text(buf, ind, sizeof buf);
        const std::string upper = common::to_upper(as_written);
        for (size_t i = 0; i < cols.size(); ++i) {
            if (upper == cols[i] && takes_part(t, cols[i])) {
                desc.columns[i] = as_written;
                break;
            }
        }
    }
    st.close_cursor();
}

}  // namespace zelvik::db
