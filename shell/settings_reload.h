// Settings read again while Zelvik runs: the file is copied once, so that what is
// checked is what is applied, compared with the settings in force, checked as
// `zelvik --check` checks (keys, ranges, channels in the store) and, only when all of
// it passes, handed to the engine. A refused file changes nothing.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "channel/channel_settings.h"
#include "config/program_settings.h"
#include "shell/settings_watch.h"

namespace zelvik::shell {

class Engine;

// The file's sections and keys, upper-cased, without the window's own LISTBOXHEADER
// (its column widths, which Zelvik writes itself at exit and no engine part reads).
using SettingsContent = std::map<std::string, std::map<std::string, std::string>>;
SettingsContent read_settings_content(const std::string& path);

class SettingsReload {
public:
    // `loaded`: the settings the run started with (resolved and loaded). `engine` gets
    // the updates and refusals and must outlive this object; `err` (may be null) gets
    // refusals too, as one line each.
    SettingsReload(const config::ProgramSettings& loaded, Engine& engine, std::FILE* err);

    // Watch thread: reads the file again and hands what changed to the engine. A file
    // whose content is the one in force does nothing (said in the log when `asked` by
    // SIGHUP). Never throws.
    void reread(bool asked) noexcept;

private:
    using Params = std::vector<std::pair<std::string, std::string>>;
    void take(const std::string& copy, const SettingsContent& content);
    std::string validate(const std::string& copy, const config::ProgramSettings& fresh,
                         const std::vector<detect::ChannelSettings>& wanted,
                         const Params& connection) const;
    std::string describe(const SettingsContent& content,
                         const std::vector<detect::ChannelSettings>& wanted) const;

    const std::string path_;
    const std::vector<std::string> arguments_;
    Engine& engine_;
    std::FILE* err_;
    // Watch thread only: the settings in force (as last handed to the engine).
    SettingsContent content_;
    std::vector<detect::ChannelSettings> channels_;
    Params connection_;
    bool refused_ = false;  // the file's content at the last reading was refused
};

// The watch and the re-reading together, as a main job runs them beside its engine.
// Declared after the engine it feeds, so that its thread ends first.
class LiveSettings {
public:
    LiveSettings(const config::ProgramSettings& loaded, Engine& engine, std::FILE* err)
        : reload_(loaded, engine, err),
          watch_(loaded.settings_path(), [this](bool asked) { reload_.reread(asked); }) {}
    // False (logged) when changes cannot be watched; the run goes on without.
    bool start() { return watch_.start(); }

private:
    SettingsReload reload_;
    SettingsWatch watch_;  // last: its thread uses reload_
};

}  // namespace zelvik::shell
