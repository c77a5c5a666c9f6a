// StoreConnection: everything one ODBC connection to the store owns, in the order that
// makes C++ release it correctly: environment, connection, then the statements and the
// query sets. A lost connection is dropped whole and never reused. Internal to db/.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "db/event_batch_queries.h"
#include "db/event_list_queries.h"
#include "db/odbc_handle.h"
#include "db/response_queries.h"
#include "db/store_catalog.h"

namespace zelvik::db {

// A select on FILELIST for one channel: the located form has a location parameter, the
// unlocated one matches LCODE '??' or NULL.
struct ChannelQuery {
    OdbcStatement stmt;
    bool located = false;
    char sta[8] = {}, chan[8] = {}, loc[8] = {};
    SQLLEN sta_ind = SQL_NTS, chan_ind = SQL_NTS, loc_ind = SQL_NTS;
    double t0 = 0, t1 = 0, t2 = 0;  // time parameters, in statement order
    SQLLEN zero_ind = 0;

    // Copies the codes (each at most 7 characters) and times into the parameters.
    void set(std::string_view s, std::string_view c, std::string_view l, double a, double b);
    // Prepares `sql` and binds sta, chan, [loc], then `doubles` (at most 3) time parameters.
    bool prepare(const OdbcConnection& conn, const std::string& sql, bool with_loc, int doubles);
};

// The segment select with its result buffers.
struct SegmentQuery : ChannelQuery {
    double tbegin = 0, sps = 0, tqty = 0;
    SQLSMALLINT datatype = 0;
    SQLBIGINT foff = 0;
    char cpath[1024] = {};
    SQLLEN ind[6] = {};
    bool bind_results();
};

// The earliest TBEGIN at or after a time.
struct NextStartQuery : ChannelQuery {
    double first = 0;
    SQLLEN first_ind = 0;
};

class StoreConnection {
public:
    OdbcEnvironment env;
    OdbcConnection dbc{env};
    OdbcStatement probe;
    SegmentQuery located, unlocated;
    NextStartQuery next_located, next_unlocated;
    // Per channel ("sta/chan/loc"): the longest segment (end - TBEGIN, seconds) of the
    // store, found on the first read of this connection and raised by longer rows read
    // since. It bounds the segment select from below.
    std::map<std::string, double> longest_segment;
    EventListQueries events;
    EventBatchQueries event_batches;
    ResponseQueries responses;

    // Prepares the probe; kProbePrepareError (slot left empty) or 0.
    int prepare_probe(const StoreCatalog& c);
    // Prepares the two segment selects with `end_expr` as the segment end, TBEGIN bounded
    // from below by the third time parameter; the unlocated one only when the located one
    // succeeded. kSegmentPrepareError or 0.
    int prepare_segments(const StoreCatalog& c, const std::string& end_expr);
    // Prepares the two next-start selects; false when either failed (slot left empty).
    bool prepare_next_start(const StoreCatalog& c);
};

// "STA=? and <channel>=? and <location rule>" for one channel of FILELIST (channel
// column CH) or SITECHAN (CHAN): the located form compares LCODE with a third
// parameter, the unlocated one matches LCODE '??' or NULL.
std::string channel_condition(const StoreCatalog& c, Table t, bool with_loc);

// True when a code fits the store's columns (at most 7 characters); a longer one can
// match no row.
inline bool fits_code(std::string_view code) {
    return code.size() <= 7;
}

// True when a location means "none": empty or "??".
inline bool unlocated(std::string_view loc) {
    return loc.empty() || loc == "??";
}

}  // namespace zelvik::db
