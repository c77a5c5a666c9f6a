// Daily log writer. The file is opened and closed for every line, so it may be read,
// copied or removed between lines; folding rewrites the last line in place, and only
// after checking that the file still ends with that line.
#include "common/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/civil_time.h"
#include "common/clock.h"

namespace zelvik::common {

namespace {

constexpr const char* kTag = "ZELVIK";
// Local time of a line's stamp and of the start time in the day header.
constexpr const char* kStampFormat = "%H:%M:%S %d.%m.%Y";
// Room a line needs besides the message: stamp (19), "  #[ZELVIK] " (12), the largest
// count " (2147483647)" (13) and "#" CR LF (3).
constexpr size_t kLineOverhead = 19 + 12 + 13 + 3;
constexpr size_t kMaxMessageBytes = kLogLineBytes - kLineOverhead;

struct LogState {
    bool enabled = false;
    bool debug = false;
    std::string directory;     // ends with "/" once enabled
    int64_t start_time = 0;    // seconds since 1970 of the start-up line, 0 = not yet
    std::string last_message;  // message of the last line written
    std::string last_line;     // bytes of that line as stored, for folding back over it
    std::string first_stamp;   // stamp of the first of the current run of equal messages
    int repeat_count = 1;      // length of that run
    bool failing = false;      // the last line could not be written
    long lost = 0;             // lines lost since it started failing
};

// Guards g_log: the append to the day's file and the folding state.
std::mutex g_log_mutex;
thread_local LogHold* t_hold = nullptr;  // this thread's lines are held there
LogState g_log;
// Guards g_trouble_notice, which writers copy and call outside the log's lock.
std::mutex g_notice_mutex;
std::function<void(const std::string&)> g_trouble_notice;

// Move-only owner of a file descriptor; -1 means closed. close() is not retried on
// EINTR: the descriptor is gone either way.
class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool write_at(int fd, std::string_view bytes, off_t offset) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
        offset += n;
    }
    return true;
}

// Message as stored: every lone "\n" becomes CR LF (as a text-mode file stores it),
// then cut so that the line, count included, fits the line buffer.
std::string prepare_message(std::string_view message) {
    std::string out;
    out.reserve(std::min(message.size(), kMaxMessageBytes) + 8);
    for (size_t i = 0; i < message.size() && out.size() < kMaxMessageBytes; ++i) {
        if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r')) out += '\r';
        out += message[i];
    }
    if (out.size() > kMaxMessageBytes) out.resize(kMaxMessageBytes);
    return out;
}

std::string day_header_locked(const std::string& stamp) {
    return stamp + "  #[" + kTag + "] Zelvik (v.20140306) is working since " +
           format_local(g_log.start_time, kStampFormat) + "#\r\n";
}

// Opens today's file; `created` tells whether this call made it. The file exists for
// all but the first line of a day, so it is opened first and created only when missing
// (one system call per line fewer); another writer may create it in between.
int open_day_file(const std::string& path, bool& created) {
    created = false;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    return fd;
}

// Where the folded line goes: over the previous line when the file still ends with it,
// otherwise (file removed, truncated or appended to by someone else) nowhere, -1.
off_t fold_offset_locked(int fd) {
    const off_t size = ::lseek(fd, 0, SEEK_END);
    const auto length = static_cast<off_t>(g_log.last_line.size());
    if (size < length || length == 0) return -1;
    std::string tail(g_log.last_line.size(), '\0');
    if (::pread(fd, tail.data(), tail.size(), size - length) != length) return -1;
    return tail == g_log.last_line ? size - length : -1;
}

