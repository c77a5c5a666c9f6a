// Settings changed under a running engine, through the real watch (inotify on the
// file's directory, SIGHUP through a signalfd) on a real SQLite store: refused files
// change nothing, a burst of writes is applied once to its last content, the editor's
// replace by rename is seen, SIGHUP re-reads, and the window's HDRSIZE write at exit
// triggers nothing. Each test runs in a process of its own (ctest), so blocking SIGHUP
// here blocks it in every thread of the process.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "config/ini_file.h"
#include "config/program_settings.h"
#include "shell/engine.h"
#include "shell/headless_runner.h"
#include "shell/settings_reload.h"
#include "tests/support/engine_fixture.h"

namespace zelvik::shell {
namespace {

using test::kT0;
using namespace std::chrono_literals;

class NoteEvents : public EngineEvents {
public:
    void channels_changed(std::vector<ChannelView> rows) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        rows_ = std::move(rows);
    }
    void alarm_changed(bool, const std::string&) override {}
    void info_changed(const std::string& text) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        info_ = text;
    }
    void play_alarm(const std::string&) override {}
    void settings_changed(const std::string& text) override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            notes_.push_back(text);
        }
        cv_.notify_all();
    }
    // Waits until `count` notes came, at most `timeout`; the notes so far.
    std::vector<std::string> notes(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, timeout, [&] { return notes_.size() >= count; });
        return notes_;
    }
    std::string info() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return info_;
    }
    std::vector<ChannelView> rows() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return rows_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> notes_;
    std::vector<ChannelView> rows_;
    std::string info_;
};

class SettingsReloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        sigset_t hup;
        sigemptyset(&hup);
        sigaddset(&hup, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &hup, &previous_);
        const char* stations[] = {"RA", "RB"};
        for (int n = 0; n < 2; ++n) {
            fx_.add_channel(stations[n], "HHZ", 100);
            fx_.add_segment(stations[n], "HHZ", kT0, 100,
                            test::synthetic_samples(300, 100, {}, 100, 0, 3000, 8, n + 1));
            fx_.add_thread(n, stations[n], "HHZ");
        }
        fx_.set("SYSTEM", "THREADS", "2");
        fx_.set("SYSTEM", "SLEEP", "0");
        fx_.set("ALARM", "NODATA", "0");
        fx_.set("ALARM", "WAVFILE", "*");
        ws_ = fx_.connect_store();
        const test::TestStore& st = fx_.store();
        settings_ = std::make_unique<config::ProgramSettings>(
            std::vector<std::string>{"zelvik", "ODBC=" + st.dsn(), "USER=" + st.user(),
                                     "PASSWORD=" + st.password(), "DATA=" + st.data_dir(),
                                     "BEGIN='2020-09-13 12:26:40'"},
            fx_.ini());
        settings_->resolve_connection();
        settings_->load_system();
        settings_->load_mail();
        settings_->load_alarm();
        err_ = std::tmpfile();
        engine_ = std::make_unique<Engine>(engine_settings(*settings_, false), *ws_, events_);
        ASSERT_TRUE(engine_->start());
        // The channels are read once the supervisor runs; a file truncated by a test's
        // first write in place before that would give it no sections at all.
        for (int i = 0; i < 250 && events_.rows().size() != 2; ++i)
            std::this_thread::sleep_for(20ms);
        ASSERT_EQ(events_.rows().size(), 2u);
        live_ = std::make_unique<LiveSettings>(*settings_, *engine_, err_);
        ASSERT_TRUE(live_->start());
    }
    void TearDown() override {
        live_.reset();
        engine_.reset();
        std::fclose(err_);
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    // The settings file as it is now with `from` replaced by `to`.
    std::string edited(const std::string& from, const std::string& to) const {
        std::ifstream in(fx_.ini());
        std::stringstream text;
        text << in.rdbuf();
        std::string s = text.str();
        const size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) s.replace(at, from.size(), to);
        return s;
    }
    void write_in_place(const std::string& text) const {
        std::ofstream out(fx_.ini(), std::ios::trunc);
        out << text;
    }
    std::string stderr_text() const {
        std::fflush(err_);
        std::rewind(err_);
        std::string out;
        char buf[512];
        while (std::fgets(buf, sizeof buf, err_) != nullptr) out += buf;
        return out;
    }

    sigset_t previous_{};
    test::EngineFixture fx_;
    std::unique_ptr<db::WaveStore> ws_;
    std::unique_ptr<config::ProgramSettings> settings_;
    std::FILE* err_ = nullptr;
    NoteEvents events_;
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<LiveSettings> live_;
};

