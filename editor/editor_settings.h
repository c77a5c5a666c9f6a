// The editor's working copy of zelvik.ini: the channel sections, THREADS and the alarm
// values. Loaded once when the window is built; the pages edit it in place and a save
// writes it back whole. Connection values live apart, in ConnectionParams.
#pragma once

#include <string>
#include <vector>

namespace zelvik::editor {

// One "THREAD%d" section as the editor knows it. A new entry has empty codes, zero
// numbers and no sound.
struct ChannelEntry {
    std::string station;
    std::string channel;
    int sta = 0;             // short window, seconds
    int lta = 0;             // long window, seconds
    double threshold = 0.0;  // STA/LTA ratio
    double fr1 = 0.0;        // Hz, lower filter corner
    double fr2 = 0.0;        // Hz, upper filter corner
    int order = 0;           // Butterworth order
    bool sound = false;

    bool operator==(const ChannelEntry&) const = default;
};

inline constexpr int kMaxChannelSections = 256;  // THREAD0 .. THREAD255
inline constexpr size_t kTextCapacity = 512;     // 511 characters per text value

struct EditorSettings {
    // Every channel section read, in file order. Only the first channel_count are shown
    // and counted as THREADS; the rest are written back unchanged.
    std::vector<ChannelEntry> channels;
    int channel_count = 0;   // never larger than channels.size()
    std::string wav_file;    // ALARM WAVFILE
    int max_repeats = 30;    // ALARM MAXDURATION
    int pause_seconds = 60;  // ALARM SILENCE, seconds
    std::string settings_path;
};

// Fills `settings` from the file at `settings.settings_path` with the editor's
// defaults (THREADS 1, MAXDURATION 30, SILENCE 60, WAVFILE ""). Channel sections are
// read from THREAD0 up to the first missing or empty one; THREADS is cut down to the
// number of sections read (and up to 0 when negative). Never fails.
void load_settings(EditorSettings& settings);

}  // namespace zelvik::editor
