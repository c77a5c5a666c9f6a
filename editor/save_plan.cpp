// Comparisons are made on the editor's own texts of the values (what it would write),
// so a value the editor holds less exactly than the file (STA 1.5 held as 1) counts as
// unchanged and the file's 1.5 is kept.
#include "editor/save_plan.h"

#include <cstdio>
#include <string_view>

#include "common/text.h"
#include "config/ini_text.h"
#include "config/program_settings.h"
#include "config/settings_schema.h"
#include "editor/channel_table.h"

namespace zelvik::editor {
namespace {

using config::Setting;
using config::SettingSpec;
using config::ValueType;

std::string real_text(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", v);
    return text;
}

std::string channel_value(const ChannelEntry& e, Setting id) {
    switch (id) {
        case Setting::kStation:
            return e.station;
        case Setting::kChannel:
            return e.channel;
        case Setting::kSta:
            return std::to_string(e.sta);
        case Setting::kLta:
            return std::to_string(e.lta);
        case Setting::kThreshold:
            return real_text(e.threshold);
        case Setting::kFr1:
            return real_text(e.fr1);
        case Setting::kFr2:
            return real_text(e.fr2);
        case Setting::kOrder:
            return std::to_string(e.order);
        case Setting::kSound:
            return e.sound ? "1" : "0";
        default:
            return {};
    }
}

bool is_editor_channel_row(const SettingSpec& row) {
    return row.editor_key != nullptr &&
           std::string_view(row.section) == config::kChannelSectionPattern;
}

// What Zelvik makes of `text` (nullopt: the key is missing) for row `row`, as a text
// that compares equal exactly when Zelvik's value is the same.
std::string zelvik_reading(const SettingSpec& row, const std::optional<std::string>& text) {
    const std::string fallback = row.zelvik_default ? row.zelvik_default : "";
    const bool empty = !text || text->empty();
    switch (row.type) {
        case ValueType::kText:
            return text ? *text : fallback;
        case ValueType::kInt:
            return std::to_string(common::leading_int(text ? *text : fallback));
        case ValueType::kReal:
            return exact_number_text(common::leading_double(text ? *text : fallback));
        case ValueType::kFlag:
            return common::leading_int(empty ? fallback : *text) != 0 ? "1" : "0";
    }
    return fallback;
}

std::optional<std::string> file_value(const config::ini::IniText& text, std::string_view section,
                                      std::string_view key) {
    const auto v = text.value(section, key);
    if (!v) return std::nullopt;
    return std::string(*v);
}

class Planner {
public:
    Planner(const EditorSettings& s, const config::ini::IniText& original)
        : s_(s), original_(original), everything_(!s.loaded.present) {}

    // Writes `id` (its own section) when `changed`, or always when nothing was loaded.
    void scalar(Setting id, const std::string& value, bool changed) {
        if (!changed && !everything_) return;
        const SettingSpec& row = config::spec_of(id);
        add(row.section, row.editor_key ? row.editor_key : row.key, value, true);
    }

    // An alert value: written only when the operator changed it, so a file that never
    // had alert keys gets none.
    void alert(Setting id, const std::string& value, bool changed) {
        if (!changed) return;
        const SettingSpec& row = config::spec_of(id);
        add(row.section, row.key, value, true);
    }

    // A connection value: written when the file does not already say it.
    void connection(Setting id, const std::string& value) {
        const SettingSpec& row = config::spec_of(id);
        const auto now = file_value(original_, row.section, row.editor_key);
        if (!everything_ && (now ? *now == value : value.empty())) return;
        add(row.section, row.editor_key, value, true);
    }

    void threads() {
        const int count = s_.channel_count;
        const LoadedFile& l = s_.loaded;
        if (everything_ || count != l.channel_count) {
            scalar(Setting::kSystemThreads, std::to_string(count), true);
        } else if (count != l.threads_in_file) {
            const SettingSpec& row = config::spec_of(Setting::kSystemThreads);
            add(row.section, row.editor_key, std::to_string(count), false);
        }
    }

    void channels() {
        const int total = static_cast<int>(s_.channels.size());
        for (int n = 0; n < kMaxChannelSections; ++n) {
            const std::string section = config::channel_section(n);
            if (n < total) {
                channel(section, n, s_.channels[static_cast<size_t>(n)]);
                continue;
            }
            if (original_.section(section).empty()) break;
            plan_.removed.push_back(section);
        }
    }

