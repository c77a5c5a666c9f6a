// Opening the daily log from the program's settings: the LOG section names the
// directory and the level; the writing itself lives in common/log.h.
#pragma once

namespace zelvik::config {
class ConnectionConfig;
}

namespace zelvik::report {

// Reads the LOG section through `settings` (load_log_section), creates the log
// directory level by level and enables the log. Returns true when the log is enabled;
// false leaves it disabled (the directory cannot be made), after which every log_write
// returns false at once. Main thread, before any other thread writes.
bool log_open(zelvik::config::ConnectionConfig& settings);

}  // namespace zelvik::report
