// A live data file: opened once per stream and day, written at explicit offsets (never
// O_APPEND, so bytes left past the last committed segment by a killed run are simply
// overwritten), and synced before the rows that point at its bytes are committed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvik::acquire {

class DataFile {
public:
    DataFile() = default;
    ~DataFile();
    DataFile(DataFile&& other) noexcept;
    DataFile& operator=(DataFile&& other) noexcept;
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Opens `path` for reading and writing, creating it and its folders. A path that
    // names anything but a regular file is refused. false with last_error().
    [[nodiscard]] bool open(const std::string& path);
    bool is_open() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // Bytes in the file now; -1 on error.
    int64_t size() const;
    [[nodiscard]] bool write_at(int64_t offset, const void* bytes, size_t count);
    // fdatasync when something was written since the last sync.
    [[nodiscard]] bool sync();
    void close();
    const std::string& last_error() const { return error_; }

private:
    int fd_ = -1;
    bool dirty_ = false;
    std::string path_;
    std::string error_;
};

}  // namespace zelvik::acquire
