// The `zelvik` program: parses its own options, then runs the start-up sequence with
// message boxes (window mode, when built with Qt and a display is there) or on stderr
// (--headless). SIGINT and SIGTERM end the run as the Exit of the window does.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "common/hidden_arguments.h"
#include "config/program_settings.h"
#include "db/wave_store.h"
#include "engine/begin_time.h"
#include "shell/command_line.h"
#include "shell/config_check.h"
#include "shell/headless_runner.h"
#include "shell/signal_watcher.h"
#include "shell/startup.h"
#include "shell/startup_ui.h"
#include "shell/status_report.h"
#include "shell/stop_request.h"
#include "shell/test_alert.h"
#ifdef ZELVIK_HAS_QT_UI
#include "shell/ui/qt_startup_ui.h"
#include "shell/ui/window_job.h"
#endif

namespace {

using namespace zelvik;

// The main job: the main window over the engine, or headless the engine alone until a
// stop is requested or, with --until-caught-up, until it has worked through the data.
int run_main_job(config::ProgramSettings& settings, db::WaveStore& store,
                 const shell::StopRequest& stop, bool until_caught_up, bool window) {
#ifdef ZELVIK_HAS_QT_UI
    if (window) return shell::run_window_job(settings, store, stop);
#else
    (void)window;
#endif
    return shell::run_engine_headless(settings, store, stop, until_caught_up, stderr);
}

// The start-up boxes; `window` tells whether they are Qt's (and the window can run).
std::unique_ptr<shell::StartupUi> make_ui(const shell::CommandLine& options, int& argc, char** argv,
                                          bool& window) {
    window = false;
#ifdef ZELVIK_HAS_QT_UI
    if (!options.headless && !options.until_caught_up) {
        if (auto ui = shell::make_qt_startup_ui(argc, argv)) {
            window = true;
            return ui;
        }
        std::fprintf(stderr, "zelvik: no display found; running headless\n");
    }
#else
    (void)argc;
    (void)argv;
#endif
    return std::make_unique<shell::HeadlessStartupUi>(stderr, options.log_missing);
}

}  // namespace

int main(int argc, char** argv) {
    shell::CommandLine options;
    std::string error;
    if (!shell::parse_command_line(argc, argv, options, error)) {
        std::fprintf(stderr, "zelvik: %s\n%s", error.c_str(), shell::usage_text().c_str());
        return 2;
    }
    // Answered before anything is read or written: no log directory, no connection.
    if (options.help) {
        std::fputs(shell::usage_text().c_str(), stdout);
        return 0;
    }
    // `options` holds its own copy of every argument now.
    common::hide_password_arguments(argc, argv);
    if (options.version) {
        std::fputs(shell::version_text().c_str(), stdout);
        return 0;
    }
    if (!options.config_path.empty()) {
        const std::string problem = config::settings_file_problem(options.config_path);
        if (!problem.empty()) {
            std::fprintf(stderr, "zelvik: cannot read settings file %s: %s\n",
                         options.config_path.c_str(), problem.c_str());
            return 2;
        }
    }
    if (const std::string problem = detect::begin_arguments_problem(options.arguments);
        !problem.empty()) {
        std::fprintf(stderr, "zelvik: %s\n", problem.c_str());
        return 2;
    }
    if (options.check) {
        config::ProgramSettings settings(options.arguments, options.config_path);
        return shell::run_config_check(settings, stdout);
    }
    if (options.status) {
        config::ProgramSettings settings(options.arguments, options.config_path);
        settings.load_system();
        return shell::run_status_report(settings, stdout);
    }
    if (options.test_alert) {
        config::ProgramSettings settings(options.arguments, options.config_path);
        return shell::run_test_alert(settings, stdout);
    }
    // Before any other thread exists, so that every later thread inherits the mask.
    shell::StopRequest stop;
    const shell::SignalWatcher watcher(stop);

    config::ProgramSettings settings(options.arguments, options.config_path);
    db::WaveStore store;
    bool window = false;
    const std::unique_ptr<shell::StartupUi> ui = make_ui(options, argc, argv, window);
    int job_status = 0;
    const shell::StartupResult result = shell::run_startup(
        settings, store, *ui, [&](config::ProgramSettings& s, db::WaveStore& st) {
            job_status = run_main_job(s, st, stop, options.until_caught_up, window);
        });
    if (watcher.received() != 0) {
        std::fprintf(stderr, "zelvik: stopped by signal %d\n", watcher.received());
    }
    const int status = shell::exit_status(result);
    return status != 0 ? status : job_status;
}
