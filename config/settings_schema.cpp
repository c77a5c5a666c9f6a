// The two reading rules of the schema: Zelvik's (defaults as text, cut to the row's
// capacity) and the editor's (its own names and defaults, integers by read_int).
#include "config/settings_schema.h"

#include "common/text.h"
#include "config/ini_file.h"

namespace zelvik::config {

std::string zelvik_text(const std::string& path, const std::string& section, const SettingSpec& s) {
    return ini::read_string(path, section, s.key, s.zelvik_default, s.capacity);
}

int zelvik_int(const std::string& path, const std::string& section, const SettingSpec& s) {
    if (s.type == ValueType::kFlag) {
        return ini::read_int(path, section, s.key, common::leading_int(s.zelvik_default));
    }
    return common::leading_int(zelvik_text(path, section, s));
}

double zelvik_real(const std::string& path, const std::string& section, const SettingSpec& s) {
    return common::leading_double(zelvik_text(path, section, s));
}

std::string editor_text(const std::string& path, const std::string& section, const SettingSpec& s,
                        size_t capacity) {
    return ini::read_string(path, section, s.editor_key, s.editor_default, capacity);
}

int editor_int(const std::string& path, const std::string& section, const SettingSpec& s) {
    return ini::read_int(path, section, s.editor_key, common::leading_int(s.editor_default));
}

double editor_real(const std::string& path, const std::string& section, const SettingSpec& s,
                   size_t capacity) {
    return common::leading_double(editor_text(path, section, s, capacity));
}

}  // namespace zelvik::config
