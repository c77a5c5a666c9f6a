// Re-reading, checking and handing over changed settings. Checks that need the store
// run on a connection of their own (the engine's belongs to its worker), and only for
// channels that start: an unchanged channel has passed them already.
#include "shell/settings_reload.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "channel/stop_signal.h"
#include "channel/store_link.h"
#include "common/channel_id.h"
#include "common/log.h"
#include "common/text.h"
#include "config/ini_file.h"
#include "config/known_keys.h"
#include "config/program_settings.h"
#include "db/wave_store.h"
#include "engine/channel_set_change.h"
#include "shell/alert_settings.h"
#include "shell/config_check.h"
#include "shell/engine.h"
#include "shell/headless_runner.h"

namespace zelvik::shell {
namespace {

// A private copy of the file, removed with this object.
class FileCopy {
public:
    explicit FileCopy(const std::string& from) {
        std::ifstream in(from, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        const char* tmp = std::getenv("TMPDIR");
        std::string name =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zelvik-settings-XXXXXX";
        const int fd = mkstemp(name.data());
        if (fd < 0) return;
        const bool written =
            ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(fd);
        path_ = name;
        ok_ = written;
    }
    ~FileCopy() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    FileCopy(const FileCopy&) = delete;
    FileCopy& operator=(const FileCopy&) = delete;
    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool ok_ = false;
};

std::vector<std::pair<std::string, std::string>> connection_of(const config::ProgramSettings& s) {
    return {{"ODBC", s.data_source_name()},
            {"USER", s.user_name()},
            {"PASSWORD", s.password()},
            {"DATA", s.data_directory()},
            {"USE_TEND", s.use_tend() ? "1" : "0"}};
}

std::vector<detect::ChannelSettings> channels_of(const std::string& path, int count) {
    std::vector<detect::ChannelSettings> out;
    for (int n = 0; n < count; ++n) out.push_back(detect::read_channel_settings(path, n));
    return out;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : "; ") + p;
    return out;
}

std::string shown(const std::string& key, const std::string& value) {
    return key.find("PASSWORD") != std::string::npos ? std::string("***") : '"' + value + '"';
}

}  // namespace

SettingsContent read_settings_content(const std::string& path) {
    SettingsContent content;
    for (const std::string& name : config::ini::read_section_names(path)) {
        const std::string section = common::to_upper(name);
        if (section == "LISTBOXHEADER" || content.count(section) > 0) continue;
        auto& keys = content[section];
        for (const auto& [key, value] : config::ini::read_section(path, name))
            keys.emplace(common::to_upper(key), value);
    }
    return content;
}

SettingsReload::SettingsReload(const config::ProgramSettings& loaded, Engine& engine,
                               std::FILE* err)
    : path_(loaded.settings_path()), arguments_(loaded.arguments()), engine_(engine), err_(err) {
    content_ = read_settings_content(path_);
    channels_ =
        channels_of(path_, std::clamp(loaded.thread_count(), 0, detect::Supervisor::kMaxChannels));
    connection_ = connection_of(loaded);
}

void SettingsReload::reread(bool asked) noexcept {
    try {
        const FileCopy copy(path_);
        if (!copy.ok()) {
            common::log_printf("Settings file %s could not be read again: it stays as it was",
                               path_.c_str());
            return;
        }
        const SettingsContent content = read_settings_content(copy.path());
        if (content == content_) {
            if (asked) common::log_write("Settings read again on SIGHUP: nothing changed");
            // A refusal shown in the window would otherwise stay there.
            if (std::exchange(refused_, false)) {
                common::log_write("Settings file is back to the settings in force");
                engine_.refuse_settings({});
            }
            return;
        }
        take(copy.path(), content);
    } catch (const std::exception& e) {
        common::log_printf("Settings could not be read again: %s", e.what());
    }
}

void SettingsReload::take(const std::string& copy, const SettingsContent& content) {
    config::ProgramSettings fresh(arguments_, copy);
    fresh.resolve_connection();
    fresh.load_system();
    fresh.load_mail();
    fresh.load_alarm();
    const int count = std::clamp(fresh.thread_count(), 0, detect::Supervisor::kMaxChannels);
    std::vector<detect::ChannelSettings> wanted = channels_of(copy, count);
    const Params connection = connection_of(fresh);
    const std::string problem = validate(copy, fresh, wanted, connection);
    if (!problem.empty()) {
        const std::string line = "Settings file changed but not applied: " + problem +
                                 "; Zelvik goes on with the settings it has";
        common::log_write(line);
        if (err_ != nullptr) std::fprintf(err_, "zelvik: %s\n", line.c_str());
        engine_.refuse_settings(problem);
        refused_ = true;
        return;
    }
    detect::SettingsUpdate update;
    update.settings = engine_settings(fresh, false);
    update.settings.settings_path = path_;
    update.channels = wanted;
    if (connection != connection_) update.connection = connection;
    const std::string what = describe(content, wanted);
    engine_.offer_settings(std::move(update), what);
    content_ = content;
    channels_ = std::move(wanted);
    connection_ = connection;
    refused_ = false;
}

std::string SettingsReload::validate(const std::string& copy, const config::ProgramSettings& fresh,
                                     const std::vector<detect::ChannelSettings>& wanted,
                                     const Params& connection) const {
    std::vector<std::string> problems = unread_key_notes(copy, fresh.thread_count(), false);
    if (fresh.thread_count() < 0 || fresh.thread_count() > detect::Supervisor::kMaxChannels)
        problems.push_back("THREADS " + std::to_string(fresh.thread_count()) + " outside 0..1000");
    if (fresh.sleep_time() < 0) problems.push_back("SLEEP below 0");
    if (fresh.alarm_coincidence() < 1) problems.push_back("COINCIDENCE below 1");
    if (!(fresh.alarm_window() >= 0.0) || !std::isfinite(fresh.alarm_window()))
        problems.push_back("WINDOW is no span of seconds");
    if (fresh.alarm_no_data() < 0) problems.push_back("NODATA below 0");
    std::string mail_problem;
    (void)alert_settings(fresh, mail_problem);
    if (!mail_problem.empty()) problems.push_back(mail_problem);

    const detect::ChannelPlan plan = detect::plan_channels(channels_, wanted);
    std::vector<int> starting;
    for (size_t i = 0; i < wanted.size(); ++i)
        if (plan.old_of_new[i] < 0) starting.push_back(wanted[i].index);
    if (!starting.empty() || connection != connection_) {
        db::WaveStore store;
        std::string refused;
        for (const auto& [name, value] : connection)
            if (refused.empty() && store.set_param(name, value) != 0) refused = store.last_error();
        if (refused.empty() && !store.connect()) refused = store.last_error();
        if (!refused.empty()) {
            problems.push_back("the store does not answer on the new settings: " + refused);
        } else {
            detect::StopSignal stop;
            detect::StoreLink link(store, stop);
            for (const int n : starting) {
                const std::string p = channel_run_problem(copy, n, link);
                if (!p.empty()) problems.push_back(p);
            }
        }
    }
    return joined(problems);
}

std::string SettingsReload::describe(const SettingsContent& content,
                                     const std::vector<detect::ChannelSettings>& wanted) const {
    std::vector<std::string> parts;
    const detect::ChannelPlan plan = detect::plan_channels(channels_, wanted);
    const auto name = [](const detect::ChannelSettings& c) {
        return "THREAD" + std::to_string(c.index) + " (" +
               common::channel_id(c.station, c.channel, c.location) + ")";
    };
    for (size_t i = 0; i < wanted.size(); ++i) {
        const int from = plan.old_of_new[i];
        if (from >= 0 && channels_[static_cast<size_t>(from)].index != wanted[i].index)
            parts.push_back(name(channels_[static_cast<size_t>(from)]) + " is now THREAD" +
                            std::to_string(wanted[i].index));
        if (from >= 0) continue;
        parts.push_back(name(wanted[i]) + (plan.changed_from[i] >= 0 ? " changed" : " added"));
    }
    for (const int gone : plan.removed)
        parts.push_back(name(channels_[static_cast<size_t>(gone)]) + " removed");
    // Every other section key by key; the channel sections are named above.
    std::map<std::string, std::pair<std::string, std::string>> keys;
    const auto collect = [&keys](const SettingsContent& c, bool after) {
        for (const auto& [section, values] : c) {
            if (config::channel_section_number(section) >= 0) continue;
            for (const auto& [key, value] : values) {
                auto& slot = keys["[" + section + "] " + key];
                (after ? slot.second : slot.first) = value;
            }
        }
    };
    collect(content_, false);
    collect(content, true);
    for (const auto& [key, values] : keys) {
        if (values.first == values.second) continue;
        parts.push_back(key + " " + shown(key, values.first) + " -> " + shown(key, values.second));
    }
    return parts.empty() ? std::string("no value the engine reads") : joined(parts);
}

}  // namespace zelvik::shell
