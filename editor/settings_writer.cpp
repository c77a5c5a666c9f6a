// The save reads the file once, edits its text in memory and replaces it once through
// the config layer's atomic replace: a reader (Zelvik starting meanwhile) sees the old
// file or the new one, never half of a save.
#include "editor/settings_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "config/atomic_file.h"
#include "config/ini_file.h"
#include "config/ini_text.h"
#include "config/program_settings.h"
#include "config/settings_schema.h"

namespace zelvik::editor {
namespace {

using config::Setting;

std::string int_text(int v) {
    return std::to_string(v);
}

std::string real_text(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", v);
    return text;
}

std::string flag_text(bool on) {
    return on ? "1" : "0";
}

// The stored text of a channel row's value in `e`.
std::string channel_value(const ChannelEntry& e, Setting id) {
    switch (id) {
        case Setting::kStation:
            return e.station;
        case Setting::kChannel:
            return e.channel;
        case Setting::kSta:
            return int_text(e.sta);
        case Setting::kLta:
            return int_text(e.lta);
        case Setting::kThreshold:
            return real_text(e.threshold);
        case Setting::kFr1:
            return real_text(e.fr1);
        case Setting::kFr2:
            return real_text(e.fr2);
        case Setting::kOrder:
            return int_text(e.order);
        case Setting::kSound:
            return flag_text(e.sound);
        default:
            return {};
    }
}

bool is_editor_channel_row(const config::SettingSpec& row) {
    return row.editor_key != nullptr &&
           std::string_view(row.section) == config::kChannelSectionPattern;
}

std::string with_reason(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

}  // namespace

bool SettingsWriter::edit_channels(config::ini::IniText& text, const EditorSettings& s) {
    const int total = static_cast<int>(s.channels.size());
    for (int n = 0; n < kMaxChannelSections; ++n) {
        const std::string section = config::channel_section(n);
        if (n < total) {
            const ChannelEntry& e = s.channels[static_cast<size_t>(n)];
            for (const config::SettingSpec& row : config::kSettingsSchema) {
                if (!is_editor_channel_row(row)) continue;
                if (!text.set(section, row.editor_key, channel_value(e, row.id))) return false;
            }
            continue;
        }
        if (text.section(section).empty()) break;
        text.remove_section(section);
    }
    return true;
}

bool SettingsWriter::edit_all(config::ini::IniText& text, const EditorSettings& s,
                              const ConnectionParams& p) {
    const std::pair<Setting, std::string> fixed[] = {
        {Setting::kAlarmMaxDuration, int_text(s.max_repeats)},
        {Setting::kAlarmSilence, int_text(s.pause_seconds)},
        {Setting::kAlarmWavFile, s.wav_file},
        {Setting::kDatabaseOdbc, p.data_source},
        {Setting::kDatabaseUser, p.user},
        {Setting::kDatabasePassword, p.password},
        {Setting::kDataDir, p.data_dir},
        {Setting::kSystemThreads, int_text(s.channel_count)},
    };
    for (const auto& [id, value] : fixed) {
        const config::SettingSpec& row = config::spec_of(id);
        if (!text.set(row.section, row.editor_key, value)) return false;
    }
    return edit_channels(text, s);
}

bool SettingsWriter::replace(const std::string& target, const config::ini::IniText& text) {
    const config::ReplaceOutcome r = config::replace_file(target, text.bytes(), {0600, true});
    switch (r.failed_at) {
        case config::ReplaceStep::kDone:
            return true;
        case config::ReplaceStep::kCreateTemporary:
            error_ = with_reason("не удалось создать файл рядом с ним", r.error);
            break;
        case config::ReplaceStep::kWrite:
            error_ = with_reason("не удалось записать файл", r.error);
            break;
        case config::ReplaceStep::kSetMode:
            error_ = std::strerror(r.error);
            break;
        case config::ReplaceStep::kRename:
            error_ = with_reason("не удалось заменить файл", r.error);
            break;
    }
    return false;
}

bool SettingsWriter::save(const EditorSettings& settings, const ConnectionParams& params) {
    error_.clear();
    const std::string target = config::replace_target(settings.settings_path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        error_ = "не является обычным файлом";
        return false;
    }
    // Root may write anywhere, but a file without any write bit was protected on
    // purpose and is refused for every user alike.
    if (exists && ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
        error_ = "файл защищён от записи (" + std::string(std::strerror(EACCES)) + ")";
        return false;
    }
    std::string content;
    switch (config::read_whole_file(target, content, config::ini::kMaxFileBytes)) {
        case config::FileRead::kOk:
        case config::FileRead::kMissing:
            break;
        case config::FileRead::kTooBig:
            error_ = "файл слишком велик";
            return false;
        case config::FileRead::kFailed:
            error_ = with_reason("не удалось прочитать файл", errno);
            return false;
    }
    config::ini::IniText text(std::move(content));
    if (!edit_all(text, settings, params)) {
        // The value is never named, so the password cannot reach the message.
        error_ = "[write_string] Invalid section, key or value for " + target;
        return false;
    }
    return replace(target, text);
}

}  // namespace zelvik::editor
