// The save works on a temporary copy beside the file: the ini layer edits the copy key
// by key, then one rename puts it in place. A reader (Zelvik starting meanwhile) sees
// the old file or the new one, never half of a save.
#include "editor/settings_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/ini_file.h"
#include "config/program_settings.h"

namespace zelvik::editor {
namespace {

namespace ini = config::ini;

std::string int_text(int v) {
    return std::to_string(v);
}

std::string real_text(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", v);
    return text;
}

// The file a save replaces: a symbolic link is followed so the link survives.
std::string resolve_target(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
    }
    return path;
}

bool copy_bytes(int from, int to) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(from, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(to, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

}  // namespace

bool SettingsWriter::put(const std::string& path, const char* section, const char* key,
                         const std::string& value) {
    if (ini::write_string(path, section, key, value)) return true;
    // The ini layer names the temporary copy and never the value, so the password
    // cannot reach the message.
    error_ = ini::last_error();
    return false;
}

bool SettingsWriter::write_channels(const std::string& path, const EditorSettings& s) {
    const int total = static_cast<int>(s.channels.size());
    for (int n = 0; n < kMaxChannelSections; ++n) {
        const std::string section = config::channel_section(n);
        const char* sec = section.c_str();
        if (n < total) {
            const ChannelEntry& e = s.channels[static_cast<size_t>(n)];
            if (!put(path, sec, "STATION", e.station) || !put(path, sec, "CHANNEL", e.channel) ||
                !put(path, sec, "STA", int_text(e.sta)) || !put(path, sec, "LTA", int_text(e.lta)) ||
                !put(path, sec, "THRESHOLD", real_text(e.threshold)) ||
                !put(path, sec, "FR1", real_text(e.fr1)) || !put(path, sec, "FR2", real_text(e.fr2)) ||
                !put(path, sec, "ORDER", int_text(e.order)) ||
                !put(path, sec, "SOUND", e.sound ? "1" : "0")) {
                return false;
            }
            continue;
        }
        if (ini::read_section(path, section).empty()) break;
        if (!ini::delete_section(path, section)) {
            error_ = ini::last_error();
            return false;
        }
    }
    return true;
}

bool SettingsWriter::write_all(const std::string& path, const EditorSettings& s,
                               const ConnectionParams& p) {
    return put(path, "ALARM", "MAXDURATION", int_text(s.max_repeats)) &&
           put(path, "ALARM", "SILENCE", int_text(s.pause_seconds)) &&
           put(path, "ALARM", "WAVFILE", s.wav_file) &&
           put(path, "DATABASE", "ODBC", p.data_source) && put(path, "DATABASE", "USER", p.user) &&
           put(path, "DATABASE", "PASSWORD", p.password) && put(path, "DATA", "DIR", p.data_dir) &&
           put(path, "SYSTEM", "THREADS", int_text(s.channel_count)) && write_channels(path, s);
}

bool SettingsWriter::save(const EditorSettings& settings, const ConnectionParams& params) {
    error_.clear();
    const std::string target = resolve_target(settings.settings_path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        error_ = "не является обычным файлом";
        return false;
    }
    // Root may write anywhere, but a file without any write bit was protected on
    // purpose and is refused for every user alike.
    if (exists && ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
        error_ = "файл защищён от записи (" + std::string(std::strerror(EACCES)) + ")";
        return false;
    }
    std::string temp = target + ".XXXXXX";
    const int out = ::mkstemp(temp.data());
    if (out < 0) {
        error_ = "не удалось создать файл рядом с ним: " + std::string(std::strerror(errno));
        return false;
    }
    bool ok = true;
    if (exists) {
        const int in = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
        ok = in >= 0 && copy_bytes(in, out);
        if (in >= 0) ::close(in);
        if (!ok) error_ = "не удалось прочитать файл: " + std::string(std::strerror(errno));
    }
    ::close(out);
    ok = ok && write_all(temp, settings, params);
    const mode_t mode = exists ? (st.st_mode & 07777) : 0600;
    // Saved by another user (root), the file still belongs to its owner; when that is
    // not allowed the file becomes the saver's, which is no reason to fail the save.
    if (ok && exists && ::chown(temp.c_str(), st.st_uid, st.st_gid) != 0) errno = 0;
    if (ok && ::chmod(temp.c_str(), mode) != 0) {
        ok = false;
        error_ = std::strerror(errno);
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error_ = "не удалось заменить файл: " + std::string(std::strerror(errno));
    }
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace zelvik::editor
