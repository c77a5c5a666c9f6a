// The watch thread polls three descriptors: inotify, a signalfd for SIGHUP and an
// eventfd that stop() writes. The quiet period is the poll timeout once a burst began.
#include "shell/settings_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <utility>

#include "common/log.h"

namespace zelvik::shell {

OwnedFd::~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
}

OwnedFd& OwnedFd::operator=(OwnedFd&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.release();
    }
    return *this;
}

namespace {

std::string parent_of(const std::string& path) {
    const std::filesystem::path p = std::filesystem::absolute(path).parent_path();
    return p.empty() ? std::string(".") : p.string();
}

}  // namespace

SettingsWatch::SettingsWatch(std::string path, Notice notice)
    : dir_(parent_of(path)),
      name_(std::filesystem::path(path).filename().string()),
      notice_(std::move(notice)) {}

SettingsWatch::~SettingsWatch() {
    stop();
}

bool SettingsWatch::start() {
    if (thread_.joinable()) return false;
    inotify_ = OwnedFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    // IN_MOVED_TO: the editor's replace by rename; IN_CLOSE_WRITE and IN_MODIFY: a file
    // written in place (each write restarts the quiet period).
    const uint32_t mask = IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_CREATE;
    if (inotify_.get() < 0 || inotify_add_watch(inotify_.get(), dir_.c_str(), mask) < 0) {
        common::log_printf("Settings changes are not watched: cannot watch %s: %s", dir_.c_str(),
                           std::strerror(errno));
        return false;
    }
    sigset_t current;
    pthread_sigmask(SIG_BLOCK, nullptr, &current);
    if (sigismember(&current, SIGHUP) == 1) {
        sigset_t hup;
        sigemptyset(&hup);
        sigaddset(&hup, SIGHUP);
        hangup_ = OwnedFd(signalfd(-1, &hup, SFD_NONBLOCK | SFD_CLOEXEC));
    }
    wake_ = OwnedFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    stopping_.store(false);
    thread_ = std::thread([this] { body(); });
    return true;
}

void SettingsWatch::stop() {
    if (!thread_.joinable()) return;
    stopping_.store(true);
    const uint64_t one = 1;
    (void)!::write(wake_.get(), &one, sizeof one);
    thread_.join();
}

bool SettingsWatch::file_event() {
    bool named = false;
    alignas(inotify_event) std::array<char, 4096> buf;
    for (;;) {
        const ssize_t n = ::read(inotify_.get(), buf.data(), buf.size());
        if (n <= 0) return named;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf.data() + at);
            if (e->len > 0 && name_ == e->name) named = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
}

void SettingsWatch::take_hangups() {
    signalfd_siginfo info;
    while (::read(hangup_.get(), &info, sizeof info) == sizeof info) {
    }
}

void SettingsWatch::body() noexcept {
    try {
        bool burst = false, asked = false;
        while (!stopping_.load()) {
            std::array<pollfd, 3> fds{{{inotify_.get(), POLLIN, 0},
                                       {hangup_.get(), POLLIN, 0},
                                       {wake_.get(), POLLIN, 0}}};
            const int timeout = burst ? static_cast<int>(kQuiet.count()) : -1;
            const int ready = ::poll(fds.data(), fds.size(), timeout);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) {
                common::log_printf("Settings watch stopped: %s", std::strerror(errno));
                return;
            }
            if (stopping_.load()) break;
            if (ready == 0) {
                // Quiet for kQuiet since the last event: the burst is over.
                burst = false;
                notice_(std::exchange(asked, false));
                continue;
            }
            if ((fds[0].revents & POLLIN) != 0 && file_event()) burst = true;
            if ((fds[1].revents & POLLIN) != 0) {
                take_hangups();
                burst = asked = true;
            }
        }
    } catch (const std::exception& e) {
        common::log_printf("Settings watch stopped by an error: %s", e.what());
    } catch (...) {
        common::log_write("Settings watch stopped by an unknown error");
    }
}

}  // namespace zelvik::shell
