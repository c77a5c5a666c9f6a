// EventBatchQueries: the event list statements for many rows at once, so that a pass's
// rows cost a few round trips to a server instead of two per row: which of up to
// kMaxRows rows exist already, and the insert of up to kMaxRows rows. One statement per
// power-of-two row count, each prepared on first use. Internal to the db library;
// WaveStore calls it under its lock.
#pragma once

#include <cstddef>
#include <string>

#include "db/event_row.h"
#include "db/odbc_handle.h"

namespace zelvik::db {

class StoreCatalog;

class EventBatchQueries {
public:
    static constexpr size_t kMaxRows = 64;

    // Keeps `conn` and `catalog`, which must outlive this set; prepares nothing yet.
    void attach(const OdbcConnection& conn, const StoreCatalog& catalog);

    // exists[i] := whether a row of rows[i]'s station and onset (EVENT_TYPE 1) is stored,
    // for every i < count (any count: split into statements of at most kMaxRows rows).
    // Station codes must fit 7 characters. @retval false statement error (last_error()).
    [[nodiscard]] bool find(const EventRow* rows, size_t count, bool* exists);
    // Inserts rows[0..count), LDDATE the current UTC time. @retval false as find().
    [[nodiscard]] bool insert(const EventRow* rows, size_t count);

    const std::string& last_error() const { return last_error_; }

private:
    static constexpr int kSizes = 7;      // statements of 1, 2, 4, ..., 64 rows
    static int size_index(size_t count);  // the largest power of two not above count
    bool find_chunk(const EventRow* rows, size_t count, bool* exists);
    bool insert_chunk(const EventRow* rows, size_t count);
    bool ready(OdbcStatement& st, const char* op, const std::string& sql);
    bool bind_find(OdbcStatement& st, size_t count);
    bool bind_insert(OdbcStatement& st, size_t count);
    bool bind(OdbcStatement& st, const char* op, SQLUSMALLINT n, SQLSMALLINT c_type,
              SQLSMALLINT sql_type, SQLULEN size, void* value, SQLLEN length, SQLLEN* ind);
    std::string find_sql(size_t count) const;
    std::string insert_sql(size_t count) const;

    const OdbcConnection* conn_ = nullptr;
    const StoreCatalog* catalog_ = nullptr;
    std::string last_error_;
    OdbcStatement find_[kSizes];
    OdbcStatement insert_[kSizes];

    // Parameter buffers of both kinds, row by row.
    SQLINTEGER position_[kMaxRows] = {};  // a row's place in its chunk, answered by find
    char sta_[kMaxRows][8] = {};
    SQLLEN sta_ind_[kMaxRows] = {};
    double onset_[kMaxRows] = {};
    double amp_[kMaxRows] = {};
    double per_[kMaxRows] = {};
    SQL_TIMESTAMP_STRUCT written_[kMaxRows] = {};
    SQLLEN written_ind_[kMaxRows] = {};
    SQLLEN zero_ind_ = 0;   // indicator of every fixed-size parameter
    SQLINTEGER found_ = 0;  // result column of find
    SQLLEN found_ind_ = 0;
};

}  // namespace zelvik::db
