// The alarm sound: plays a WAV file synchronously on an ALSA device. Trouble (no
// device, a missing or unreadable file) is logged once until it changes or a play
// succeeds, because the supervisor asks for the sound on every pass of an alarm.
#pragma once

#include <mutex>
#include <string>

namespace zelvik::report {

enum class SoundResult : int {
    kPlayed = 1,
    kSilent = 0,       // a name beginning with '*', or an empty name
    kBadFile = -1,     // missing, unreadable or not a WAV file (logged)
    kNoDevice = -2,    // the audio device could not be opened (logged)
    kPlayFailed = -3,  // the device failed while playing (logged)
};

// Why the file at `wav_path` cannot be played ("cannot be read: ...", "is not a WAV
// file"), or "" when it is a readable WAV file. Opens no audio device; does not log.
std::string wav_file_problem(const std::string& wav_path);

class AlarmSound {
public:
    // `device` is an ALSA PCM name; "default" in the program, "null" in tests.
    explicit AlarmSound(std::string device = "default");

    // Decodes `wav_path` with libsndfile and plays it to the end before returning.
    // Logs its own trouble, so callers may ignore the result. Any thread; plays are
    // serialised.
    SoundResult play(const std::string& wav_path);

private:
    SoundResult report(SoundResult result, const std::string& message);

    const std::string device_;
    // Guards the whole play and last_problem_: one sound at a time on the device.
    std::mutex mutex_;
    std::string last_problem_;  // the last trouble logged; empty after a good play
};

}  // namespace zelvik::report
