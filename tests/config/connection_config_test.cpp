// Precedence of the connection parameters: command line, zelvik.ini, qsx.ini or its
// built-in defaults, each value with its source label. QSX and WINDIR point into a
// temporary directory for every test, so the machine's own files never take part.
#include "config/connection_config.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace zelvik::config {
namespace {

using test::TempDir;

class ConnectionConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir(dir_.file("win").c_str(), 0755);
        ::setenv("WINDIR", dir_.file("win").c_str(), 1);
        ::unsetenv("QSX");
    }
    void TearDown() override {
        ::unsetenv("WINDIR");
        ::unsetenv("QSX");
    }
    std::string local(std::string_view text) { return dir_.write("zelvik.ini", text); }
    void qsx(std::string_view text) { dir_.write("win/qsx.ini", text); }
    ConnectionConfig resolved(std::vector<std::string> args) {
        args.insert(args.begin(), dir_.file("zelvik"));
        ConnectionConfig config(args);
        config.resolve_connection();
        return config;
    }

    TempDir dir_;
};

TEST_F(ConnectionConfigTest, NothingConfiguredGivesTheBuiltInDefaults) {
    const ConnectionConfig c = resolved({});
    EXPECT_EQ(c.settings_path(), dir_.file("zelvik.ini"));
    EXPECT_EQ(c.qsx_path(), dir_.file("win/qsx.ini"));
    EXPECT_EQ(c.data_source_name(), "QSX");
    EXPECT_EQ(c.user_name(), "QSX");
    EXPECT_EQ(c.password(), "VEM");
    EXPECT_EQ(c.data_directory(), kDefaultQsxDataDir);
    EXPECT_FALSE(c.use_tend());
    for (const std::string& label : c.labels()) EXPECT_EQ(label, kLabelQsxIni);
}

TEST_F(ConnectionConfigTest, EachValueComesFromTheFirstSourceThatHasIt) {
    local("[DATABASE]\nODBC=local_dsn\nUSER=\n[DATA]\nDIR=C:\\store\\data\n");
    qsx("[DATABASE]\nODBC=qsx_dsn\nUSER=qsx_user\nPASSWORD=qsx_pw\n[DATA]\nDIR=/qsx\n");
    const ConnectionConfig c =
        resolved({"junk", "odbc=first", "Password=secret", "ODBC=cmd_dsn", "USER="});
    EXPECT_EQ(c.data_source_name(), "cmd_dsn");  // the later argument wins
    EXPECT_EQ(c.user_name(), "qsx_user");        // "USER=" and an empty key leave it to qsx.ini
    EXPECT_EQ(c.password(), "secret");
    EXPECT_EQ(c.data_directory(), "C:/store/data");
    const std::array<std::string, 4> expected = {kLabelCommandLine, kLabelQsxIni, kLabelCommandLine,
                                                 kLabelLocalIni};
    EXPECT_EQ(c.labels(), expected);

    const ConnectionConfig files_only = resolved({});
    EXPECT_EQ(files_only.data_source_name(), "local_dsn");
    EXPECT_EQ(files_only.labels()[0], kLabelLocalIni);
    EXPECT_EQ(files_only.password(), "qsx_pw");
    EXPECT_EQ(files_only.labels()[2], kLabelQsxIni);
}

TEST_F(ConnectionConfigTest, UseTendFollowsItsOwnPrecedence) {
    struct Case {
        const char* local_value;  // nullptr: key absent
        const char* qsx_value;
        const char* argument;
        bool expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, false},
        {"0", "1", nullptr, false},  // 0 is not negative: qsx.ini not asked
        {nullptr, "1", nullptr, true},
        {"-1", "1", nullptr, true},  // negative means "not set"
        {"", "1", nullptr, true},    // empty value reads as the default -1
        {"2", "0", nullptr, true},
        {"0", "0", "-use_tend", true},
        {"0", "0", "/USE_TENDENCY", true},  // prefix only
        {"0", "0", "use_tend", false},
    };
    for (const Case& c : cases) {
        local(c.local_value ? std::string("[DATABASE]\nUSE_TEND=") + c.local_value + "\n" : "");
        qsx(c.qsx_value ? std::string("[DATABASE]\nUSE_TEND=") + c.qsx_value + "\n" : "");
        std::vector<std::string> args;
        if (c.argument) args.push_back(c.argument);
        std::string out;
        const ConnectionConfig config = resolved(args);
        EXPECT_EQ(config.use_tend(), c.expected)
            << (c.local_value ? c.local_value : "-") << " " << (c.qsx_value ? c.qsx_value : "-");
        ASSERT_TRUE(config.get_param("USE_TEND", out));
        EXPECT_EQ(out, c.expected ? "1" : "0");
    }
}

