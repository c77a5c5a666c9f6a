// SmtpClient against a real aiosmtpd server on loopback and against scripted servers
// that refuse a command, close at once or never answer. Date goldens from
// `date -u -R -d @<seconds>`.
#include "report/smtp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "common/clock.h"
#include "tests/support/smtp_test_servers.h"
#include "tests/support/temp_dir.h"

namespace zelvik::report {
namespace {

using testing::ScriptedSmtpServer;
using testing::SmtpSinkProcess;
using namespace std::chrono_literals;

constexpr double kWed09Dec2026 = 1796810400.0;  // Wed, 09 Dec 2026 10:00:00 +0000

class SmtpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        common::set_clock_for_testing([] { return kWed09Dec2026; });
    }
    void TearDown() override { common::set_clock_for_testing({}); }
};

// The replies of a server that accepts everything.
std::string accept_all(const std::string& command) {
    if (command.rfind("HELO", 0) == 0) return "250-zelvik.test greets you\r\n250 HELP\r\n";
    if (command.rfind("DATA", 0) == 0) return "354 End data with <CR><LF>.<CR><LF>\r\n";
    if (command == "QUIT") return "221 Bye\r\n";
    return "250 Ok\r\n";
}

void prepare_alert(SmtpClient& client) {
    client.set_sender("zelvik@example.org");
    client.set_subject("ALERT");
    ASSERT_TRUE(client.add_recipient("ops@example.org", ""));
    client.set_body("line one\n.dot line\n");
}

TEST_F(SmtpClientTest, WaitsForTheGreetingAndSpeaksTheWholeDialogue) {
    ScriptedSmtpServer server(ScriptedSmtpServer::Behaviour::kDialogue,
                              "220-zelvik.test ESMTP\r\n220 ready\r\n", accept_all);
    SmtpClient client(5s);
    ASSERT_TRUE(client.open("127.0.0.1", server.port())) << client.last_error();
    prepare_alert(client);
    ASSERT_TRUE(client.send_mail()) << client.last_error();
    EXPECT_TRUE(client.quit());
    ASSERT_TRUE(server.wait_until_done(5s));

    EXPECT_FALSE(server.client_spoke_first());
    EXPECT_EQ(server.transcript(), "HELO " + helo_host_name() +
                                       "\r\n"
                                       "MAIL FROM: <zelvik@example.org>\r\n"
                                       "RCPT TO: <ops@example.org>\r\n"
                                       "DATA\r\n"
                                       "Date: Wed, 09 Dec 2026 10:00:00 +0000\r\n"
                                       "From: <zelvik@example.org>\r\n"
                                       "To: <ops@example.org>\r\n"
                                       "Cc: \r\n"
                                       "Subject: ALERT\r\n"
                                       "MIME-Version: 1.0\r\n"
                                       "Content-type: text/plain; charset=US-ASCII\r\n"
                                       "\r\n"
                                       "line one\r\n"
                                       "..dot line\r\n"
                                       ".\r\n"
                                       "QUIT\r\n");
}

TEST_F(SmtpClientTest, StopsAtTheFirstRefusalWithTheServersReply) {
    struct Case {
        const char* refused_command;  // prefix of the command the server refuses
        const char* reply;
        bool open_fails;
        const char* never_sent;  // the dialogue must stop before this (null: none)
    };
    const Case cases[] = {
        {"<greeting>", "554 5.3.2 no service for you\r\n", true, "HELO"},
        {"HELO", "501-5.5.4 Syntax error\r\n501 5.5.4 bad host name\r\n", true, "MAIL FROM"},
        {"MAIL", "553 5.1.8 sender address rejected\r\n", false, "RCPT TO"},
        {"RCPT", "550 5.1.1 <ops@example.org>: no such user\r\n", false, "DATA"},
        {"DATA", "554 5.5.1 no valid recipients\r\n", false, "Subject: ALERT"},
        {"<end of data>", "552 5.3.4 message too big\r\n", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refused_command);
        const std::string refused = c.refused_command;
        const bool greeting_refused = refused == "<greeting>";
        ScriptedSmtpServer server(
            ScriptedSmtpServer::Behaviour::kDialogue, greeting_refused ? c.reply : "220 ready\r\n",
            [&](const std::string& command) {
                return command.rfind(refused, 0) == 0 ? std::string(c.reply) : accept_all(command);
            });
        SmtpClient client(5s);
        const bool opened = client.open("127.0.0.1", server.port());
        EXPECT_EQ(opened, !c.open_fails);
        if (opened) {
            prepare_alert(client);
            EXPECT_FALSE(client.send_mail());
            EXPECT_TRUE(client.connected());
            EXPECT_TRUE(client.quit());
        }
        EXPECT_FALSE(client.connected());
        // The whole (last line of the) reply reaches the caller for the log.
        const std::string reply = c.reply;
        const std::string last_line = reply.substr(reply.rfind('\n', reply.size() - 2) + 1);
        EXPECT_NE(client.last_error().find(last_line.substr(0, last_line.size() - 2)),
                  std::string::npos)
            << client.last_error();
        ASSERT_TRUE(server.wait_until_done(5s));
        const std::string transcript = server.transcript();
        if (c.never_sent != nullptr) {
            EXPECT_EQ(transcript.find(c.never_sent), std::string::npos) << transcript;
        }
        // A refused dialogue still ends politely, with one QUIT.
        ASSERT_GE(transcript.size(), 6u);
        EXPECT_EQ(transcript.substr(transcript.size() - 6), "QUIT\r\n");
        EXPECT_EQ(transcript.find("QUIT"), transcript.size() - 6);
    }
}

