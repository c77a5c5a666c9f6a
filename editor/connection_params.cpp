// Resolution of the editor's starting connection values. Keys on the command line
// match in any case; their values are kept exactly as typed.
#include "editor/connection_params.h"

#include <sys/stat.h>

#include "common/text.h"
#include "config/connection_config.h"
#include "config/ini_file.h"
#include "editor/command_line.h"

namespace zelvik::editor {
namespace {

namespace ini = config::ini;

bool from_command_line(const std::vector<std::string>& arguments, ConnectionParams& p) {
    const std::vector<std::string> tail = connection_tail(arguments);
    struct Slot {
        const char* key;
        std::string* value;
    };
    const Slot slots[] = {{"ODBC=", &p.data_source},
                          {"USER=", &p.user},
                          {"PASSWORD=", &p.password},
                          {"DATA=", &p.data_dir}};
    size_t taken = 0;
    for (const Slot& slot : slots) {
        if (taken >= tail.size() || !common::istarts_with(tail[taken], slot.key)) break;
        *slot.value = tail[taken].substr(tail[taken].find('=') + 1);
        ++taken;
    }
    return taken > 0;
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool from_file(const std::string& path, ConnectionParams& p) {
    if (!file_exists(path)) return false;
    p.data_source = ini::read_string(path, "DATABASE", "ODBC", "", kDataSourceCapacity);
    p.user = ini::read_string(path, "DATABASE", "USER", "", kUserCapacity);
    p.password = ini::read_string(path, "DATABASE", "PASSWORD", "", kPasswordCapacity);
    p.data_dir = ini::read_string(path, "DATA", "DIR", "", kDataDirCapacity);
    return !p.data_source.empty();
}

}  // namespace

ConnectionParams bounded(ConnectionParams p) {
    p.data_source = common::truncate_to_capacity(p.data_source, kDataSourceCapacity);
    p.user = common::truncate_to_capacity(p.user, kUserCapacity);
    p.password = common::truncate_to_capacity(p.password, kPasswordCapacity);
    p.data_dir = common::truncate_to_capacity(p.data_dir, kDataDirCapacity);
    return p;
}

ConnectionParams resolve_connection_params(const ConnectionSources& sources) {
    ConnectionParams p;
    if (from_command_line(sources.arguments, p)) return bounded(p);
    p = {};
    if (from_file(sources.local_file, p)) return p;
    p = {};
    if (from_file(sources.qsx_file, p)) return p;
    return {config::kDefaultQsxOdbc, config::kDefaultQsxUser, config::kDefaultQsxPassword,
            config::kDefaultQsxDataDir};
}

}  // namespace zelvik::editor
