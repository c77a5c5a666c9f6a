// The MAIL section turned into what the report sender needs, with the outbox beside the
// log. One place, so a run, `--check` and `--test-alert` all read the same paths.
#pragma once

#include <string>

#include "report/mail_settings.h"

namespace zelvik::config {
class ProgramSettings;
}

namespace zelvik::shell {

// `settings` must have its MAIL and LOG values loaded. An unknown SECURITY word leaves
// the mail server out (a TLS server must never get a plain dialogue by a typo) and is
// described in `problem`; `problem` is empty otherwise.
report::MailSettings alert_settings(const config::ProgramSettings& settings, std::string& problem);

// The directory of kept reports: "outbox" in the log directory.
std::string outbox_directory(const std::string& log_directory);

}  // namespace zelvik::shell
