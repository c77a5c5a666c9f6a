// The text of a whole private-profile ("ini") file held in memory: the one place that
// knows how sections, keys and lines are found and edited. The file functions of
// ini_file.h read and write through it, and a save of many keys edits one IniText and
// replaces the file once.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zelvik::config::ini {

// True when `section`, `key` and `value` make a line that reads back as written: no
// line break anywhere, no "=" in the key, no "]" in the section, names not empty (after
// trimming blanks) and a key that does not start like a header or a comment.
bool is_valid_entry(std::string_view section, std::string_view key, std::string_view value);

class IniText {
public:
    IniText() = default;
    explicit IniText(std::string bytes) : bytes_(std::move(bytes)) {}

    // The file's bytes, every untouched line exactly as it came in.
    const std::string& bytes() const { return bytes_; }

    // The raw value of `key` in the first matching section (names in any letter case;
    // the first matching key counts): the text after the first "=" with blanks trimmed
    // and one pair of surrounding quotes removed. nullopt when section or key is missing.
    std::optional<std::string_view> value(std::string_view section, std::string_view key) const;

    // Every "key=value" line of the first matching section, in order, as value() gives
    // them; comment lines (';') are left out.
    std::vector<std::pair<std::string, std::string>> section(std::string_view section) const;

    // The name of every section header, in order (repeats included).
    std::vector<std::string> section_names() const;

    // Sets `key` in `section` to `value`: the key's line is replaced where it stands, a
    // missing key goes after the last non-blank line of its section, a missing section is
    // added at the end. New lines take the file's own line break. False (nothing
    // changed) when is_valid_entry() refuses the entry.
    [[nodiscard]] bool set(std::string_view section, std::string_view key, std::string_view value);

    // Removes the first matching section: its header and every line up to the next
    // header. False (nothing changed) when there is no such section.
    bool remove_section(std::string_view section);

private:
    std::string bytes_;
};

// The answers of IniText's three queries for a whole file, found in one pass over it:
// each look-up then costs a hash, not a scan of the file. Read-only once built, so
// threads may share one.
class IniIndex {
public:
    IniIndex() = default;
    explicit IniIndex(std::string_view bytes);

    // As IniText::value, section() and section_names() on the same bytes.
    std::optional<std::string_view> value(std::string_view section, std::string_view key) const;
    std::vector<std::pair<std::string, std::string>> section(std::string_view section) const;
    const std::vector<std::string>& section_names() const { return names_; }

private:
    struct Section {
        std::vector<std::pair<std::string, std::string>> entries;  // file order
        std::unordered_map<std::string, size_t> first_key;         // lower-case key -> entry
    };
    std::vector<std::string> names_;                        // every header, repeats included
    std::vector<Section> sections_;                         // first of each name only
    std::unordered_map<std::string, size_t> first_section;  // lower-case name -> sections_
};

}  // namespace zelvik::config::ini
