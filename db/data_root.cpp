// DataRoot: std::filesystem::weakly_canonical resolves the part of a path that exists
// through its links and normalises the rest lexically, which is exactly what is needed
// both for files that exist and for missing ones whose open will fail on its own.
#include "db/data_root.h"

#include <filesystem>
#include <system_error>

namespace zelvik::db {
namespace {

namespace fs = std::filesystem;

// `p` resolved, or "" when even that fails (no current directory). A component that
// cannot be examined (a directory without permission) leaves the lexical form: what
// lies beyond it cannot be opened either, and the open then reports why.
std::string resolved_path(std::string_view p) {
    std::error_code ec;
    fs::path r = fs::weakly_canonical(fs::path(p), ec);
    if (ec) {
        ec.clear();
        r = fs::absolute(fs::path(p), ec);
        if (ec) return {};
    }
    std::string s = r.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

DataRoot::DataRoot(std::string_view data_dir)
    : root_(data_dir.empty() ? std::string("/") : resolved_path(data_dir)) {}

bool DataRoot::admits(const std::string& path, std::string& resolved) {
    if (path == last_path_ && !last_path_.empty()) {
        resolved = last_resolved_;
        return last_admitted_;
    }
    last_path_ = path;
    last_resolved_ = resolved_path(path);
    const std::string& r = last_resolved_;
    // Compared by whole components: /data2 is not under /data.
    const bool under = root_ == "/"
                           ? r.size() > 1 && r.front() == '/'
                           : r.size() > root_.size() + 1 &&
                                 r.compare(0, root_.size(), root_) == 0 && r[root_.size()] == '/';
    last_admitted_ = !root_.empty() && under;
    resolved = last_resolved_;
    return last_admitted_;
}

}  // namespace zelvik::db
