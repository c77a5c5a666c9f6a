// The temporary copy is made in the target's own directory: rename() is atomic only
// within one file system, and the directory is where the target's owner may write.
#include "config/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

namespace zelvik::config {

namespace {

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

ReplaceOutcome failed(ReplaceStep step, std::string file) {
    return {step, errno, std::move(file)};
}

}  // namespace

FileRead read_whole_file(const std::string& path, std::string& out, size_t max_bytes) {
    out.clear();
    // O_NONBLOCK so that a FIFO given as the path cannot block the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? FileRead::kMissing : FileRead::kFailed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return FileRead::kFailed;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            errno = e;
            return FileRead::kFailed;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > max_bytes) {
            out.resize(max_bytes);
            ::close(fd);
            return FileRead::kTooBig;
        }
    }
    ::close(fd);
    return FileRead::kOk;
}

std::string replace_target(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
    }
    return path;
}

mode_t mode_from_umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

ReplaceOutcome replace_file(const std::string& path, std::string_view content,
                            const ReplaceRules& rules) {
    const std::string target = replace_target(path);
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return failed(ReplaceStep::kCreateTemporary, target);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    const mode_t mode = exists ? (st.st_mode & 07777) : rules.new_file_mode;
    ReplaceOutcome outcome;
    if (!write_all(fd, content)) outcome = failed(ReplaceStep::kWrite, temp);
    // Saved by another user (root), the file still belongs to its owner; when that is
    // not allowed the file becomes the writer's, which is no reason to fail. The owner
    // goes first because a change of owner clears the set-id bits that fchmod restores.
    if (outcome.ok() && rules.keep_owner && exists) (void)!::fchown(fd, st.st_uid, st.st_gid);
    if (outcome.ok() && ::fchmod(fd, mode) != 0) outcome = failed(ReplaceStep::kSetMode, temp);
    if (outcome.ok() && ::fsync(fd) != 0) outcome = failed(ReplaceStep::kWrite, temp);
    ::close(fd);
    if (outcome.ok() && ::rename(temp.c_str(), target.c_str()) != 0) {
        outcome = failed(ReplaceStep::kRename, target);
    }
    if (!outcome.ok()) ::unlink(temp.c_str());
    return outcome;
}

}  // namespace zelvik::config
