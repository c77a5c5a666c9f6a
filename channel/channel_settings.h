// The settings of one channel, section "THREAD%d" of the settings file, and the test
// that decides whether a channel can run at its sample rate. Read once per setup.
#pragma once

#include <string>

namespace zelvik::detect {

struct ChannelSettings {
    int index = 0;                // n of "THREAD%d"
    std::string station = "QRS";  // at most 127 characters as read
    std::string channel = "BHZ";
    std::string location = "??";  // at most 7 characters
    double lta_seconds = 10.0;
    double sta_seconds = 1.0;
    double threshold = 5.0;  // on the ratio of STA and LTA variances
    float fr1 = 0.0f;        // Hz, lower corner of the trigger filter
    float fr2 = 1.0f;        // Hz, upper corner
    int order = 3;           // trigger filter order
    bool sound = true;       // this channel's alarm may sound
};

// Highest sample rate a channel may have. Seismic recorders stay far below it; a higher
// SITECHAN rate is a typo, and would size a channel's windows and trigger at gigabytes.
inline constexpr double kMaxSampleRate = 20000.0;

// Reads section "THREAD<n>" of the file at `settings_path`; missing keys give the
// defaults above, numbers are the leading numeric part of their text (0 when none).
ChannelSettings read_channel_settings(const std::string& settings_path, int n);

// Why the channel cannot run at `sample_rate` samples per second, or "" when it can:
// rate not above 0 or above kMaxSampleRate, ORDER outside 1..6, STA or LTA not positive or not
// finite, STA not shorter than LTA, STA shorter than a sample, both windows together more
// than the trigger holds, FR1 negative or not below FR2, FR2 at or above half the rate.
std::string channel_settings_problem(const ChannelSettings& s, double sample_rate);

}  // namespace zelvik::detect
