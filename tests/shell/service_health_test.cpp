// A live run as systemd and Prometheus see it: the real engine on a real SQLite store,
// a notify socket as systemd's, and the Debian node exporter reading the METRICS
// directory, scraped over HTTP. One channel is fed live, one stopped, one has no data
// in the store yet and one is refused by its settings.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "common/clock.h"
#include "config/atomic_file.h"
#include "shell/engine.h"
#include "shell/service_health.h"
#include "shell/status_report.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/service_probes.h"

namespace zelvik::shell {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class QuietEvents : public EngineEvents {
public:
    void channels_changed(std::vector<ChannelView>) override {}
    void alarm_changed(bool, const std::string&) override {}
    void info_changed(const std::string&) override {}
    void play_alarm(const std::string&) override {}
};

// The node exporter sorts labels by name. Station HAn is in section THREADn-1.
std::string series(const char* name, const std::string& station, const std::string& state = {}) {
    std::string s = std::string(name) + "{channel=\"HHZ\",location=\"??\"";
    if (!state.empty()) s += ",state=\"" + state + "\"";
    return s + ",station=\"" + station + "\",thread=\"" + std::to_string(station[2] - '1') + "\"}";
}

// Scrapes until `done` holds for the exposition, at most `wait`; returns the last one.
template <class Done>
std::string scrape_until(const test::NodeExporter& exporter, Done done, seconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    std::string text;
    while (std::chrono::steady_clock::now() < until) {
        text = exporter.scrape();
        if (done(text)) break;
        std::this_thread::sleep_for(milliseconds(250));
    }
    return text;
}

TEST(ServiceHealth, LiveRunSpeaksToSystemdAndTheNodeExporter) {
    test::EngineFixture fx;
    test::TempDir metrics("zelvik-metrics");
    const double now = std::floor(common::now_utc());
    fx.add_channel("HA1", "HHZ", 100);  // fed live below
    fx.add_channel("HA2", "HHZ", 100);  // its feed stopped 200 s ago
    fx.add_channel("HA4", "HHZ", 100);
    fx.add_segment("HA1", "HHZ", now - 300, 100,
                   test::synthetic_samples(298, 100, {200}, 100, 0, 3000, 8, 1));
    fx.add_segment("HA2", "HHZ", now - 300, 100, test::synthetic_samples(100, 100, {}));
    fx.add_thread(0, "HA1", "HHZ");
    fx.add_thread(1, "HA2", "HHZ");
    fx.add_thread(2, "HA3", "HHZ");  // no SITECHAN row: waits for data
    fx.add_thread(3, "HA4", "HHZ");
    fx.set("THREAD3", "ORDER", "9");  // refused: skipped
    auto ws = fx.connect_store();

    test::NotifySocket systemd(2'000'000);
    ASSERT_TRUE(systemd.ok());
    test::NodeExporter exporter(metrics.path());
    if (!exporter.ok()) GTEST_SKIP() << exporter.why();

    detect::SupervisorSettings s;
    s.settings_path = fx.ini();
    s.arguments = {"zelvik", "BEGIN=-300"};
    s.thread_count = 4;
    s.sleep_seconds = 0;
    s.storage_days = 0;
    s.no_data_seconds = 3;
    s.reconnect_pause_ms = 0;
    s.metrics_directory = metrics.path();
    QuietEvents events;
    Engine engine(s, *ws, events);
    ASSERT_TRUE(engine.start());
    EXPECT_FALSE(systemd.wait_for("READY=1", seconds(20)).empty()) << fx.log_text();
    // READY only once every section is set up: the watch summary is logged before it,
    // and the status sent with it counts the channels.
    EXPECT_EQ(fx.log_count("watching 2 of 4 channels"), 1u) << fx.log_text();
    EXPECT_FALSE(
        systemd.wait_for("STATUS=watching 2 of 4 channels; 0 stalled; outbox 0", seconds(1))
            .empty());

    // HA1's feed goes on: one more second of samples every half second.
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        double end = now - 2;
        while (feeding.load()) {
            if (end < common::now_utc() - 1) {
                fx.add_segment("HA1", "HHZ", end, 100, test::synthetic_samples(1, 100, {}));
                end += 1;
            }
            std::this_thread::sleep_for(milliseconds(200));
        }
    });
    const std::string text = scrape_until(
        exporter,
        [](const std::string& t) {
            return test::sample_value(t, series("zelvik_channel_state", "HA2", "stalled")) == 1 &&
                   test::sample_value(t, series("zelvik_channel_detections_total", "HA1")) >= 1;
        },
        seconds(30));
    EXPECT_EQ(test::sample_value(text, "node_textfile_scrape_error"), 0) << text;
    EXPECT_EQ(test::sample_value(text, series("zelvik_channel_state", "HA1", "running")), 1);
    EXPECT_EQ(test::sample_value(text, series("zelvik_channel_state", "HA1", "stalled")), 0);
    EXPECT_EQ(test::sample_value(text, series("zelvik_channel_state", "HA2", "stalled")), 1);
    EXPECT_EQ(test::sample_value(text, series("zelvik_channel_state", "HA3", "waiting")), 1);
    EXPECT_EQ(test::sample_value(text, series("zelvik_channel_state", "HA4", "skipped")), 1);
    EXPECT_EQ(test::sample_value(text, series("zelvik_channel_detections_total", "HA1")), 1)
        << fx.log_text();
    EXPECT_EQ(test::sample_value(text, series("zelvik_channel_data_end_timestamp_seconds", "HA2")),
              now - 200);
    EXPECT_LT(test::sample_value(text, series("zelvik_channel_latency_seconds", "HA1")), 15);
    EXPECT_TRUE(
        std::isnan(test::sample_value(text, series("zelvik_channel_latency_seconds", "HA3"))));
    EXPECT_EQ(test::sample_value(text, "zelvik_store_up"), 1);
    EXPECT_GT(test::sample_value(text, "zelvik_samples_processed_total"), 39000);
    EXPECT_GT(test::sample_value(text, "zelvik_worker_passes_total"), 1);

    // The stopped feed's latency grows with the clock; the live one stays small.
    const double before = test::sample_value(text, series("zelvik_channel_latency_seconds", "HA2"));
    const std::string later = scrape_until(
        exporter,
        [&](const std::string& t) {
            return test::sample_value(t, series("zelvik_channel_latency_seconds", "HA2")) >
                   before + 4;
        },
        seconds(15));
    EXPECT_GT(test::sample_value(later, series("zelvik_channel_latency_seconds", "HA2")),
              before + 4);
    EXPECT_LT(test::sample_value(later, series("zelvik_channel_latency_seconds", "HA1")), 15);

    // What systemd heard meanwhile: a one-line status naming the stall, and pings.
    EXPECT_FALSE(
        systemd.wait_for("STATUS=watching 2 of 4 channels; 1 stalled; outbox 0", seconds(5))
            .empty());
    EXPECT_FALSE(systemd.wait_for("WATCHDOG=1", seconds(2)).empty());

    // --status reads the same file for a person.
    std::string file;
    ASSERT_EQ(config::read_whole_file(metrics.path() + "/zelvik.prom", file, 1 << 20),
              config::FileRead::kOk);
    bool fresh = false;
    const std::string person = status_text(file, "zelvik.prom", common::now_utc(), fresh);
    EXPECT_TRUE(fresh) << fx.log_text();
    EXPECT_NE(person.find("HA2.HHZ.??"), std::string::npos) << person;
    EXPECT_NE(person.find("stalled"), std::string::npos) << person;
    EXPECT_NE(person.find("skipped"), std::string::npos) << person;
    (void)status_text(file, "zelvik.prom", common::now_utc() + 60, fresh);
    EXPECT_FALSE(fresh);

    feeding = false;
    feeder.join();
    engine.request_stop();
    EXPECT_FALSE(systemd.wait_for("STOPPING=1", seconds(15)).empty());
    EXPECT_TRUE(engine.wait(seconds(15)));
}

