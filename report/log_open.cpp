// The log opener: makes the configured directory, then points common's writer at it.
// Only this part knows the settings file, so every library may write log lines
// without linking the reporting library.
#include "report/log_open.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/log.h"
#include "common/text.h"
#include "config/connection_config.h"

namespace zelvik::report {

namespace {

// Creates `configured` level by level. An absolute path stays absolute; an empty one
// means the current directory. Fails unless the result is a writable directory.
bool make_directory(const std::string& configured, std::string& built) {
    built.clear();
    if (!configured.empty() && configured.front() == '/') built.push_back('/');
    size_t pos = 0;
    while (pos < configured.size()) {
        size_t slash = configured.find('/', pos);
        if (slash == std::string::npos) slash = configured.size();
        if (slash > pos) {
            built += configured.substr(pos, slash - pos) + "/";
            if (::mkdir(built.c_str(), 0777) != 0 && errno != EEXIST) return false;
        }
        pos = slash + 1;
    }
    if (built.empty()) built = "./";
    struct stat st {};
    return ::stat(built.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(built.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

bool log_open(config::ConnectionConfig& settings) {
    settings.load_log_section();
    std::string built;
    const bool ok = make_directory(settings.log_directory(), built);
    common::log_use_directory(ok ? built : std::string(),
                              ok && common::iequals(settings.log_level(), "DEBUG"));
    return ok;
}

}  // namespace zelvik::report
