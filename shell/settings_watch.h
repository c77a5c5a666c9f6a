// Notices that the settings file changed: inotify on its directory (so that a file
// replaced by a rename, as the editor saves it, is seen as well as one written in
// place) and SIGHUP (`systemctl reload`). Events are gathered until the file has been
// quiet for kQuiet, so a burst of writes is read once, at its end.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace zelvik::shell {

// Owns one descriptor; -1 = none. Closed once, never retried on EINTR.
class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    ~OwnedFd();
    OwnedFd(OwnedFd&& o) noexcept : fd_(o.release()) {}
    OwnedFd& operator=(OwnedFd&& o) noexcept;
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

class SettingsWatch {
public:
    static constexpr std::chrono::milliseconds kQuiet{100};

    // Called on the watch thread, once per burst; `hangup` when SIGHUP asked for it.
    // Must not throw.
    using Notice = std::function<void(bool hangup)>;

    // `path`: the settings file. SIGHUP is taken only when the thread that creates the
    // watch (and so every thread) has it blocked, as SignalWatcher does; otherwise only
    // the file is watched.
    SettingsWatch(std::string path, Notice notice);
    ~SettingsWatch();  // stop()
    SettingsWatch(const SettingsWatch&) = delete;
    SettingsWatch& operator=(const SettingsWatch&) = delete;

    // Starts the watch thread. False (logged) when the directory cannot be watched.
    [[nodiscard]] bool start();
    // Ends and joins the thread; a burst not yet quiet is dropped. Idempotent.
    void stop();

private:
    void body() noexcept;
    bool file_event();  // drains inotify; true when an event named the file
    void take_hangups();

    const std::string dir_, name_;
    const Notice notice_;
    OwnedFd inotify_, hangup_, wake_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace zelvik::shell
