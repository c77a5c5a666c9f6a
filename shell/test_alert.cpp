// The test report is an ordinary "ALERT" body and JSON document with one line for the
// station "TEST" at the current time, under the subject "ALERT TEST" so that filters
// and people can tell it from a real one.
#include "shell/test_alert.h"

#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "common/clock.h"
#include "config/program_settings.h"
#include "report/detection_report.h"
#include "report/report_delivery.h"
#include "report/report_json.h"
#include "shell/alert_settings.h"

namespace zelvik::shell {
namespace {

constexpr std::chrono::milliseconds kTimeout{15000};

int test_alert(config::ProgramSettings& settings, std::FILE* out) {
    settings.load_log_section();
    settings.load_mail();
    std::string problem;
    const report::MailSettings mail = alert_settings(settings, problem);
    if (!problem.empty()) std::fprintf(out, "Mail: UNUSABLE: %s\n", problem.c_str());
    if (!mail.any_path()) {
        std::fprintf(out, "No alert path configured (MAIL SERVER and RECIPIENT, or WEBHOOK)\n");
        return 1;
    }
    const double now = common::now_utc();
    report::ReportEntry entry;
    entry.station = "TEST";
    entry.onset = now;
    const std::vector<report::ReportEntry> entries{entry};
    const std::string id = report::Outbox::new_id(now);
    const std::string subject = "ALERT TEST";
    report::ReportDelivery delivery(mail, {}, kTimeout, nullptr);
    bool all = true;
    if (mail.mail_enabled()) {
        const report::TransferResult r =
            delivery.offer(report::OutboxPath::kMail, id, subject,
                           report::format_report_body(entries, mail.network));
        std::fprintf(out, "Mail to %s via %s (SECURITY=%s): %s%s\n", mail.recipient.c_str(),
                     mail.server.c_str(), report::to_string(mail.security),
                     r.ok ? "sent, server answered: " : "NOT SENT: ", r.answer.c_str());
        all = all && r.ok;
    }
    if (!mail.webhook.empty()) {
        const report::TransferResult r =
            delivery.offer(report::OutboxPath::kWebhook, id, subject,
                           report::report_json(id, entries, mail.network));
        std::fprintf(out, "Webhook %s: %s%s\n", mail.webhook.c_str(),
                     r.ok ? "posted, answer: " : "NOT POSTED: ", r.answer.c_str());
        all = all && r.ok;
    }
    return all ? 0 : 1;
}

}  // namespace

int run_test_alert(config::ProgramSettings& settings, std::FILE* out) {
    try {
        return test_alert(settings, out);
    } catch (const std::exception& e) {
        std::fprintf(out, "Test alert stopped by an error: %s\n", e.what());
    }
    return 1;
}

}  // namespace zelvik::shell
