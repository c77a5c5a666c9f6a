// Zelvik's own command-line options (--headless, --until-caught-up, --check, --test-alert,
// --status, --config, --log-missing, --help, --version).
// Everything else (ODBC=, USER=, PASSWORD=, DATA=, /use_tend, BEGIN=...) is passed on
// untouched to the settings, which ignore what they do not know.
#pragma once

#include <string>
#include <vector>

#include "shell/startup_ui.h"

namespace zelvik::shell {

struct CommandLine {
    bool headless = false;
    bool until_caught_up =
        false;          // --until-caught-up: stop once the stored data is done (implies headless)
    bool help = false;  // --help, -h
    bool version = false;     // --version
    bool check = false;       // --check: report on the configuration instead of running
    bool test_alert = false;  // --test-alert: one test report through every alert path
    bool status = false;      // --status: print the running Zelvik's metrics file
    std::string config_path;  // --config FILE; empty: zelvik.ini beside the program
    LogMissingAnswer log_missing = LogMissingAnswer::kContinue;
    std::vector<std::string> arguments;  // program name first, own options removed
};

// Fills `out` from argv. False (with `error` set) for an unknown "--" option or a
// missing or bad option value.
[[nodiscard]] bool parse_command_line(int argc, const char* const* argv, CommandLine& out,
                                      std::string& error);

// The --help text.
std::string usage_text();

// The --version line.
std::string version_text();

}  // namespace zelvik::shell