TEST_F(SettingsReloadTest, RefusedFilesChangeNothingAndSayWhy) {
    struct Case {
        const char *from, *to, *why;
    };
    const Case cases[] = {
        // A mistyped key in a channel section (THREAD0's keys come first).
        {"Threshold=4", "Treshold=9", "[THREAD0] Treshold is not read; did you mean Threshold?"},
        // FR2 above the Nyquist frequency of a 100 sps channel.
        {"FR2=8", "FR2=60", "THREAD0 RA.HHZ.??: "},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        write_in_place(edited(c.from, c.to));
        const std::vector<std::string> notes = events_.notes(++seen, 3s);
        ASSERT_EQ(notes.size(), seen);
        EXPECT_NE(notes.back().find("settings refused"), std::string::npos) << notes.back();
        EXPECT_NE(notes.back().find(c.why), std::string::npos) << notes.back();
        EXPECT_NE(stderr_text().find(c.why), std::string::npos);
        // Back as it was: nothing to apply, and the window no longer says "refused".
        write_in_place(edited(c.to, c.from));
        const std::vector<std::string> back = events_.notes(++seen, 3s);
        ASSERT_EQ(back.size(), seen);
        EXPECT_EQ(back.back().rfind("settings file back to the settings in force", 0), 0u);
    }
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(events_.notes(0, 0ms).size(), seen);
    EXPECT_EQ(fx_.log_count("Settings file changed but not applied"), 2u);
    EXPECT_EQ(fx_.log_count("Settings applied"), 0u);
    EXPECT_EQ(fx_.log_count("Channel 0 (RA.HHZ.\?\?) runs"), 1u);
}

TEST_F(SettingsReloadTest, BurstOfWritesIsAppliedOnceToItsLastContent) {
    for (const char* silence : {"31", "32", "33"}) {
        write_in_place(edited("WAVFILE=*", std::string("WAVFILE=*\nSILENCE=") + silence));
        std::this_thread::sleep_for(20ms);
        write_in_place(edited(std::string("\nSILENCE=") + silence, ""));
        std::this_thread::sleep_for(20ms);
    }
    write_in_place(edited("WAVFILE=*", "WAVFILE=*\nSILENCE=33"));
    const std::vector<std::string> notes = events_.notes(1, 3s);
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(events_.notes(0, 0ms).size(), 1u);
    EXPECT_EQ(notes[0].rfind("settings applied", 0), 0u) << notes[0];
    EXPECT_EQ(events_.info(), "duration: 120  silence: 33");
    EXPECT_EQ(fx_.log_count("Settings applied: [ALARM] SILENCE \"\" -> \"33\""), 1u)
        << fx_.log_text();
}

TEST_F(SettingsReloadTest, EditorsReplaceByRenameTakesEffectWithinTwoSeconds) {
    const auto before = std::chrono::steady_clock::now();
    fx_.set("THREAD1", "Threshold", "7");  // written beside and renamed over the file
    const std::vector<std::string> notes = events_.notes(1, 2s);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(fx_.log_count("Settings applied: THREAD1 (RB.HHZ.\?\?) changed"), 1u);
    for (int i = 0; i < 100 && events_.rows().size() != 2; ++i) std::this_thread::sleep_for(20ms);
    const std::vector<ChannelView> rows = events_.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].settings.threshold, 7.0);
}

TEST_F(SettingsReloadTest, SighupRereadsAndHdrsizeWrittenAtExitTriggersNothing) {
    ASSERT_TRUE(config::ini::write_string(fx_.ini(), "LISTBOXHEADER", "HDRSIZE", "80,60,60"));
    std::this_thread::sleep_for(600ms);
    EXPECT_TRUE(events_.notes(0, 0ms).empty());
    EXPECT_EQ(fx_.log_count("Settings"), 0u);

    ASSERT_EQ(::kill(::getpid(), SIGHUP), 0);
    for (int i = 0; i < 100 && fx_.log_count("on SIGHUP") == 0; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(fx_.log_count("Settings read again on SIGHUP: nothing changed"), 1u);
    EXPECT_TRUE(events_.notes(0, 0ms).empty());
}

}  // namespace
}  // namespace zelvik::shell
