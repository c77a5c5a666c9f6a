// Reports over TLS with AUTH, the outbox and the webhook, each against real servers on
// loopback: aiosmtpd with STARTTLS or implicit TLS and a certificate made here with
// openssl (given as CAFILE), and Python's http.server for the webhook.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "report/curl_transfer.h"
#include "report/detection_report.h"
#include "tests/report/log_capture.h"
#include "tests/support/smtp_test_servers.h"
#include "tests/support/temp_dir.h"

namespace zelvik::report {
namespace {

using namespace std::chrono_literals;
using testing::SmtpSinkProcess;

constexpr double kOnset = 1394109296.78;  // 2014-03-06 12:34:56.78 UTC

ReportEntry measured(const char* station, double onset, double sta, float ratio,
                     const char* channel, const char* location, double period, double counts,
                     double um) {
    ReportEntry e(station, onset, sta, ratio);
    e.channel = channel, e.location = location;
    e.period = period, e.amplitude_counts = counts, e.amplitude_um = um;
    return e;
}

// A certificate for localhost and 127.0.0.1, and one for another host only.
struct Certificates {
    test::TempDir dir{"zelvik-tls"};
    test::TempDir other_dir{"zelvik-tls-other"};
    std::string cert, key, other_cert, other_key;
    bool made =
        testing::make_test_certificate(dir.path(), "DNS:localhost,IP:127.0.0.1", cert, key) &&
        testing::make_test_certificate(other_dir.path(), "DNS:mail.example.org", other_cert,
                                       other_key);
};

MailSettings secure_mail(MailSecurity security, int port, const std::string& ca_file,
                         const std::string& password, const std::string& outbox) {
    MailSettings m{"localhost", "ops@example.org", "zelvik@example.org", "", port};
    m.security = security;
    m.user = "zelvik";
    m.password = password;
    m.ca_file = ca_file;
    m.outbox_dir = outbox;
    return m;
}

// Reports kept in `dir`; the temporary copy of one being written does not count yet.
size_t outbox_files(const std::string& dir) {
    std::error_code ec;
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        const std::string ext = e.path().extension().string();
        n += e.is_regular_file() && (ext == ".mail" || ext == ".webhook");
    }
    return n;
}

// Sends one detection through a fresh sender and stops it (the stop offers it once).
void send_one(const MailSettings& mail, std::vector<std::string>* notices = nullptr) {
    ReportSender sender(mail, {1h, 10s});
    if (notices) sender.set_failure_notice([=](const std::string& t) { notices->push_back(t); });
    ASSERT_TRUE(sender.start());
    ASSERT_TRUE(sender.report_detection("ABC", kOnset, 1.5, 7.25f));
    sender.request_stop();
    ASSERT_TRUE(sender.join(15s));
}

// STARTTLS on one port and TLS from the first byte on another, both requiring AUTH: the
// check is accepted without a message, the report arrives with the exact text the plain
// path sends; a wrong password and a certificate for another host are named, and the
// report then stays in the outbox.
TEST(SecureMail, StartTlsAndImplicitTlsWithAuth) {
    testing::LogCapture log;
    Certificates c;
    ASSERT_TRUE(c.made) << "openssl could not make the test certificates";
    const std::string body = format_report_body({ReportEntry("ABC", kOnset, 1.5, 7.25f)}, "");
    struct Case {
        const char* name;
        MailSecurity security;
        std::vector<std::string> server_tls;
    };
    const Case cases[] = {
        {"starttls", MailSecurity::kStartTls, {"--starttls", c.cert, c.key}},
        {"tls", MailSecurity::kTls, {"--tls", c.cert, c.key}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        test::TempDir mails, outbox;
        std::vector<std::string> options = k.server_tls;
        options.insert(options.end(), {"--auth", "zelvik", "s3cret pass"});
        SmtpSinkProcess sink(mails.path(), options);
        ASSERT_NE(sink.port(), 0) << sink.error();
        const MailSettings good =
            secure_mail(k.security, sink.port(), c.cert, "s3cret pass", outbox.path());
        const TransferResult check = check_mail_session(good, {10s, nullptr});
        EXPECT_TRUE(check.ok) << check.answer;

        send_one(good);
        ASSERT_EQ(sink.wait_for_mails(1, 10s), 1u);
        const std::string content = sink.mails()[0].content;
        std::string lf;  // the body as the plain path formats it, before CR LF
        for (char ch : content.substr(content.find("\r\n\r\n") + 4))
            if (ch != '\r') lf += ch;
        EXPECT_EQ(lf, body);
        EXPECT_NE(content.find("\r\nSubject: ALERT\r\n"), std::string::npos);
        EXPECT_EQ(outbox_files(outbox.path()), 0u);

        std::vector<std::string> notices;
        send_one(secure_mail(k.security, sink.port(), c.cert, "wrong", outbox.path()), &notices);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find("535"), std::string::npos) << notices[0];
        EXPECT_EQ(notices[0].find("wrong"), std::string::npos) << "the password is shown";
        EXPECT_EQ(outbox_files(outbox.path()), 1u);

        const MailSettings foreign =
            secure_mail(k.security, sink.port(), c.other_cert, "s3cret pass", outbox.path());
        const TransferResult refused = check_mail_session(foreign, {10s, nullptr});
        EXPECT_FALSE(refused.ok);
        EXPECT_NE(refused.answer.find("certificate"), std::string::npos) << refused.answer;
        EXPECT_EQ(sink.mails().size(), 1u);
    }
    EXPECT_TRUE(log.lines_with("s3cret").empty());
}

// A server that says 421 to the first DATA gets the report at the next attempt, once;
// the failed attempt names the backlog.
TEST(Outbox, DeferredReportArrivesOnceAfterTheServerComesBack) {
    testing::LogCapture log;
    test::TempDir mails, outbox;
    SmtpSinkProcess sink(mails.path(), {"--defer", "1"});
    ASSERT_NE(sink.port(), 0) << sink.error();
    MailSettings mail{"127.0.0.1", "ops@example.org", "zelvik@example.org", "", sink.port()};
    mail.outbox_dir = outbox.path();
    ReportSender sender(mail, {100ms, 10s, 100ms, {0.2, 1.0}});
    ASSERT_TRUE(sender.start());
    ASSERT_TRUE(sender.report_detection("ABC", kOnset, 1.0, 2.0f));
    ASSERT_EQ(sink.wait_for_mails(1, 10s), 1u);
    std::this_thread::sleep_for(1500ms);  // room for a wrongful second attempt
    sender.request_stop();
    ASSERT_TRUE(sender.join(10s));
    EXPECT_EQ(sink.mails().size(), 1u);
    EXPECT_EQ(sender.mails_failed(), 1);
    EXPECT_EQ(sender.backlog(), 0u);
    EXPECT_EQ(log.lines_with("421 4.3.2").size(), 1u);
    EXPECT_EQ(log.lines_with("1 waiting in the outbox").size(), 1u);
}

// A sender killed with SIGKILL while its report waits (the server is down) leaves the
// report on disk; the next sender delivers it once and leaves the outbox empty.
TEST(Outbox, ReportSurvivesSigkillAndArrivesOnce) {
    test::TempDir mails, outbox;
    const int down_port = testing::unused_loopback_port();
    MailSettings down{"127.0.0.1", "ops@example.org", "zelvik@example.org", "", down_port};
    down.outbox_dir = outbox.path();
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ReportSender sender(down, {100ms, 2s});
        if (!sender.start() || !sender.report_detection("ABC", kOnset, 1.0, 2.0f)) ::_exit(1);
        for (;;) ::pause();  // killed while the report waits for its next attempt
    }
    for (int i = 0; i < 100 && outbox_files(outbox.path()) == 0; ++i)
        std::this_thread::sleep_for(50ms);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(outbox_files(outbox.path()), 1u);

