// Which keys a save writes, and why. A key whose value the operator did not change keeps
// the file's own text (a missing key stays missing); a channel moved to another section
// takes its own section's text along. Writes the operator did not ask for are named so
// that the pages can mark them and the save can ask first.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "editor/connection_params.h"
#include "editor/editor_settings.h"

namespace zelvik::config::ini {
class IniText;
}

namespace zelvik::editor {

struct KeyWrite {
    std::string section;
    std::string key;
    // The file's text (for a channel moved to another section, the text of the section
    // it came from); nullopt when the key is missing.
    std::optional<std::string> before;
    std::string after;
    bool asked = true;  // the operator changed this value (or nothing was loaded)
};

struct SavePlan {
    std::vector<KeyWrite> writes;      // in the writer's fixed order
    std::vector<std::string> removed;  // channel sections deleted after the last entry
};

// The plan for saving `s` and `p` over the file text `original` (empty for a new file).
SavePlan plan_save(const EditorSettings& s, const ConnectionParams& p,
                   const config::ini::IniText& original);

// A write the operator did not ask for that changes what Zelvik reads.
struct UnaskedChange {
    std::string section;
    std::string key;
    std::string before;  // the file's text, or "(нет ключа)"
    std::string after;
};
std::vector<UnaskedChange> unasked_changes(const SavePlan& plan);

// "[SECTION] KEY: before → after", one line per change.
std::string describe(const std::vector<UnaskedChange>& changes);

}  // namespace zelvik::editor
