// Loading of the editor's model, the settings-file argument and the starting
// connection values.
#include "editor/editor_settings.h"

#include <gtest/gtest.h>

#include "editor/command_line.h"
#include "editor/connection_params.h"
#include "tests/support/temp_dir.h"

namespace zelvik::editor {
namespace {

std::string channel_section(int n, const std::string& station) {
    return "[THREAD" + std::to_string(n) + "]\nSTATION=" + station + "\nCHANNEL=BHZ\n";
}

TEST(LoadSettings, ThreadsAgainstPresentAndMissingSections) {
    struct Case {
        const char* name;
        std::string file;
        int count;
        size_t entries;
    };
    const Case cases[] = {
        {"no sections", "[SYSTEM]\nTHREADS=3\n", 0, 0},
        {"two of five shown",
         "[SYSTEM]\nTHREADS=2\n" + channel_section(0, "A") + channel_section(1, "B") +
             channel_section(2, "C") + channel_section(3, "D") + channel_section(4, "E"),
         2, 5},
        {"gap stops reading",
         "[SYSTEM]\nTHREADS=3\n" + channel_section(0, "A") + channel_section(1, "B") +
             channel_section(3, "D"),
         2, 2},
        {"missing THREADS is 1", channel_section(0, "A") + channel_section(1, "B"), 1, 2},
        {"negative THREADS", "[SYSTEM]\nTHREADS=-4\n" + channel_section(0, "A"), 0, 1},
        {"empty section ends",
         "[SYSTEM]\nTHREADS=2\n" + channel_section(0, "A") + "[THREAD1]\n" +
             channel_section(2, "C"),
         1, 1},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        EditorSettings s;
        s.settings_path = dir.write("zelvik.ini", c.file);
        load_settings(s);
        EXPECT_EQ(s.channel_count, c.count) << c.name;
        EXPECT_EQ(s.channels.size(), c.entries) << c.name;
    }
}

TEST(LoadSettings, ValuesAndEditorDefaults) {
    test::TempDir dir;
    EditorSettings s;
    s.settings_path = dir.write("zelvik.ini",
                                "[thread0]\nstation=KIV\nChannel=SHZ\nSTA=2\nLTA=30s\n"
                                "Threshold=3.14159\nFR1=0.5Hz\nFR2=\nORDER=4\nSOUND=7\n"
                                "[THREAD1]\nSTATION=ARU\n");
    load_settings(s);
    ASSERT_EQ(s.channels.size(), 2u);
    const ChannelEntry kiv{"KIV", "SHZ", 2, 30, 3.14159, 0.5, 0.0, 4, true};
    EXPECT_EQ(s.channels[0], kiv);
    // A section without the keys: the editor's zeros and no sound, where Zelvik itself
    // would sound the alarm.
    EXPECT_EQ(s.channels[1], (ChannelEntry{"ARU", "", 0, 0, 0.0, 0.0, 0.0, 0, false}));
    EXPECT_EQ(s.max_repeats, 30);
    EXPECT_EQ(s.pause_seconds, 60);
    EXPECT_EQ(s.wav_file, "");
    EXPECT_EQ(s.channel_count, 1);
}

TEST(LoadSettings, MissingFileGivesDefaults) {
    EditorSettings s;
    s.settings_path = "/nonexistent/dir/zelvik.ini";
    load_settings(s);
    EXPECT_EQ(s.channel_count, 0);
    EXPECT_TRUE(s.channels.empty());
    EXPECT_EQ(s.max_repeats, 30);
    EXPECT_EQ(s.pause_seconds, 60);
}

TEST(SettingsPath, ArgumentForms) {
    struct Case {
        std::vector<std::string> args;
        const char* expected;
    };
    const Case cases[] = {
        {{"zelvikcfg"}, "/cwd/zelvik.ini"},
        {{"zelvikcfg", "x.ini"}, "/cwd/x.ini"},
        {{"zelvikcfg", "cfg/x.ini"}, "/cwd/cfg/x.ini"},
        {{"zelvikcfg", "/opt/zelvik/zelvik.ini"}, "/opt/zelvik/zelvik.ini"},
        {{"zelvikcfg", "a", "b"}, "/cwd/zelvik.ini"},
        // Connection overrides never count as the settings file.
        {{"zelvikcfg", "ODBC=SEIS"}, "/cwd/zelvik.ini"},
        {{"zelvikcfg", "/srv/z.ini", "odbc=SEIS", "user=x"}, "/srv/z.ini"},
        {{"zelvikcfg", ""}, "/cwd/zelvik.ini"},
    };
    for (const Case& c : cases) EXPECT_EQ(resolve_settings_path(c.args, "/cwd"), c.expected);
}

TEST(ConnectionParams, CommandLineKeysInAnyCaseValuesAsTyped) {
    struct Case {
        std::vector<std::string> args;
        ConnectionParams expected;
    };
    const Case cases[] = {
        {{"zelvikcfg", "odbc=SeisDb", "User=Ops", "PassWord=s3Cr/t", "data=/Data/Wave"},
         {"SeisDb", "Ops", "s3Cr/t", "/Data/Wave"}},
        {{"zelvikcfg", "x.ini", "ODBC=My Store", "USER=u"}, {"My Store", "u", "", ""}},
        // USER= is expected after ODBC=; a PASSWORD= there ends the parse.
        {{"zelvikcfg", "ODBC=A", "PASSWORD=p", "USER=u"}, {"A", "", "", ""}},
        // The tail starts at the first ODBC= even inside an argument.
        {{"zelvikcfg", "-xodbc=Q", "user=w"}, {"Q", "w", "", ""}},
    };
    for (const Case& c : cases) {
        const ConnectionParams p =
            resolve_connection_params({c.args, "/none/a.ini", "/none/b.ini"});
        EXPECT_EQ(p, c.expected) << c.args[1];
    }
}

TEST(ConnectionParams, FilesThenDefaults) {
    test::TempDir dir;
    const std::string local_empty =
        dir.write("local.ini", "[DATABASE]\nODBC=\nUSER=lu\n[DATA]\nDIR=/l\n");
    const std::string local = dir.write("local2.ini", "[DATABASE]\nODBC=LOC\nUSER=lu\n");
    const std::string qsx =
        dir.write("qsx.ini", "[DATABASE]\nODBC=MW\nUSER=mu\nPASSWORD=mp\n[DATA]\nDIR=/m\n");
    const std::vector<std::string> no_args{"zelvikcfg"};
    EXPECT_EQ(resolve_connection_params({no_args, local, qsx}),
              (ConnectionParams{"LOC", "lu", "", ""}));
    // An empty ODBC key passes the file over whole: nothing of it is kept.
    EXPECT_EQ(resolve_connection_params({no_args, local_empty, qsx}),
              (ConnectionParams{"MW", "mu", "mp", "/m"}));
    const ConnectionParams defaults = resolve_connection_params({no_args, local_empty, "/none"});
    EXPECT_EQ(defaults.data_source, "QSX");
    EXPECT_EQ(defaults.user, "QSX");
    EXPECT_EQ(defaults.password, "VEM");
    EXPECT_FALSE(defaults.data_dir.empty());
    // The command line wins over both files.
    EXPECT_EQ(resolve_connection_params({{"zelvikcfg", "ODBC=CMD"}, local, qsx}).data_source,
              "CMD");
}

}  // namespace
}  // namespace zelvik::editor
