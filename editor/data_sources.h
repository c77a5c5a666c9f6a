// What the machine's ODBC driver manager knows: its data sources (system ones first),
// its drivers and the odbc.ini files in effect, for the data source page and the box
// that stands in for a missing ODBC administrator.
#pragma once

#include <string>
#include <vector>

namespace zelvik::editor {

struct DataSource {
    std::string name;
    bool system = false;  // a system data source, else a user one
};

inline constexpr size_t kMaxDataSources = 256;

// The system data sources, then the user ones, as SQLDataSources lists them (at most
// kMaxDataSources in all). Empty when no ODBC environment can be made.
std::vector<DataSource> enumerate_data_sources();

// The line the page shows: the name followed by " (System DSN)" or " (User DSN)".
std::string data_source_line(const DataSource& source);
// A line without its kind suffix (" (System DSN)" / " (User DSN)" and what follows).
std::string strip_kind_suffix(const std::string& line);
// Index of the first line that begins with `data_source` without regard to case, -1
// when none does.
int find_data_source_line(const std::vector<std::string>& lines, const std::string& data_source);

// Names of the installed ODBC drivers (SQLDrivers).
std::vector<std::string> installed_drivers();
// The odbc.ini files the driver manager reads: the user file and the system one, as
// ODBCINI / ODBCSYSINI or unixODBC's defaults name them.
std::vector<std::string> odbc_ini_files();

// The text of the box shown when no ODBC configuration program is installed.
std::string odbc_configuration_help();

}  // namespace zelvik::editor
