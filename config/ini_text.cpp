// Lines are scanned as views into the one buffer, so every line an edit does not touch
// is kept exactly as it was read: line endings, blanks, comments and bytes that are not
// text included.
#include "config/ini_text.h"

#include "common/text.h"

namespace zelvik::config::ini {

namespace {

// One line of the buffer: [begin, text_end) is its text without the line break,
// [text_end, end) the break itself ("\n", "\r\n" or nothing on the last line).
struct Line {
    size_t begin = 0;
    size_t text_end = 0;
    size_t end = 0;
};

// Lines end at "\n", "\r\n" or a lone "\r" (old Mac files, or a file cut after its CR),
// so reading and writing agree on where every line ends.
std::vector<Line> split_lines(std::string_view content) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        const size_t brk = content.find_first_of("\r\n", pos);
        Line line;
        line.begin = pos;
        if (brk == std::string_view::npos) {
            line.text_end = line.end = content.size();
        } else {
            line.text_end = brk;
            const bool crlf =
                content[brk] == '\r' && brk + 1 < content.size() && content[brk + 1] == '\n';
            line.end = brk + (crlf ? 2 : 1);
        }
        lines.push_back(line);
        pos = line.end;
    }
    return lines;
}

std::string_view text_of(std::string_view content, const Line& line) {
    return content.substr(line.begin, line.text_end - line.begin);
}

// The name of a "[name]" line, nullopt for any other line.
std::optional<std::string_view> section_name(std::string_view text) {
    const std::string_view t = common::trim(text);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const size_t close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return common::trim(t.substr(1, close - 1));
}

// The key and the trimmed raw value of a "key=value" line; nullopt for lines without
// "=" and for comments.
std::optional<std::pair<std::string_view, std::string_view>> key_value(std::string_view text) {
    const std::string_view t = common::trim(text);
    if (t.empty() || t.front() == ';') return std::nullopt;
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return std::make_pair(common::trim(t.substr(0, eq)), common::trim(t.substr(eq + 1)));
}

std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// Lines [first, last) of the first section named `section`; first is the header line.
struct SectionSpan {
    size_t header = 0;
    size_t end = 0;
};

std::optional<SectionSpan> find_section(std::string_view content, const std::vector<Line>& lines,
                                        std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto name = section_name(text_of(content, lines[i]));
        if (!name || !common::iequals(*name, common::trim(section))) continue;
        size_t j = i + 1;
        while (j < lines.size() && !section_name(text_of(content, lines[j]))) ++j;
        return SectionSpan{i, j};
    }
    return std::nullopt;
}

std::optional<size_t> find_key(std::string_view content, const std::vector<Line>& lines,
                               const SectionSpan& span, std::string_view key) {
    for (size_t i = span.header + 1; i < span.end; ++i) {
        const auto kv = key_value(text_of(content, lines[i]));
        if (kv && common::iequals(kv->first, common::trim(key))) return i;
    }
    return std::nullopt;
}

bool has_line_break(std::string_view text) {
    return text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos;
}

// The form names are matched in: ASCII letters in lower case, as iequals compares
// (never the locale's tolower, which may fold other bytes too).
std::string folded(std::string_view name) {
    std::string s(name);
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

std::string_view line_break_of(std::string_view content) {
    const size_t nl = content.find('\n');
    return (nl != std::string_view::npos && nl > 0 && content[nl - 1] == '\r') ? "\r\n" : "\n";
}

}  // namespace

bool is_valid_entry(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view sec = common::trim(section);
    const std::string_view k = common::trim(key);
    return !sec.empty() && !k.empty() && !has_line_break(section) && !has_line_break(key) &&
           !has_line_break(value) && sec.find(']') == std::string_view::npos &&
           k.find('=') == std::string_view::npos && k.front() != '[' && k.front() != ';';
}

std::optional<std::string_view> IniText::value(std::string_view section,
                                               std::string_view key) const {
    const std::vector<Line> lines = split_lines(bytes_);
    const auto span = find_section(bytes_, lines, section);
    if (!span) return std::nullopt;
    const auto at = find_key(bytes_, lines, *span, key);
    if (!at) return std::nullopt;
    return unquote(key_value(text_of(bytes_, lines[*at]))->second);
}

