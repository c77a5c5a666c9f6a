// MAIL keys to report::MailSettings.
#include "shell/alert_settings.h"

#include "config/program_settings.h"

namespace zelvik::shell {

std::string outbox_directory(const std::string& log_directory) {
    std::string dir = log_directory.empty() ? std::string(".") : log_directory;
    if (dir.back() != '/') dir += '/';
    return dir + "outbox";
}

report::MailSettings alert_settings(const config::ProgramSettings& settings, std::string& problem) {
    problem.clear();
    report::MailSettings m;
    m.server = settings.mail_server();
    m.recipient = settings.mail_recipient();
    m.sender = settings.mail_sender();
    m.network = settings.mail_network();
    m.user = settings.mail_user();
    m.password = settings.mail_password();
    m.ca_file = settings.mail_ca_file();
    m.webhook = settings.mail_webhook();
    m.outbox_hours = settings.mail_outbox_hours();
    m.outbox_dir = outbox_directory(settings.log_directory());
    if (!report::parse_mail_security(settings.mail_security(), m.security)) {
        problem = "MAIL SECURITY \"" + settings.mail_security() +
                  "\" is none of none, starttls, tls: no mail is sent";
        m.server.clear();
    }
    return m;
}

}  // namespace zelvik::shell
