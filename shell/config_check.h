// `zelvik --check`: reads the settings and the store exactly as a run would and says,
// section by section, what a run would watch and what stands in its way. It writes no
// log and changes nothing: the store is only read, the mail server only greeted.
#pragma once

#include <cstdio>

namespace zelvik::config {
class ProgramSettings;
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

}  // namespace zelvik::shell
