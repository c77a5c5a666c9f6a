// Where one source's data stand, kept in a small state file: per stream key (a SeedLink
// station "NET_STA", or a followed file's path) the next position to ask for (sequence
// number or byte offset) and the end of the last record stored. The file is replaced
// atomically after each commit to the store, so a restart resumes there; records that
// arrive again between that position and the store's end are recognised and dropped.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zelvik::acquire {

struct SourcePosition {
    int64_t next = 0;       // next sequence number, or byte offset into a followed file
    double end_time = 0.0;  // seconds since 1970: end of the last record stored
};

class SourceState {
public:
    explicit SourceState(std::string path) : path_(std::move(path)) {}

    // A missing file is an empty state (true); an unreadable or malformed one is false
    // with last_error() naming the file and the line.
    [[nodiscard]] bool load();
    // Writes every position to a temporary file, syncs it and renames it over the state
    // file. false with last_error(); the old file is then untouched.
    [[nodiscard]] bool save() const;

    const SourcePosition* find(const std::string& key) const;
    void set(const std::string& key, const SourcePosition& position) { positions_[key] = position; }
    const std::map<std::string, SourcePosition>& positions() const { return positions_; }
    const std::string& path() const { return path_; }
    const std::string& last_error() const { return error_; }

private:
    std::string path_;
    std::map<std::string, SourcePosition> positions_;
    mutable std::string error_;
};

}  // namespace zelvik::acquire
