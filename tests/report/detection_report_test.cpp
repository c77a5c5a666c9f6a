// The arrival line columns (goldens written by hand from the column table; the onset
// 1394109296.78 is 2014-03-06 12:34:56.78 UTC by `date -u -d @1394109296`), and the
// sender thread mailing to a real aiosmtpd server or failing against broken ones.
#include "report/detection_report.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <string>
#include <vector>

#include "report/smtp_client.h"
#include "tests/report/log_capture.h"
#include "tests/support/smtp_test_servers.h"
#include "tests/support/temp_dir.h"

namespace zelvik::report {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;
using testing::ScriptedSmtpServer;
using testing::SmtpSinkProcess;

constexpr double kOnset = 1394109296.78;  // 2014-03-06 12:34:56.78 UTC

TEST(ReportLine, GoldenLine) {
    const ReportEntry entry{"ABC", kOnset, 12.34, 5.5f};
    EXPECT_EQ(format_report_line(entry, "", 2),
              //         1         2         3         4         5         6
              // 0123456789012345678901234567890123456789012345678901234567890123
              "QRS       ABC   mb_beam      2014/03/06 12:34:56.7   N          0.0"
              "   0.0   5.5       1.0  1.00  12.3   1.0 ZELVIK    00000002  \n");
}

TEST(ReportLine, FieldsAtTheirColumns) {
    struct Case {
        const char* name;
        ReportEntry entry;
        const char* network;
        size_t column;
        const char* expected;
    };
    const Case cases[] = {
        {"network given", {"ABC", kOnset, 1.0, 1.0f}, "XYZ", 0, "XYZ       ABC"},
        {"long network runs on, cut by the station",
         {"ABC", kOnset, 1.0, 1.0f},
         "NETWORKCODE12",
         0,
         "NETWORKCODABC  "},
        {"7-character station cut at column 16",
         {"ABCDEFG", kOnset, 1.0, 1.0f},
         "",
         10,
         "ABCDEFmb_beam"},
        {"date", {"ABC", kOnset, 1.0, 1.0f}, "", 29, "2014/03/06"},
        {"time in tenths, truncated", {"ABC", kOnset, 1.0, 1.0f}, "", 40, "12:34:56.7"},
        // 12:34:59.999999 is 60.0 in single precision: no time of day shows ":60".
        {"last tenth of a minute", {"ABC", 1394109299.999999, 1.0, 1.0f}, "", 40, "12:34:59.9"},
        {"whole second", {"ABC", 1394109296.0, 1.0, 1.0f}, "", 40, "12:34:56.0"},
        {"ratio", {"ABC", kOnset, 1.0, 123.46f}, "", 74, "123.5"},
        {"wide ratio runs into the amplitude field",
         {"ABC", kOnset, 1.0, 1234567.0f},
         "",
         74,
         "123456      1.0"},
        {"before 1970", {"ABC", -0.5, 1.0, 1.0f}, "", 29, "1969/12/31 23:59:59.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string line = format_report_line(c.entry, c.network, 0);
        ASSERT_EQ(line.size(), 129u);
        EXPECT_EQ(line.substr(c.column, std::string(c.expected).size()), c.expected);
    }
}

TEST(ReportLine, HugeValueIsCutAtTheLineEnd) {
    const ReportEntry entry{"ABC", kOnset, 1e300, 1.0f};
    const std::string line = format_report_line(entry, "", 7);
    ASSERT_EQ(line.size(), 129u);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.substr(96, 6), "100000");
    EXPECT_EQ(line.substr(102, 5), "  1.0");
    EXPECT_EQ(line.substr(118, 8), "00000007");
    // The variance's own digits run on to column 127 and are cut there.
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(line[126])) &&
                std::isdigit(static_cast<unsigned char>(line[127])))
        << line;
}

