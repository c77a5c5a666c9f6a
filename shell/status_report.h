// `zelvik --status`: the metrics file of the running Zelvik ([SYSTEM] METRICS/zelvik.prom)
// read back and printed for a person, one line per channel with its state and latency.
// It reads only the file, so it answers whether or not this user may reach the store.
#pragma once

#include <cstdio>
#include <string>

namespace zelvik::config {
class ProgramSettings;
}

namespace zelvik::shell {

// A file older than this is taken for a Zelvik that no longer runs (or hangs).
inline constexpr double kStatusStaleSeconds = 30.0;

// The person's text for the metrics `text` read at `now` (seconds since 1970); `source`
// names the file in the heading. `fresh` is set when the file's own time stamp is
// within kStatusStaleSeconds of `now`. Returns "" when `text` holds no Zelvik metrics.
std::string status_text(const std::string& text, const std::string& source, double now,
                        bool& fresh);

// Prints the status to `out`: 0 when the file is there and fresh, 1 when METRICS is not
// set, the file is missing or unreadable, or it is stale (printed all the same).
int run_status_report(const config::ProgramSettings& settings, std::FILE* out);

}  // namespace zelvik::shell