TEST_F(SmtpClientTest, BrokenServersEndTheDialogueWithinTheTimeout) {
    using Behaviour = ScriptedSmtpServer::Behaviour;
    struct Case {
        const char* name;
        Behaviour behaviour;
        bool silent_at_end_of_data;  // answers everything but the message itself
        const char* error_part;
    };
    const Case cases[] = {
        {"closes at once", Behaviour::kCloseAtOnce, false, "closed"},
        {"never answers", Behaviour::kNeverAnswer, false, "timed out"},
        {"silent after the message", Behaviour::kDialogue, true, "timed out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSmtpServer server(c.behaviour, "220 ready\r\n", [&](const std::string& command) {
            return c.silent_at_end_of_data && command == "<end of data>" ? std::string()
                                                                         : accept_all(command);
        });
        SmtpClient client(300ms);
        const auto started = std::chrono::steady_clock::now();
        bool ok = client.open("127.0.0.1", server.port());
        if (ok) {
            prepare_alert(client);
            ok = client.send_mail();
        }
        const auto elapsed = std::chrono::steady_clock::now() - started;
        EXPECT_FALSE(ok);
        EXPECT_NE(client.last_error().find(c.error_part), std::string::npos) << client.last_error();
        EXPECT_LT(elapsed, 5s);  // one 300 ms timeout, not a hang
        EXPECT_TRUE(server.wait_until_done(5s));
    }
}

TEST_F(SmtpClientTest, ServerThatIsDownOrACancelledWaitFailsAtOnce) {
    SmtpClient down(5s);
    EXPECT_FALSE(down.open("127.0.0.1", testing::unused_loopback_port()));
    EXPECT_NE(down.last_error().find("refused"), std::string::npos) << down.last_error();
    EXPECT_FALSE(down.connected());
    EXPECT_FALSE(down.quit());  // not connected: nothing to say

    ScriptedSmtpServer silent(ScriptedSmtpServer::Behaviour::kNeverAnswer, "", accept_all);
    const std::atomic<bool> cancel{true};
    SmtpClient cancelled(30s, &cancel);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(cancelled.open("127.0.0.1", silent.port()));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_NE(cancelled.last_error().find("cancelled"), std::string::npos)
        << cancelled.last_error();
}

TEST_F(SmtpClientTest, RealServerReceivesAParsableMailWithTheBodyIntact) {
    test::TempDir dir;
    SmtpSinkProcess sink(dir.path());
    ASSERT_NE(sink.port(), 0) << sink.error();

    SmtpClient client(10s);
    ASSERT_TRUE(client.open("127.0.0.1", sink.port())) << client.last_error();
    client.set_sender("zelvik@example.org");
    client.set_subject("ALERT");
    ASSERT_TRUE(client.add_recipient("ops@example.org", ""));
    const std::string body = "Net Sta\n.\n..two dots\nlast line without end";
    client.set_body(body);
    ASSERT_TRUE(client.send_mail()) << client.last_error();
    EXPECT_TRUE(client.quit());

    ASSERT_EQ(sink.wait_for_mails(1, 10s), 1u);
    const auto mail = sink.mails().front();
    EXPECT_EQ(mail.envelope, "HELO " + helo_host_name() +
                                 "\nFROM zelvik@example.org\nTO ops@example.org\n"
                                 "DATE 1796810400\n");
    const std::string content = mail.content;
    const size_t body_start = content.find("\r\n\r\n");
    ASSERT_NE(body_start, std::string::npos);
    EXPECT_EQ(content.substr(body_start + 4),
              "Net Sta\r\n.\r\n..two dots\r\nlast line without end\r\n");
    EXPECT_NE(content.find("\r\nSubject: ALERT\r\n"), std::string::npos);
}

TEST_F(SmtpClientTest, HeaderListsRecipientsAndLeavesOutAnUnsetSubject) {
    SmtpClient client;
    EXPECT_FALSE(client.add_recipient("", "Nobody"));
    EXPECT_FALSE(client.add_recipient("evil@example.org>\r\nRCPT TO: <x@y", ""));
    ASSERT_TRUE(client.add_recipient("ops@example.org", "Ops "));
    ASSERT_TRUE(client.add_recipient("duty@example.org", ""));
    EXPECT_EQ(client.compose_header(),
              "Date: Wed, 09 Dec 2026 10:00:00 +0000\r\n"
              "To: Ops <ops@example.org>,<duty@example.org>\r\n"
              "Cc: \r\n"
              "MIME-Version: 1.0\r\n"
              "Content-type: text/plain; charset=US-ASCII\r\n"
              "\r\n");
}

TEST(SmtpEncoding, BodyLinesEndInCrLfAndLeadingDotsAreDoubled) {
    struct Case {
        const char* body;
        const char* wire;
    };
    const Case cases[] = {
        {"", ""},
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\r\nb", "a\r\nb"},
        {"a\rb", "a\r\nb"},
        {".", ".."},
        {".x\n..y\nz.\n", "..x\r\n...y\r\nz.\r\n"},
        {"a\r\n.\r\n", "a\r\n..\r\n"},
        {"\n.\n", "\r\n..\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(smtp_encode_body(c.body), c.wire) << c.body;
    }
}

TEST(SmtpEncoding, DateHeaderGoldens) {
    struct Case {
        double epoch;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "Thu, 01 Jan 1970 00:00:00 +0000"},
        {1796810400.75, "Wed, 09 Dec 2026 10:00:00 +0000"},
        {951825600.0, "Tue, 29 Feb 2000 12:00:00 +0000"},
        {-86400.0, "Wed, 31 Dec 1969 00:00:00 +0000"},
        {4107542399.0, "Sun, 28 Feb 2100 23:59:59 +0000"},
    };
    for (const Case& c : cases) EXPECT_EQ(rfc5322_date(c.epoch), c.text) << c.epoch;
}

}  // namespace
}  // namespace zelvik::report
