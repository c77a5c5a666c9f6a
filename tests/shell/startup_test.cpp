// The start-up sequence through the shell library, with a real WaveStore that cannot
// reach its data source (a private, empty odbc.ini) and a real log in a temp directory.
// Only the user's answers are scripted.
#include "shell/startup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/log.h"
#include "config/program_settings.h"
#include "db/wave_store.h"
#include "shell/command_line.h"
#include "shell/startup_ui.h"
#include "tests/shell/machine_isolation.h"
#include "tests/support/store_fixture.h"
#include "tests/support/temp_dir.h"

namespace zelvik::shell {
namespace {

using test::read_file;
using test::TempDir;

// Answers the log question as told and records what was shown.
class ScriptedUi : public StartupUi {
public:
    explicit ScriptedUi(bool answer) : answer_(answer) {}
    bool ask_yes_no(const std::string& text, const std::string& caption) override {
        questions.push_back(caption + "|" + text);
        return answer_;
    }
    void show_error(const std::string& text, const std::string& caption) override {
        errors.push_back(caption + "|" + text);
    }
    std::vector<std::string> questions;
    std::vector<std::string> errors;

private:
    bool answer_;
};

// The messages of a log file, stamps and tags removed.
std::vector<std::string> log_messages(const std::string& text) {
    const std::string prefix_end = "  #[ZELVIK] ";
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("#\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        const size_t p = line.find(prefix_end);
        out.push_back(p == std::string::npos ? "MALFORMED " + line
                                             : line.substr(p + prefix_end.size()));
        pos = end + 3;
    }
    return out;
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        isolate_from_machine(dir_);
        ::setenv("TZ", "UTC", 1);
        common::set_clock_for_testing([] { return 1796738589.0; });  // 14:03:09 08.12.2026
        common::log_reset_for_testing();
    }
    void TearDown() override {
        common::log_reset_for_testing();
        common::set_clock_for_testing({});
    }
    StartupResult run(const std::string& log_dir, const std::string& level, StartupUi& ui,
                      bool* job_ran = nullptr) {
        const std::string ini =
            dir_.write("zelvik.ini", "[LOG]\nDIR=" + log_dir + "\nLEVEL=" + level + "\n");
        config::ProgramSettings settings(
            {"zelvik", "odbc=zelvik_no_such_dsn", "USER=bob", "PASSWORD=s3cret"}, ini);
        return run_startup(settings, store_, ui,
                           [job_ran](config::ProgramSettings&, db::WaveStore&) {
                               if (job_ran) *job_ran = true;
                           });
    }

