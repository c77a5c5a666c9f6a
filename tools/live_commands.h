// zelvik-store's live commands: "seedlink" follows SeedLink servers' streams and
// "follow" a folder of growing miniSEED files, storing what arrives until SIGINT or
// SIGTERM. They make their own connection to the store, and keep trying while the
// store does not answer, since a station goes on sending meanwhile.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "acquire/store_target.h"

namespace zelvik::tools {

// args: what follows the command's name. Returns the exit status: 0 after a stop by
// signal, 1 when the source or its state file cannot be used, 2 for bad usage.
// metrics_directory: [SYSTEM] METRICS, where zelvik-acquire-<source>.prom is kept; "" none.
int run_seedlink_command(const acquire::StoreTarget& target, const std::vector<std::string>& args,
                         std::ostream& err, const std::string& metrics_directory = {});
int run_follow_command(const acquire::StoreTarget& target, const std::vector<std::string>& args,
                       std::ostream& err, const std::string& metrics_directory = {});

// Default state file of a source: <data directory>/.zelvik-store/<name>.state.
std::string default_state_file(const std::string& data_dir, const std::string& source_name);

}  // namespace zelvik::tools
