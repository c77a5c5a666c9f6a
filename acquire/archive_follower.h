// Follows a folder of miniSEED files that grow and appear (an SDS archive such as
// YEAR/NET/STA/CHAN.D/NET.STA.LOC.CHAN.D.YEAR.DOY, or any folder): inotify tells which
// files changed, and a full walk of the tree every few seconds (every poll when inotify
// is not available) catches what it may have missed. For each file it keeps the byte
// offset up to which whole records were handed on; a record still being written is
// left until its last byte is there.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace zelvik::acquire {

class ArchiveFollower {
public:
    using Logger = std::function<void(const std::string&)>;
    // Called for each whole record: the file (relative to the root), the record's
    // offset and bytes. Returning false stops reading that file for now; the record
    // will be offered again.
    using RecordHandler = std::function<bool(const std::string& file, int64_t offset,
                                             const unsigned char* record, size_t length)>;

    ArchiveFollower(std::string root, Logger log);
    ~ArchiveFollower();
    ArchiveFollower(const ArchiveFollower&) = delete;
    ArchiveFollower& operator=(const ArchiveFollower&) = delete;

    // Sets up the watches. false with last_error() when the root is not a readable folder.
    [[nodiscard]] bool start();
    // The offset from which `file` is read next (0 for a file never seen).
    void set_position(const std::string& file, int64_t offset) { offsets_[file] = offset; }
    int64_t position(const std::string& file) const;

    // Waits up to `seconds` for a change, then reads new records of every file that
    // changed (or of every file, on a full walk) and hands them on.
    void poll(double seconds, const RecordHandler& handle);
    bool uses_inotify() const { return inotify_fd_ >= 0; }
    const std::string& last_error() const { return error_; }

private:
    void watch_tree(const std::string& dir);
    void read_events();
    void walk(const std::string& dir);
    void read_file(const std::string& file, const RecordHandler& handle);

    std::string root_;
    Logger log_;
    int inotify_fd_ = -1;
    std::map<int, std::string> watched_;      // watch descriptor -> folder relative to root
    std::map<std::string, int64_t> offsets_;  // file relative to root -> next byte
    std::set<std::string> changed_;           // files to read at this poll
    std::set<std::string> complained_;        // files whose bad bytes were already named
    double next_walk_ = 0;                    // monotonic seconds
    std::string error_;
};

}  // namespace zelvik::acquire
