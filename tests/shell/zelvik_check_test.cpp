// The real `zelvik` over a real SQLite store: `--check` on a good and a broken
// configuration, and catch-up runs that say what they watch, sum up what they did, and
// fail when they can watch nothing.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/shell/child_process.h"
#include "tests/shell/machine_isolation.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/smtp_test_servers.h"
#include "tests/support/store_fixture.h"
#include "tests/support/temp_dir.h"

namespace zelvik::shell {
namespace {

using test::kT0;
using namespace std::chrono_literals;

// 300 s of 100 sps noise from kT0 (2020-09-13 12:26:40 UTC) with one 5 Hz burst at
// 200 s, past the 120 s warm-up: one detection.
constexpr double kSeconds = 300.0;

// A loopback port nothing listens on: bound once, then released.
int closed_loopback_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (fd != -1 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd != -1) ::close(fd);
    return port;
}

class ZelvikCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        isolate_from_machine(dir_);
        store_ = std::make_unique<test::SqliteTestStore>();
        store_->add_channel("ABC", "BHZ", std::nullopt, 100.0);
        store_->write_int32("abc.i32", test::synthetic_samples(kSeconds, 100.0, {200.0}));
        test::TestSegment s;
        s.sta = "ABC", s.chan = "BHZ", s.tbegin = kT0, s.tqty = kSeconds, s.sps = 100.0;
        s.cpath = "abc.i32", s.tend = kT0 + kSeconds;
        store_->add_segment(s);
        // A 1 Hz seismometer: 6.0e8 counts/m at 1 Hz.
        store_->add_response({"ABC", "BHZ", "??", "", "2000-01-01 00:00:00", std::nullopt,
                              "ZEROS 3\nPOLES 2\n-4.443 4.443\n-4.443 -4.443\nCONSTANT 1.35e8\n",
                              std::nullopt});
    }

    static std::string channel(int n, const std::string& station, const std::string& fr2 = "8") {
        return "[THREAD" + std::to_string(n) + "]\nSTATION=" + station +
               "\nCHANNEL=BHZ\nLTA=10\nSTA=1\nThreshold=4\nFR1=2\nFR2=" + fr2 + "\nORDER=3\n";
    }
    // The settings file: connection, log, the SYSTEM lines given, then `rest`.
    std::string settings(const std::string& system, const std::string& rest,
                         const std::string& data_dir = {}, const std::string& wav = "*") {
        // Each call its own file, so that several configurations can stand side by side.
        return dir_.write("zelvik" + std::to_string(files_++) + ".ini",
                          "[DATABASE]\nODBC=" + store_->dsn() + "\n[DATA]\nDIR=" +
                              (data_dir.empty() ? store_->data_dir() : data_dir) +
                              "\n[LOG]\nDIR=" + dir_.file("log") +
                              "\n[SYSTEM]\nSLEEP=0\nBEGIN=2020-09-13 12:26:40\n" + system +
                              "[ALARM]\nWAVFILE=" + wav + "\n" + rest);
    }
    ChildResult run(const std::vector<std::string>& options) {
        std::vector<std::string> args = {ZELVIK_BINARY};
        args.insert(args.end(), options.begin(), options.end());
        return run_child(args);
    }
    std::string log() const {
        std::string text;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir_.file("log"), ec))
            text += test::read_file(e.path().string());
        return text;
    }

    test::TempDir dir_;
    std::unique_ptr<test::SqliteTestStore> store_;
    int files_ = 0;
};

TEST_F(ZelvikCheckTest, GoodConfigurationPasses) {
    const std::string ini = settings("THREADS=1\n", channel(0, "ABC"));
    const ChildResult r = run({"--check", "--config", ini, "PASSWORD=s3cret"});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::string expected[] = {
        "ODBC=" + store_->dsn() + " (local ini), USER=QSX (QSX.ini), PASSWORD=*** (cmd line)",
        "  store: answers",
        "  data directory: " + store_->data_dir() + " (local ini): exists",
        "  THREAD0 ABC.BHZ.??: found, 100 sps, warm-up 120 s, data 2020-09-13 12:26:40 to "
        "2020-09-13 12:31:40 UTC",
        "    response PAZ, 5.99773e+08 counts/m at 1 Hz",
        "    settings usable: 100 sps, ORDER 3",
        "  every key is one Zelvik reads",
        "Detection would start at 2020-09-13 12:26:40 UTC (settings)",
        "Mail: not configured",
        "Alarm sound: off",
        "Metrics: none (SYSTEM METRICS is empty)",
        "Result: 1 of 1 channels can run\n",
    };
    for (const std::string& line : expected) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
    EXPECT_EQ(r.out.find("s3cret"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("log")));  // a check writes no log
}

