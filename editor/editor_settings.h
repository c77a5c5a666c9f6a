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
    // THREAD<origin> the entry was read from, -1 for an entry added in the editor. It
    // travels with the entry through every reorder, so a save can keep the file's own
    // text of every value the operator did not change. Not part of the comparison.
    int origin = -1;

    bool operator==(const ChannelEntry& o) const {
        return station == o.station && channel == o.channel && sta == o.sta && lta == o.lta &&
               threshold == o.threshold && fr1 == o.fr1 && fr2 == o.fr2 && order == o.order &&
               sound == o.sound;
    }
};

inline constexpr int kMaxChannelSections = 256;  // THREAD0 .. THREAD255
inline constexpr size_t kTextCapacity = 512;     // 511 characters per text value

// The alert values of [MAIL] and [ALARM] on the alerts page, read as Zelvik reads them
// (its defaults for missing keys), so the page shows what Zelvik will do.
struct AlertSettings {
    std::string server;           // MAIL SERVER, "host[:port]"
    std::string security;         // MAIL SECURITY: "none", "starttls" or "tls"
    std::string user;             // MAIL USER
    std::string password;         // MAIL PASSWORD; never logged or shown in clear
    std::string sender;           // MAIL SENDER
    std::string recipient;        // MAIL RECIPIENT
    std::string webhook;          // MAIL WEBHOOK, an http(s) URL
    int nodata_seconds = 0;       // ALARM NODATA
    int coincidence = 0;          // ALARM COINCIDENCE, channels
    double window_seconds = 0.0;  // ALARM WINDOW

    bool operator==(const AlertSettings&) const = default;
};

// Zelvik's values for a file without any of the alert keys.
AlertSettings default_alerts();

// What load_settings found, kept for the save: a key whose value the operator did not
// change keeps the file's own text.
struct LoadedFile {
    bool present = false;     // false: nothing was loaded and a save writes every key
    int threads_in_file = 0;  // SYSTEM THREADS as read, before the cut to the sections read
    int channel_count = 0;
    std::vector<ChannelEntry> channels;  // by origin
    std::string wav_file;
    int max_repeats = 0;
    int pause_seconds = 0;
    AlertSettings alerts = default_alerts();
};

struct EditorSettings {
    // Every channel section read, in file order. Only the first channel_count are shown
    // and counted as THREADS; the rest are written back unchanged.
    std::vector<ChannelEntry> channels;
    int channel_count = 0;   // never larger than channels.size()
    std::string wav_file;    // ALARM WAVFILE
    int max_repeats = 30;    // ALARM MAXDURATION
    int pause_seconds = 60;  // ALARM SILENCE, seconds
    AlertSettings alerts = default_alerts();
    std::string settings_path;
    LoadedFile loaded;
};

// True when the editor's values differ from those loaded or last saved.
bool differs_from_loaded(const EditorSettings& s);
// After a successful save: the file now holds the editor's values, each channel in the
// section of its row, and later saves compare against that.
void mark_saved(EditorSettings& s);

// Fills `settings` from the file at `settings.settings_path` with the editor's
// defaults (THREADS 1, MAXDURATION 30, SILENCE 60, WAVFILE ""). Channel sections are
// read from THREAD0 up to the first missing or empty one; THREADS is cut down to the
// number of sections read (and up to 0 when negative). The alert values are read by
// Zelvik's rules. Records the loaded values in `settings.loaded`. Never fails.
void load_settings(EditorSettings& settings);

}  // namespace zelvik::editor