TEST(ReportBody, HeaderThenOneNumberedLinePerEntry) {
    EXPECT_EQ(kReportHeader.size(), 127u);
    const std::vector<ReportEntry> entries = {
        {"AAA", kOnset, 1.0, 1.0f}, {"BBB", kOnset, 1.0, 1.0f}, {"CCC", kOnset, 1.0, 1.0f}};
    const std::string body = format_report_body(entries, "NET");
    ASSERT_EQ(body.size(), 127u + 3 * 129u);
    EXPECT_EQ(body.substr(0, 127), kReportHeader);
    const char* ids[] = {"00000000", "00000001", "00000002"};
    const char* stations[] = {"AAA", "BBB", "CCC"};
    for (size_t i = 0; i < 3; ++i) {
        const std::string line = body.substr(127 + i * 129, 129);
        EXPECT_EQ(line.substr(10, 3), stations[i]);
        EXPECT_EQ(line.substr(118, 8), ids[i]);
    }
}

// The arrival lines of a received mail's body (the header line left out).
std::vector<std::string> arrival_lines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = content.find("\r\n\r\n");
    if (start == std::string::npos) return lines;
    start += 4;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(content.substr(start, end - start));
    }
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
}

MailSettings mail_to(int port, const std::string& recipient = "ops@example.org") {
    return MailSettings{"127.0.0.1", recipient, "zelvik@example.org", "", port};
}

TEST(ReportSender, WithoutServerOrRecipientNothingIsQueued) {
    const MailSettings cases[] = {{"", "ops@example.org", "z@example.org", "", 0},
                                  {"127.0.0.1", "", "z@example.org", "", 0}};
    for (const MailSettings& mail : cases) {
        ReportSender sender(mail);
        EXPECT_FALSE(sender.start());
        EXPECT_FALSE(sender.ready());
        EXPECT_FALSE(sender.report_detection("ABC", kOnset, 1.0, 2.0f));
        EXPECT_TRUE(sender.join(10ms));
    }
}

TEST(ReportSender, ShutdownMailsWhatIsQueuedOnce) {
    test::TempDir dir;
    SmtpSinkProcess sink(dir.path());
    ASSERT_NE(sink.port(), 0) << sink.error();
    ReportSender sender(mail_to(sink.port()), {1h, 10s});
    ASSERT_TRUE(sender.start());
    ASSERT_TRUE(sender.ready());
    EXPECT_TRUE(sender.report_detection("AAA", kOnset, 1.0, 2.0f));
    EXPECT_TRUE(sender.report_detection("BBBBBBBBBBBBBBBBBBBB", kOnset, 1.0, 2.0f));
    EXPECT_TRUE(sender.report_detection("CCC", kOnset, 1.0, 2.0f));
    sender.request_stop();
    ASSERT_TRUE(sender.join(10s));
    EXPECT_FALSE(sender.ready());  // nothing would send a later detection
    EXPECT_FALSE(sender.report_detection("DDD", kOnset, 1.0, 2.0f));

    EXPECT_EQ(sender.mails_sent(), 1);
    const auto mails = sink.mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].envelope.substr(0, mails[0].envelope.find("DATE")),
              "HELO " + helo_host_name() + "\nFROM zelvik@example.org\nTO ops@example.org\n");
    EXPECT_NE(mails[0].content.find("\r\nSubject: ALERT\r\n"), std::string::npos);
    const auto lines = arrival_lines(mails[0].content);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 13), "QRS       AAA");
    EXPECT_EQ(lines[1].substr(10, 16), "BBBBBBmb_beam   ");  // cut to 15, then overwritten
    EXPECT_EQ(lines[2].substr(118, 8), "00000002");
}

TEST(ReportSender, DetectionsOnEitherSideOfAWakeUpGoInTwoMails) {
    test::TempDir dir;
    SmtpSinkProcess sink(dir.path());
    ASSERT_NE(sink.port(), 0) << sink.error();
    ReportSender sender(mail_to(sink.port()), {100ms, 10s});
    ASSERT_TRUE(sender.start());
    ASSERT_TRUE(sender.report_detection("AAA", kOnset, 1.0, 2.0f));
    ASSERT_EQ(sink.wait_for_mails(1, 10s), 1u);
    ASSERT_TRUE(sender.report_detection("BBB", kOnset + 60.0, 1.0, 2.0f));
    ASSERT_EQ(sink.wait_for_mails(2, 10s), 2u);
    sender.request_stop();
    ASSERT_TRUE(sender.join(10s));

    const auto mails = sink.mails();
    ASSERT_EQ(mails.size(), 2u);
    const char* stations[] = {"AAA", "BBB"};
    for (size_t i = 0; i < 2; ++i) {
        const auto lines = arrival_lines(mails[i].content);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].substr(10, 3), stations[i]);
        EXPECT_EQ(lines[0].substr(118, 8), "00000000");
    }
}