bool write_line_locked(const std::string& message) {
    const int64_t now = now_utc_seconds();
    const std::string stamp = format_local(now, kStampFormat);
    bool created = false;
    const FileHandle file(
        open_day_file(g_log.directory + format_local(now, "%d%m%Y.log"), created));
    if (file.get() < 0) return false;
    if (created && g_log.start_time != 0) {
        if (!write_at(file.get(), day_header_locked(stamp), 0)) return false;
        g_log.repeat_count = 1;
        g_log.last_message.clear();
        g_log.last_line.clear();
    }
    // Case-sensitive, over the whole length of the start-up text.
    if (message.compare(0, std::string_view(kStartedMessage).size(), kStartedMessage) == 0) {
        g_log.start_time = now;
    }
    if (message.empty()) return true;

    off_t offset = -1;
    if (message == g_log.last_message) {
        ++g_log.repeat_count;
        offset = fold_offset_locked(file.get());
    }
    if (offset < 0) {
        g_log.repeat_count = 1;
        g_log.first_stamp = stamp;
        offset = ::lseek(file.get(), 0, SEEK_END);
        if (offset < 0) return false;
    }
    std::string line = g_log.first_stamp + "  #[" + kTag + "] " + message;
    if (g_log.repeat_count > 1) line += " (" + std::to_string(g_log.repeat_count) + ")";
    line += "#\r\n";
    if (!write_at(file.get(), line, offset)) return false;
    g_log.last_message = message;
    g_log.last_line = std::move(line);
    return true;
}

// Tells stderr and the notice of a change between writing and failing; never throws.
void tell_trouble(const std::string& text) noexcept {
    try {
        std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, text.c_str());
        std::function<void(const std::string&)> notice;
        {
            const std::lock_guard<std::mutex> lock(g_notice_mutex);
            notice = g_trouble_notice;
        }
        if (notice) notice(text);
    } catch (...) {
    }
}

// Writes `message`, keeping count of what is lost while the file cannot be written;
// `change` gets the text of a change between writing and failing ("" when none).
bool write_counted_locked(const std::string& message, std::string& change) {
    const std::string path = g_log.directory + format_local(now_utc_seconds(), "%d%m%Y.log");
    if (g_log.failing) {
        // The first line that gets through says what was lost before it.
        const std::string note =
            std::to_string(g_log.lost) + " log lines were lost while the log could not be written";
        if (write_line_locked(note)) {
            g_log.failing = false;
            change = "log lines are written to " + path + " again; " + std::to_string(g_log.lost) +
                     " were lost";
            g_log.lost = 0;
        }
    }
    if (!g_log.failing && write_line_locked(message)) return true;
    const int error = errno;
    if (!g_log.failing) {
        g_log.failing = true;
        change = "log lines cannot be written to " + path + ": " + std::strerror(error) +
                 "; they are lost until writing works again";
    }
    ++g_log.lost;
    return false;
}

}  // namespace

void log_set_trouble_notice(std::function<void(const std::string& text)> notice) {
    const std::lock_guard<std::mutex> lock(g_notice_mutex);
    g_trouble_notice = std::move(notice);
}

void log_use_directory(std::string directory, bool debug) {
    const std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log.enabled = !directory.empty();
    g_log.debug = g_log.enabled && debug;
    g_log.directory = std::move(directory);
}

ScopedLogHold::ScopedLogHold(LogHold* hold) : previous_(t_hold) {
    t_hold = hold;
}
ScopedLogHold::~ScopedLogHold() {
    t_hold = previous_;
}

bool log_write(std::string_view message) {
    if (t_hold != nullptr) {
        try {
            t_hold->hold(message);
            return true;
        } catch (...) {
            return false;  // out of memory: that line is lost, never the caller's thread
        }
    }
    // Built before taking the lock: only the append and the folding state need it.
    const std::string prepared = prepare_message(message);
    std::string change;
    bool written = false;
    try {
        const std::lock_guard<std::mutex> lock(g_log_mutex);
        if (!g_log.enabled) return false;
        written = write_counted_locked(prepared, change);
    } catch (...) {
        return false;  // out of memory: that line is lost, never the caller's thread
    }
    if (!change.empty()) tell_trouble(change);
    return written;
}

bool log_printf(const char* format, ...) {
    char buf[kLogLineBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return log_write(buf);
}

bool log_debug() {
    const std::lock_guard<std::mutex> lock(g_log_mutex);
    return g_log.debug;
}

std::string log_directory() {
    const std::lock_guard<std::mutex> lock(g_log_mutex);
    return g_log.directory;
}

void log_reset_for_testing() {
    const std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log = LogState{};
}

}  // namespace zelvik::common
