// Private-profile reading and writing over the raw bytes of the file. Lines are
// scanned as views into one buffer, so every untouched line is written back exactly
// as it was read (line endings, blanks, comments and bytes that are not text included).
#include "config/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/text.h"

namespace zelvik::config::ini {

namespace {

thread_local std::string t_last_error;

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
            const bool crlf = content[brk] == '\r' && brk + 1 < content.size() &&
                              content[brk + 1] == '\n';
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

enum class ReadResult { kOk, kMissing, kFailed, kTooBig };

// Reads at most kMaxFileBytes (+1 to notice a larger file).
ReadResult read_file(const std::string& path, std::string& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::kFailed;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return ReadResult::kFailed;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > kMaxFileBytes) {
            out.resize(kMaxFileBytes);
            ::close(fd);
            return ReadResult::kTooBig;
        }
    }
    ::close(fd);
    return ReadResult::kOk;
}

bool fail(std::string text) {
    t_last_error = std::move(text);
    return false;
}

bool fail_errno(const std::string& what, const std::string& path) {
    return fail(what + " " + path + " : " + std::strerror(errno));
}

// The file that a write replaces: a symbolic link is followed so the link survives.
std::string write_target(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
    }
    return path;
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Writes `content` to a temporary file in the target's directory and renames it over
// the target, keeping the target's permission bits.
bool replace_file(const std::string& path, std::string_view content) {
    const std::string target = write_target(path);
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return fail_errno("[write_string] Cannot create a temporary file beside", target);
    struct stat st {};
    mode_t mode = 0;
    if (::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = write_all(fd, content) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    if (!ok) fail_errno("[write_string] Cannot write", temp);
    ::close(fd);
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = fail_errno("[write_string] Cannot replace", target);
    }
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool has_line_break(std::string_view text) {
    return text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos;
}

// Reads the file for a rewrite; a missing file is an empty one.
bool load_for_write(const std::string& path, std::string& content) {
    switch (read_file(path, content)) {
        case ReadResult::kOk:
        case ReadResult::kMissing:
            return true;
        case ReadResult::kTooBig:
            return fail("[write_string] File too large: " + path);
        case ReadResult::kFailed:
            break;
    }
    return fail_errno("[write_string] Cannot read", path);
}

std::string_view line_break_of(std::string_view content) {
    const size_t nl = content.find('\n');
    return (nl != std::string_view::npos && nl > 0 && content[nl - 1] == '\r') ? "\r\n" : "\n";
}

}  // namespace

std::string read_string(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view default_value, size_t capacity) {
    std::string content;
    const ReadResult r = read_file(path, content);
    if (r == ReadResult::kOk || r == ReadResult::kTooBig) {
        const std::vector<Line> lines = split_lines(content);
        if (const auto span = find_section(content, lines, section)) {
            if (const auto at = find_key(content, lines, *span, key)) {
                const auto kv = key_value(text_of(content, lines[*at]));
                return common::truncate_to_capacity(unquote(kv->second), capacity);
            }
        }
    }
    return common::truncate_to_capacity(default_value, capacity);
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
    std::vector<std::pair<std::string, std::string>> result;
    std::string content;
    const ReadResult r = read_file(path, content);
    if (r != ReadResult::kOk && r != ReadResult::kTooBig) return result;
    const std::vector<Line> lines = split_lines(content);
    const auto span = find_section(content, lines, section);
    if (!span) return result;
    for (size_t i = span->header + 1; i < span->end; ++i) {
        if (const auto kv = key_value(text_of(content, lines[i]))) {
            result.emplace_back(std::string(kv->first), std::string(unquote(kv->second)));
        }
    }
    return result;
}

std::vector<std::string> read_section_names(const std::string& path) {
    std::vector<std::string> result;
    std::string content;
    const ReadResult r = read_file(path, content);
    if (r != ReadResult::kOk && r != ReadResult::kTooBig) return result;
    for (const Line& line : split_lines(content)) {
        if (const auto name = section_name(text_of(content, line))) result.emplace_back(*name);
    }
    return result;
}

bool write_string(const std::string& path, std::string_view section, std::string_view key,
                  std::string_view value) {
    const std::string_view sec = common::trim(section);
    const std::string_view k = common::trim(key);
    if (sec.empty() || k.empty() || has_line_break(section) || has_line_break(key) ||
        has_line_break(value) || sec.find(']') != std::string_view::npos ||
        k.find('=') != std::string_view::npos || k.front() == '[' || k.front() == ';') {
        return fail("[write_string] Invalid section, key or value for " + path);
    }
    std::string content;
    if (!load_for_write(path, content)) return false;
    const std::vector<Line> lines = split_lines(content);
    const std::string_view eol = line_break_of(content);
    const std::string entry = std::string(k) + "=" + std::string(value);

    std::string out;
    const auto span = find_section(content, lines, sec);
    if (span) {
        if (const auto at = find_key(content, lines, *span, k)) {
            out = content.substr(0, lines[*at].begin) + entry + content.substr(lines[*at].text_end);
        } else {
            // After the last non-blank line of the section, so blank separators stay below.
            size_t last = span->header;
            for (size_t i = span->header + 1; i < span->end; ++i) {
                if (!common::trim(text_of(content, lines[i])).empty()) last = i;
            }
            const Line& l = lines[last];
            const bool needs_break = l.end == l.text_end;
            // A section at the very end of a file without a final line break ends on a
            // line that needs one before the new key can follow.
            out = content.substr(0, l.end) + (needs_break ? std::string(eol) : "") + entry +
                  std::string(eol) + content.substr(l.end);
        }
    } else {
        out = content;
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += eol;
        out += "[" + std::string(sec) + "]" + std::string(eol) + entry + std::string(eol);
    }
    return replace_file(path, out);
}

bool delete_section(const std::string& path, std::string_view section) {
    std::string content;
    if (!load_for_write(path, content)) return false;
    const std::vector<Line> lines = split_lines(content);
    const auto span = find_section(content, lines, section);
    if (!span) return true;
    const size_t from = lines[span->header].begin;
    const size_t to = span->end < lines.size() ? lines[span->end].begin : content.size();
    return replace_file(path, content.substr(0, from) + content.substr(to));
}

std::string last_error() {
    return t_last_error;
}

}  // namespace zelvik::config::ini
