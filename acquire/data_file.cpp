// Writes retry on EINTR and short writes; close is not retried (a retried close may
// close a descriptor another thread just opened).
#include "acquire/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace zelvik::acquire {

DataFile::~DataFile() {
    close();
}

DataFile::DataFile(DataFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      dirty_(other.dirty_),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

DataFile& DataFile::operator=(DataFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        dirty_ = other.dirty_;
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool DataFile::open(const std::string& path) {
    close();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec) {
        error_ = "cannot create the folder of " + path + ": " + ec.message();
        return false;
    }
    // O_NONBLOCK: a FIFO put where a data file belongs must not block the writer.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error_ = "cannot open data file " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error_ = "data file " + path + " is not a regular file";
        return false;
    }
    fd_ = fd;
    path_ = path;
    dirty_ = false;
    return true;
}

int64_t DataFile::size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool DataFile::write_at(int64_t offset, const void* bytes, size_t count) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
        const ssize_t n = ::pwrite(fd_, p, count, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = "cannot write " + path_ + ": " + std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        p += n;
        count -= static_cast<size_t>(n);
        offset += n;
    }
    dirty_ = true;
    return true;
}

bool DataFile::sync() {
    if (!dirty_) return true;
    if (::fdatasync(fd_) != 0) {
        error_ = "cannot sync " + path_ + ": " + std::strerror(errno);
        return false;
    }
    dirty_ = false;
    return true;
}

void DataFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace zelvik::acquire
