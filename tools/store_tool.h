// zelvik-store: creates a waveform store, fills it from miniSEED/SAC files, stores
// instrument responses and lists the event list. It finds its data source exactly as
// Zelvik does (command line, settings file, machine-wide file).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace zelvik::tools {

// Runs the tool on `args` (program name first). Results go to `out`, progress and
// one-line errors to `err`. Returns the process exit status: 0 success, 1 failure,
// 2 bad usage.
int run_store_tool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zelvik::tools
