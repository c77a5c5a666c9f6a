// Private-profile reading and writing on real files in a temporary directory. The
// expected texts are written out by hand from the file format's rules.
#include "config/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace zelvik::config {
namespace {

using test::read_file;
using test::TempDir;

TEST(IniRead, FollowsTheReadingRules) {
    TempDir dir;
    const std::string path = dir.write("zelvik.ini",
                                       "top=ignored\r\n"
                                       "[Thread0]\r\n"
                                       "  threshold =  3.5  \r\n"
                                       "STATION=\"ABC\"\r\n"
                                       "CHANNEL='BHN'\r\n"
                                       "LCODE=\"\"00\"\"\r\n"
                                       "MIXED=\"x'\r\n"
                                       "EMPTY=\r\n"
                                       "EQ=a=b=c\r\n"
                                       ";FR1=9\r\n"
                                       "Threshold=7\r\n"
                                       "[ thread0 ]\r\n"
                                       "FR2=4\r\n"
                                       "[OTHER]\n"
                                       "top=other\n");
    struct Case {
        const char* section;
        const char* key;
        const char* default_value;
        size_t capacity;
        const char* expected;
    };
    const Case cases[] = {
        {"THREAD0", "Threshold", "5", 128, "3.5"},  // case, blanks, first key wins
        {"thread0", "station", "QRS", 128, "ABC"},  // one pair of quotes removed
        {"THREAD0", "CHANNEL", "BHZ", 128, "BHN"},  // single quotes too
        {"THREAD0", "LCODE", "??", 128, "\"00\""},  // only one pair
        {"THREAD0", "MIXED", "", 128, "\"x'"},      // unmatched quotes stay
        {"THREAD0", "EMPTY", "dflt", 128, ""},      // empty value is not missing
        {"THREAD0", "EQ", "", 128, "a=b=c"},        // value after the first "="
        {"THREAD0", "FR1", "0.0", 128, "0.0"},      // comment line is no key
        {"THREAD0", "FR2", "1.0", 128, "1.0"},      // only the first section counts
        {"THREAD0", "STATION", "QRS", 3, "AB"},     // cut to capacity - 1
        {"THREAD1", "STATION", "QRSTU", 4, "QRS"},  // default cut as well
        {"OTHER", "top", "", 128, "other"},         // keys above every section ignored
        {"MISSING", "top", "d", 128, "d"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ini::read_string(path, c.section, c.key, c.default_value, c.capacity),
                  c.expected);
    }
}

TEST(IniRead, IntegersTakeTheLeadingNumber) {
    TempDir dir;
    const std::string path = dir.write("a.ini",
                                       "[DATABASE]\nA=12abc\nB=abc\nC=\nD=-5\nE= 7 \nF=\"9\"\n"
                                       "G=99999999999\n");
    struct Case {
        const char* key;
        int expected;
    };
    const Case cases[] = {{"A", 12}, {"B", 0}, {"C", -1},      {"D", -5},
                          {"E", 7},  {"F", 9}, {"G", INT_MAX}, {"MISSING", -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(ini::read_int(path, "DATABASE", c.key, -1), c.expected) << c.key;
    }
    EXPECT_EQ(ini::read_int(dir.file("none.ini"), "DATABASE", "A", 42), 42);
}

TEST(IniRead, SectionListsKeysInFileOrder) {
    TempDir dir;
    const std::string path =
        dir.write("a.ini", "[THREAD1]\nSTATION=ABC\n; note\nSOUND = \"1\"\n\n[THREAD2]\n[X]\n");
    const auto keys = ini::read_section(path, "thread1");
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0], std::make_pair(std::string("STATION"), std::string("ABC")));
    EXPECT_EQ(keys[1], std::make_pair(std::string("SOUND"), std::string("1")));
    EXPECT_TRUE(ini::read_section(path, "THREAD2").empty());
    EXPECT_TRUE(ini::read_section(path, "THREAD3").empty());
    EXPECT_TRUE(ini::read_section(dir.file("none.ini"), "THREAD1").empty());
}

TEST(IniRead, BadFilesGiveDefaults) {
    TempDir dir;
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xff);
    const std::string binary_path = dir.write("binary.ini", binary);
    const std::string long_value(2u << 20, 'v');
    const std::string long_path = dir.write(
        "long.ini", "[A]\nJUNK=" + std::string(3u << 20, 'x') + "\nKEY=" + long_value + "\n");
    ::mkdir(dir.file("dir.ini").c_str(), 0755);

    EXPECT_EQ(ini::read_string(binary_path, "SYSTEM", "SLEEP", "40", 16), "40");
    EXPECT_EQ(ini::read_string(dir.file("dir.ini"), "A", "KEY", "d", 16), "d");
    EXPECT_EQ(ini::read_string("/proc/self/mem", "A", "KEY", "d", 16), "d");
    EXPECT_EQ(ini::read_string(long_path, "A", "KEY", "", 1024), std::string(1023, 'v'));
    EXPECT_EQ(ini::read_int(long_path, "A", "JUNK", 5), 0);
}

