// SYSTEM, MAIL and ALARM values and the HDRSIZE column widths, read from real files.
#include "config/program_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "config/column_widths.h"
#include "tests/support/temp_dir.h"

namespace zelvik::config {
namespace {

using test::TempDir;

ProgramSettings loaded(const std::string& settings_path) {
    ProgramSettings s({"zelvik"}, settings_path);
    s.load_system();
    s.load_mail();
    s.load_alarm();
    return s;
}

TEST(ProgramSettings, EmptyFileGivesDefaults) {
    TempDir dir;
    for (const std::string& path : {dir.write("empty.ini", ""), dir.file("missing.ini")}) {
        const ProgramSettings s = loaded(path);
        EXPECT_EQ(s.sleep_time(), 40);
        EXPECT_EQ(s.storage_time(), 30);
        EXPECT_EQ(s.thread_count(), 0);
        EXPECT_EQ(s.alarm_wav_file(), kDefaultWavFile);
        EXPECT_EQ(s.alarm_silence(), 30);
        EXPECT_EQ(s.alarm_max_duration(), 120);
        EXPECT_EQ(s.alarm_no_data(), 600);
        EXPECT_EQ(s.alarm_coincidence(), 1);
        EXPECT_EQ(s.alarm_window(), 10.0);
        EXPECT_EQ(s.mail_server(), "");
        EXPECT_EQ(s.mail_recipient(), "");
        EXPECT_EQ(s.mail_sender(), "");
        EXPECT_EQ(s.mail_network(), "");
    }
}

TEST(ProgramSettings, NumbersUseTheLeadingNumberRule) {
    TempDir dir;
    const ProgramSettings s =
        loaded(dir.write("z.ini",
                         "[system]\nsleep=\nStorage_Time=7days\nTHREADS=\"3\"\n"
                         "[ALARM]\nWAVFILE=*none\nSILENCE=abc\nMAXDURATION=-5\n"
                         "NoData=0\ncoincidence=3 stations\nWINDOW=2.5s\n"
                         "[MAIL]\nSERVER=mail.example\nRECIPIENT=a@b\nSENDER=z@b\nNETWORK=XX\n"));
    EXPECT_EQ(s.sleep_time(), 0);  // present but empty: 0, not the default 40
    EXPECT_EQ(s.storage_time(), 7);
    EXPECT_EQ(s.thread_count(), 3);
    EXPECT_EQ(s.alarm_wav_file(), "*none");
    EXPECT_EQ(s.alarm_silence(), 0);
    EXPECT_EQ(s.alarm_max_duration(), -5);
    EXPECT_EQ(s.alarm_no_data(), 0);
    EXPECT_EQ(s.alarm_coincidence(), 3);
    EXPECT_EQ(s.alarm_window(), 2.5);

    const std::pair<const char*, const char*> cases[] = {
        {"sleep", "0"},       {"STORAGE_TIME", "7"}, {"threads", "3"},  {"SERVER", "mail.example"},
        {"Recipient", "a@b"}, {"SENDER", "z@b"},     {"network", "XX"}, {"WAVFILE", "*none"},
        {"SILENCE", "0"},     {"MAXDURATION", "-5"}, {"odbc", ""},      {"NODATA", "0"},
        {"Coincidence", "3"}, {"window", "2.5"},
    };
    for (const auto& [name, expected] : cases) {
        std::string out = "unchanged";
        EXPECT_TRUE(s.get_param(name, out)) << name;
        EXPECT_EQ(out, expected) << name;
    }
    std::string out = "unchanged";
    EXPECT_FALSE(s.get_param("BEGIN", out));
    EXPECT_EQ(out, "unchanged");
}

TEST(ProgramSettings, MailValuesAreCutToTheirCapacity) {
    TempDir dir;
    const ProgramSettings s =
        loaded(dir.write("z.ini", "[MAIL]\nSERVER=" + std::string(5000, 's') + "\n"));
    EXPECT_EQ(s.mail_server(), std::string(511, 's'));
}

TEST(ColumnWidths, ParsesAsTheListExpects) {
    struct Case {
        const char* text;
        ColumnWidths expected;
    };
    const ColumnWidths initial = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const Case cases[] = {
        {"", initial},
        {"80,0,60", {80, 2, 60, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"x,-4,,33px", {1, 2, 3, 33, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"10 20,30", {10, 30, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"1,1,1,1,1,1,1,1,1,1,1,1,99,99", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        ColumnWidths widths = initial;
        parse_column_widths(c.text, widths);
        EXPECT_EQ(widths, c.expected) << c.text;
    }
}

TEST(ColumnWidths, WriteThenReadGivesTheSameWidths) {
    TempDir dir;
    const std::string path = dir.write("z.ini", "[SYSTEM]\nSLEEP=40\n");
    const ColumnWidths widths = {80, 90, 100, 110, 120, 130, 140, 150, 160, 170, 180, 190};
    ASSERT_TRUE(write_column_widths(path, widths));
    EXPECT_EQ(test::read_file(path),
              "[SYSTEM]\nSLEEP=40\n[LISTBOXHEADER]\nHDRSIZE=80,90,100,110,120,130,140,150,160,"
              "170,180,190\n");
    ColumnWidths back{};
    read_column_widths(path, back);
    EXPECT_EQ(back, widths);
}

}  // namespace
}  // namespace zelvik::config
