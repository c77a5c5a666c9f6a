// Start-up boxes as Qt message boxes. The header names no Qt type, so the program's
// main() can choose between this and the headless boxes without including Qt.
#pragma once

#include <memory>

#include "shell/startup_ui.h"

namespace zelvik::shell {

// Creates the QApplication (owned by the returned object, which must be destroyed on
// the main thread) and the boxes. Null when no display is available. `argc` and `argv`
// must outlive the result.
std::unique_ptr<StartupUi> make_qt_startup_ui(int& argc, char** argv);

}  // namespace zelvik::shell
