// Restarts over the same stored data, as after a reboot with BEGIN reaching back: a
// detection whose event row an earlier run wrote raises no alarm and is not reported
// again, while one in data that arrived while Zelvik was stopped is alarmed and reported
// once, with its measurement, by mail (real aiosmtpd) and webhook (real http.server).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/clock.h"
#include "engine/supervisor.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/smtp_test_servers.h"

namespace zelvik::detect {
namespace {

using namespace std::chrono_literals;
using test::kT0;

struct RunOutcome {
    bool alarmed = false;
    long detections = 0;
};

// One catch-up run from kT0 over everything stored, its passes driven by hand.
RunOutcome catch_up(test::EngineFixture& fx, const report::MailSettings& mail, int threads = 1,
                    int coincidence = 1) {
    auto ws = fx.connect_store();
    SupervisorSettings s;
    s.settings_path = fx.ini();
    s.arguments = {"zelvik", "BEGIN='2020-09-13 12:26:40'"};  // kT0
    s.thread_count = threads;
    s.coincidence = coincidence;
    s.storage_days = 0;
    s.wav_file = "*";
    s.no_data_seconds = 0;
    s.reconnect_pause_ms = 0;
    s.mail = mail;
    s.stop_when_idle = true;
    Supervisor sup(s, *ws);
    (void)sup.start_up();
    RunOutcome out;
    const auto end = std::chrono::steady_clock::now() + 30s;
    for (bool last = false; !last && std::chrono::steady_clock::now() < end;) {
        last = sup.caught_up();
        (void)sup.run_once(common::now_utc_seconds());
        for (const ChannelRow& row : sup.rows()) out.alarmed = out.alarmed || row.in_alarm;
        std::this_thread::sleep_for(20ms);
    }
    sup.shut_down();
    out.detections = sup.outcomes().at(0).detections;
    return out;
}

TEST(Restart, StoredDetectionsAreNotRepeatedAndMissedOnesAreReportedOnce) {
    test::TempDir mail_dir("zelvik-mail"), post_dir("zelvik-posts"), outbox("zelvik-outbox");
    testing::SmtpSinkProcess sink(mail_dir.path());
    ASSERT_NE(sink.port(), 0) << sink.error();
    testing::WebhookSinkProcess hook(post_dir.path());
    ASSERT_NE(hook.port(), 0) << hook.error();
    report::MailSettings mail{"127.0.0.1", "ops@example.org", "zelvik@example.org", "",
                              sink.port()};
    mail.webhook = hook.url();
    mail.outbox_dir = outbox.path();

    test::EngineFixture fx;
    fx.add_channel("RS1", "HHZ", 100);
    fx.add_thread(0, "RS1", "HHZ");
    fx.add_segment("RS1", "HHZ", kT0, 100, test::synthetic_samples(300, 100, {200}));

    const RunOutcome first = catch_up(fx, mail);
    EXPECT_EQ(first.detections, 1);
    EXPECT_TRUE(first.alarmed);
    ASSERT_EQ(sink.wait_for_mails(1, 10s), 1u);
    ASSERT_EQ(hook.wait_for_posts(1, 10s), 1u);

    const RunOutcome again = catch_up(fx, mail);
    EXPECT_EQ(again.detections, 1);  // found again in the data ...
    EXPECT_FALSE(again.alarmed);     // ... but neither alarmed
    EXPECT_EQ(fx.log_count("was stored by an earlier run: no alarm, no report"), 1u);

    // Data recorded while Zelvik was stopped, with a second event.
    fx.add_segment("RS1", "HHZ", kT0 + 300, 100,
                   test::synthetic_samples(300, 100, {200}, 100.0, 0.0, 3000.0, 8.0, 7));
    const RunOutcome missed = catch_up(fx, mail);
    EXPECT_EQ(missed.detections, 2);
    EXPECT_TRUE(missed.alarmed);
    ASSERT_EQ(sink.wait_for_mails(2, 10s), 2u);
    ASSERT_EQ(hook.wait_for_posts(2, 10s), 2u);
    std::this_thread::sleep_for(300ms);  // room for a wrongful repeat
    const auto mails = sink.mails();
    ASSERT_EQ(mails.size(), 2u);  // ... nor reported again
    // Onsets 199.5 s after the start of each stretch of data (the burst less STA/2).
    EXPECT_NE(mails[0].content.find("2020/09/13 12:29:59.5"), std::string::npos)
        << mails[0].content;
    EXPECT_EQ(mails[1].content.find("12:29:59"), std::string::npos) << mails[1].content;
    EXPECT_NE(mails[1].content.find("2020/09/13 12:34:59.5"), std::string::npos)
        << mails[1].content;
    const auto posts = hook.posts();
    ASSERT_EQ(posts.size(), 2u);
    for (const std::string& p : posts) {
        EXPECT_NE(p.find("\"station\":\"RS1\",\"channel\":\"HHZ\""), std::string::npos) << p;
        EXPECT_EQ(p.find("\"period_s\":null"), std::string::npos) << p;
        EXPECT_EQ(p.find("\"amplitude_counts\":null"), std::string::npos) << p;
    }
    EXPECT_EQ(fx.event_rows("RS1"), 2);
}

// The same under the coincidence rule, which raises the alarm for groups of stations:
// a group an earlier run reported is neither alarmed nor reported again.
TEST(Restart, StoredGroupsAreNotRepeatedUnderTheCoincidenceRule) {
    test::TempDir mail_dir("zelvik-mail"), outbox("zelvik-outbox");
    testing::SmtpSinkProcess sink(mail_dir.path());
    ASSERT_NE(sink.port(), 0) << sink.error();
    report::MailSettings mail{"127.0.0.1", "ops@example.org", "zelvik@example.org", "",
                              sink.port()};
    mail.outbox_dir = outbox.path();
    test::EngineFixture fx;
    for (int n = 0; n < 2; ++n) {
        const std::string sta = n == 0 ? "RC1" : "RC2";
        fx.add_channel(sta, "HHZ", 100);
        fx.add_thread(n, sta, "HHZ");
        fx.add_segment(sta, "HHZ", kT0, 100,
                       test::synthetic_samples(300, 100, {200}, 100.0, 0.0, 3000.0, 8.0, n + 3));
    }
    EXPECT_TRUE(catch_up(fx, mail, 2, 2).alarmed);
    ASSERT_GE(sink.wait_for_mails(1, 10s), 1u);
    const size_t mails = sink.mails().size();
    EXPECT_EQ(fx.log_count("raises the alarm: 2 stations"), 2u) << fx.log_text();

    EXPECT_FALSE(catch_up(fx, mail, 2, 2).alarmed);
    EXPECT_EQ(fx.log_count("was stored by an earlier run: no alarm, no report"), 2u)
        << fx.log_text();
    EXPECT_EQ(fx.log_count("raises the alarm: 2 stations"), 2u);
    std::this_thread::sleep_for(500ms);  // room for a wrongful repeat
    EXPECT_EQ(sink.mails().size(), mails);
}

}  // namespace
}  // namespace zelvik::detect
