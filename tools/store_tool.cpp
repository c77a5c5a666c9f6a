// Command-line front of zelvik-store: argument parsing, connection by Zelvik's rules,
// and the four commands. Each failure is one line "zelvik-store: ..." on stderr.
#include "tools/store_tool.h"

#include <ostream>

#include "common/text.h"
#include "config/connection_config.h"
#include "tools/store_commands.h"

namespace zelvik::tools {
namespace {

constexpr const char* kUsage =
    "Usage: zelvik-store [--config FILE] [ODBC=dsn] [USER=name] [PASSWORD=secret] [DATA=dir] "
    "COMMAND ...\n"
    "\n"
    "Creates and fills the waveform store that Zelvik reads.\n"
    "\n"
    "Commands:\n"
    "  init                       create the store's tables and indexes (existing tables are "
    "kept)\n"
    "  import FILE...             add miniSEED (or .sac) files: samples go to data files under\n"
    "                             the data directory, one FILELIST row per continuous segment;\n"
    "                             segments already present are skipped\n"
    "  response --sac|--fap TEXTFILE STA CHAN LOC NETWORK STARTDATE [ENDDATE]\n"
    "                             store a pole-zero (--sac) or frequency-amplitude-phase (--fap)\n"
    "                             response; '-' stands for an empty LOC or NETWORK; dates are\n"
    "                             YYYY-MM-DD or \"YYYY-MM-DD HH:MM:SS\" (UTC)\n"
    "  events [--limit N]         list the event list, newest first, times in UTC\n"
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
        if (a == "--config") {
            if (i + 1 >= args.size()) {
                err << "zelvik-store: --config needs a file name\n";
                return 2;
            }
            settings_path = args[++i];
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
    if (command != "init" && command != "import" && command != "response" && command != "events") {
        err << "zelvik-store: unknown command \"" << command << "\" (try --help)\n";
        return 2;
    }
    config::ConnectionConfig cfg(connection_args, settings_path);
    cfg.resolve_connection();
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