TEST_F(ConnectionConfigTest, QsxVariableIsUsedOnlyWhenItsFileIsReadable) {
    qsx("[DATABASE]\nODBC=from_windir\n");
    ::mkdir(dir_.file("qsxdir").c_str(), 0755);
    ::setenv("QSX", dir_.file("qsxdir").c_str(), 1);
    EXPECT_EQ(resolved({}).data_source_name(), "from_windir");

    dir_.write("qsxdir/qsx.ini", "[DATABASE]\nODBC=from_qsx\n");
    EXPECT_EQ(resolved({}).data_source_name(), "from_qsx");
    ::setenv("QSX", (dir_.file("qsxdir") + "\\").c_str(), 1);  // trailing "\" as separator
    EXPECT_EQ(default_qsx_path(), dir_.file("qsxdir/qsx.ini"));

    ::unsetenv("QSX");
    ::unsetenv("WINDIR");
    EXPECT_EQ(default_qsx_path(), std::string(kDefaultSystemDir) + "/qsx.ini");
    ::setenv("WINDIR", "", 1);
    EXPECT_EQ(default_qsx_path(), std::string(kDefaultSystemDir) + "/qsx.ini");
}

TEST_F(ConnectionConfigTest, SettingsFileLiesBesideTheProgram) {
    EXPECT_EQ(default_settings_path("/opt/zelvik/bin/zelvik"), "/opt/zelvik/bin/zelvik.ini");
    EXPECT_EQ(default_settings_path("C:\\Zelvik\\zelvik.exe"), "C:/Zelvik/zelvik.ini");
    EXPECT_EQ(default_settings_path("./zelvik"), "./zelvik.ini");
    // Without a directory in argv[0] the running executable names it.
    char exe[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string expected(exe);
    expected = expected.substr(0, expected.rfind('/') + 1) + "zelvik.ini";
    EXPECT_EQ(default_settings_path("zelvik"), expected);

    const ConnectionConfig chosen({"/x/zelvik"}, dir_.file("other.ini"));
    EXPECT_EQ(chosen.settings_path(), dir_.file("other.ini"));
}

TEST_F(ConnectionConfigTest, LogSectionHasLinuxDefaults) {
    ConnectionConfig defaults({dir_.file("zelvik")});
    defaults.load_log_section();
    EXPECT_EQ(defaults.log_directory(), kDefaultLogDir);
    EXPECT_EQ(defaults.log_level(), "ERROR");

    local("[log]\ndir=logs\\zelvik\\\nLevel=debug\n");
    qsx("[LOG]\nDIR=/never\n");
    ConnectionConfig set({dir_.file("zelvik")});
    set.load_log_section();
    EXPECT_EQ(set.log_directory(), "logs/zelvik/");
    EXPECT_EQ(set.log_level(), "debug");
}

TEST_F(ConnectionConfigTest, GetParamAnswersByNameWithoutRegardToCase) {
    local("[LOG]\nDIR=/l\nLEVEL=WARN\n");
    ConnectionConfig c({dir_.file("zelvik"), "ODBC=d", "USER=u", "PASSWORD=p", "DATA=x\\y"});
    c.resolve_connection();
    c.load_log_section();
    const std::pair<const char*, const char*> cases[] = {
        {"odbc", "d"},     {"USER", "u"},         {"Password", "p"}, {"data_dir", "x/y"},
        {"LOG_DIR", "/l"}, {"log_level", "WARN"}, {"use_tend", "0"},
    };
    for (const auto& [name, expected] : cases) {
        std::string out = "unchanged";
        EXPECT_TRUE(c.get_param(name, out)) << name;
        EXPECT_EQ(out, expected) << name;
    }
    std::string out = "unchanged";
    EXPECT_FALSE(c.get_param("SLEEP", out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_FALSE(c.get_param(static_cast<const char*>(nullptr), out));
    EXPECT_EQ(out, "Unknown param");
}

// A file named with --config that holds no settings is refused with its reason, and
// the check never blocks: a FIFO used to hold open() until a writer came.
TEST_F(ConnectionConfigTest, SettingsFileProblemRefusesWhatHoldsNoSettings) {
    const std::string fifo = dir_.file("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto checked = std::async(std::launch::async, [&] { return settings_file_problem(fifo); });
    if (checked.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // releases the open
        if (w >= 0) ::close(w);
        checked.wait();
        FAIL() << "the check blocked on a FIFO";
    }
    EXPECT_EQ(checked.get(), "not a regular file");
    struct Case {
        std::string path;
        std::string problem;
    };
    const Case cases[] = {
        {"/dev/zero", "not a regular file"},
        {dir_.write("big.ini", std::string(kMaxSettingsFileBytes + 1, ';')),
         "larger than 1 MB (1048577 bytes)"},
        {dir_.write("full.ini", std::string(kMaxSettingsFileBytes, ';')), ""},
        {dir_.write("zelvik.ini", "[SYSTEM]\nTHREADS=1\n"), ""},
        {dir_.path(), "Is a directory"},
        {dir_.file("missing.ini"), "No such file or directory"},
    };
    for (const Case& c : cases) EXPECT_EQ(settings_file_problem(c.path), c.problem) << c.path;
}

}  // namespace
}  // namespace zelvik::config