// Mail settings changed while running: a sender that had no server starts with the
// new ones, and a running one mails by the newer ones from its next round on.
TEST(ReportSender, ChangedMailSettingsTakeEffectAtOnce) {
    test::TempDir dir_a, dir_b;
    SmtpSinkProcess a(dir_a.path()), b(dir_b.path());
    ASSERT_NE(a.port(), 0) << a.error();
    ASSERT_NE(b.port(), 0) << b.error();
    ReportSender sender(MailSettings{}, {1h, 10s});
    ASSERT_FALSE(sender.start());
    sender.change_mail(mail_to(a.port()));
    ASSERT_TRUE(sender.ready());
    ASSERT_TRUE(sender.report_detection("AAA", kOnset, 1.0, 2.0f));
    sender.change_mail(mail_to(b.port()));  // wakes the sender: AAA goes by the new server
    ASSERT_EQ(b.wait_for_mails(1, 10s), 1u);
    ASSERT_TRUE(sender.report_detection("BBB", kOnset, 1.0, 2.0f));
    sender.request_stop();
    ASSERT_TRUE(sender.join(10s));
    EXPECT_EQ(a.mails().size(), 0u);
    const auto mails = b.mails();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(arrival_lines(mails[0].content)[0].substr(10, 3), "AAA");
    EXPECT_EQ(arrival_lines(mails[1].content)[0].substr(10, 3), "BBB");
}

TEST(ReportSender, FailedMailIsLoggedOnceWithTheReason) {
    LogCapture log;
    ASSERT_TRUE(log.enabled());
    test::TempDir dir;
    SmtpSinkProcess sink(dir.path());
    ASSERT_NE(sink.port(), 0) << sink.error();
    struct Case {
        const char* name;
        MailSettings mail;
        const char* reason;
    };
    const Case cases[] = {
        {"recipient refused", mail_to(sink.port(), "refused@example.org"), "550 5.1.1"},
        {"server down", mail_to(testing::unused_loopback_port()), "Connection refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReportSender sender(c.mail, {1h, 10s});
        ASSERT_TRUE(sender.start());
        ASSERT_TRUE(sender.report_detection("ABC", kOnset, 1.0, 2.0f));
        sender.request_stop();
        ASSERT_TRUE(sender.join(10s));
        EXPECT_EQ(sender.mails_sent(), 0);
        EXPECT_EQ(sender.mails_failed(), 1);
        const auto lines = log.lines_with(c.reason);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("Detection report not mailed (1 detections)"), std::string::npos)
            << lines[0];
    }
    EXPECT_TRUE(sink.mails().empty());
}

TEST(MailServer, HostAndPortAreSplit) {
    struct Case {
        const char* text;
        const char* host;  // nullptr: refused
        int port;
    };
    const Case cases[] = {
        {"mail.example.org", "mail.example.org", 0},
        {"mail.example.org:2525", "mail.example.org", 2525},
        {"127.0.0.1:25", "127.0.0.1", 25},
        {"[::1]:2525", "::1", 2525},
        {"[2001:db8::5]", "2001:db8::5", 0},
        {"::1", "::1", 0},  // a bare IPv6 address has no port
        {"mail:", nullptr, 0},
        {"mail:smtp", nullptr, 0},
        {"mail:70000", nullptr, 0},
        {"mail:0", nullptr, 0},
        {"[::1", nullptr, 0},
        {"[::1]x", nullptr, 0},
        {":25", nullptr, 0},
    };
    for (const Case& c : cases) {
        std::string host, error;
        int port = -1;
        const bool ok = split_mail_server(c.text, host, port, error);
        EXPECT_EQ(ok, c.host != nullptr) << c.text << ": " << error;
        if (ok && c.host != nullptr) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        } else {
            EXPECT_NE(error.find(c.text), std::string::npos) << error;
        }
    }
}