TEST_F(ZelvikCheckTest, BrokenConfigurationNamesEveryProblem) {
    const std::string not_wav = dir_.write("alarm.wav", "not a sound");
    const int closed_port = closed_loopback_port();
    const std::string ini =
        settings("THREADS=3\nTHREAD=4\nMETRICS=" + dir_.file("nowhere") + "\n",
                 channel(0, "ABC") + "Treshold=6\n" + channel(1, "XYZ") + channel(2, "ABC", "60") +
                     channel(5, "ABC") + "[ALRAM]\nSILENCE=5\n[MAIL]\nSERVER=127.0.0.1:" +
                     std::to_string(closed_port) + "\nRECIPIENT=ops@example.org\n",
                 {}, not_wav);
    const ChildResult r = run({"--check", "--config", ini});
    EXPECT_EQ(r.exit_status, 1) << r.out << r.err;
    const std::string expected[] = {
        "  THREAD0 ABC.BHZ.??: found",
        "  THREAD1 XYZ.BHZ.??: NOT IN THE STORE (no SITECHAN row; a run waits for its first data)",
        "UNUSABLE: FR2 60.000 Hz not below half the sample rate 100; CANNOT RUN",
        "  [THREAD0] Treshold is not read; did you mean Threshold?",
        "  [SYSTEM] THREAD is not read; did you mean THREADS?",
        "  section [THREAD5] lies beyond THREADS=3 and is not read",
        "  section [ALRAM] is not read; did you mean [ALARM]?",
        "Mail: server 127.0.0.1:" + std::to_string(closed_port) + " DOES NOT ANSWER",
        "Alarm sound: " + not_wav + " cannot be read",
        "Metrics: " + dir_.file("nowhere") + ": DOES NOT EXIST (no zelvik.prom will be written)",
        "Result: 1 of 3 channels can run; NOT READY",
    };
    for (const std::string& line : expected) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
    // A data directory that is not there fails the check even when every channel runs.
    const ChildResult no_dir = run(
        {"--check", "--config", settings("THREADS=1\n", channel(0, "ABC"), dir_.file("nodata"))});
    EXPECT_EQ(no_dir.exit_status, 1);
    EXPECT_NE(no_dir.out.find("DOES NOT EXIST"), std::string::npos) << no_dir.out;
}

TEST_F(ZelvikCheckTest, UnusableResponseAndAbsurdRateAreNamedAsARunNamesThem) {
    store_->add_channel("PZM", "BHZ", std::nullopt, 100.0);
    store_->add_response({"PZM", "BHZ", "??", "", "2000-01-01 00:00:00", std::nullopt,
                          "ZEROS 0\nPOLES 1000000\nCONSTANT 1\n", std::nullopt});
    store_->add_channel("GIG", "BHZ", std::nullopt, 1e9);
    const ChildResult r =
        run({"--check", "--config",
             settings("THREADS=2\n", channel(0, "PZM") + channel(1, "GIG") + "LTA=10\n")});
    const std::string expected[] = {
        "    response UNUSABLE: the pole-zero text announces 0 zeros and 1000000 poles, more than "
        "100; amplitudes are not converted (rows store AMP 0 and PER 0)",
        "  THREAD1 GIG.BHZ.??: found, 1e+09 sps, NO DATA",
        "UNUSABLE: sample rate 1e+09 sps above the 20000 sps a channel may have; CANNOT RUN",
    };
    for (const std::string& line : expected) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
}

