// The start-up sequence. Its log lines and box texts are fixed texts of the program
// (spellings included) that operators search for in the logs; do not reword them.
#include "shell/startup.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>

#include "common/log.h"
#include "common/slow_call_notice.h"
#include "config/program_settings.h"
#include "db/wave_store.h"
#include "report/log_open.h"
#include "shell/startup_ui.h"

namespace zelvik::shell {

namespace {

// Stands for the password in every text that a person or a log file sees.
constexpr const char* kMaskedPassword = "***";
// A connection that takes longer is said to, while it still waits.
constexpr std::chrono::milliseconds kSlowConnection{3000};

std::string format_text(const char* format, const std::string& a, const std::string& b,
                        const std::string& c) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, format, a.c_str(), b.c_str(), c.c_str());
    return buf;
}

// Hands the resolved values to the store; false when it refused one (its reason is
// then in the log).
bool pass_parameters(const config::ProgramSettings& settings, db::WaveStore& store) {
    const std::pair<const char*, std::string> params[] = {
        {"ODBC", settings.data_source_name()},
        {"USER", settings.user_name()},
        {"PASSWORD", settings.password()},
        {"DATA", settings.data_directory()},
        {"USE_TEND", settings.use_tend() ? "1" : "0"},
    };
    bool all = true;
    for (const auto& [name, value] : params) {
        if (store.set_param(name, value) != 0) {
            common::log_write(store.last_error());
            all = false;
        }
    }
    return all;
}

bool connect_store(config::ProgramSettings& settings, db::WaveStore& store, StartupUi& ui) {
    const std::string dsn = settings.data_source_name();
    const std::string user = settings.user_name();
    // A refused parameter would leave the store with a default in its place, so the
    // run stops as if the connection had failed rather than reach another database.
    const bool params_ok = pass_parameters(settings, store);
    if (common::log_debug()) {
        common::log_printf("Try connection to DB (%s/%s/%s)...", dsn.c_str(), user.c_str(),
                           kMaskedPassword);
    }
    if (params_ok) {
        common::SlowCallNotice slow(
            kSlowConnection,
            format_text("Connecting to DB (%s/%s/%s) takes longer than 3 s: the database may be "
                        "locked by another program or its server may not answer; waiting",
                        dsn, user, kMaskedPassword));
        const bool connected = store.connect();
        if (slow.told())
            common::log_printf("Connection attempt ended after %.0f s", slow.seconds());
        if (connected) return true;
    }
    if (params_ok) common::log_write(store.last_error());
    const std::string text =
        format_text("Couldn't connect to DB (%s/%s/%s).\r\nApplication terminated.", dsn, user,
                    kMaskedPassword);
    common::log_write(text);
    ui.show_error(text, "DB connection error");
    common::log_write(common::kStoppedMessage);
    return false;
}

// The two lines written at every log level once the store is reached.
void log_connection_sources(const config::ProgramSettings& settings) {
    const auto labels = settings.labels();
    common::log_printf("Connected to database: ODBC=%s(%s), USER=%s(%s)",
                       settings.data_source_name().c_str(), labels[0].c_str(),
                       settings.user_name().c_str(), labels[1].c_str());
    common::log_printf("Catalog with data: %s(%s)", settings.data_directory().c_str(),
                       labels[3].c_str());
}

}  // namespace

int exit_status(StartupResult result) {
    switch (result) {
        case StartupResult::kFinished:
            return 0;
        case StartupResult::kStoreFailed:
            return 1;
        case StartupResult::kLogDeclined:
            return 3;
    }
    return 1;
}

StartupResult run_startup(config::ProgramSettings& settings, db::WaveStore& store, StartupUi& ui,
                          const MainJob& main_job) {
    if (!report::log_open(settings)) {
        const std::string text = "Couldn't find (create) LOG directory (" +
                                 settings.log_directory() +
                                 ").\r\nDo you want to continue application without LOG-file?";
        if (!ui.ask_yes_no(text, "LOG-file warning")) return StartupResult::kLogDeclined;
    }
    common::log_write(common::kStartedMessage);
    if (common::log_debug()) {
        common::log_write("LOG level set to DEBUG");
        common::log_write("Load DB connect paramerets...");
    }
    settings.resolve_connection();
    if (!connect_store(settings, store, ui)) return StartupResult::kStoreFailed;

    log_connection_sources(settings);
    settings.load_system();
    settings.load_mail();
    settings.load_alarm();
    if (main_job) main_job(settings, store);
    common::log_write(common::kStoppedMessage);
    return StartupResult::kFinished;
}

}  // namespace zelvik::shell
