// Connection parameters: command line over zelvik.ini over qsx.ini. Paths are held
// with "/" separators; "\" in any path read from a file or the environment is turned.
#include "config/connection_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "config/ini_file.h"

namespace zelvik::config {

namespace {

constexpr size_t kValueCapacity = 1024;  // 1023 characters, as the file buffers hold

// `dir` followed by "qsx.ini", with a separator between unless `dir` already ends in one.
std::string qsx_in(std::string_view dir) {
    std::string path(dir);
    if (path.empty() || (path.back() != '/' && path.back() != '\\')) path += '/';
    return common::forward_slashes(path + "qsx.ini");
}

std::string program_directory(std::string_view argv0) {
    std::string path = common::forward_slashes(argv0);
    if (path.find('/') == std::string::npos) {
        // Started through PATH: argv[0] carries no directory, so ask the kernel.
        char exe[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) return "./";
        path.assign(exe, static_cast<size_t>(n));
    }
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

std::string default_settings_path(std::string_view argv0) {
    return program_directory(argv0) + "zelvik.ini";
}

std::string settings_file_problem(const std::string& path) {
    // O_NONBLOCK: a FIFO would otherwise hold open() until some writer came.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    std::string problem;
    if (::fstat(fd, &st) != 0) {
        problem = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        problem = std::strerror(EISDIR);
    } else if (!S_ISREG(st.st_mode)) {
        // A device such as /dev/zero reads without end and would pass for a file of
        // no keys; a directory, a FIFO or a socket holds no settings either.
        problem = "not a regular file";
    } else if (static_cast<uint64_t>(st.st_size) > kMaxSettingsFileBytes) {
        problem = "larger than 1 MB (" + std::to_string(st.st_size) + " bytes)";
    } else {
        char byte = 0;
        if (::read(fd, &byte, 1) < 0) problem = std::strerror(errno);
    }
    ::close(fd);
    return problem;
}

std::string default_qsx_path() {
    if (const char* qsx = std::getenv("QSX")) {
        const std::string path = qsx_in(qsx);
        if (::access(path.c_str(), R_OK) == 0) return path;
    }
    // An empty WINDIR counts as unset: it would otherwise put qsx.ini in "/".
    const char* windir = std::getenv("WINDIR");
    return qsx_in(windir != nullptr && *windir != '\0' ? windir : kDefaultSystemDir);
}

ConnectionConfig::ConnectionConfig(std::vector<std::string> arguments, std::string settings_path)
    : arguments_(std::move(arguments)), settings_path_(std::move(settings_path)) {
    if (settings_path_.empty()) {
        settings_path_ = default_settings_path(arguments_.empty() ? "" : arguments_.front());
    }
    qsx_path_ = default_qsx_path();
}

void ConnectionConfig::parse_command_line(bool& use_tend_from_command_line) {
    struct Option {
        const char* prefix;
        std::string* value;
        std::string* label;
    };
    const Option options[] = {
        {"ODBC=", &data_source_, &data_source_label_},
        {"USER=", &user_, &user_label_},
        {"PASSWORD=", &password_, &password_label_},
        {"DATA=", &data_dir_, &data_dir_label_},
    };
    for (size_t i = 1; i < arguments_.size(); ++i) {
        const std::string& arg = arguments_[i];
        // Only the prefix counts: "/use_tendency" switches the flag on as well.
        if (common::istarts_with(arg, "/use_tend") || common::istarts_with(arg, "-use_tend")) {
            use_tend_ = true;
            use_tend_from_command_line = true;
            continue;
        }
        for (const Option& o : options) {
            const std::string_view prefix(o.prefix);
            if (common::istarts_with(arg, prefix)) {
                *o.value = arg.substr(prefix.size());
                *o.label = kLabelCommandLine;
                break;
            }
        }
    }
}

void ConnectionConfig::resolve_from_files(std::string& value, std::string& label,
                                          std::string_view section, std::string_view key,
                                          std::string_view qsx_default) {
    if (!value.empty()) return;
    value = ini::read_string(settings_path_, section, key, "", kValueCapacity);
    if (!value.empty()) {
        label = kLabelLocalIni;
        return;
    }
    value = ini::read_string(qsx_path_, section, key, qsx_default, kValueCapacity);
    label = kLabelQsxIni;
}

void ConnectionConfig::resolve_connection() {
    data_source_.clear();
    user_.clear();
    password_.clear();
    data_dir_.clear();
    data_source_label_.clear();
    user_label_.clear();
    password_label_.clear();
    data_dir_label_.clear();
    use_tend_ = false;

    bool use_tend_from_command_line = false;
    parse_command_line(use_tend_from_command_line);

    resolve_from_files(data_source_, data_source_label_, "DATABASE", "ODBC", kDefaultQsxOdbc);
    resolve_from_files(user_, user_label_, "DATABASE", "USER", kDefaultQsxUser);
    resolve_from_files(password_, password_label_, "DATABASE", "PASSWORD", kDefaultQsxPassword);
    resolve_from_files(data_dir_, data_dir_label_, "DATA", "DIR", kDefaultQsxDataDir);

    if (!use_tend_from_command_line) {
        int number = ini::read_int(settings_path_, "DATABASE", "USE_TEND", -1);
        if (number < 0) number = ini::read_int(qsx_path_, "DATABASE", "USE_TEND", 0);
        if (number > 0) use_tend_ = true;
    }
    data_dir_ = common::forward_slashes(data_dir_);
}

void ConnectionConfig::load_log_section() {
    log_dir_ = common::forward_slashes(
        ini::read_string(settings_path_, "LOG", "DIR", kDefaultLogDir, kValueCapacity));
    log_level_ = ini::read_string(settings_path_, "LOG", "LEVEL", kDefaultLogLevel, kValueCapacity);
}

bool ConnectionConfig::get_param(const char* name, std::string& out) const {
    if (name == nullptr) {
        out = "Unknown param";
        return false;
    }
    return lookup_param(name, out);
}

bool ConnectionConfig::lookup_param(std::string_view name, std::string& out) const {
    const struct {
        const char* name;
        const std::string* value;
    } texts[] = {
        {"odbc", &data_source_},  {"user", &user_},       {"password", &password_},
        {"data_dir", &data_dir_}, {"log_dir", &log_dir_}, {"log_level", &log_level_},
    };
    for (const auto& t : texts) {
        if (common::iequals(name, t.name)) {
            out = *t.value;
            return true;
        }
    }
    if (common::iequals(name, "use_tend")) {
        out.assign(1, use_tend_ ? '1' : '0');
        return true;
    }
    return false;
}

}  // namespace zelvik::config
