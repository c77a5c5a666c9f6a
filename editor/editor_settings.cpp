// Loading follows the private-profile rules of the ini layer: a missing file, section
// or key gives the editor's default, and no message is ever shown for it.
#include "editor/editor_settings.h"

#include <algorithm>
#include <cstdio>

#include "common/text.h"
#include "config/ini_file.h"
#include "config/program_settings.h"

namespace zelvik::editor {
namespace {

namespace ini = config::ini;

double read_real(const std::string& path, const std::string& section, const char* key) {
    return common::leading_double(ini::read_string(path, section, key, "", kTextCapacity));
}

ChannelEntry read_entry(const std::string& path, const std::string& section) {
    ChannelEntry e;
    e.station = ini::read_string(path, section, "STATION", "", kTextCapacity);
    e.channel = ini::read_string(path, section, "CHANNEL", "", kTextCapacity);
    e.sta = ini::read_int(path, section, "STA", 0);
    e.lta = ini::read_int(path, section, "LTA", 0);
    e.threshold = read_real(path, section, "THRESHOLD");
    e.fr1 = read_real(path, section, "FR1");
    e.fr2 = read_real(path, section, "FR2");
    e.order = ini::read_int(path, section, "ORDER", 0);
    e.sound = ini::read_int(path, section, "SOUND", 0) != 0;
    return e;
}

}  // namespace

void load_settings(EditorSettings& s) {
    const std::string& path = s.settings_path;
    s.channel_count = ini::read_int(path, "SYSTEM", "THREADS", 1);
    s.max_repeats = ini::read_int(path, "ALARM", "MAXDURATION", 30);
    s.pause_seconds = ini::read_int(path, "ALARM", "SILENCE", 60);
    s.wav_file = ini::read_string(path, "ALARM", "WAVFILE", "", kTextCapacity);
    s.channels.clear();
    for (int n = 0; n < kMaxChannelSections; ++n) {
        const std::string section = config::channel_section(n);
        if (ini::read_section(path, section).empty()) break;
        s.channels.push_back(read_entry(path, section));
    }
    const int read = static_cast<int>(s.channels.size());
    s.channel_count = std::clamp(s.channel_count, 0, read);
}

}  // namespace zelvik::editor