std::vector<std::pair<std::string, std::string>> IniText::section(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> result;
    const std::vector<Line> lines = split_lines(bytes_);
    const auto span = find_section(bytes_, lines, section);
    if (!span) return result;
    for (size_t i = span->header + 1; i < span->end; ++i) {
        if (const auto kv = key_value(text_of(bytes_, lines[i]))) {
            result.emplace_back(std::string(kv->first), std::string(unquote(kv->second)));
        }
    }
    return result;
}

std::vector<std::string> IniText::section_names() const {
    std::vector<std::string> result;
    for (const Line& line : split_lines(bytes_)) {
        if (const auto name = section_name(text_of(bytes_, line))) result.emplace_back(*name);
    }
    return result;
}

bool IniText::set(std::string_view section, std::string_view key, std::string_view value) {
    if (!is_valid_entry(section, key, value)) return false;
    const std::string_view sec = common::trim(section);
    const std::string_view k = common::trim(key);
    const std::string_view content = bytes_;
    const std::vector<Line> lines = split_lines(content);
    const std::string eol(line_break_of(content));
    const std::string entry = std::string(k) + "=" + std::string(value);

    const auto span = find_section(content, lines, sec);
    if (!span) {
        if (!bytes_.empty() && bytes_.back() != '\n' && bytes_.back() != '\r') bytes_ += eol;
        bytes_ += "[" + std::string(sec) + "]" + eol + entry + eol;
        return true;
    }
    if (const auto at = find_key(content, lines, *span, k)) {
        bytes_.replace(lines[*at].begin, lines[*at].text_end - lines[*at].begin, entry);
        return true;
    }
    // After the last non-blank line of the section, so blank separators stay below.
    size_t last = span->header;
    for (size_t i = span->header + 1; i < span->end; ++i) {
        if (!common::trim(text_of(content, lines[i])).empty()) last = i;
    }
    const Line& l = lines[last];
    // A section at the very end of a file without a final line break ends on a line
    // that needs one before the new key can follow.
    const bool needs_break = l.end == l.text_end;
    bytes_.insert(l.end, (needs_break ? eol : std::string()) + entry + eol);
    return true;
}

bool IniText::remove_section(std::string_view section) {
    const std::vector<Line> lines = split_lines(bytes_);
    const auto span = find_section(bytes_, lines, section);
    if (!span) return false;
    const size_t from = lines[span->header].begin;
    const size_t to = span->end < lines.size() ? lines[span->end].begin : bytes_.size();
    bytes_.erase(from, to - from);
    return true;
}

IniIndex::IniIndex(std::string_view bytes) {
    Section* current = nullptr;  // null outside a section, or in a repeated one
    for (const Line& line : split_lines(bytes)) {
        const std::string_view text = text_of(bytes, line);
        if (const auto name = section_name(text)) {
            names_.emplace_back(*name);
            const auto [it, first] = first_section.emplace(folded(*name), sections_.size());
            current = first ? &sections_.emplace_back() : nullptr;
            continue;
        }
        if (current == nullptr) continue;
        if (const auto kv = key_value(text)) {
            current->first_key.emplace(folded(kv->first), current->entries.size());
            current->entries.emplace_back(std::string(kv->first), std::string(unquote(kv->second)));
        }
    }
}

std::optional<std::string_view> IniIndex::value(std::string_view section,
                                                std::string_view key) const {
    const auto s = first_section.find(folded(common::trim(section)));
    if (s == first_section.end()) return std::nullopt;
    const Section& sec = sections_[s->second];
    const auto k = sec.first_key.find(folded(common::trim(key)));
    if (k == sec.first_key.end()) return std::nullopt;
    return std::string_view(sec.entries[k->second].second);
}

std::vector<std::pair<std::string, std::string>> IniIndex::section(std::string_view section) const {
    const auto s = first_section.find(folded(common::trim(section)));
    if (s == first_section.end()) return {};
    return sections_[s->second].entries;
}

}  // namespace zelvik::config::ini
