// `zelvik --test-alert`: one test report through every configured path (mail server,
// webhook), straight to the far end and not through the outbox, printing each answer.
#pragma once

#include <cstdio>

namespace zelvik::config {
class ProgramSettings;
}

namespace zelvik::shell {

// `settings` is created but not loaded; the test loads LOG and MAIL. Main thread;
// never throws. Returns 0 when every configured path took the report, 1 otherwise
// (also when no path is configured).
int run_test_alert(config::ProgramSettings& settings, std::FILE* out);

}  // namespace zelvik::shell
