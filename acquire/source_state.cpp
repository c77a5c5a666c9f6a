// One line per stream: "<next> <end time> <key>", the key last because a followed file's
// path may hold blanks. Times keep microseconds, which miniSEED 2 cannot exceed.
#include "acquire/source_state.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/atomic_file.h"

namespace zelvik::acquire {

namespace {
constexpr const char* kHeader = "# zelvik-store source state: next position, end time, stream";
}

bool SourceState::load() {
    positions_.clear();
    std::ifstream in(path_);
    if (!in) {
        if (errno == ENOENT) return true;
        error_ = "cannot read state file " + path_ + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        const char* p = line.c_str();
        char* rest = nullptr;
        errno = 0;
        const long long next = std::strtoll(p, &rest, 10);
        const bool next_ok = errno == 0 && rest != p && *rest == ' ';
        const char* time_text = next_ok ? rest + 1 : p;
        const double end_time = std::strtod(time_text, &rest);
        if (!next_ok || rest == time_text || *rest != ' ' || rest[1] == '\0') {
            error_ = "state file " + path_ + " line " + std::to_string(number) + " is damaged";
            positions_.clear();
            return false;
        }
        positions_[rest + 1] = {next, end_time};
    }
    return true;
}

bool SourceState::save() const {
    std::ostringstream out;
    out << kHeader << "\n";
    char buf[64];
    for (const auto& [key, position] : positions_) {
        std::snprintf(buf, sizeof buf, "%" PRId64 " %.6f ", position.next, position.end_time);
        out << buf << key << "\n";
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    config::ReplaceRules rules;
    rules.new_file_mode = 0644;
    const config::ReplaceOutcome outcome = config::replace_file(path_, out.str(), rules);
    if (!outcome.ok()) {
        error_ = "cannot write state file " + outcome.file + ": " + std::strerror(outcome.error);
        return false;
    }
    return true;
}

const SourcePosition* SourceState::find(const std::string& key) const {
    const auto it = positions_.find(key);
    return it == positions_.end() ? nullptr : &it->second;
}

}  // namespace zelvik::acquire