// Sends `sig` to every process of the server; SIGCONT again when it goes out of scope,
// so a failing test never leaves a frozen server behind.
class ServerFreeze {
public:
    explicit ServerFreeze(const test::PostgresServer& server) : pids_(server.process_ids()) {
        for (const pid_t pid : pids_) ::kill(pid, SIGSTOP);
    }
    ~ServerFreeze() { thaw(); }
    void thaw() {
        for (const pid_t pid : pids_) ::kill(pid, SIGCONT);
        pids_.clear();
    }
    size_t processes() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

// The worker waits in a store call that never returns (the PostgreSQL server frozen):
// the pings stop within one watchdog period although the supervisor runs on, and
// resume when the server does.
TEST(ServiceHealth, WorkerHungInAStoreCallStopsTheWatchdogPings) {
    auto server = test::PostgresServer::start_private();
    if (!server->available()) GTEST_SKIP() << server->reason();
    test::EngineFixture fx(std::make_unique<test::PostgresTestStore>(true, *server));
    const double now = std::floor(common::now_utc());
    fx.add_channel("HB1", "HHZ", 100);
    fx.add_segment("HB1", "HHZ", now - 300, 100, test::synthetic_samples(298, 100, {}));
    fx.add_thread(0, "HB1", "HHZ");
    auto ws = fx.connect_store();
    test::NotifySocket systemd(2'000'000);
    ASSERT_TRUE(systemd.ok());

    detect::SupervisorSettings s;
    s.settings_path = fx.ini();
    s.arguments = {"zelvik", "BEGIN=-300"};
    s.thread_count = 1;
    s.sleep_seconds = 0;  // a pass, with its store calls, every half second
    s.reconnect_pause_ms = 0;
    QuietEvents events;
    Engine engine(s, *ws, events);
    ASSERT_TRUE(engine.start());
    ASSERT_FALSE(systemd.wait_for("READY=1", seconds(20)).empty()) << fx.log_text();
    ASSERT_FALSE(systemd.wait_for("WATCHDOG=1", seconds(5)).empty());

    ServerFreeze freeze(*server);
    ASSERT_GE(freeze.processes(), 2u);
    // Pings of the first second may still come (the worker's last progress was
    // recent); after one period there are none.
    (void)systemd.receive(milliseconds(2000));
    const std::vector<std::string> later = systemd.receive(milliseconds(2500));
    EXPECT_EQ(std::count(later.begin(), later.end(), "WATCHDOG=1"), 0);
    EXPECT_EQ(fx.log_count("watchdog pings stop"), 1u) << fx.log_text();

    freeze.thaw();
    EXPECT_FALSE(systemd.wait_for("WATCHDOG=1", seconds(10)).empty());
    EXPECT_EQ(fx.log_count("watchdog pings resume"), 1u);
    engine.request_stop();
    EXPECT_TRUE(engine.wait(seconds(20)));
}

}  // namespace
}  // namespace zelvik::shell
