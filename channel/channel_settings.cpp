// Channel section reading. Values are taken as the settings editor writes them; the
// range test is separate so that a refused channel can be named with its reason.
#include "channel/channel_settings.h"

#include <cmath>
#include <cstdio>

#include "common/text.h"
#include "config/ini_file.h"
#include "config/program_settings.h"

namespace zelvik::detect {

namespace {

constexpr size_t kTextCapacity = 128;
constexpr size_t kLocationCapacity = 8;

double read_real(const std::string& path, const std::string& section, const char* key,
                 const char* def) {
    return common::leading_double(config::ini::read_string(path, section, key, def, kTextCapacity));
}

}  // namespace

ChannelSettings read_channel_settings(const std::string& settings_path, int n) {
    const std::string section = config::channel_section(n);
    const std::string& p = settings_path;
    ChannelSettings s;
    s.index = n;
    s.lta_seconds = read_real(p, section, "LTA", "10");
    s.sta_seconds = read_real(p, section, "STA", "1");
    s.threshold = read_real(p, section, "Threshold", "5");
    s.fr1 = static_cast<float>(read_real(p, section, "FR1", "0.0"));
    s.fr2 = static_cast<float>(read_real(p, section, "FR2", "1.0"));
    s.sound = config::ini::read_int(p, section, "SOUND", 1) != 0;
    s.order =
        common::leading_int(config::ini::read_string(p, section, "ORDER", "3", kTextCapacity));
    s.station = config::ini::read_string(p, section, "STATION", "QRS", kTextCapacity);
    s.channel = config::ini::read_string(p, section, "CHANNEL", "BHZ", kTextCapacity);
    s.location = config::ini::read_string(p, section, "LCODE", "??", kLocationCapacity);
    return s;
}

std::string channel_settings_problem(const ChannelSettings& s, double sample_rate) {
    char text[160];
    if (!(sample_rate > 0.0) || !std::isfinite(sample_rate)) {
        std::snprintf(text, sizeof text, "sample rate %g (%s)", sample_rate,
                      sample_rate == 0.0 ? "no SITECHAN row" : "store error");
    } else if (s.order < 1 || s.order > 6) {
        std::snprintf(text, sizeof text, "ORDER %d outside 1..6", s.order);
    } else if (!(s.sta_seconds > 0.0) || !(s.lta_seconds > 0.0) || !std::isfinite(s.sta_seconds) ||
               !std::isfinite(s.lta_seconds)) {
        std::snprintf(text, sizeof text, "STA %g s / LTA %g s not positive", s.sta_seconds,
                      s.lta_seconds);
    } else if (static_cast<int>(s.sta_seconds * sample_rate) < 1 ||
               static_cast<int>(s.lta_seconds * sample_rate) < 1) {
        std::snprintf(text, sizeof text, "STA %g s / LTA %g s shorter than one sample at %g sps",
                      s.sta_seconds, s.lta_seconds, sample_rate);
    } else if (!(s.fr1 >= 0.0f) || !(s.fr1 < s.fr2)) {
        std::snprintf(text, sizeof text, "FR1 %.3f Hz not in [0, FR2 %.3f Hz)", s.fr1, s.fr2);
    } else if (!(s.fr2 < sample_rate / 2)) {
        std::snprintf(text, sizeof text, "FR2 %.3f Hz not below half the sample rate %g", s.fr2,
                      sample_rate);
    } else if (!std::isfinite(s.threshold)) {
        std::snprintf(text, sizeof text, "Threshold not finite");
    } else {
        return {};
    }
    return text;
}

}  // namespace zelvik::detect