// A submission server that wants STARTTLS and AUTH (aiosmtpd, certificate made here):
// the plain check names the demand; with SECURITY=starttls the session is accepted or
// the wrong password named, the password never printed; --test-alert reaches the mail
// server and the webhook and prints their answers.
TEST_F(ZelvikCheckTest, MailCheckAndTestAlertTellTheTruth) {
    test::TempDir tls, mails, posts;
    std::string cert, key;
    ASSERT_TRUE(testing::make_test_certificate(tls.path(), "DNS:localhost", cert, key));
    testing::SmtpSinkProcess sink(mails.path(),
                                  {"--starttls", cert, key, "--auth", "zelvik", "s3cret"});
    ASSERT_NE(sink.port(), 0) << sink.error();
    testing::WebhookSinkProcess hook(posts.path());
    ASSERT_NE(hook.port(), 0) << hook.error();
    const auto mail = [&](const std::string& extra) {
        return settings("THREADS=1\n",
                        channel(0, "ABC") +
                            "[MAIL]\nSERVER=localhost:" + std::to_string(sink.port()) +
                            "\nRECIPIENT=ops@example.org\nSENDER=z@example.org\n" + extra);
    };
    const std::string secure = "SECURITY=starttls\nUSER=zelvik\nCAFILE=" + cert + "\n";
    struct Case {
        std::string extra, expected;
    };
    const Case cases[] = {
        {"",
         "answers but DEMANDS STARTTLS (set SECURITY=starttls, and USER and PASSWORD): "
         "[open] refused : 530 Must issue a STARTTLS command first"},
        {secure + "PASSWORD=s3cret\n",
         "accepts the session (EHLO, STARTTLS, AUTH; no message sent) (SECURITY=starttls, "
         "USER=zelvik, PASSWORD=***, CAFILE="},
        {secure + "PASSWORD=wrong\n", "REFUSES the session: [check] Login denied : 535"},
    };
    for (const Case& c : cases) {
        const ChildResult r = run({"--check", "--config", mail(c.extra)});
        EXPECT_NE(
            r.out.find("Mail: server localhost:" + std::to_string(sink.port()) + " " + c.expected),
            std::string::npos)
            << c.expected << "\n"
            << r.out;
        EXPECT_EQ(r.out.find("s3cret"), std::string::npos);
        EXPECT_EQ(r.out.find("=wrong"), std::string::npos);
    }
    const ChildResult sent = run({"--test-alert", "--config",
                                  mail(secure + "PASSWORD=s3cret\nWEBHOOK=" + hook.url() + "\n")});
    EXPECT_EQ(sent.exit_status, 0) << sent.out << sent.err;
    EXPECT_NE(sent.out.find("(SECURITY=starttls): sent, server answered: 250"), std::string::npos)
        << sent.out;
    EXPECT_NE(sent.out.find("Webhook " + hook.url() + ": posted, answer: HTTP 200"),
              std::string::npos)
        << sent.out;
    ASSERT_EQ(sink.wait_for_mails(1, 10s), 1u);
    EXPECT_NE(sink.mails()[0].content.find("Subject: ALERT TEST\r\n"), std::string::npos);
    ASSERT_EQ(hook.wait_for_posts(1, 10s), 1u);
    EXPECT_NE(hook.posts()[0].find("\"station\":\"TEST\""), std::string::npos);
}

TEST_F(ZelvikCheckTest, CatchUpRunSaysWhatItWatchesAndSumsUp) {
    const std::string ini = settings("THREADS=2\n", channel(0, "ABC") + channel(1, "XYZ"));
    const ChildResult r = run({"--until-caught-up", "--config", ini});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    const std::string watching =
        "watching 1 of 2 channels; waiting for first data: THREAD1 XYZ.BHZ.?? (not in the store "
        "yet (no SITECHAN row); starts when its first data arrive)";
    EXPECT_NE(r.err.find("zelvik: " + watching + "\n"), std::string::npos) << r.err;
    EXPECT_NE(log().find(watching), std::string::npos);
    const std::string expected[] = {
        "zelvik: summary of the run:\n",
        "zelvik:   ABC.BHZ.??           2020-09-13 12:31:40            1           1  "
        "0/1/0/0/0\n",
        "zelvik:   XYZ.BHZ.??           did not run                    0           0  "
        "0/0/0/0/0\n",
        "zelvik:   total, 2 channels                                   1           1  "
        "0/1/0/0/0\n",
    };
    for (const std::string& line : expected) {
        EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
    }
    EXPECT_EQ(store_->count("select STA from EVENTLIST"), 1);
    EXPECT_EQ(store_->count("select STA from PICKS where STA='ABC' and GRADE=1"), 1);
}

TEST_F(ZelvikCheckTest, CatchUpRunThatCanWatchNothingFails) {
    struct Case {
        const char* name;
        std::string ini;
        std::string said;
    };
    const Case cases[] = {
        {"THREAD instead of THREADS", settings("THREAD=1\n", channel(0, "ABC")),
         "watching 0 of 0 channels: no channel sections (SYSTEM THREADS is 0 or missing)"},
        {"no channel in the store", settings("THREADS=1\n", channel(0, "XYZ")),
         "watching 0 of 1 channels; waiting for first data: THREAD0 XYZ.BHZ.??"},
        {"every channel skipped", settings("THREADS=1\n", channel(0, "ABC", "60")),
         "watching 0 of 1 channels; skipped: THREAD0 ABC.BHZ.??"},
        {"no data directory", settings("THREADS=1\n", channel(0, "ABC"), dir_.file("nodata")),
         "watching 1 of 1 channels; data directory \"" + dir_.file("nodata") +
             "\" does not exist, no samples can be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir_.file("log"));
        const ChildResult r = run({"--until-caught-up", "--config", c.ini});
        EXPECT_EQ(r.exit_status, 4) << r.err;
        EXPECT_NE(r.err.find("zelvik: " + c.said), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("zelvik: nothing to catch up: no channel could run\n"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(log().find(c.said), std::string::npos) << log();
    }
}

}  // namespace
}  // namespace zelvik::shell
