// The alarm sound with real files written by libsndfile: silent names, bad files,
// playing through ALSA's "null" device, and the machine's own "default" device when
// it has no sound card (the test machines have none).
#include "report/alarm_sound.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/report/log_capture.h"
#include "tests/support/temp_dir.h"

namespace zelvik::report {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;

// A 440 Hz tone of `seconds` in the given container, 8000 frames/s mono 16-bit.
std::string write_tone(const test::TempDir& dir, const std::string& name, double seconds,
                       int major_format) {
    const std::string path = dir.file(name);
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = major_format | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return {};
    std::vector<short> frames(static_cast<size_t>(seconds * info.samplerate));
    for (size_t i = 0; i < frames.size(); ++i) {
        frames[i] = static_cast<short>(8000.0 * std::sin(2.0 * M_PI * 440.0 * i / 8000.0));
    }
    sf_writef_short(file, frames.data(), static_cast<sf_count_t>(frames.size()));
    sf_close(file);
    return path;
}

TEST(AlarmSound, BadNamesAndFilesAreLoggedOnceAndNeverPlayed) {
    LogCapture log;
    ASSERT_TRUE(log.enabled());
    test::TempDir dir;
    struct Case {
        const char* name;
        std::string path;
        SoundResult result;
        const char* logged;  // null: nothing logged
    };
    const Case cases[] = {
        {"star name is silent", "*" + dir.file("tone.wav"), SoundResult::kSilent, nullptr},
        {"empty name is silent", "", SoundResult::kSilent, nullptr},
        {"missing file", dir.file("missing.wav"), SoundResult::kBadFile,
         "missing.wav cannot be read"},
        {"text file", dir.write("notes.wav", "this is no RIFF header\n"), SoundResult::kBadFile,
         "notes.wav cannot be read"},
        {"AIFF file", write_tone(dir, "tone.aiff", 0.1, SF_FORMAT_AIFF), SoundResult::kBadFile,
         "tone.aiff is not a WAV file"},
    };
    AlarmSound sound("null");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The supervisor asks again at every pass of an alarm: one log line only.
        for (int pass = 0; pass < 3; ++pass) EXPECT_EQ(sound.play(c.path), c.result);
        if (c.logged != nullptr) {
            const auto lines = log.lines_with(c.logged);
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].find(" (2)"), std::string::npos) << lines[0];
        }
    }
    EXPECT_TRUE(log.lines_with("tone.wav").empty());
}

TEST(AlarmSound, PlaysAWavFileToTheEnd) {
    LogCapture log;
    ASSERT_TRUE(log.enabled());
    test::TempDir dir;
    const std::string wav = write_tone(dir, "tone.wav", 0.2, SF_FORMAT_WAV);
    ASSERT_FALSE(wav.empty());
    AlarmSound sound("null");
    EXPECT_EQ(sound.play(wav), SoundResult::kPlayed);
    // After trouble, a good play makes the next trouble worth a line again.
    EXPECT_EQ(sound.play(dir.file("gone.wav")), SoundResult::kBadFile);
    EXPECT_EQ(sound.play(wav), SoundResult::kPlayed);
    EXPECT_EQ(sound.play(dir.file("gone.wav")), SoundResult::kBadFile);
    // Logged twice; the log folds the repeat into the first line with its count.
    const auto lines = log.lines_with("gone.wav");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" (2)"), std::string::npos) << lines[0];
}

TEST(AlarmSound, WithoutASoundCardReturnsAtOnceAndLogsOnce) {
    if (std::filesystem::exists("/dev/snd")) GTEST_SKIP() << "this machine has a sound card";
    LogCapture log;
    ASSERT_TRUE(log.enabled());
    test::TempDir dir;
    const std::string wav = write_tone(dir, "long.wav", 20.0, SF_FORMAT_WAV);
    ASSERT_FALSE(wav.empty());
    AlarmSound sound;  // the "default" device
    const auto started = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 3; ++pass) EXPECT_EQ(sound.play(wav), SoundResult::kNoDevice);
    // Far less than the 20 s the sound lasts: nothing waited for a device.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    const auto lines = log.lines_with("No audio device for the alarm sound");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].find(" (2)"), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace zelvik::report
