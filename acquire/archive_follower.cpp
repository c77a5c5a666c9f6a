// Record boundaries come from libmseed's ms_detect (the fixed header and blockette 1000
// give the length); bytes that are not a record are skipped 64 at a time, the smallest
// record length in use, and named once per file.
#include "acquire/archive_follower.h"

#include <fcntl.h>
#include <libmseed.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

namespace zelvik::acquire {

namespace {

constexpr double kWalkSeconds = 5.0;  // full walk with inotify
constexpr size_t kChunk = 1 << 20;    // bytes read from a file at a time
constexpr int kSmallestRecord = 64;

double monotonic_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

class ReadOnly {
public:
    explicit ReadOnly(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
    ~ReadOnly() {
        if (fd_ >= 0) ::close(fd_);
    }
    ReadOnly(const ReadOnly&) = delete;
    ReadOnly& operator=(const ReadOnly&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

ArchiveFollower::ArchiveFollower(std::string root, Logger log)
    : root_(std::move(root)), log_(std::move(log)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

ArchiveFollower::~ArchiveFollower() {
    if (inotify_fd_ >= 0) ::close(inotify_fd_);
}

int64_t ArchiveFollower::position(const std::string& file) const {
    const auto it = offsets_.find(file);
    return it == offsets_.end() ? 0 : it->second;
}

bool ArchiveFollower::start() {
    std::error_code ec;
    if (!std::filesystem::is_directory(root_, ec)) {
        error_ = "cannot follow " + root_ + ": not a readable folder";
        return false;
    }
    inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_fd_ < 0)
        log_("inotify is not available (" + std::string(std::strerror(errno)) +
             "): looking for changes every poll instead");
    watch_tree("");
    next_walk_ = 0;  // the first poll reads everything
    return true;
}

void ArchiveFollower::watch_tree(const std::string& dir) {
    if (inotify_fd_ < 0) return;
    const std::string full = dir.empty() ? root_ : root_ + "/" + dir;
    const int wd = ::inotify_add_watch(inotify_fd_, full.c_str(),
                                       IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO);
    if (wd < 0) {
        log_("cannot watch " + full + ": " + std::strerror(errno) + " (found by the walk)");
        return;
    }
    watched_[wd] = dir;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(full, ec)) {
        if (entry.is_directory(ec) && !entry.is_symlink(ec))
            watch_tree((dir.empty() ? "" : dir + "/") + entry.path().filename().string());
    }
}

void ArchiveFollower::read_events() {
    alignas(struct inotify_event) char buf[16384];
    for (;;) {
        const ssize_t n = ::read(inotify_fd_, buf, sizeof buf);
        if (n <= 0) return;
        for (ssize_t i = 0; i < n;) {
            const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + i);
            i += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) next_walk_ = 0;
            const auto it = watched_.find(ev->wd);
            if (it == watched_.end() || ev->len == 0) continue;
            const std::string name = (it->second.empty() ? "" : it->second + "/") + ev->name;
            if (ev->mask & IN_ISDIR) {
                if (ev->mask & (IN_CREATE | IN_MOVED_TO)) {
                    watch_tree(name);
                    walk(name);  // files written before the watch existed
                }
            } else {
                changed_.insert(name);
            }
        }
    }
}

void ArchiveFollower::walk(const std::string& dir) {
    std::error_code ec;
    const std::string full = dir.empty() ? root_ : root_ + "/" + dir;
    for (auto it = std::filesystem::recursive_directory_iterator(full, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::string rel = std::filesystem::relative(it->path(), root_, ec).string();
        if (!ec) changed_.insert(rel);
    }
}

void ArchiveFollower::poll(double seconds, const RecordHandler& handle) {
    if (changed_.empty() && monotonic_seconds() < next_walk_) {
        if (inotify_fd_ >= 0) {
            struct pollfd p {
                inotify_fd_, POLLIN, 0
            };
            ::poll(&p, 1, static_cast<int>(seconds * 1000));
        } else {
            ::usleep(static_cast<useconds_t>(seconds * 1e6));
        }
    }
    if (inotify_fd_ >= 0) read_events();
    if (monotonic_seconds() >= next_walk_) {
        walk("");
        next_walk_ = monotonic_seconds() + (inotify_fd_ >= 0 ? kWalkSeconds : seconds);
    }
    std::set<std::string> files;
    files.swap(changed_);
    for (const std::string& file : files) read_file(file, handle);
}

void ArchiveFollower::read_file(const std::string& file, const RecordHandler& handle) {
    const std::string path = root_ + "/" + file;
    ReadOnly in(path);
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    int64_t offset = position(file);
    if (st.st_size < offset) {
        log_("file " + file + " became shorter than " + std::to_string(offset) +
             " bytes: read again from its start");
        offset = 0;
    }
    std::vector<unsigned char> buf;
    while (offset < st.st_size) {
        const auto want = static_cast<size_t>(std::min<int64_t>(kChunk, st.st_size - offset));
        buf.resize(want);
        const ssize_t got = ::pread(in.get(), buf.data(), want, offset);
        if (got <= 0) break;
        size_t pos = 0;
        const auto avail = static_cast<size_t>(got);
        while (avail - pos >= static_cast<size_t>(kSmallestRecord)) {
            const int length = ms_detect(reinterpret_cast<const char*>(buf.data() + pos),
                                         static_cast<int>(avail - pos));
            if (length < 0 || (length == 0 && avail - pos >= 4096)) {
                if (complained_.insert(file).second)
                    log_("file " + file + " holds bytes that are not miniSEED at offset " +
                         std::to_string(offset + static_cast<int64_t>(pos)) + ": skipped");
                pos += kSmallestRecord;
                continue;
            }
            if (length == 0 || static_cast<size_t>(length) > avail - pos) break;  // still written
            if (!handle(file, offset + static_cast<int64_t>(pos), buf.data() + pos,
                        static_cast<size_t>(length))) {
                offsets_[file] = offset + static_cast<int64_t>(pos);
                return;
            }
            pos += static_cast<size_t>(length);
        }
        offsets_[file] = offset + static_cast<int64_t>(pos);
        if (pos == 0 || avail < want) break;
        offset += static_cast<int64_t>(pos);
    }
}

}  // namespace zelvik::acquire
