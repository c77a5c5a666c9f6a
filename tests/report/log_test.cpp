// The daily log on real files. The clock is fixed and TZ is UTC, so stamps are known;
// the instants were taken from `date -u -d '2026-12-08 14:03:09' +%s` and the like.
#include "report/log_open.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/log.h"
#include "config/connection_config.h"
#include "tests/support/temp_dir.h"

namespace zelvik::report {
namespace {

using common::kLogLineBytes;
using common::kStartedMessage;
using common::kStoppedMessage;
using common::log_debug;
using common::log_directory;
using common::log_printf;
using common::log_reset_for_testing;
using common::log_write;
using test::read_file;
using test::TempDir;

constexpr double k140309 = 1796738589.0;    // 14:03:09 08.12.2026 UTC
constexpr double k235958 = 1796774398.0;    // 23:59:58 08.12.2026
constexpr double kAfterMid = 1796774401.0;  // 00:00:01 09.12.2026

std::atomic<double> g_now{k140309};

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        g_now = k140309;
        common::set_clock_for_testing([] { return g_now.load(); });
        log_reset_for_testing();
    }
    void TearDown() override {
        log_reset_for_testing();
        common::set_clock_for_testing({});
    }
    // Opens the log with LOG DIR and LEVEL as given.
    bool open(const std::string& log_dir, const std::string& level = "ERROR") {
        const std::string ini =
            dir_.write("zelvik.ini", "[LOG]\nDIR=" + log_dir + "\nLEVEL=" + level + "\n");
        config::ConnectionConfig settings({"zelvik"}, ini);
        return log_open(settings);
    }
    std::string log_path(const char* day = "08122026") const {
        return dir_.file("log/") + day + ".log";
    }

    TempDir dir_;
};

TEST_F(LogTest, CreatesEveryLevelAndWritesStampedLines) {
    ASSERT_TRUE(open(dir_.file("a\\b/c"), "debug"));
    EXPECT_TRUE(log_debug());
    EXPECT_EQ(log_directory(), dir_.file("a/b/c/"));
    EXPECT_TRUE(log_write(kStartedMessage));
    g_now = k140309 + 61;
    EXPECT_TRUE(log_printf("Catalog with data: %s(%s)", "/data", "cmd line"));
    EXPECT_EQ(read_file(dir_.file("a/b/c/08122026.log")),
              "14:03:09 08.12.2026  #[ZELVIK] Zelvik (v.20140306) started...#\r\n"
              "14:04:10 08.12.2026  #[ZELVIK] Catalog with data: /data(cmd line)#\r\n");
}

TEST_F(LogTest, DebugOnlyForTheLevelDebug) {
    const std::pair<const char*, bool> cases[] = {
        {"DEBUG", true}, {"Debug", true}, {"ERROR", false}, {"DEBUGX", false}, {"", false}};
    for (const auto& [level, expected] : cases) {
        log_reset_for_testing();
        ASSERT_TRUE(open(dir_.file("log"), level));
        EXPECT_EQ(log_debug(), expected) << level;
    }
}

TEST_F(LogTest, FoldsRepeatsIntoTheFirstLine) {
    ASSERT_TRUE(open(dir_.file("log")));
    for (int i = 0; i < 10; ++i) {
        g_now = k140309 + i;
        ASSERT_TRUE(log_write("Connection lost. ODBC: QSX"));
        const std::string expected = "14:03:09 08.12.2026  #[ZELVIK] Connection lost. ODBC: QSX" +
                                     (i == 0 ? std::string() : " (" + std::to_string(i + 1) + ")") +
                                     "#\r\n";
        ASSERT_EQ(read_file(log_path()), expected) << i;
    }
    g_now = k140309 + 20;
    ASSERT_TRUE(log_write("other"));
    ASSERT_TRUE(log_write("Connection lost. ODBC: QSX"));
    EXPECT_EQ(read_file(log_path()),
              "14:03:09 08.12.2026  #[ZELVIK] Connection lost. ODBC: QSX (10)#\r\n"
              "14:03:29 08.12.2026  #[ZELVIK] other#\r\n"
              "14:03:29 08.12.2026  #[ZELVIK] Connection lost. ODBC: QSX#\r\n");
}

