// The main job of window mode: the main window over the running engine, until the user
// exits or SIGINT/SIGTERM asks the run to end. The header names no Qt type, so main()
// can call it without including Qt.
#pragma once

namespace zelvik::config {
class ProgramSettings;
}
namespace zelvik::db {
class WaveStore;
}

namespace zelvik::shell {

class StopRequest;

// Shows the window, starts the engine on `store` (connected) and runs the window
// modally. A raised `stop` ends the run as Exit "yes" does, without the question.
// GUI (main) thread, with the QApplication made by make_qt_startup_ui; never throws.
// Returns 0, or 1 when the engine could not run.
int run_window_job(config::ProgramSettings& settings, db::WaveStore& store,
                   const StopRequest& stop);

}  // namespace zelvik::shell
