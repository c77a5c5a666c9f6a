// Private-profile reading and writing of files. Queries share a parsed index of each
// file, read again only when the file changes (a load asks for hundreds of keys); a
// write edits the whole text and replaces the file atomically.
#include "config/ini_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

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

// What tells one version of a file from another without reading it.
struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{}, ctime{};
    bool operator==(const FileIdentity& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && same(mtime, o.mtime) &&
               same(ctime, o.ctime);
    }
    static bool same(const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }
};

std::optional<FileIdentity> identity_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

struct CachedIndex {
    FileIdentity identity;
    std::string content;  // the bytes the index was built from
    // Read when the file had been still for kSettledSeconds: an equal identity then
    // means equal bytes. Otherwise the bytes are read again and compared.
    bool settled = false;
    std::shared_ptr<const IniIndex> index;
};

// Guards g_cache: the parsed files, by path. Never held while a file is read.
std::mutex g_cache_mutex;
std::unordered_map<std::string, CachedIndex> g_cache;
constexpr size_t kCachedFiles = 8;
// A file may change twice within one time stamp tick, unseen by its identity; only a
// file read when it had been still this long is trusted by its identity alone.
constexpr time_t kSettledSeconds = 2;

// The file as parsed for a query: a missing or unreadable file has no keys; an
// oversized one is queried up to the limit.
std::shared_ptr<const IniIndex> read_for_query(const std::string& path) {
    const std::optional<FileIdentity> before = identity_of(path);
    if (!before) return std::make_shared<const IniIndex>();
    std::shared_ptr<const IniIndex> known;
    std::string known_content;
    {
        std::lock_guard<std::mutex> lock(g_cache_mutex);
        const auto it = g_cache.find(path);
        if (it != g_cache.end()) {
            if (it->second.settled && it->second.identity == *before) return it->second.index;
            known = it->second.index;
            known_content = it->second.content;
        }
    }
    const time_t read_at = ::time(nullptr);
    std::string content;
    const FileRead r = read_whole_file(path, content, kMaxFileBytes);
    if (r != FileRead::kOk && r != FileRead::kTooBig) content.clear();
    // Bytes as before need no new parse: comparing is far cheaper than parsing.
    auto index =
        known && known_content == content ? known : std::make_shared<const IniIndex>(content);
    const std::optional<FileIdentity> after = identity_of(path);
    if (after && *after == *before) {
        const bool settled = read_at - before->ctime.tv_sec >= kSettledSeconds;
        std::lock_guard<std::mutex> lock(g_cache_mutex);
        if (g_cache.size() >= kCachedFiles && g_cache.find(path) == g_cache.end()) g_cache.clear();
        g_cache[path] = CachedIndex{*after, std::move(content), settled, index};
    }
    return index;
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
    const std::shared_ptr<const IniIndex> index = read_for_query(path);
    const auto value = index->value(section, key);
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
    return read_for_query(path)->section(section);
}

std::vector<std::string> read_section_names(const std::string& path) {
    return read_for_query(path)->section_names();
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
