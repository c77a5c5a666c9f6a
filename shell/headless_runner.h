// The main job of an unattended run: the detection engine with the headless front end,
// until SIGINT/SIGTERM or, in a catch-up run, until the engine has worked through the
// stored data and shut down by itself.
#pragma once

#include <cstdio>

#include "engine/supervisor.h"

namespace zelvik::config {
class ProgramSettings;
}
namespace zelvik::db {
class WaveStore;
}

namespace zelvik::shell {

class StopRequest;

// The engine's settings from the loaded program settings (SYSTEM, MAIL, ALARM values,
// the settings file path and the command line for BEGIN).
detect::SupervisorSettings engine_settings(const config::ProgramSettings& settings,
                                           bool until_caught_up);

// Exit status of a catch-up run in which not one channel could run.
inline constexpr int kNothingWatched = 4;

// Runs the engine on `store` (connected) until `stop` is raised or, when
// `until_caught_up`, until the first pass without new data has been handled. Status
// lines go to `err`, and a catch-up run ends with its summary there. Main thread;
// never throws. Returns 0; 1 when the shutdown did not finish within its bounded
// waits (the supervisor's, the worker's or the mail's); kNothingWatched for a catch-up
// run that had no channel to run; kExitSkippedData when a catch-up run
// passed over stored data it could not read (listed on `err`).
int run_engine_headless(const config::ProgramSettings& settings, db::WaveStore& store,
                        const StopRequest& stop, bool until_caught_up, std::FILE* err);

}  // namespace zelvik::shell