    SavePlan take() { return std::move(plan_); }

private:
    void channel(const std::string& section, int n, const ChannelEntry& e) {
        const auto& loaded = s_.loaded.channels;
        const bool known = !everything_ && e.origin >= 0 && e.origin < int(loaded.size());
        const std::string home = known ? config::channel_section(e.origin) : std::string();
        for (const SettingSpec& row : config::kSettingsSchema) {
            if (!is_editor_channel_row(row)) continue;
            const std::string value = channel_value(e, row.id);
            const bool same =
                known && value == channel_value(loaded[static_cast<size_t>(e.origin)], row.id);
            if (!same) {
                add(section, row.editor_key, value, true);
                continue;
            }
            if (e.origin == n) continue;
            // Moved: the channel's own text comes along. `before` is that text, so that
            // only a key the channel lacked (and now must have) counts as a change.
            const auto own = file_value(original_, home, row.editor_key);
            plan_.writes.push_back({section, row.editor_key, own, own ? *own : value, false});
        }
    }

    void add(const std::string& section, const char* key, const std::string& value, bool asked) {
        plan_.writes.push_back({section, key, file_value(original_, section, key), value, asked});
    }

    const EditorSettings& s_;
    const config::ini::IniText& original_;
    const bool everything_;
    SavePlan plan_;
};

// The schema row a written key belongs to.
const SettingSpec* row_of(const KeyWrite& w) {
    const bool channel = w.section.rfind("THREAD", 0) == 0 && w.section != "THREADS";
    for (const SettingSpec& row : config::kSettingsSchema) {
        if (row.editor_key == nullptr) continue;
        const bool section_matches =
            channel ? std::string_view(row.section) == config::kChannelSectionPattern
                    : w.section == row.section;
        if (section_matches && common::iequals(w.key, row.editor_key)) return &row;
    }
    return nullptr;
}

}  // namespace

SavePlan plan_save(const EditorSettings& s, const ConnectionParams& p,
                   const config::ini::IniText& original) {
    const LoadedFile& l = s.loaded;
    Planner plan(s, original);
    plan.scalar(Setting::kAlarmMaxDuration, std::to_string(s.max_repeats),
                s.max_repeats != l.max_repeats);
    plan.scalar(Setting::kAlarmSilence, std::to_string(s.pause_seconds),
                s.pause_seconds != l.pause_seconds);
    plan.scalar(Setting::kAlarmWavFile, s.wav_file, s.wav_file != l.wav_file);
    plan.connection(Setting::kDatabaseOdbc, p.data_source);
    plan.connection(Setting::kDatabaseUser, p.user);
    plan.connection(Setting::kDatabasePassword, p.password);
    plan.connection(Setting::kDataDir, p.data_dir);
    const AlertSettings& a = s.alerts;
    const AlertSettings& la = l.alerts;
    plan.alert(Setting::kMailServer, a.server, a.server != la.server);
    plan.alert(Setting::kMailSecurity, a.security, a.security != la.security);
    plan.alert(Setting::kMailUser, a.user, a.user != la.user);
    plan.alert(Setting::kMailPassword, a.password, a.password != la.password);
    plan.alert(Setting::kMailSender, a.sender, a.sender != la.sender);
    plan.alert(Setting::kMailRecipient, a.recipient, a.recipient != la.recipient);
    plan.alert(Setting::kMailWebhook, a.webhook, a.webhook != la.webhook);
    plan.alert(Setting::kAlarmNoData, std::to_string(a.nodata_seconds),
               a.nodata_seconds != la.nodata_seconds);
    plan.alert(Setting::kAlarmCoincidence, std::to_string(a.coincidence),
               a.coincidence != la.coincidence);
    plan.alert(Setting::kAlarmWindow, exact_number_text(a.window_seconds),
               a.window_seconds != la.window_seconds);
    plan.threads();
    plan.channels();
    return plan.take();
}

std::vector<UnaskedChange> unasked_changes(const SavePlan& plan) {
    std::vector<UnaskedChange> out;
    for (const KeyWrite& w : plan.writes) {
        if (w.asked) continue;
        const SettingSpec* row = row_of(w);
        if (row && zelvik_reading(*row, w.before) == zelvik_reading(*row, w.after)) continue;
        out.push_back({w.section, w.key, w.before ? *w.before : "(нет ключа)", w.after});
    }
    return out;
}

std::string describe(const std::vector<UnaskedChange>& changes) {
    std::string text;
    for (const UnaskedChange& c : changes)
        text += "[" + c.section + "] " + c.key + ": " + c.before + " → " + c.after + "\n";
    return text;
}

}  // namespace zelvik::editor
