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
#include "editor/save_plan.h"

namespace zelvik::editor {
namespace {

std::string with_reason(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

}  // namespace

bool SettingsWriter::apply(config::ini::IniText& text, const SavePlan& plan) {
    for (const KeyWrite& w : plan.writes) {
        if (!text.set(w.section, w.key, w.after)) return false;
    }
    for (const std::string& section : plan.removed) text.remove_section(section);
    return true;
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

std::vector<UnaskedChange> pending_unasked_changes(const EditorSettings& settings,
                                                   const ConnectionParams& params) {
    std::string content;
    const std::string target = config::replace_target(settings.settings_path);
    if (config::read_whole_file(target, content, config::ini::kMaxFileBytes) !=
        config::FileRead::kOk)
        content.clear();
    const config::ini::IniText text(std::move(content));
    return unasked_changes(plan_save(settings, params, text));
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
    const SavePlan plan = plan_save(settings, params, config::ini::IniText(text.bytes()));
    if (!apply(text, plan)) {
        // The value is never named, so the password cannot reach the message.
        error_ = "[write_string] Invalid section, key or value for " + target;
        return false;
    }
    return replace(target, text);
}

}  // namespace zelvik::editor