// The port written in SERVER wins over the default, over IPv4 and IPv6 alike; every
// mail that went out is logged with its recipient and count, every failure is handed
// to the front end once.
TEST(ReportSender, ServerWithPortIsReachedAndEachOutcomeIsLogged) {
    LogCapture log;
    ASSERT_TRUE(log.enabled());
    const auto accept = [](const std::string& command) -> std::string {
        if (command == "DATA") return "354 go on\r\n";
        return command == "QUIT" ? "221 bye\r\n" : "250 ok\r\n";
    };
    for (const bool ipv6 : {false, true}) {
        SCOPED_TRACE(ipv6 ? "IPv6" : "IPv4");
        ScriptedSmtpServer server(ScriptedSmtpServer::Behaviour::kDialogue, "220 hi\r\n", accept,
                                  ipv6);
        if (server.port() == 0) {
            ASSERT_TRUE(ipv6) << "no IPv4 loopback";
            continue;  // a host without ::1
        }
        const std::string port = std::to_string(server.port());
        MailSettings mail{ipv6 ? "[::1]:" + port : "127.0.0.1:" + port, "ops@example.org",
                          "zelvik@example.org", "", 0};
        std::vector<std::string> notices;
        ReportSender sender(mail, {1h, 10s});
        sender.set_failure_notice([&](const std::string& text) { notices.push_back(text); });
        ASSERT_TRUE(sender.start());
        ASSERT_TRUE(sender.report_detection("ABC", kOnset, 1.0, 2.0f));
        ASSERT_TRUE(sender.report_detection("ABD", kOnset, 1.0, 2.0f));
        sender.request_stop();
        ASSERT_TRUE(sender.join(10s));
        EXPECT_EQ(sender.mails_sent(), 1);
        EXPECT_TRUE(notices.empty());
        EXPECT_EQ(log.lines_with("Detection report mailed to ops@example.org (2 detections) via " +
                                 mail.server)
                      .size(),
                  1u);
        EXPECT_NE(server.transcript().find("RCPT TO: <ops@example.org>"), std::string::npos);
    }
    MailSettings broken{"127.0.0.1:" + std::to_string(testing::unused_loopback_port()),
                        "ops@example.org", "zelvik@example.org", "", 0};
    std::vector<std::string> notices;
    ReportSender sender(broken, {1h, 10s});
    sender.set_failure_notice([&](const std::string& text) { notices.push_back(text); });
    ASSERT_TRUE(sender.start());
    ASSERT_TRUE(sender.report_detection("ABC", kOnset, 1.0, 2.0f));
    sender.request_stop();
    ASSERT_TRUE(sender.join(10s));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("not mailed (1 detections) to ops@example.org via " + broken.server),
              std::string::npos)
        << notices[0];
    EXPECT_EQ(log.lines_with(notices[0]).size(), 1u);
}

TEST(ReportSender, BoundedJoinAbandonsAMailToAServerThatNeverAnswers) {
    LogCapture log;
    ASSERT_TRUE(log.enabled());
    ScriptedSmtpServer server(ScriptedSmtpServer::Behaviour::kNeverAnswer, "",
                              [](const std::string&) { return std::string(); });
    ReportSender sender(mail_to(server.port()), {1h, 30s});
    ASSERT_TRUE(sender.start());
    ASSERT_TRUE(sender.report_detection("ABC", kOnset, 1.0, 2.0f));
    sender.request_stop();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(sender.join(300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);  // not the 30 s timeout
    EXPECT_EQ(sender.mails_failed(), 1);
    EXPECT_EQ(log.lines_with("did not end within 300 ms").size(), 1u);
    EXPECT_EQ(log.lines_with("cancelled").size(), 1u);
}

}  // namespace
}  // namespace zelvik::report
