// The connection values the data source page edits and a save writes: data source
// name, user, password and data directory. Resolved once, when the page is created:
// command line, then the settings file, then the machine-wide qsx.ini, then defaults.
#pragma once

#include <string>
#include <vector>

namespace zelvik::editor {

struct ConnectionParams {
    std::string data_source;  // [DATABASE] ODBC, at most 511 characters
    std::string user;         // [DATABASE] USER, at most 127
    std::string password;     // [DATABASE] PASSWORD, at most 127; never shown or logged
    std::string data_dir;     // [DATA] DIR, at most 2047

    bool operator==(const ConnectionParams&) const = default;
};

inline constexpr size_t kDataSourceCapacity = 512;
inline constexpr size_t kUserCapacity = 128;
inline constexpr size_t kPasswordCapacity = 128;
inline constexpr size_t kDataDirCapacity = 2048;

// Where the starting values come from.
struct ConnectionSources {
    std::vector<std::string> arguments;  // the command line, program name first
    std::string local_file;              // the settings file being edited
    std::string qsx_file;                // the machine-wide qsx.ini
};

// Stops at the first source that gives a data source name. The command line counts
// when its tail starts with "ODBC=": then "USER=", "PASSWORD=", "DATA=" are taken in
// that order while each token begins with the key expected at its place; members
// without a token stay empty. A file counts when its [DATABASE] ODBC is non-empty and
// gives all four keys. The defaults are QSX / QSX / VEM and the qsx.ini data directory.
ConnectionParams resolve_connection_params(const ConnectionSources& sources);

// The values with every member cut to its capacity.
ConnectionParams bounded(ConnectionParams p);

}  // namespace zelvik::editor
