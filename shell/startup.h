// Start-up and shutdown of Zelvik on the main thread: open the log, resolve the
// connection, connect the waveform store, load the settings, run the main job until
// it returns, write the final line. The user is only asked through a StartupUi.
#pragma once

#include <functional>

namespace zelvik::config {
class ProgramSettings;
}
namespace zelvik::db {
class WaveStore;
}

namespace zelvik::shell {

class StartupUi;

// How a run ended; exit_status() turns it into the process exit status.
enum class StartupResult {
    kFinished,     // the main job ran and returned
    kStoreFailed,  // the waveform store could not be reached
    kLogDeclined,  // no log directory, and the answer was not to go on
};

int exit_status(StartupResult result);

// The main job of a run: called once the store is connected and the settings loaded;
// returns when the run is over (stop requested, engine finished). It must not throw.
using MainJob = std::function<void(config::ProgramSettings& settings, db::WaveStore& store)>;

// Runs the whole start-up sequence, then `main_job`, then the closing log line.
// `settings`, `store` and `ui` are not owned. The password is never shown or logged in
// clear: "***" stands for it in every text.
StartupResult run_startup(config::ProgramSettings& settings, db::WaveStore& store, StartupUi& ui,
                          const MainJob& main_job);

}  // namespace zelvik::shell