TEST_F(LogTest, NewDayStartsWithTheHeaderAndANewRun) {
    ASSERT_TRUE(open(dir_.file("log")));
    ASSERT_TRUE(log_write(kStartedMessage));
    g_now = k235958;
    ASSERT_TRUE(log_write("same"));
    g_now = kAfterMid;
    ASSERT_TRUE(log_write("same"));
    EXPECT_EQ(read_file(log_path("09122026")),
              "00:00:01 09.12.2026  #[ZELVIK] Zelvik (v.20140306) is working since 14:03:09 "
              "08.12.2026#\r\n"
              "00:00:01 09.12.2026  #[ZELVIK] same#\r\n");
    // An empty message only makes sure the file exists.
    std::filesystem::remove(log_path("09122026"));
    EXPECT_TRUE(log_write(""));
    EXPECT_EQ(read_file(log_path("09122026")),
              "00:00:01 09.12.2026  #[ZELVIK] Zelvik (v.20140306) is working since 14:03:09 "
              "08.12.2026#\r\n");
}

TEST_F(LogTest, SecondRunOnTheSameDayAppendsWithoutHeader) {
    ASSERT_TRUE(open(dir_.file("log")));
    ASSERT_TRUE(log_write(kStartedMessage));
    ASSERT_TRUE(log_write(kStoppedMessage));
    log_reset_for_testing();
    ASSERT_TRUE(open(dir_.file("log")));
    ASSERT_TRUE(log_write(kStartedMessage));
    const std::string started =
        "14:03:09 08.12.2026  #[ZELVIK] Zelvik (v.20140306) started...#\r\n";
    EXPECT_EQ(
        read_file(log_path()),
        started + "14:03:09 08.12.2026  #[ZELVIK] Zelvik (v.20140306) stoped...#\r\n" + started);
}

TEST_F(LogTest, NeverFoldsOverALineItDidNotWrite) {
    ASSERT_TRUE(open(dir_.file("log")));
    ASSERT_TRUE(log_write("repeat"));
    {
        std::ofstream foreign(log_path(), std::ios::app | std::ios::binary);
        foreign << "foreign line\r\n";
    }
    ASSERT_TRUE(log_write("repeat"));
    EXPECT_EQ(read_file(log_path()),
              "14:03:09 08.12.2026  #[ZELVIK] repeat#\r\nforeign line\r\n"
              "14:03:09 08.12.2026  #[ZELVIK] repeat#\r\n");
    std::filesystem::remove(log_path());
    ASSERT_TRUE(log_write("repeat"));
    EXPECT_EQ(read_file(log_path()), "14:03:09 08.12.2026  #[ZELVIK] repeat#\r\n");
}

TEST_F(LogTest, LongMessagesAreCutAndStillFold) {
    ASSERT_TRUE(open(dir_.file("log")));
    const std::string huge(1u << 20, 'x');
    ASSERT_TRUE(log_write(huge));
    ASSERT_TRUE(log_write(huge));
    const std::string text = read_file(log_path());
    EXPECT_LE(text.size(), kLogLineBytes);
    EXPECT_EQ(text.substr(text.size() - 8), "x (2)#\r\n");
    EXPECT_EQ(text.find('\n'), text.size() - 1);
}

TEST_F(LogTest, LineBreaksInAMessageAreStoredAsCrLf) {
    ASSERT_TRUE(open(dir_.file("log")));
    ASSERT_TRUE(log_write("Couldn't connect to DB (a/b/***).\r\nApplication terminated."));
    ASSERT_TRUE(log_write("one\ntwo"));
    EXPECT_EQ(read_file(log_path()),
              "14:03:09 08.12.2026  #[ZELVIK] Couldn't connect to DB (a/b/***).\r\n"
              "Application terminated.#\r\n"
              "14:03:09 08.12.2026  #[ZELVIK] one\r\ntwo#\r\n");
}