TEST(IniRead, OversizedFileIsReadOnlyUpToTheLimit) {
    TempDir dir;
    const std::string path = dir.write(
        "huge.ini", "[A]\nKEY=1\n" + std::string(ini::kMaxFileBytes, ';') + "\n[B]\nKEY=2\n");
    EXPECT_EQ(ini::read_string(path, "A", "KEY", "d", 16), "1");
    EXPECT_EQ(ini::read_string(path, "B", "KEY", "d", 16), "d");
    EXPECT_FALSE(ini::write_string(path, "A", "KEY", "3"));
    EXPECT_FALSE(ini::last_error().empty());
}

TEST(IniRead, EveryChangeOfTheFileIsSeen) {
    // Queries share a parsed copy of the file: each kind of change, even one that keeps
    // the size within the same time stamp tick, must reach the next query.
    TempDir dir;
    const std::string path = dir.write("z.ini", "[A]\nKEY=1\n");
    EXPECT_EQ(ini::read_string(path, "a", "key", "d", 16), "1");
    ASSERT_TRUE(ini::write_string(path, "A", "KEY", "2"));  // replaced by a rename
    EXPECT_EQ(ini::read_string(path, "A", "KEY", "d", 16), "2");
    dir.write("z.ini", "[A]\nKEY=3\n");  // rewritten in place, same size
    EXPECT_EQ(ini::read_string(path, "A", "KEY", "d", 16), "3");
    std::filesystem::remove(path);
    EXPECT_EQ(ini::read_string(path, "A", "KEY", "d", 16), "d");
    // A file that has been still for a while is trusted by its identity; a change still
    // shows, since it moves the change time.
    dir.write("z.ini", "[A]\nKEY=4\n[B]\nX=1\n");
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(10);
    std::filesystem::last_write_time(path, old);
    ::sleep(2);
    EXPECT_EQ(ini::read_string(path, "A", "KEY", "d", 16), "4");
    EXPECT_EQ(ini::read_section_names(path), (std::vector<std::string>{"A", "B"}));
    dir.write("z.ini", "[A]\nKEY=5\n[B]\nX=1\n");
    std::filesystem::last_write_time(path, old);
    EXPECT_EQ(ini::read_string(path, "A", "KEY", "d", 16), "5");
}

