// Private-profile ("ini") files, key by key: a query reads and parses the file only when
// it changed since the last one (a load asks for many keys), and a write replaces it
// atomically. Reading never fails (a missing or unreadable file is a file
// without keys). Many keys at once are set on one IniText (config/ini_text.h) instead.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelvik::config::ini {

// Files larger than this are read only up to this size and never rewritten, so a
// wrong path (a device, a huge binary) cannot exhaust memory.
inline constexpr size_t kMaxFileBytes = 16u << 20;

// The value of `key` in `section` of the file at `path`.
// Sections and keys match without regard to case; the first matching section and the
// first matching key in it count. The value is the text after the first "=" with
// blanks trimmed and one pair of surrounding quotes (" or ') removed. A missing file,
// section or key gives `default_value`; a key with an empty value gives "". The result
// (also the default) is cut to `capacity - 1` characters, as into a C buffer of
// `capacity` bytes. Thread-safe; never throws for file trouble.
std::string read_string(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view default_value, size_t capacity);

// The decimal integer at the start of the value (0 when it has no leading digits);
// `default_value` when the key is missing or its value is empty.
int read_int(const std::string& path, std::string_view section, std::string_view key,
             int default_value);

// Every "key=value" line of the first matching section, in file order, with keys and
// values as read_string gives them (no capacity cut). Empty when the section is missing
// or holds no keys. Lines starting with ';' are comments and are left out.
std::vector<std::pair<std::string, std::string>> read_section(const std::string& path,
                                                              std::string_view section);

// The name of every section header of the file, in file order (repeats included).
std::vector<std::string> read_section_names(const std::string& path);

// Sets `key` in `section` to `value`: the key's line is replaced where it stands, a
// missing key is added after the last line of its section, a missing section is added
// at the end of the file, a missing file is created. Every other line is kept byte for
// byte. The new file is written beside the old one and renamed over it, so a failed
// write leaves the old file untouched.
// Returns false (see last_error()) when the file cannot be read or written, when it is
// larger than kMaxFileBytes, or when a name or the value would break the line format
// (a line break anywhere, "=" in the key, "]" in the section, empty names).
[[nodiscard]] bool write_string(const std::string& path, std::string_view section,
                                std::string_view key, std::string_view value);

// Removes the first matching section: its header line and every line up to the next
// section header. A missing file or section is not an error (true, file untouched).
[[nodiscard]] bool delete_section(const std::string& path, std::string_view section);

// Text of the last failed write_string/delete_section on the calling thread.
std::string last_error();

}  // namespace zelvik::config::ini
