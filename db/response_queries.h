// ResponseQueries: the eight prepared selects of instrument response texts (SAC or FAP
// column, four ways of matching the channel) and the piecewise reading of a long text.
// Internal to the db library; WaveStore calls it under its lock.
#pragma once

#include <string>
#include <string_view>

#include "db/odbc_handle.h"

namespace zelvik::db {

class StoreCatalog;
struct StoreTimestamp;

class ResponseQueries {
public:
    // Prepares bind_sel_fap_loc_net ... bind_sel_sac_ in order, stopping at the first
    // failure. `conn` and `catalog` must outlive this set. True when all eight are ready.
    [[nodiscard]] bool prepare(const OdbcConnection& conn, const StoreCatalog& catalog);

    // `sac` picks the SAC column, else FAP. Appends the text to `out`.
    // @retval 1 found, 0 no row or NULL, -1 error (last_error()).
    [[nodiscard]] int select(bool sac, std::string_view sta, std::string_view chan,
                             std::string_view loc, std::string_view net, const StoreTimestamp& when,
                             std::string& out);

    const std::string& last_error() const { return last_error_; }

private:
    enum Variant { kLocNet, kLoc, kNet, kPlain, kVariants };
    struct Select {
        OdbcStatement stmt;
        char sta[8] = {}, chan[8] = {}, loc[8] = {}, net[8] = {};
        SQLLEN sta_ind = SQL_NTS, chan_ind = SQL_NTS, loc_ind = SQL_NTS, net_ind = SQL_NTS;
        SQL_TIMESTAMP_STRUCT when = {};
        SQLLEN when_ind = 0;
    };
    bool prepare_one(bool sac, Variant v);
    int read_text(Select& s, const char* op, std::string& out);
    void fail(Select& s, const std::string& text);

    const OdbcConnection* conn_ = nullptr;
    const StoreCatalog* catalog_ = nullptr;
    Select selects_[2][kVariants];  // [0] FAP, [1] SAC
    std::string last_error_;
};

}  // namespace zelvik::db
