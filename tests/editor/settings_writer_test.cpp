// Saving: key order, section deletion, preserved lines, file modes and failures, and
// Zelvik's own readers over what the editor wrote.
#include "editor/settings_writer.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "channel/channel_settings.h"
#include "config/ini_file.h"
#include "config/program_settings.h"
#include "tests/support/temp_dir.h"

namespace zelvik::editor {
namespace {

ChannelEntry entry(const std::string& station, double threshold = 3.5) {
    return {station, "BHZ", 2, 20, threshold, 0.5, 4.0, 3, true};
}

EditorSettings loaded(const std::string& path) {
    EditorSettings s;
    s.settings_path = path;
    load_settings(s);
    return s;
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

bool has_section(const std::string& text, const std::string& name) {
    return text.find("[" + name + "]") != std::string::npos;
}

TEST(SettingsWriter, NewFileInWriteOrderWithOwnerOnlyMode) {
    test::TempDir dir;
    EditorSettings s;
    s.settings_path = dir.file("zelvik.ini");
    s.wav_file = "/snd/a.wav";
    s.max_repeats = 7;
    s.pause_seconds = 45;
    s.channels = {{"KIV", "SHZ", 1, 10, 3.5, 0.8, 5.0, 4, false}};
    s.channel_count = 1;
    SettingsWriter w;
    ASSERT_TRUE(w.save(s, {"SEIS DB", "ops", "pw", "/data"})) << w.last_error();
    // Golden text written by hand from the key table of the writer.
    EXPECT_EQ(test::read_file(s.settings_path),
              "[ALARM]\nMAXDURATION=7\nSILENCE=45\nWAVFILE=/snd/a.wav\n"
              "[DATABASE]\nODBC=SEIS DB\nUSER=ops\nPASSWORD=pw\n[DATA]\nDIR=/data\n"
              "[SYSTEM]\nTHREADS=1\n"
              "[THREAD0]\nSTATION=KIV\nCHANNEL=SHZ\nSTA=1\nLTA=10\nTHRESHOLD=3.500000\n"
              "FR1=0.800000\nFR2=5.000000\nORDER=4\nSOUND=0\n");
    EXPECT_EQ(mode_of(s.settings_path), 0600u);
    // Saving twice gives the same file.
    const std::string first = test::read_file(s.settings_path);
    ASSERT_TRUE(w.save(s, {"SEIS DB", "ops", "pw", "/data"}));
    EXPECT_EQ(test::read_file(s.settings_path), first);
}

TEST(SettingsWriter, SurplusSectionsDeletedUpToTheFirstGap) {
    struct Case {
        const char* name;
        std::vector<int> sections;  // THREADn present before the save
        size_t channels;            // entries saved
        std::vector<int> present, absent;
    };
    const Case cases[] = {
        {"five saved as three", {0, 1, 2, 3, 4}, 3, {0, 1, 2}, {3, 4}},
        {"gap stops deleting", {0, 1, 3}, 2, {0, 1, 3}, {2}},
        {"all deleted", {0, 1}, 0, {}, {0, 1}},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        std::string text = "[SYSTEM]\nSLEEP=40\n";
        for (int n : c.sections) text += "[THREAD" + std::to_string(n) + "]\nSTATION=S\n";
        EditorSettings s;
        s.settings_path = dir.write("zelvik.ini", text);
        for (size_t i = 0; i < c.channels; ++i)
            s.channels.push_back(entry("N" + std::to_string(i)));
        s.channel_count = static_cast<int>(c.channels);
        SettingsWriter w;
        ASSERT_TRUE(w.save(s, {})) << c.name;
        const std::string out = test::read_file(s.settings_path);
        for (int n : c.present)
            EXPECT_TRUE(has_section(out, "THREAD" + std::to_string(n))) << c.name;
        for (int n : c.absent)
            EXPECT_FALSE(has_section(out, "THREAD" + std::to_string(n))) << c.name;
        EXPECT_NE(out.find("SLEEP=40"), std::string::npos) << c.name;
    }
}

TEST(SettingsWriter, UnknownLinesStayByteForByteAndLineEndsKept) {
    test::TempDir dir;
    const std::string original =
        "; Zelvik settings\r\n[SYSTEM]\r\nSLEEP = 40 "
        "\r\nTHREADS=3\r\n\r\n[LOG]\r\nDIR=/var/log/z\r\n"
        "[MAIL]\r\nSERVER=127.0.0.1\r\n"
        "[THREAD0]\r\nSTATION=A\r\nCALIB=1.5\r\n[THREAD1]\r\nSTATION=B\r\n[THREAD2]\r\nSTATION="
        "C\r\n";
    const std::string path = dir.write("zelvik.ini", original);
    EditorSettings s = loaded(path);
    ASSERT_EQ(s.channel_count, 3);
    // Deleting the first of three: THREAD0 and THREAD1 get the former second and third.
    s.channels.erase(s.channels.begin());
    s.channel_count = 2;
    SettingsWriter w;
    ASSERT_TRUE(w.save(s, {"D", "u", "p", "/d"}));
    const std::string out = test::read_file(path);
    EXPECT_EQ(out.rfind("; Zelvik settings\r\n[SYSTEM]\r\nSLEEP = 40 \r\nTHREADS=2\r\n\r\n[LOG]\r\n"
                        "DIR=/var/log/z\r\n[MAIL]\r\nSERVER=127.0.0.1\r\n[THREAD0]\r\nSTATION=B\r\n"
                        "CALIB=1.5\r\nCHANNEL=",
                        0),
              0u)
        << out;
    EXPECT_FALSE(has_section(out, "THREAD2"));
    EXPECT_EQ(out.find("\n\n"), std::string::npos) << "a bare LF crept in";
    for (size_t at = out.find('\n'); at != std::string::npos; at = out.find('\n', at + 1))
        EXPECT_EQ(out[at - 1], '\r');
    const EditorSettings back = loaded(path);
    ASSERT_EQ(back.channels.size(), 2u);
    EXPECT_EQ(back.channels[0].station, "B");
    EXPECT_EQ(back.channels[1].station, "C");
}

TEST(SettingsWriter, HiddenEntriesAndMoreThan256Channels) {
    test::TempDir dir;
    const std::string path =
        dir.write("zelvik.ini",
                  "[SYSTEM]\nTHREADS=1\n[THREAD0]\nSTATION=A\n[THREAD1]\nSTATION=B\n"
                  "[THREAD2]\nSTATION=C\n");
    EditorSettings s = loaded(path);
    SettingsWriter w;
    ASSERT_TRUE(w.save(s, {}));
    EditorSettings back = loaded(path);
    EXPECT_EQ(back.channel_count, 1);
    EXPECT_EQ(back.channels.size(), 3u);

    EditorSettings many;
    many.settings_path = dir.file("many.ini");
    for (int i = 0; i < 300; ++i) many.channels.push_back(entry("S" + std::to_string(i)));
    many.channel_count = 300;
    ASSERT_TRUE(w.save(many, {}));
    const std::string out = test::read_file(many.settings_path);
    EXPECT_TRUE(has_section(out, "THREAD255"));
    EXPECT_FALSE(has_section(out, "THREAD256"));
    EXPECT_NE(out.find("THREADS=300\n"), std::string::npos);
}

TEST(SettingsWriter, ExistingFileKeepsItsMode) {
    test::TempDir dir;
    const std::string path = dir.write("zelvik.ini", "[SYSTEM]\nSLEEP=40\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    SettingsWriter w;
    ASSERT_TRUE(w.save(loaded(path), {}));
    EXPECT_EQ(mode_of(path), 0640u);
}

TEST(SettingsWriter, FailuresAreReportedAndLeaveTheFile) {
    test::TempDir dir;
    const std::string original = "[SYSTEM]\nSLEEP=40\nTHREADS=0\n";
    const std::string path = dir.write("zelvik.ini", original);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EditorSettings s = loaded(path);
    s.channels = {entry("KIV")};
    s.channel_count = 1;
    SettingsWriter w;
    EXPECT_FALSE(w.save(s, {"D", "u", "secret-pw", "/d"}));
    EXPECT_NE(w.last_error().find("защищён"), std::string::npos) << w.last_error();
    EXPECT_EQ(w.last_error().find("secret-pw"), std::string::npos);
    EXPECT_EQ(test::read_file(path), original);

    s.settings_path = dir.file("missing/dir/zelvik.ini");
    EXPECT_FALSE(w.save(s, {"D", "u", "secret-pw", "/d"}));
    EXPECT_NE(w.last_error().find("No such file"), std::string::npos) << w.last_error();
    EXPECT_EQ(::access(s.settings_path.c_str(), F_OK), -1);
    // No temporary copy is left behind.
    EXPECT_EQ(::access((path + ".XXXXXX").c_str(), F_OK), -1);
}

// What the kernel reports for a directory: files created in it and files renamed into it.
class DirectoryEvents {
public:
    explicit DirectoryEvents(const std::string& dir)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0) {
            watching_ = ::inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_MOVED_TO) >= 0;
        }
    }
    ~DirectoryEvents() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool watching() const { return watching_; }
    // Drains the queue; false when the kernel dropped events.
    bool count(int& created, int& moved_in) const {
        alignas(inotify_event) char buf[65536];
        for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                if (e->mask & IN_Q_OVERFLOW) return false;
                created += (e->mask & IN_CREATE) != 0;
                moved_in += (e->mask & IN_MOVED_TO) != 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return true;
    }

private:
    int fd_;
    bool watching_ = false;
};

// A full table is edited in memory and put in place once: one temporary file made and
// renamed over the settings, where a rewrite per key made thousands.
TEST(SettingsWriter, FullTableIsOneReplaceOfTheFile) {
    test::TempDir dir;
    const std::string path = dir.write("zelvik.ini", "[SYSTEM]\nSLEEP=40\n");
    EditorSettings s = loaded(path);
    for (int i = 0; i < kMaxChannelSections; ++i) {
        s.channels.push_back(entry("S" + std::to_string(i)));
    }
    s.channel_count = kMaxChannelSections;
    const DirectoryEvents events(dir.path());
    ASSERT_TRUE(events.watching());
    SettingsWriter w;
    ASSERT_TRUE(w.save(s, {"D", "u", "p", "/d"})) << w.last_error();
    int created = 0, moved_in = 0;
    ASSERT_TRUE(events.count(created, moved_in));
    EXPECT_EQ(created, 1);
    EXPECT_EQ(moved_in, 1);
    EXPECT_EQ(loaded(path).channels, s.channels);
}

// Zelvik's own readers, as it runs at start-up, over a file the editor saved.
TEST(SettingsWriter, ZelvikReadsWhatTheEditorWrites) {
    test::TempDir dir;
    const std::string path =
        dir.write("zelvik.ini", "[SYSTEM]\nSLEEP=25\nSTORAGE_TIME=9\n[THREAD1]\nLCODE=00\n");
    EditorSettings s;
    s.settings_path = path;
    s.wav_file = "/usr/share/sounds/alarm.wav";
    s.max_repeats = 12;
    s.pause_seconds = 300;
    s.channels = {{"KIV", "SHZ", 2, 40, 3.14159, 0.7, 4.5, 4, true},
                  {"ARU", "BHN", 1, 10, 12.0, 1.25, 8.0, 2, false}};
    s.channel_count = 2;
    const ConnectionParams params{"Seis Store", "Operator", "Pa55 word", "/mnt/Data/QSX"};
    SettingsWriter w;
    ASSERT_TRUE(w.save(s, params)) << w.last_error();

    config::ProgramSettings zelvik({"/opt/zelvik/zelvik"}, path);
    zelvik.resolve_connection();
    zelvik.load_system();
    zelvik.load_alarm();
    EXPECT_EQ(zelvik.data_source_name(), params.data_source);
    EXPECT_EQ(zelvik.user_name(), params.user);
    EXPECT_EQ(zelvik.password(), params.password);
    EXPECT_EQ(zelvik.data_directory(), params.data_dir);
    EXPECT_EQ(zelvik.labels()[0], config::kLabelLocalIni);
    EXPECT_EQ(zelvik.thread_count(), 2);
    EXPECT_EQ(zelvik.sleep_time(), 25);
    EXPECT_EQ(zelvik.storage_time(), 9);
    EXPECT_EQ(zelvik.alarm_wav_file(), s.wav_file);
    EXPECT_EQ(zelvik.alarm_max_duration(), 12);
    EXPECT_EQ(zelvik.alarm_silence(), 300);
    for (int n = 0; n < 2; ++n) {
        const ChannelEntry& e = s.channels[static_cast<size_t>(n)];
        const detect::ChannelSettings c = detect::read_channel_settings(path, n);
        EXPECT_EQ(c.station, e.station);
        EXPECT_EQ(c.channel, e.channel);
        EXPECT_DOUBLE_EQ(c.sta_seconds, e.sta);
        EXPECT_DOUBLE_EQ(c.lta_seconds, e.lta);
        // "%f" keeps six decimals, so 3.14159 arrives whole.
        EXPECT_DOUBLE_EQ(c.threshold, e.threshold);
        EXPECT_FLOAT_EQ(c.fr1, static_cast<float>(e.fr1));
        EXPECT_FLOAT_EQ(c.fr2, static_cast<float>(e.fr2));
        EXPECT_EQ(c.order, e.order);
        EXPECT_EQ(c.sound, e.sound);
    }
    EXPECT_EQ(detect::read_channel_settings(path, 1).location, "00");
}

// A file as an operator or Zelvik's installer wrote it: values the editor holds less
// exactly (STA 1.5), outside its ranges (MAXDURATION 120), missing (SILENCE, SOUND) or
// spelled otherwise ("5" for 5.000000).
const char* const kHandWritten =
    "[ALARM]\nMAXDURATION=120\nWAVFILE=/snd/a.wav\n"
    "[MAIL]\nSERVER=mx.example.org\nCAFILE=/etc/ca.pem\n"
    "[SYSTEM]\nTHREADS=2\n"
    "[THREAD0]\nSTATION=KIV\nCHANNEL=SHZ\nSTA=1.5\nLTA=30\nThreshold=5\nFR1=0.5\nFR2=4\n"
    "ORDER=1\n"
    "[THREAD1]\nSTATION=ARU\nCHANNEL=BHZ\nSTA=2\nLTA=20\nTHRESHOLD=4\nFR1=1\nFR2=8\n"
    "ORDER=4\nSOUND=0\n";

// An untouched save leaves the file byte for byte; a change writes that key alone; a
// moved channel carries its own texts; the alert keys go under Zelvik's names.
TEST(SettingsWriter, KeysTheOperatorDidNotChangeKeepTheirText) {
    test::TempDir dir;
    const std::string path = dir.write("zelvik.ini", kHandWritten);
    EditorSettings s = loaded(path);
    ASSERT_EQ(s.max_repeats, 120);
    SettingsWriter w;
    ASSERT_TRUE(w.save(s, {})) << w.last_error();
    EXPECT_EQ(test::read_file(path), kHandWritten);
    EXPECT_TRUE(pending_unasked_changes(s, {}).empty());

    s.pause_seconds = 45;
    ASSERT_TRUE(w.save(s, {}));
    std::string expected = kHandWritten;
    expected.insert(expected.find("[MAIL]"), "SILENCE=45\n");
    EXPECT_EQ(test::read_file(path), expected);

    // Swapped: each section gets the other channel's own texts. KIV had no SOUND key
    // (Zelvik: on); in THREAD1 it must have one, the editor's "нет": that is named.
    std::swap(s.channels[0], s.channels[1]);
    s.alerts.security = "starttls";
    s.alerts.window_seconds = 2.5;
    EXPECT_EQ(describe(pending_unasked_changes(s, {})), "[THREAD1] SOUND: (нет ключа) → 0\n");
    ASSERT_TRUE(w.save(s, {}));
    config::ProgramSettings zelvik({"/opt/zelvik/zelvik"}, path);
    zelvik.load_mail();
    zelvik.load_alarm();
    EXPECT_EQ(zelvik.mail_security(), "starttls");
    EXPECT_EQ(zelvik.mail_server(), "mx.example.org");
    EXPECT_DOUBLE_EQ(zelvik.alarm_window(), 2.5);
    EXPECT_EQ(zelvik.alarm_max_duration(), 120);
    const detect::ChannelSettings first = detect::read_channel_settings(path, 0);
    const detect::ChannelSettings second = detect::read_channel_settings(path, 1);
    EXPECT_EQ(first.station, "ARU");
    EXPECT_EQ(second.station, "KIV");
    EXPECT_DOUBLE_EQ(second.sta_seconds, 1.5);
    EXPECT_EQ(second.order, 1);
    const std::string out = test::read_file(path);
    EXPECT_NE(out.find("CAFILE=/etc/ca.pem\n"), std::string::npos);
    EXPECT_NE(out.find("[THREAD1]\nSTATION=KIV\nCHANNEL=SHZ\nSTA=1.5\n"), std::string::npos) << out;
}

// THREADS above the sections found is the one value mended without being asked: it is
// named, and written.
TEST(SettingsWriter, ThreadsCutToTheSectionsIsNamed) {
    test::TempDir dir;
    const std::string path = dir.write(
        "zelvik.ini", "[SYSTEM]\nTHREADS=5\n[THREAD0]\nSTATION=A\n[THREAD1]\nSTATION=B\n");
    EditorSettings s = loaded(path);
    ASSERT_EQ(s.channel_count, 2);
    EXPECT_EQ(describe(pending_unasked_changes(s, {})), "[SYSTEM] THREADS: 5 → 2\n");
    SettingsWriter w;
    ASSERT_TRUE(w.save(s, {}));
    EXPECT_EQ(config::ini::read_int(path, "SYSTEM", "THREADS", 0), 2);
    mark_saved(s);
    EXPECT_TRUE(pending_unasked_changes(s, {}).empty());
}

}  // namespace
}  // namespace zelvik::editor