TEST(IniWrite, ChangesOnlyTheLineItMust) {
    const std::string original =
        "; settings\r\n"
        "[ALARM]\r\n"
        "  maxduration = 120  \r\n"
        "SILENCE=30\r\n"
        "\r\n"
        "[SYSTEM]\r\n"
        "SLEEP=40\r\n"
        "\r\n";
    struct Case {
        const char* section;
        const char* key;
        const char* value;
        std::string expected;
    };
    const Case cases[] = {
        // replaced where it stands, key written as given
        {"alarm", "MAXDURATION", "60",
         "; "
         "settings\r\n[ALARM]\r\nMAXDURATION=60\r\nSILENCE=30\r\n\r\n[SYSTEM]\r\nSLEEP=40\r\n\r\n"},
        // added after the section's last line, above the blank line
        {"ALARM", "WAVFILE", "./a b.wav",
         "; settings\r\n[ALARM]\r\n  maxduration = 120  \r\nSILENCE=30\r\nWAVFILE=./a b.wav\r\n"
         "\r\n[SYSTEM]\r\nSLEEP=40\r\n\r\n"},
        // new section at the end of the file, same line breaks as the file
        {"MAIL", "SERVER", "",
         "; settings\r\n[ALARM]\r\n  maxduration = 120  \r\nSILENCE=30\r\n\r\n[SYSTEM]\r\n"
         "SLEEP=40\r\n\r\n[MAIL]\r\nSERVER=\r\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.write("zelvik.ini", original);
        ASSERT_TRUE(ini::write_string(path, c.section, c.key, c.value)) << ini::last_error();
        EXPECT_EQ(read_file(path), c.expected) << c.key;
        // Writing the same value again gives the same file.
        ASSERT_TRUE(ini::write_string(path, c.section, c.key, c.value));
        EXPECT_EQ(read_file(path), c.expected) << c.key;
    }
}

TEST(IniWrite, CreatesFilesAndEndsUnfinishedLastLines) {
    TempDir dir;
    const std::string created = dir.file("new.ini");
    ASSERT_TRUE(ini::write_string(created, "LISTBOXHEADER", "HDRSIZE", "1,2"));
    EXPECT_EQ(read_file(created), "[LISTBOXHEADER]\nHDRSIZE=1,2\n");

    const std::string open_end = dir.write("open.ini", "[A]\nX=1");
    ASSERT_TRUE(ini::write_string(open_end, "A", "Y", "2"));
    EXPECT_EQ(read_file(open_end), "[A]\nX=1\nY=2\n");

    const std::string header_only = dir.write("header.ini", "[A]");
    ASSERT_TRUE(ini::write_string(header_only, "B", "Z", "3"));
    EXPECT_EQ(read_file(header_only), "[A]\n[B]\nZ=3\n");
    EXPECT_EQ(ini::read_string(header_only, "B", "Z", "", 8), "3");
}

// A lone CR ends a line for the writer as it does for the reader; the new key never
// joins the line before it ("k=v\rnew=x" read back as one value was the fault).
TEST(IniWrite, LoneCarriageReturnEndsALine) {
    TempDir dir;
    struct Case {
        const char* before;
        const char* section;
        const char* after;
    };
    const Case cases[] = {
        {"[A]\nk=v\r", "A", "[A]\nk=v\rnew=x\n"},
        {"[A]\rk=v\r", "A", "[A]\rk=v\rnew=x\n"},
        {"[A]\r\nk=v\r", "A", "[A]\r\nk=v\rnew=x\r\n"},
        {"[A]\nk=v\r", "B", "[A]\nk=v\r[B]\nnew=x\n"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.write("cr.ini", c.before);
        ASSERT_TRUE(ini::write_string(path, c.section, "new", "x"));
        EXPECT_EQ(read_file(path), c.after) << c.before;
        EXPECT_EQ(ini::read_string(path, "A", "k", "", 64), "v") << c.before;
        EXPECT_EQ(ini::read_string(path, c.section, "new", "", 64), "x") << c.before;
    }
}

TEST(IniWrite, KeepsBinaryBytesAndLeavesNoTemporaryFile) {
    TempDir dir;
    const char bytes[] = "[A]\nX=\x01\xff\x00zz\n\x80\x81 no key here\n";
    const std::string odd(bytes, sizeof bytes - 1);
    const std::string path = dir.write("odd.ini", odd);
    ASSERT_TRUE(ini::write_string(path, "A", "NEW", "v"));
    EXPECT_EQ(read_file(path), odd + "NEW=v\n");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(IniWrite, RejectsValuesThatWouldBreakTheFormat) {
    TempDir dir;
    const std::string original = "[A]\nX=1\n";
    const std::string path = dir.write("a.ini", original);
    EXPECT_FALSE(ini::write_string(path, "A", "X", "1\n[B]\nY=2"));
    EXPECT_FALSE(ini::write_string(path, "A", "K=V", "1"));
    EXPECT_FALSE(ini::write_string(path, "A]", "X", "1"));
    EXPECT_FALSE(ini::write_string(path, "", "X", "1"));
    EXPECT_FALSE(ini::write_string(path, "A", " ", "1"));
    EXPECT_EQ(read_file(path), original);
}

TEST(IniWrite, FailsCleanlyWhereItCannotWrite) {
    TempDir dir;
    EXPECT_FALSE(ini::write_string(dir.file("no/such/dir/a.ini"), "A", "X", "1"));
    EXPECT_NE(ini::last_error().find("no/such/dir"), std::string::npos) << ini::last_error();
    ::mkdir(dir.file("d.ini").c_str(), 0755);
    EXPECT_FALSE(ini::write_string(dir.file("d.ini"), "A", "X", "1"));
    EXPECT_FALSE(ini::delete_section(dir.file("d.ini"), "A"));
}

TEST(IniWrite, FollowsSymbolicLinksAndKeepsPermissions) {
    TempDir dir;
    const std::string real = dir.write("real.ini", "[A]\nX=1\n");
    ::chmod(real.c_str(), 0640);
    const std::string link = dir.file("link.ini");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(ini::write_string(link, "A", "X", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(read_file(real), "[A]\nX=2\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// The editor may save while Zelvik reads: a reader must see the old file or the new
// one, never a half-written one.
TEST(IniWrite, ReadersNeverSeeAHalfWrittenFile) {
    TempDir dir;
    const std::string a(20000, 'a');
    const std::string b(30000, 'b');
    const std::string path = dir.write("z.ini", "[SYSTEM]\nSLEEP=40\n[PAD]\nX=" + a + "\n");
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 50; ++i) {
            if (!ini::write_string(path, "PAD", "X", (i % 2) ? a : b)) ADD_FAILURE();
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        EXPECT_EQ(ini::read_string(path, "SYSTEM", "SLEEP", "missing", 16), "40");
        const std::string x = ini::read_string(path, "PAD", "X", "", 65536);
        EXPECT_TRUE(x == a || x == b) << x.size();
        ++reads;
    }
    writer.join();
}

TEST(IniDelete, RemovesTheFirstMatchingSectionOnly) {
    TempDir dir;
    const std::string path = dir.write(
        "a.ini", "[THREAD0]\nX=0\n[thread1]\nX=1\n\n; kept? no, inside\n[THREAD2]\nX=2\n");
    ASSERT_TRUE(ini::delete_section(path, "THREAD1"));
    EXPECT_EQ(read_file(path), "[THREAD0]\nX=0\n[THREAD2]\nX=2\n");
    ASSERT_TRUE(ini::delete_section(path, "THREAD2"));
    EXPECT_EQ(read_file(path), "[THREAD0]\nX=0\n");
    ASSERT_TRUE(ini::delete_section(path, "THREAD9"));
    EXPECT_EQ(read_file(path), "[THREAD0]\nX=0\n");
    ASSERT_TRUE(ini::delete_section(dir.file("none.ini"), "A"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.ini")));
}

}  // namespace
}  // namespace zelvik::config
