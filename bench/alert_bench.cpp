// Alert figures: how long after it is handed to the report sender a report reaches a
// real server on the TLS mail and webhook paths, and what an outbox of 10,000 unsent
// reports costs in memory and on disk. Prints the figures; not a test.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/clock.h"
#include "report/detection_report.h"
#include "report/outbox.h"
#include "tests/support/smtp_test_servers.h"
#include "tests/support/temp_dir.h"

using namespace std::chrono;
using namespace zelvik;

namespace {

long rss_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Milliseconds from report_detection to the far end holding the report.
double latency_ms(const report::MailSettings& mail, const std::function<size_t()>& arrived,
                  size_t before) {
    report::ReportSender sender(mail);
    if (!sender.start()) return -1;
    const auto t0 = steady_clock::now();
    (void)sender.report_detection("LAT", common::now_utc(), 1.0, 5.0f);
    while (arrived() <= before && steady_clock::now() - t0 < 30s) usleep(2000);
    const double ms = duration<double, std::milli>(steady_clock::now() - t0).count();
    sender.request_stop();
    (void)sender.join(10s);
    return ms;
}

}  // namespace

int main() {
    test::TempDir tls("zelvik-bench-tls"), mails("zelvik-bench-mail"), posts("zelvik-bench-post");
    std::string cert, key;
    if (!testing::make_test_certificate(tls.path(), "DNS:localhost", cert, key)) return 1;
    testing::SmtpSinkProcess smtp(mails.path(), {"--tls", cert, key, "--auth", "u", "p"});
    testing::WebhookSinkProcess hook(posts.path());
    for (int i = 0; i < 5; ++i) {
        report::MailSettings m{"localhost", "ops@example.org", "z@example.org", "", smtp.port()};
        m.security = report::MailSecurity::kTls;
        m.user = "u", m.password = "p", m.ca_file = cert;
        const double tls_ms = latency_ms(
            m, [&] { return smtp.mails().size(); }, i);
        report::MailSettings w;
        w.webhook = hook.url();
        const double hook_ms = latency_ms(
            w, [&] { return hook.posts().size(); }, i);
        std::printf("report %d: TLS mail %.0f ms, webhook %.0f ms after the detection\n", i, tls_ms,
                    hook_ms);
    }

    test::TempDir dir("zelvik-bench-outbox");
    const std::string body(2 * 130 + 128, 'x');  // a header and two arrival lines
    const long before = rss_kib();
    {
        report::Outbox box(dir.path(), report::Outbox::kDefaultCapacity, 0, {});
        const double now = common::now_utc();
        const auto t0 = steady_clock::now();
        for (int i = 0; i < 10000; ++i)
            (void)box.add(report::Outbox::new_id(now + i), report::OutboxPath::kMail, "ALERT", 2,
                          body, now + i);
        const double add_s = duration<double>(steady_clock::now() - t0).count();
        std::printf("outbox: 10,000 reports written in %.1f s, RSS +%ld KiB\n", add_s,
                    rss_kib() - before);
    }
    const long before_load = rss_kib();
    report::Outbox again(dir.path(), report::Outbox::kDefaultCapacity, 0, {});
    const auto t1 = steady_clock::now();
    const size_t n = again.load(common::now_utc());
    uintmax_t bytes = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) bytes += e.file_size();
    std::printf("outbox: %zu reports loaded in %.2f s, RSS +%ld KiB; %.1f MB on disk\n", n,
                duration<double>(steady_clock::now() - t1).count(), rss_kib() - before_load,
                static_cast<double>(bytes) / 1e6);
    return 0;
}
