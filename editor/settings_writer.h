// Writing the editor's state into the settings file. The file is read once, its text
// edited key by key in memory, in a fixed order taken from the settings schema, and
// the file replaced once; every line the editor does not write stays byte for byte,
// and a failed save leaves the file as it was.
#pragma once

#include <string>

#include "editor/connection_params.h"
#include "editor/editor_settings.h"

namespace zelvik::config::ini {
class IniText;
}

namespace zelvik::editor {

// Writes ALARM MAXDURATION, SILENCE, WAVFILE; DATABASE ODBC, USER, PASSWORD; DATA DIR;
// SYSTEM THREADS; then THREAD0.. for every table entry (at most 256 sections) and
// deletes the sections after them up to the first missing or empty one. Numbers are
// "%d", reals "%f", SOUND "1" or "0". The file keeps its mode; a new file gets 0600
// because it holds the password. Returns false (see last_error()) when the file is
// write-protected, its directory is missing or unwritable, or a write fails.
class SettingsWriter {
public:
    [[nodiscard]] bool save(const EditorSettings& settings, const ConnectionParams& params);
    // "<reason>" of the last failed save; never holds the password.
    const std::string& last_error() const { return error_; }

private:
    bool edit_all(config::ini::IniText& text, const EditorSettings& s, const ConnectionParams& p);
    bool edit_channels(config::ini::IniText& text, const EditorSettings& s);
    bool replace(const std::string& target, const config::ini::IniText& text);

    std::string error_;
};

}  // namespace zelvik::editor
