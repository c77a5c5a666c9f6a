// Writing the editor's state into the settings file. The file is read once, its text
// edited key by key in memory, in a fixed order taken from the settings schema, and
// the file replaced once; every line the editor does not write stays byte for byte,
// and a failed save leaves the file as it was.
#pragma once

#include <string>
#include <vector>

#include "editor/connection_params.h"
#include "editor/editor_settings.h"
#include "editor/save_plan.h"

namespace zelvik::config::ini {
class IniText;
}

namespace zelvik::editor {

// Writes the keys of plan_save() in its order: ALARM MAXDURATION, SILENCE, WAVFILE;
// DATABASE ODBC, USER, PASSWORD; DATA DIR; the alert keys; SYSTEM THREADS; then THREAD0..
// for every table entry (at most 256 sections), and deletes the sections after them up
// to the first missing or empty one. Of settings that were loaded, only the values the
// operator changed are written (and what a moved channel carries along); settings never
// loaded are written whole. Numbers are "%d", reals "%f", SOUND "1" or "0". The file keeps its
// mode; a new file gets 0600 because it holds the password. Returns false (see last_error()) when
// the file is write-protected, its directory is missing or unwritable, or a write fails.
class SettingsWriter {
public:
    [[nodiscard]] bool save(const EditorSettings& settings, const ConnectionParams& params);
    // "<reason>" of the last failed save; never holds the password.
    const std::string& last_error() const { return error_; }

private:
    bool apply(config::ini::IniText& text, const SavePlan& plan);
    bool replace(const std::string& target, const config::ini::IniText& text);

    std::string error_;
};

// The changes the next save would make to the file at settings.settings_path that the
// operator did not ask for (see unasked_changes()); reads the file.
std::vector<UnaskedChange> pending_unasked_changes(const EditorSettings& settings,
                                                   const ConnectionParams& params);

}  // namespace zelvik::editor
