// Command-line front of zelvik-store: argument parsing, connection by Zelvik's rules,
// and the four commands. Each failure is one line "zelvik-store: ..." on stderr.
#include "tools/store_tool.h"

#include <ostream>

#include "common/text.h"
#include "config/connection_config.h"
#include "config/settings_schema.h"
#include "tools/live_commands.h"
#include "tools/store_commands.h"

namespace zelvik::tools {
namespace {

constexpr const char* kUsage =
    "Usage: zelvik-store [--help | --version] [--config FILE] [ODBC=dsn] [USER=name]\n"
    "                    [PASSWORD=secret] [DATA=dir] COMMAND ...\n"
    "\n"
    "Creates and fills the waveform store that Zelvik reads.\n"
    "\n"
    "Commands:\n"
    "  init                       create the store's tables and indexes (existing tables are "
    "kept)\n"
    "                             and the data directory when it does not exist\n"
    "  import FILE...             add miniSEED (or .sac) files: samples go to data files under\n"
    "                             the data directory, one FILELIST row per continuous segment;\n"
    "                             segments already present are skipped (a segment whose data\n"
    "                             file has gone is written again); the data directory must\n"
    "                             exist (init makes it)\n"
    "  response --sac|--fap TEXTFILE STA CHAN LOC NETWORK STARTDATE [ENDDATE]\n"
    "                             store a pole-zero (--sac) or frequency-amplitude-phase (--fap)\n"
    "                             response; LOC '-' means no location and is stored as \"??\"\n"
    "                             (as import stores it and Zelvik's LCODE=?? looks it up);\n"
    "                             NETWORK '-' is empty; dates are YYYY-MM-DD or\n"
    "                             \"YYYY-MM-DD HH:MM:SS\" (UTC). A text Zelvik cannot use is\n"
    "                             refused. Values are counts per metre of displacement.\n"
    "  response --stationxml FILE store the poles and zeros of every channel of a StationXML\n"
    "                             inventory (input units M, M/S or M/S**2; zeros at 0 are\n"
    "                             added for displacement; CONSTANT = A0 x sensitivity, A0\n"
    "                             recomputed when it misses the sensitivity by over 1 %);\n"
    "                             channel dates become STARTDATE/ENDDATE, an empty location\n"
    "                             \"??\"; channels that cannot be used are named and skipped\n"
    "  events [--limit N]         list the event list, newest first, times in UTC\n"
    "  seedlink HOST[:PORT] STREAM... [--v3] [--state FILE] [--summary SECONDS]\n"
    "                             store what a SeedLink server sends (port 18000 unless\n"
    "                             given) until SIGINT/SIGTERM; STREAM is NET_STA or\n"
    "                             NET_STA:LOC.CHA, '?' and '*' allowed; protocol 4.0 when\n"
    "                             offered (--v3: 3.1 always); resumes after a restart from\n"
    "                             the state file (default <DATA>/.zelvik-store/...)\n"
    "  follow DIR [--state FILE] [--summary SECONDS]\n"
    "                             store records appended to miniSEED files under DIR (an SDS\n"
    "                             archive or any folder) and new files, until SIGINT/SIGTERM;\n"
    "                             both say every 600 s (--summary) what they stored and how\n"
    "                             long records took from arrival to commit\n"
    "\n"
    "Response texts (tokens separated by new lines, '|' or ';'):\n"
    "  --sac  ZEROS n, then up to n \"real imaginary\" zeros (missing ones lie at 0),\n"
    "         POLES m, then m poles, CONSTANT c; in rad/s. Response(f) = c |Z(j2pif)/P(j2pif)|\n"
    "         in counts per metre, e.g.:\n"
    "           ZEROS 3\n"
    "           POLES 2\n"
    "           -4.443 4.443\n"
    "           -4.443 -4.443\n"
    "           CONSTANT 1.35e8\n"
    "         (a 1 Hz seismometer: three zeros at 0, two poles; 6.0e8 counts/m at 1 Hz)\n"
    "  --fap  one \"frequency amplitude phase\" line per frequency: Hz, counts per metre,\n"
    "         degrees (phase unused); linear between lines, 0 outside, e.g.:\n"
    "           0.5 3.0e8 0\n"
    "           1.0 6.0e8 0\n"
    "           5.0 6.0e8 0\n"
    "\n"
    "The data source is found as Zelvik finds it: ODBC=, USER=, PASSWORD=, DATA= on the\n"
    "command line, else the settings file (--config FILE, else zelvik.ini beside the\n"
    "program), else the machine-wide qsx.ini ($QSX, else $WINDIR, else /etc).\n";

bool is_connection_arg(const std::string& a) {
    for (const char* p : {"ODBC=", "USER=", "PASSWORD=", "DATA=", "/use_tend", "-use_tend"})
        if (common::istarts_with(a, p)) return true;
    return false;
}

}  // namespace

int run_store_tool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string settings_path;
    std::vector<std::string> rest;
    // Connection arguments count only before the command, so that a file given to
    // import may have any name.
    std::vector<std::string> connection_args = {args.empty() ? std::string("zelvik-store")
                                                             : args.front()};
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            out << kUsage;
            return 0;
        }
        if (a == "--version") {
            out << "zelvik-store, build " << ZELVIK_BUILD_VERSION << "\n";
            return 0;
        }
        if (a == "--config") {
            if (i + 1 >= args.size()) {
                err << "zelvik-store: --config needs a file name\n";
                return 2;
            }
            settings_path = args[++i];
            if (const std::string problem = config::settings_file_problem(settings_path);
                !problem.empty()) {
                err << "zelvik-store: cannot read settings file " << settings_path << ": "
                    << problem << "\n";
                return 2;
            }
        } else if (rest.empty() && is_connection_arg(a)) {
            connection_args.push_back(a);
        } else {
            rest.push_back(a);
        }
    }
    if (rest.empty()) {
        err << "zelvik-store: no command given (try --help)\n";
        return 2;
    }
    const std::string command = rest.front();
    rest.erase(rest.begin());
    const bool live = command == "seedlink" || command == "follow";
    if (!live && command != "init" && command != "import" && command != "response" &&
        command != "events") {
        err << "zelvik-store: unknown command \"" << command << "\" (try --help)\n";
        return 2;
    }
    config::ConnectionConfig cfg(connection_args, settings_path);
    cfg.resolve_connection();
    if (live) {
        const acquire::StoreTarget target{cfg.data_source_name(), cfg.user_name(), cfg.password(),
                                          cfg.data_directory()};
        const config::SettingSpec& metrics = config::spec_of(config::Setting::kSystemMetrics);
        const std::string metrics_dir =
            config::zelvik_text(cfg.settings_path(), metrics.section, metrics);
        return command == "seedlink" ? run_seedlink_command(target, rest, err, metrics_dir)
                                     : run_follow_command(target, rest, err, metrics_dir);
    }
    StoreSession session(cfg.data_source_name(), cfg.user_name(), cfg.password(),
                         cfg.data_directory());
    if (!session.open()) {
        err << "zelvik-store: cannot connect to data source \"" << cfg.data_source_name()
            << "\": " << session.error() << "\n";
        return 1;
    }
    if (command == "init") return session.init(out, err);
    if (command == "import") return session.import(rest, out, err);
    if (command == "response") return session.response(rest, out, err);
    return session.events(rest, out, err);
}

}  // namespace zelvik::tools
