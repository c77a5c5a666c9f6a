// Parsing of Zelvik's "--" options. The settings' own arguments are matched by prefix
// elsewhere and anything unknown there is ignored; "--" options are ours alone, so a
// misspelt one is reported rather than silently running in another mode.
#include "shell/command_line.h"

#include <string_view>

namespace zelvik::shell {

namespace {

bool parse_log_missing(std::string_view value, LogMissingAnswer& out) {
    if (value == "continue") {
        out = LogMissingAnswer::kContinue;
    } else if (value == "stop") {
        out = LogMissingAnswer::kStop;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool parse_command_line(int argc, const char* const* argv, CommandLine& out, std::string& error) {
    out = CommandLine{};
    out.arguments.emplace_back(argc > 0 && argv[0] != nullptr ? argv[0] : "zelvik");
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "-h") {
            out.help = true;
        } else if (arg.substr(0, 2) != "--") {
            out.arguments.emplace_back(arg);
        } else if (arg == "--headless") {
            out.headless = true;
        } else if (arg == "--until-caught-up") {
            out.until_caught_up = true;
            out.headless = true;
        } else if (arg == "--help") {
            out.help = true;
        } else if (arg == "--version") {
            out.version = true;
        } else if (arg == "--check") {
            out.check = true;
        } else if (arg == "--test-alert") {
            out.test_alert = true;
        } else if (arg == "--status") {
            out.status = true;
        } else if (arg == "--config" || arg.substr(0, 9) == "--config=") {
            std::string_view value = arg.size() > 8 ? arg.substr(9) : std::string_view();
            if (arg.size() == 8) {
                if (i + 1 >= argc) {
                    error = "--config needs a file name";
                    return false;
                }
                value = argv[++i];
            }
            if (value.empty()) {
                error = "--config needs a file name";
                return false;
            }
            out.config_path = value;
        } else if (arg.substr(0, 14) == "--log-missing=") {
            if (!parse_log_missing(arg.substr(14), out.log_missing)) {
                error = "--log-missing takes \"continue\" or \"stop\"";
                return false;
            }
        } else {
            error = "unknown option " + std::string(arg);
            return false;
        }
    }
    return true;
}

std::string usage_text() {
    return "Usage: zelvik [ODBC=name] [USER=name] [PASSWORD=text] [DATA=dir] [/use_tend]\n"
           "              [BEGIN=date | BEGIN=-seconds] [--headless] [--until-caught-up]\n"
           "              [--check] [--test-alert] [--status] [--config FILE]\n"
           "              [--log-missing=continue|stop]\n"
           "              [--help | -h] [--version]\n"
           "\n"
           "  ODBC= USER= PASSWORD= DATA=  connection values; they override zelvik.ini and\n"
           "                               qsx.ini (prefixes match in any letter case)\n"
           "  /use_tend, -use_tend         take segment ends from the store's TEND column\n"
           "  BEGIN=YYYY-MM-DD hh:mm:ss    where detection starts, in UTC (also YYYY.MM.DD,\n"
           "                               YYYY/MM/DD; the time may be left out; an\n"
           "                               apostrophe after = is allowed: BEGIN='2016-12-14')\n"
           "  BEGIN=-N                     start N seconds before now\n"
           "  --headless                   run without windows; SIGINT/SIGTERM stop the run\n"
           "  --until-caught-up            headless; stop by itself after the first pass in\n"
           "                               which no channel had new data (re-processing\n"
           "                               archives); progress and a summary on stderr\n"
           "  --check                      read the settings and the store as a run would,\n"
           "                               print what a run would watch, and exit: 0 only\n"
           "                               when every channel can run; writes no log\n"
           "  --test-alert                 send one test report through every configured\n"
           "                               alert path (mail, webhook), print each answer\n"
           "                               and exit: 0 only when every path took it\n"
           "  --status                     print the running Zelvik's metrics file ([SYSTEM]\n"
           "                               METRICS/zelvik.prom): store, worker, outbox and\n"
           "                               one line per channel with state and latency;\n"
           "                               1 when it is missing or older than 30 s\n"
           "  --config FILE                settings file instead of zelvik.ini beside the\n"
           "                               program; it must exist and be readable\n"
           "  --log-missing=continue|stop  headless answer when the log directory cannot be\n"
           "                               made (default: continue without a log file)\n"
           "  --help, -h                   this text\n"
           "  --version                    the program's version\n"
           "\n"
           "Exit status: 0 after a normal run, 1 when the waveform store cannot be reached\n"
           "(or the shutdown overran its bounded waits, a mail included), 2 for a\n"
           "command-line error or an unreadable --config file, 3 when the run stopped for\n"
           "want of a log directory, 4 when a --until-caught-up run had no channel that\n"
           "could run; --check: 0 every channel can run, 1 not.\n";
}

std::string version_text() {
    return std::string("zelvik (Zelvik v.20140306), build ") + ZELVIK_BUILD_VERSION + "\n";
}

}  // namespace zelvik::shell
