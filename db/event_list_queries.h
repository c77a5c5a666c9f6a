// EventListQueries: the three prepared statements on EVENTLIST (delete old rows of
// EVENT_TYPE 1, does a row exist, insert a row). Internal to the db library; WaveStore
// calls it under its lock.
#pragma once

#include <string>
#include <string_view>

#include "db/odbc_handle.h"

namespace zelvik::db {

class StoreCatalog;

class EventListQueries {
public:
    // Prepares bind_del_evlst_data, bind_is_data_exist, bind_ins_evlst_data in order,
    // stopping at the first failure. `conn` and `catalog` must outlive this set.
    [[nodiscard]] bool prepare(const OdbcConnection& conn, const StoreCatalog& catalog);

    [[nodiscard]] bool delete_data(double limit);                    // seconds since 1970
    [[nodiscard]] int is_exist(std::string_view sta, double onset);  // 1, 0, -1
    [[nodiscard]] bool insert_data(std::string_view sta, double onset, double amp, double per);

    const std::string& last_error() const { return last_error_; }

private:
    bool prepare_statement(OdbcStatement& st, const char* op, const std::string& sql);
    bool bind_double(OdbcStatement& st, const char* op, SQLUSMALLINT n, double* value);
    bool bind_text(OdbcStatement& st, const char* op, SQLUSMALLINT n, char* buf, SQLLEN* ind);

    const OdbcConnection* conn_ = nullptr;
    std::string last_error_;

    OdbcStatement del_;
    double del_limit_ = 0;

    OdbcStatement exists_;
    char exists_sta_[8] = {};
    SQLLEN exists_sta_ind_ = SQL_NTS;
    double exists_time_ = 0;

    OdbcStatement ins_;
    char ins_sta_[8] = {};
    SQLLEN ins_sta_ind_ = SQL_NTS;
    double ins_time_ = 0, ins_amp_ = 0, ins_per_ = 0;
    SQL_TIMESTAMP_STRUCT ins_written_ = {};
    SQLLEN ins_written_ind_ = 0;
    SQLLEN zero_ind_ = 0;  // indicator of every double parameter
};

}  // namespace zelvik::db
