// The real `zelvik` program started as a child process (exit status, stderr, log), and
// the signal handling it relies on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "shell/signal_watcher.h"
#include "shell/stop_request.h"
#include "tests/shell/child_process.h"
#include "tests/shell/machine_isolation.h"
#include "tests/support/store_fixture.h"
#include "tests/support/temp_dir.h"

namespace zelvik::shell {
namespace {

using test::read_file;
using test::TempDir;

class ZelvikProgramTest : public ::testing::Test {
protected:
    void SetUp() override { isolate_from_machine(dir_); }
    // Everything in the log directory, "" while it holds nothing.
    std::string whole_log() const {
        std::string log;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.file("log"), ec)) {
            log += read_file(entry.path().string());
        }
        return log;
    }
    std::string settings(const std::string& log_dir) {
        return dir_.write("zelvik.ini", "[LOG]\nDIR=" + log_dir + "\nLEVEL=DEBUG\n");
    }
    TempDir dir_;
};

TEST_F(ZelvikProgramTest, UnreachableStoreExitsWithOneAndMasksThePassword) {
    const ChildResult r =
        run_child({ZELVIK_BINARY, "--headless", "--config", settings(dir_.file("log")),
                   "ODBC=zelvik_no_such_dsn", "USER=bob", "PASSWORD=s3cret"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err,
              "zelvik: DB connection error: Couldn't connect to DB (zelvik_no_such_dsn/bob/***).\n"
              "Application terminated.\n");
    const std::string log = whole_log();
    EXPECT_NE(log.find("Try connection to DB (zelvik_no_such_dsn/bob/***)..."), std::string::npos);
    EXPECT_NE(log.find("Zelvik (v.20140306) stoped...#\r\n"), std::string::npos);
    EXPECT_EQ(log.find("s3cret"), std::string::npos);
}

TEST_F(ZelvikProgramTest, MissingLogDirectoryIsAnsweredByTheOption) {
    const std::string blocked = dir_.write("plain", "x") + "/log";
    const std::string question =
        "zelvik: LOG-file warning: Couldn't find (create) LOG directory (" + blocked +
        ").\nDo you want to continue application without LOG-file?\n";
    struct Case {
        const char* option;
        int exit_status;
        std::string err;
    };
    const Case cases[] = {
        {nullptr, 1,
         question + "zelvik: continuing without a log file (--log-missing=continue)\n"
                    "zelvik: DB connection error: Couldn't connect to DB (nosuch/QSX/***).\n"
                    "Application terminated.\n"},
        {"--log-missing=stop", 3, question + "zelvik: stopping (--log-missing=stop)\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {ZELVIK_BINARY, "--headless", "--config", settings(blocked),
                                         "ODBC=nosuch"};
        if (c.option) args.push_back(c.option);
        const ChildResult r = run_child(args);
        EXPECT_EQ(r.exit_status, c.exit_status) << (c.option ? c.option : "default");
        EXPECT_EQ(r.err, c.err);
    }
}

// A reachable SQLite store: the run lasts until SIGTERM or SIGINT, then ends like the
// confirmed Exit with status 0 and the closing line.
TEST_F(ZelvikProgramTest, SignalEndsANormalRun) {
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        std::filesystem::remove_all(dir_.file("log"));
        test::SqliteTestStore store;
        Child child({ZELVIK_BINARY, "--headless", "--config", settings(dir_.file("log")),
                     "ODBC=" + store.dsn(), "PASSWORD=s3cret", "DATA=" + store.data_dir()});
        ASSERT_TRUE(child.started());
        // The run is up once the settings are loaded, which follows the last start-up line.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (whole_log().find("Catalog with data") == std::string::npos &&
               std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // What `ps` shows of the running process.
        const std::string cmdline = read_file("/proc/" + std::to_string(child.pid()) + "/cmdline");
        EXPECT_NE(cmdline.find("PASSWORD="), std::string::npos) << cmdline;
        EXPECT_EQ(cmdline.find("s3cret"), std::string::npos) << cmdline;
        child.signal(sig);
        const ChildResult r = child.finish();
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(r.err, "zelvik: stopped by signal " + std::to_string(sig) + "\n");
        const std::string log = whole_log();
        const std::string expected[] = {
            "Try connection to DB (" + store.dsn() + "/QSX/***)...",
            "Connected to database: ODBC=" + store.dsn() + "(cmd line), USER=QSX(QSX.ini)#",
            "Catalog with data: " + store.data_dir() + "(cmd line)#",
            "Zelvik (v.20140306) stoped...#\r\n",
        };
        size_t at = 0;
        for (const std::string& line : expected) {
            at = log.find(line, at);
            EXPECT_NE(at, std::string::npos) << line << "\n" << log;
        }
        EXPECT_EQ(log.find("s3cret"), std::string::npos);
    }
}

TEST_F(ZelvikProgramTest, CommandLineErrorsAndHelp) {
    const ChildResult bad = run_child({ZELVIK_BINARY, "--headles"});
    EXPECT_EQ(bad.exit_status, 2);
    EXPECT_EQ(bad.err.rfind("zelvik: unknown option --headles\nUsage: zelvik", 0), 0u) << bad.err;
    const ChildResult help = run_child({ZELVIK_BINARY, "--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_NE(help.out.find("--log-missing=continue|stop"), std::string::npos);
}

// SIGINT/SIGTERM handling in forked death-test children, so the test process keeps
// its own signal dispositions.
// The first signal only raises the request; the process goes on and ends normally.
TEST(SignalWatcherDeathTest, FirstSignalRequestsStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            StopRequest stop;
            int received = 0;
            {
                SignalWatcher watcher(stop);
                ::kill(::getpid(), SIGTERM);
                if (!stop.wait_for(std::chrono::seconds(10))) std::_Exit(10);
                received = watcher.received();
            }
            std::_Exit(received == SIGTERM ? 0 : 11);
        },
        ::testing::ExitedWithCode(0), "");
}

// A second signal while the shutdown runs ends the process at once.
TEST(SignalWatcherDeathTest, SecondSignalEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            StopRequest stop;
            SignalWatcher watcher(stop);
            ::kill(::getpid(), SIGINT);
            if (!stop.wait_for(std::chrono::seconds(10))) std::_Exit(10);
            ::kill(::getpid(), SIGTERM);
            StopRequest never;
            (void)never.wait_for(std::chrono::seconds(10));
            std::_Exit(12);
        },
        ::testing::ExitedWithCode(128 + SIGTERM), "second stop signal; exiting at once");
}

}  // namespace
}  // namespace zelvik::shell
