// StoreCatalog: every table and column of the waveform store by its default upper-case
// name, and the name as this database writes it. All SQL text takes its names from
// here; build() re-resolves them against the database at every connect.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik::db {

class OdbcConnection;

enum class Table : int {
    kFilelist,
    kSitechan,
    kSite,
    kOrigin,
    kNetworks,
    kLastid,
    kIdSens,
    kIdFreq,
    kGeographicRegion,
    kEventlist,
    kEarthquake,
    kContreg,
    kCalibration,
    kArrival,
    kPicks,  // refined onsets; written only where the store has the table
};
inline constexpr int kTableCount = 15;

class StoreCatalog {
public:
    StoreCatalog();  // default names

    // Resets to the defaults, then adopts the table and column names as the database
    // on `conn` writes them (compared in upper case). Never fails: what cannot be
    // looked up keeps its default. EVENTLIST's AMP and PER always keep theirs.
    void build(const OdbcConnection& conn);
    void reset();

    // Table name as resolved.
    const std::string& table(Table t) const;
    // Whether the last build() found the table in the database (any letter case).
    bool found(Table t) const { return tables_[static_cast<size_t>(t)].found; }
    // Column name as resolved; `default_name` is the upper-case default (e.g. "TBEGIN").
    // A name the table does not have is a programming error (asserts; returns it as given).
    const std::string& column(Table t, std::string_view default_name) const;
    // Default column names of a table, in catalogue order.
    static std::vector<std::string_view> default_columns(Table t);
    static std::string_view default_table(Table t);

private:
    struct Descriptor {
        std::string name;
        std::vector<std::string> columns;  // parallel to default_columns()
        bool found = false;                // listed by the database at the last build()
    };
    void resolve_tables(const OdbcConnection& conn);
    void resolve_columns(const OdbcConnection& conn, Table t);

    std::array<Descriptor, kTableCount> tables_;
    std::string missing_;  // returned for an unknown column
};

}  // namespace zelvik::db