    SmtpSinkProcess sink(mails.path());
    ASSERT_NE(sink.port(), 0) << sink.error();
    MailSettings up = down;
    up.port = sink.port();
    ReportSender sender(up, {1h, 10s});
    ASSERT_TRUE(sender.start());
    ASSERT_EQ(sink.wait_for_mails(1, 10s), 1u);
    sender.request_stop();
    ASSERT_TRUE(sender.join(10s));
    EXPECT_EQ(sink.mails().size(), 1u);
    EXPECT_NE(sink.mails()[0].content.find("QRS       ABC"), std::string::npos);
    EXPECT_EQ(outbox_files(outbox.path()), 0u);
}

// The webhook gets one JSON document per report with the measured values (null where
// not converted), and a NO DATA notice as text; a 503 is retried.
TEST(Webhook, PostsTheMeasuredValuesAsJson) {
    test::TempDir posts;
    testing::WebhookSinkProcess hook(posts.path(), 1);
    ASSERT_NE(hook.port(), 0) << hook.error();
    MailSettings mail;
    mail.webhook = hook.url();
    mail.network = "XX";
    ReportSender sender(mail, {100ms, 10s, 100ms, {0.2, 1.0}});
    ASSERT_TRUE(sender.start());
    ReportEntry picked = measured("ABC", kOnset, 1.5, 7.25f, "BHZ", "00", 0.8, 1234.5, 0.25);
    picked.pick = kOnset + 0.24;
    picked.pick_grade = 1;
    picked.pick_snr = 12.5;
    ASSERT_TRUE(sender.report_entry(picked));
    ASSERT_TRUE(
        sender.report_entry(measured("XYZ", kOnset + 1, 1.0, 3.5f, "HHZ", "", 0.0, -1.0, -1.0)));
    ASSERT_EQ(hook.wait_for_posts(1, 10s), 1u);
    ASSERT_TRUE(sender.queue_mail("NO DATA", "ABC.BHZ.00 \"no data\"\n"));
    ASSERT_EQ(hook.wait_for_posts(2, 10s), 2u);
    sender.request_stop();
    ASSERT_TRUE(sender.join(10s));
    const std::vector<std::string> got = hook.posts();
    ASSERT_EQ(got.size(), 2u);
    // The document is checked by Python's own parser, so it is valid JSON.
    test::TempDir check;
    const std::string file = check.write("doc.json", got[0]);
    const std::string script = check.write(
        "check.py",
        "import json,sys\nd=json.load(open(sys.argv[1]))\ne=d['detections']\n"
        "assert d['subject']=='ALERT' and d['network']=='XX' and len(e)==2\n"
        "a,b=e\nassert a['station']=='ABC' and a['channel']=='BHZ' and a['location']=='00'\n"
        "assert a['onset']=='2014-03-06T12:34:56.78Z' and a['ratio']==7.25\n"
        "assert abs(a['period_s']-0.8)<1e-6 and a['amplitude_counts']==1234.5\n"
        "assert a['amplitude_um']==0.25\n"
        "assert b['period_s'] is None and b['amplitude_um'] is None and b['pick'] is None\n"
        "p=a['pick']\nassert p['onset']=='2014-03-06T12:34:57.02Z' and p['grade']==1 and "
        "p['snr']==12.5\n");
    EXPECT_EQ(std::system(("/usr/bin/python3 " + script + " " + file).c_str()), 0) << got[0];
    EXPECT_NE(got[1].find("\"subject\":\"NO DATA\""), std::string::npos) << got[1];
    EXPECT_NE(got[1].find("\\\"no data\\\"\\n"), std::string::npos) << got[1];
    EXPECT_EQ(sender.mails_failed(), 1);  // the 503
}

}  // namespace
}  // namespace zelvik::report