    TempDir dir_;
    db::WaveStore store_;
};

const char* kFailureText =
    "Couldn't connect to DB (zelvik_no_such_dsn/bob/***).\r\nApplication terminated.";

TEST_F(StartupTest, UnreachableStoreEndsWithBoxAndMaskedPassword) {
    struct Case {
        const char* level;
        bool debug_lines;
    };
    for (const Case c : {Case{"debug", true}, Case{"Error", false}, Case{"", false}}) {
        SCOPED_TRACE(c.level);
        common::log_reset_for_testing();
        TempDir logs;
        ScriptedUi ui(true);
        bool job_ran = false;
        EXPECT_EQ(run(logs.path(), c.level, ui, &job_ran), StartupResult::kStoreFailed);
        EXPECT_EQ(exit_status(StartupResult::kStoreFailed), 1);
        EXPECT_FALSE(job_ran);
        EXPECT_TRUE(ui.questions.empty());
        ASSERT_EQ(ui.errors.size(), 1u);
        EXPECT_EQ(ui.errors[0], std::string("DB connection error|") + kFailureText);

        const std::string text = read_file(logs.file("08122026.log"));
        EXPECT_EQ(text.find("s3cret"), std::string::npos);
        std::vector<std::string> expected = {"Zelvik (v.20140306) started..."};
        if (c.debug_lines) {
            expected.insert(expected.end(),
                            {"LOG level set to DEBUG", "Load DB connect paramerets...",
                             "Try connection to DB (zelvik_no_such_dsn/bob/***)..."});
        }
        const std::vector<std::string> messages = log_messages(text);
        ASSERT_EQ(messages.size(), expected.size() + 3) << text;
        for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(messages[i], expected[i]);
        EXPECT_EQ(messages[expected.size()].rfind("[connect]", 0), 0u) << messages[expected.size()];
        EXPECT_EQ(messages[expected.size() + 1], kFailureText);
        EXPECT_EQ(messages[expected.size() + 2], "Zelvik (v.20140306) stoped...");
    }
}

TEST_F(StartupTest, LogDirectoryThatCannotBeMadeAsksFirst) {
    const std::string blocked = dir_.write("plain", "not a directory") + "/log";
    const std::string question = "LOG-file warning|Couldn't find (create) LOG directory (" +
                                 blocked +
                                 ").\r\nDo you want to continue application without LOG-file?";
    {
        ScriptedUi no(false);
        EXPECT_EQ(run(blocked, "DEBUG", no), StartupResult::kLogDeclined);
        EXPECT_EQ(exit_status(StartupResult::kLogDeclined), 3);
        EXPECT_EQ(no.questions, std::vector<std::string>{question});
        EXPECT_TRUE(no.errors.empty());
        EXPECT_EQ(store_.last_error(), "");  // no connection was tried
    }
    common::log_reset_for_testing();
    {
        ScriptedUi yes(true);
        EXPECT_EQ(run(blocked, "DEBUG", yes), StartupResult::kStoreFailed);
        EXPECT_EQ(yes.questions, std::vector<std::string>{question});
        ASSERT_EQ(yes.errors.size(), 1u);  // the run went on to the connection attempt
        EXPECT_NE(store_.last_error(), "");
        EXPECT_FALSE(common::log_write("after"));
    }
}

// A store another program holds locked kept the start waiting in silence. The wait is
// said once while it lasts, and how long it took once it ends.
// A test of its own: unixODBC keeps the first ini paths a process used, so the store is
// made before any ODBC handle of the test exists.
TEST(StartupWait, StoreLockedByAnotherProgramIsSaidWhileItWaits) {
    TempDir dir;
    ::setenv("TZ", "UTC", 1);
    common::log_reset_for_testing();
    test::SqliteTestStore locked;
    const std::string cmd =
        "python3 -c \"import sqlite3,sys,time; c=sqlite3.connect(sys.argv[1],"
        "isolation_level=None); c.execute('BEGIN EXCLUSIVE'); print('locked', flush=True); "
        "time.sleep(5)\" " +
        locked.file();
    std::FILE* holder = ::popen(cmd.c_str(), "r");
    ASSERT_NE(holder, nullptr);
    char line[16] = {};
    ASSERT_NE(std::fgets(line, sizeof line, holder), nullptr);
    TempDir logs;
    const std::string ini =
        dir.write("zelvik.ini", "[LOG]\nDIR=" + logs.path() + "\nLEVEL=ERROR\n");
    config::ProgramSettings settings(
        {"zelvik", "ODBC=" + locked.dsn(), "USER=", "PASSWORD=", "DATA=" + locked.data_dir()}, ini);
    ScriptedUi ui(true);
    db::WaveStore store;
    EXPECT_EQ(run_startup(settings, store, ui, [](config::ProgramSettings&, db::WaveStore&) {}),
              StartupResult::kFinished);
    ::pclose(holder);
    common::log_reset_for_testing();
    EXPECT_TRUE(ui.errors.empty());
    std::string text;
    for (const auto& f : std::filesystem::directory_iterator(logs.path()))
        text += read_file(f.path().string());
    const std::vector<std::string> messages = log_messages(text);
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[1], "Connecting to DB (" + locked.dsn() +
                               "/QSX/***) takes longer than 3 s: the database may be locked by "
                               "another program or its server may not answer; waiting");
    EXPECT_EQ(messages[2].rfind("Connection attempt ended after ", 0), 0u) << messages[2];
}

TEST(CommandLine, SeparatesOwnOptionsFromSettingsArguments) {
    struct Case {
        std::vector<const char*> argv;
        bool ok;
        bool headless;
        std::string config;
        LogMissingAnswer log_missing;
        std::vector<std::string> arguments;
    };
    const auto kGo = LogMissingAnswer::kContinue;
    const Case cases[] = {
        {{"zelvik"}, true, false, "", kGo, {"zelvik"}},
        {{"./zelvik", "ODBC=x", "--headless", "/use_tend", "BEGIN=-60"},
         true,
         true,
         "",
         kGo,
         {"./zelvik", "ODBC=x", "/use_tend", "BEGIN=-60"}},
        {{"z", "--config", "a.ini", "USER=u"}, true, false, "a.ini", kGo, {"z", "USER=u"}},
        {{"z", "--config=b.ini", "--log-missing=stop"},
         true,
         false,
         "b.ini",
         LogMissingAnswer::kStop,
         {"z"}},
        {{"z", "--config"}, false, false, "", kGo, {}},
        {{"z", "--config="}, false, false, "", kGo, {}},
        {{"z", "--log-missing=maybe"}, false, false, "", kGo, {}},
        {{"z", "--headles"}, false, false, "", kGo, {}},
    };
    for (const Case& c : cases) {
        CommandLine out;
        std::string error;
        const bool ok =
            parse_command_line(static_cast<int>(c.argv.size()), c.argv.data(), out, error);
        ASSERT_EQ(ok, c.ok) << c.argv.back();
        if (!ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(out.headless, c.headless);
        EXPECT_EQ(out.config_path, c.config);
        EXPECT_EQ(out.log_missing, c.log_missing);
        EXPECT_EQ(out.arguments, c.arguments);
    }
}

}  // namespace
}  // namespace zelvik::shell
