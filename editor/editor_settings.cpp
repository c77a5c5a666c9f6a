// Loading follows the private-profile rules of the ini layer: a missing file, section
// or key gives the editor's default from the settings schema, and no message is shown.
#include "editor/editor_settings.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "config/ini_file.h"
#include "config/program_settings.h"
#include "config/settings_schema.h"

namespace zelvik::editor {
namespace {

using config::Setting;

// Reads row `id` by the editor's rule for it, from `section` (the row's own when empty).
class RowReader {
public:
    // `path` must outlive the reader.
    RowReader(const std::string& path, std::string section)
        : path_(path), section_(std::move(section)) {}
    std::string text(Setting id) const {
        return config::editor_text(path_, section_of(id), config::spec_of(id), kTextCapacity);
    }
    int number(Setting id) const {
        return config::editor_int(path_, section_of(id), config::spec_of(id));
    }
    double real(Setting id) const {
        return config::editor_real(path_, section_of(id), config::spec_of(id), kTextCapacity);
    }

private:
    std::string section_of(Setting id) const {
        return section_.empty() ? std::string(config::spec_of(id).section) : section_;
    }
    const std::string& path_;
    std::string section_;
};

ChannelEntry read_entry(const RowReader& r, int origin) {
    ChannelEntry e;
    e.origin = origin;
    e.station = r.text(Setting::kStation);
    e.channel = r.text(Setting::kChannel);
    e.sta = r.number(Setting::kSta);
    e.lta = r.number(Setting::kLta);
    e.threshold = r.real(Setting::kThreshold);
    e.fr1 = r.real(Setting::kFr1);
    e.fr2 = r.real(Setting::kFr2);
    e.order = r.number(Setting::kOrder);
    e.sound = r.number(Setting::kSound) != 0;
    return e;
}

AlertSettings read_alerts(const std::string& path) {
    auto text = [&](Setting id) {
        const config::SettingSpec& row = config::spec_of(id);
        return config::zelvik_text(path, row.section, row);
    };
    auto number = [&](Setting id) {
        const config::SettingSpec& row = config::spec_of(id);
        return config::zelvik_int(path, row.section, row);
    };
    AlertSettings a;
    a.server = text(Setting::kMailServer);
    a.security = text(Setting::kMailSecurity);
    a.user = text(Setting::kMailUser);
    a.password = text(Setting::kMailPassword);
    a.sender = text(Setting::kMailSender);
    a.recipient = text(Setting::kMailRecipient);
    a.webhook = text(Setting::kMailWebhook);
    a.nodata_seconds = number(Setting::kAlarmNoData);
    a.coincidence = number(Setting::kAlarmCoincidence);
    const config::SettingSpec& window = config::spec_of(Setting::kAlarmWindow);
    a.window_seconds = config::zelvik_real(path, window.section, window);
    return a;
}

// What the file holds now is what the editor shows: the base the next save compares with.
void remember_as_loaded(EditorSettings& s) {
    LoadedFile& l = s.loaded;
    l.present = true;
    l.channel_count = s.channel_count;
    l.channels = s.channels;
    l.wav_file = s.wav_file;
    l.max_repeats = s.max_repeats;
    l.pause_seconds = s.pause_seconds;
    l.alerts = s.alerts;
}

}  // namespace

AlertSettings default_alerts() {
    // A path that names no file gives every key's default.
    return read_alerts(std::string());
}

bool differs_from_loaded(const EditorSettings& s) {
    const LoadedFile& l = s.loaded;
    return s.channel_count != l.channel_count || s.channels != l.channels ||
           s.wav_file != l.wav_file || s.max_repeats != l.max_repeats ||
           s.pause_seconds != l.pause_seconds || !(s.alerts == l.alerts);
}

void mark_saved(EditorSettings& s) {
    for (size_t n = 0; n < s.channels.size(); ++n) s.channels[n].origin = static_cast<int>(n);
    s.loaded.threads_in_file = s.channel_count;
    remember_as_loaded(s);
}

void load_settings(EditorSettings& s) {
    const std::string& path = s.settings_path;
    const RowReader own_sections(path, {});
    s.channel_count = own_sections.number(Setting::kSystemThreads);
    s.max_repeats = own_sections.number(Setting::kAlarmMaxDuration);
    s.pause_seconds = own_sections.number(Setting::kAlarmSilence);
    s.wav_file = own_sections.text(Setting::kAlarmWavFile);
    s.channels.clear();
    for (int n = 0; n < kMaxChannelSections; ++n) {
        const std::string section = config::channel_section(n);
        if (config::ini::read_section(path, section).empty()) break;
        s.channels.push_back(read_entry(RowReader(path, section), n));
    }
    const int read = static_cast<int>(s.channels.size());
    LoadedFile& l = s.loaded;
    l.threads_in_file = s.channel_count;
    s.channel_count = std::clamp(s.channel_count, 0, read);
    s.alerts = read_alerts(path);
    remember_as_loaded(s);
}

}  // namespace zelvik::editor
