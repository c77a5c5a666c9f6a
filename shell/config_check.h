// `zelvik --check`: reads the settings and the store exactly as a run would and says,
// section by section, what a run would watch and what stands in its way. It writes no
// log and changes nothing: the store is only read, the mail server only greeted.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zelvik::config {
class ProgramSettings;
}

namespace zelvik::detect {
class StoreLink;
}

namespace zelvik::shell {

// Exit status of the check: every configured channel can run (and there is one).
inline constexpr int kCheckPassed = 0;
inline constexpr int kCheckFailed = 1;

// Prints the report to `out`. `settings` is created but not yet resolved or loaded;
// the check does both. Main thread; never throws.
// @retval kCheckPassed when the store answers, the data directory exists and every
//         channel section up to THREADS can run; kCheckFailed otherwise. Unread keys,
//         the mail server and the alarm sound are reported but do not fail the check.
int run_config_check(config::ProgramSettings& settings, std::FILE* out);

// The checks a run re-uses on settings changed while it runs.
// Sections and keys of `path` that nothing reads, each with the name probably meant;
// with `beyond`, also the channel sections past `thread_count` (read by nobody).
std::vector<std::string> unread_key_notes(const std::string& path, int thread_count, bool beyond);
// Why section THREAD<n> of `path` cannot run on the store behind `link` (connected,
// used by this thread only): "" when it can. Logs nothing.
std::string channel_run_problem(const std::string& path, int n, detect::StoreLink& link);

}  // namespace zelvik::shell
