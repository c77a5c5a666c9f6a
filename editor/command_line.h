// ZelvikCfg's command line: an optional settings-file argument and the connection
// overrides "ODBC=", "USER=", "PASSWORD=", "DATA=" (keys in any case, values kept as
// typed, because Linux paths, passwords and data source names are case-sensitive).
#pragma once

#include <string>
#include <vector>

namespace zelvik::editor {

// True when `argument` begins with one of the four connection keys, in any case.
bool is_connection_argument(const std::string& argument);

// The settings file the editor edits. `arguments` is the command line, program name
// first; `current_dir` the working directory. Exactly one argument that is not a
// connection override names the file: an absolute one is used unchanged, a relative
// one is taken from `current_dir`. Any other number gives `current_dir`/zelvik.ini.
std::string resolve_settings_path(const std::vector<std::string>& arguments,
                                  const std::string& current_dir);

// The command-line tail: the arguments from the first one that holds "ODBC=" (in any
// case; that one from the key on), or empty when none does.
std::vector<std::string> connection_tail(const std::vector<std::string>& arguments);

}  // namespace zelvik::editor
