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
        // No channel sections: the run says so at its start, and goes on (a live run
        // may be given channels by the editor before its next start).
        EXPECT_EQ(r.err,
                  "zelvik: watching 0 of 0 channels: no channel sections (SYSTEM THREADS is 0 or "
                  "missing)\nzelvik: stopped by signal " +
                      std::to_string(sig) + "\n");
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

// `systemctl reload`: SIGHUP re-reads the settings (and does not end the run), and a
// changed file is taken over without a restart.
TEST_F(ZelvikProgramTest, SighupAndAChangedFileReachARunningProgram) {
    test::SqliteTestStore store;
    const std::string ini = settings(dir_.file("log"));
    Child child({ZELVIK_BINARY, "--headless", "--config", ini, "ODBC=" + store.dsn(),
                 "PASSWORD=s3cret", "DATA=" + store.data_dir()});
    ASSERT_TRUE(child.started());
    const auto wait_for = [this](const std::string& text) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (whole_log().find(text) == std::string::npos &&
               std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return whole_log().find(text) != std::string::npos;
    };
    ASSERT_TRUE(wait_for("Catalog with data"));
    // A SIGHUP before the watch runs waits, blocked, until the watch takes it.
    child.signal(SIGHUP);
    EXPECT_TRUE(wait_for("Settings read again on SIGHUP: nothing changed"));
    dir_.write("zelvik.ini.new",
               "[LOG]\nDIR=" + dir_.file("log") + "\nLEVEL=DEBUG\n[ALARM]\nSILENCE=45\n");
    std::filesystem::rename(dir_.file("zelvik.ini.new"), ini);
    EXPECT_TRUE(wait_for("Settings applied: [ALARM] SILENCE \"\" -> \"45\""));
    child.signal(SIGTERM);
    const ChildResult r = child.finish();
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.err.find("stopped by signal " + std::to_string(SIGTERM)), std::string::npos);
}

#ifdef ZELVIK_WINDOW_TESTS
// Window mode (offscreen): a signal ends the run as Exit "yes" does, without the
// question: the column widths are saved, the closing line written, the status is 0.
TEST_F(ZelvikProgramTest, SignalEndsAWindowRunLikeExit) {
    test::SqliteTestStore store;
    const std::string ini = settings(dir_.file("log"));
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Child child(
        {ZELVIK_BINARY, "--config", ini, "ODBC=" + store.dsn(), "DATA=" + store.data_dir()});
    ::unsetenv("QT_QPA_PLATFORM");
    ASSERT_TRUE(child.started());
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (whole_log().find("Detection start time") == std::string::npos &&
           std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    child.signal(SIGTERM);
    const ChildResult r = child.finish();
    EXPECT_EQ(r.exit_status, 0) << r.err;
    const std::string saved = read_file(ini);
    EXPECT_NE(saved.find("[LISTBOXHEADER]"), std::string::npos) << saved;
    EXPECT_NE(saved.find("HDRSIZE="), std::string::npos) << saved;
    EXPECT_NE(whole_log().find("Zelvik (v.20140306) stoped...#"), std::string::npos);
}
#endif

TEST_F(ZelvikProgramTest, CommandLineErrorsAndHelp) {
    const ChildResult bad = run_child({ZELVIK_BINARY, "--headles"});
    EXPECT_EQ(bad.exit_status, 2);
    EXPECT_EQ(bad.err.rfind("zelvik: unknown option --headles\nUsage: zelvik", 0), 0u) << bad.err;
    const ChildResult help = run_child({ZELVIK_BINARY, "--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_NE(help.out.find("--log-missing=continue|stop"), std::string::npos);
}

// Runs the program with the test directory as its current directory, where a run
// would create ./log.
ChildResult run_in(const test::TempDir& dir, const std::vector<std::string>& args) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    ChildResult r = run_child(args);
    std::filesystem::current_path(before);
    return r;
}

// Questions about the program are answered without a run: no ./log, no connection.
TEST_F(ZelvikProgramTest, HelpAndVersionStartNoRun) {
    for (const char* option : {"-h", "--help", "--version"}) {
        const ChildResult r = run_in(dir_, {ZELVIK_BINARY, option});
        EXPECT_EQ(r.exit_status, 0) << option;
        EXPECT_EQ(r.err, "") << option;
        EXPECT_NE(
            r.out.find(std::string(option) == "--version" ? "zelvik (Zelvik v.20140306), build"
                                                          : "Usage: zelvik"),
            std::string::npos)
            << r.out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.file("log")));
}

// A settings file that was named but cannot be read, and a BEGIN argument that is no
// date: one line, exit 2, nothing written (no ./log either).
TEST_F(ZelvikProgramTest, UnreadableSettingsAndBadBeginStopAtOnce) {
    const std::string missing = dir_.file("zelvk.ini");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{ZELVIK_BINARY, "--headless", "--config", missing},
         "zelvik: cannot read settings file " + missing + ": No such file or directory\n"},
        {{ZELVIK_BINARY, "--check", "--config", dir_.path()},
         "zelvik: cannot read settings file " + dir_.path() + ": Is a directory\n"},
        {{ZELVIK_BINARY, "--headless", "--config", "/dev/zero"},
         "zelvik: cannot read settings file /dev/zero: not a regular file\n"},
        {{ZELVIK_BINARY, "--headless", "ODBC=x", "BEGIN=3600"},
         "zelvik: BEGIN argument 'BEGIN=3600' is no date (YYYY-MM-DD, YYYY.MM.DD or YYYY/MM/DD, "
         "time hh:mm:ss optional) and no count of seconds back (-N)\n"},
        {{ZELVIK_BINARY, "--headless", "BEGIN=-1h"},
         "zelvik: BEGIN argument 'BEGIN=-1h' is no count of seconds back (-N)\n"},
    };
    for (const Case& c : cases) {
        const ChildResult r = run_in(dir_, c.args);
        EXPECT_EQ(r.exit_status, 2) << c.args.back();
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.file("log")));
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
