// Private-profile reading and writing of files: each call reads the whole file into an
// IniText, and a write edits that text and replaces the file atomically.
#include "config/ini_file.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "common/text.h"
#include "config/atomic_file.h"
#include "config/ini_text.h"

namespace zelvik::config::ini {

namespace {

thread_local std::string t_last_error;

bool fail(std::string text) {
    t_last_error = std::move(text);
    return false;
}

std::string with_reason(const std::string& what, const std::string& path, int error) {
    return what + " " + path + " : " + std::strerror(error);
}

// The file as read for a query: a missing or unreadable file has no keys; an
// oversized one is queried up to the limit.
IniText read_for_query(const std::string& path) {
    std::string content;
    const FileRead r = read_whole_file(path, content, kMaxFileBytes);
    if (r != FileRead::kOk && r != FileRead::kTooBig) content.clear();
    return IniText(std::move(content));
}

// Reads the file for a rewrite; a missing file is an empty one.
bool load_for_write(const std::string& path, IniText& text) {
    std::string content;
    switch (read_whole_file(path, content, kMaxFileBytes)) {
        case FileRead::kOk:
        case FileRead::kMissing:
            text = IniText(std::move(content));
            return true;
        case FileRead::kTooBig:
            return fail("[write_string] File too large: " + path);
        case FileRead::kFailed:
            break;
    }
    return fail(with_reason("[write_string] Cannot read", path, errno));
}

bool replace_with(const std::string& path, const IniText& text) {
    const ReplaceOutcome r = replace_file(path, text.bytes(), {mode_from_umask(), false});
    switch (r.failed_at) {
        case ReplaceStep::kDone:
            return true;
        case ReplaceStep::kCreateTemporary:
            return fail(with_reason("[write_string] Cannot create a temporary file beside", r.file,
                                    r.error));
        case ReplaceStep::kWrite:
        case ReplaceStep::kSetMode:
            return fail(with_reason("[write_string] Cannot write", r.file, r.error));
        case ReplaceStep::kRename:
            break;
    }
    return fail(with_reason("[write_string] Cannot replace", r.file, r.error));
}

}  // namespace

std::string read_string(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view default_value, size_t capacity) {
    const IniText text = read_for_query(path);
    const auto value = text.value(section, key);
    return common::truncate_to_capacity(value ? *value : default_value, capacity);
}

int read_int(const std::string& path, std::string_view section, std::string_view key,
             int default_value) {
    // A marker that no file can hold tells "missing" apart from a real value.
    static const std::string kMissing("\n");
    const std::string value = read_string(path, section, key, kMissing, SIZE_MAX);
    if (value == kMissing || value.empty()) return default_value;
    return common::leading_int(value);
}

std::vector<std::pair<std::string, std::string>> read_section(const std::string& path,
                                                              std::string_view section) {
    return read_for_query(path).section(section);
}

std::vector<std::string> read_section_names(const std::string& path) {
    return read_for_query(path).section_names();
}

bool write_string(const std::string& path, std::string_view section, std::string_view key,
                  std::string_view value) {
    if (!is_valid_entry(section, key, value)) {
        return fail("[write_string] Invalid section, key or value for " + path);
    }
    IniText text;
    if (!load_for_write(path, text)) return false;
    (void)text.set(section, key, value);  // cannot refuse: the entry was checked above
    return replace_with(path, text);
}

bool delete_section(const std::string& path, std::string_view section) {
    IniText text;
    if (!load_for_write(path, text)) return false;
    if (!text.remove_section(section)) return true;
    return replace_with(path, text);
}

std::string last_error() {
    return t_last_error;
}

}  // namespace zelvik::config::ini