TEST_F(LogTest, DirectoryThatCannotBeMadeLeavesTheLogDisabled) {
    dir_.write("plain", "a file, not a directory");
    const std::string cases[] = {dir_.file("plain/log"), "/proc/zelvik-log", dir_.file("plain")};
    for (const std::string& dir : cases) {
        log_reset_for_testing();
        EXPECT_FALSE(open(dir)) << dir;
        EXPECT_FALSE(log_debug());
        EXPECT_EQ(log_directory(), "");
        EXPECT_FALSE(log_write(kStartedMessage));
    }
    EXPECT_FALSE(log_write("before any open"));
}

// A full disk (the day's file a link to /dev/full) once lost lines without a word. The
// trouble is told once with its reason, and once more when writing works again; the
// first line then written says how many were lost.
TEST_F(LogTest, FullDiskIsToldOnceAndRecoveryOnceMore) {
    ASSERT_TRUE(open(dir_.file("log")));
    std::vector<std::string> told;
    common::log_set_trouble_notice([&](const std::string& text) { told.push_back(text); });
    ASSERT_EQ(::symlink("/dev/full", log_path().c_str()), 0);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(log_printf("lost %d", i));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "log lines cannot be written to " + log_path() +
                           ": No space left on device; they are lost until writing works again");
    ASSERT_EQ(::unlink(log_path().c_str()), 0);
    EXPECT_TRUE(log_write("kept"));
    EXPECT_TRUE(log_write("kept too"));
    common::log_set_trouble_notice(nullptr);
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[1], "log lines are written to " + log_path() + " again; 3 were lost");
    EXPECT_EQ(read_file(log_path()),
              "14:03:09 08.12.2026  #[ZELVIK] 3 log lines were lost while the log could not be "
              "written#\r\n"
              "14:03:09 08.12.2026  #[ZELVIK] kept#\r\n"
              "14:03:09 08.12.2026  #[ZELVIK] kept too#\r\n");
}

// Every thread writes its own numbered messages and, in between, one shared message.
// Afterwards every line must be whole, each numbered message must appear exactly once,
// and the counts of the shared message's folded lines must add up to how often it was
// written.
TEST_F(LogTest, ConcurrentWritersLoseAndMixNothing) {
    ASSERT_TRUE(open(dir_.file("log")));
    constexpr int kThreads = 8;
    constexpr int kPerThread = 300;
    std::vector<std::thread> threads;
    std::atomic<int> shared_written{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &shared_written] {
            for (int i = 0; i < kPerThread; ++i) {
                if (i % 3 == 0) {
                    if (log_write("shared message")) ++shared_written;
                } else {
                    log_printf("thread %d message %d", t, i);
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();

    std::istringstream lines(read_file(log_path()));
    const std::regex own(R"(14:03:09 08\.12\.2026  #\[ZELVIK\] thread (\d+) message (\d+)#\r)");
    const std::regex shared(
        R"(14:03:09 08\.12\.2026  #\[ZELVIK\] shared message(?: \((\d+)\))?#\r)");
    std::map<std::pair<int, int>, int> seen;
    int shared_total = 0;
    std::string line;
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, m, own)) {
            ++seen[{std::stoi(m[1]), std::stoi(m[2])}];
        } else if (std::regex_match(line, m, shared)) {
            shared_total += m[1].matched ? std::stoi(m[1]) : 1;
        } else {
            ADD_FAILURE() << "malformed line: " << line;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kPerThread * 2 / 3));
    for (const auto& [key, count] : seen) EXPECT_EQ(count, 1);
    EXPECT_EQ(shared_written.load(), kThreads * kPerThread / 3);
    EXPECT_EQ(shared_total, shared_written.load());
}

}  // namespace
}  // namespace zelvik::report
