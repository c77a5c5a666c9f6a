// Where Zelvik's connection parameters, log directory and log level come from: the
// command line first, then zelvik.ini, then the machine-wide qsx.ini (or its built-in
// defaults). Each connection value remembers which of the three it came from.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik::config {

// Source labels of the connection values.
inline constexpr const char* kLabelCommandLine = "cmd line";
inline constexpr const char* kLabelLocalIni = "local ini";
inline constexpr const char* kLabelQsxIni = "QSX.ini";

// Linux stand-ins for the defaults that name Windows drives.
inline constexpr const char* kDefaultLogDir = "./log";
inline constexpr const char* kDefaultLogLevel = "ERROR";
inline constexpr const char* kDefaultQsxDataDir = "/var/lib/zelvik/data";
inline constexpr const char* kDefaultQsxOdbc = "QSX";
inline constexpr const char* kDefaultQsxUser = "QSX";
inline constexpr const char* kDefaultQsxPassword = "VEM";
// Directory of qsx.ini when neither QSX nor WINDIR is set.
inline constexpr const char* kDefaultSystemDir = "/etc";

// The settings file beside the program: the directory of `argv0` ("\" read as "/"),
// or of /proc/self/exe when `argv0` holds no "/", followed by "zelvik.ini".
std::string default_settings_path(std::string_view argv0);

// A settings file is a few kilobytes; one this large is a wrong path, not settings.
inline constexpr size_t kMaxSettingsFileBytes = 1u << 20;

// Why a settings file named on the command line (--config) cannot serve: "" when it
// can be read, else the reason ("No such file or directory", "not a regular file",
// "larger than 1 MB", ...). Never blocks (a FIFO is refused unopened for reading).
// A missing zelvik.ini beside the program is no error (every key has its default); a
// file the operator named and mistyped is.
std::string settings_file_problem(const std::string& path);

// The machine-wide qsx.ini: "$QSX/qsx.ini" when that file is readable, otherwise
// "$WINDIR/qsx.ini" (or "/etc/qsx.ini" without WINDIR), not checked; "/" separators.
std::string default_qsx_path();

// Connection part of the process-wide settings object. Created and resolved on the
// main thread; other threads read copies only after start-up.
class ConnectionConfig {
public:
    // `arguments` is the whole command line, the program name first. `settings_path`
    // names the settings file (--config); empty means zelvik.ini beside the program.
    explicit ConnectionConfig(std::vector<std::string> arguments, std::string settings_path = {});
    virtual ~ConnectionConfig() = default;

    // Runs the precedence rules (command line, zelvik.ini, qsx.ini) again from the
    // start and stores values and labels. The data directory ends up with "/".
    void resolve_connection();

    // Reads LOG DIR (default kDefaultLogDir, "\" read as "/") and LOG LEVEL (default
    // "ERROR") from the settings file.
    void load_log_section();

    // The command line as given, program name first (other options such as BEGIN= are
    // read from it by their users).
    const std::vector<std::string>& arguments() const { return arguments_; }
    const std::string& settings_path() const { return settings_path_; }
    const std::string& qsx_path() const { return qsx_path_; }
    std::string data_source_name() const { return data_source_; }
    std::string user_name() const { return user_; }
    std::string password() const { return password_; }
    std::string data_directory() const { return data_dir_; }
    bool use_tend() const { return use_tend_; }
    std::string log_directory() const { return log_dir_; }
    std::string log_level() const { return log_level_; }
    // Labels of data source, user, password and data directory, in this order.
    std::array<std::string, 4> labels() const {
        return {data_source_label_, user_label_, password_label_, data_dir_label_};
    }

    // Looks a value up by name without regard to case ("odbc", "user", "password",
    // "data_dir", "log_dir", "log_level", "use_tend" and, in ProgramSettings, the
    // program settings). A null name sets `out` to "Unknown param" and returns false;
    // another unknown name leaves `out` unchanged and returns false.
    bool get_param(const char* name, std::string& out) const;
    bool get_param(std::string_view name, std::string& out) const {
        return lookup_param(name, out);
    }

protected:
    // Overridden by ProgramSettings to add its names; true when `name` was known.
    virtual bool lookup_param(std::string_view name, std::string& out) const;

private:
    void parse_command_line(bool& use_tend_from_command_line);
    void resolve_from_files(std::string& value, std::string& label, std::string_view section,
                            std::string_view key, std::string_view qsx_default);

    std::vector<std::string> arguments_;
    std::string settings_path_;
    std::string qsx_path_;
    std::string data_source_;
    std::string user_;
    std::string password_;  // held in clear; never write it to the log
    std::string data_dir_;
    std::string log_dir_;
    std::string log_level_;
    std::string data_source_label_;
    std::string user_label_;
    std::string password_label_;
    std::string data_dir_label_;
    bool use_tend_ = false;
};

}  // namespace zelvik::config
