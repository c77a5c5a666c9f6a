// Process and socket plumbing for the health tests; every wait is bounded.
#include "tests/support/service_probes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

#include "tests/support/smtp_test_servers.h"

extern char** environ;

namespace zelvik::test {

NotifySocket::NotifySocket(long long watchdog_usec) {
    char pattern[] = "/tmp/zelvik-notify-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    path_ = dir_ + "/notify";
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ >= 0) reader_ = std::thread([this] { drain(); });
    ::setenv("NOTIFY_SOCKET", path_.c_str(), 1);
    ::unsetenv("WATCHDOG_PID");
    if (watchdog_usec > 0)
        ::setenv("WATCHDOG_USEC", std::to_string(watchdog_usec).c_str(), 1);
    else
        ::unsetenv("WATCHDOG_USEC");
}

NotifySocket::~NotifySocket() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    if (reader_.joinable()) reader_.join();
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    if (fd_ >= 0) ::close(fd_);
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

void NotifySocket::drain() noexcept {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) continue;
        const std::string text(buf, static_cast<size_t>(n));
        std::lock_guard<std::mutex> lock(mutex_);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lines_.push_back(text.substr(start, end - start));
            start = end + 1;
        }
    }
}

std::vector<std::string> NotifySocket::receive(std::chrono::milliseconds wait) {
    std::this_thread::sleep_for(wait);
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(lines_, {});
}

std::string NotifySocket::wait_for(const std::string& line, std::chrono::milliseconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    const bool prefix = !line.empty() && line.back() == '=';
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (size_t i = 0; i < lines_.size(); ++i) {
                const std::string got = lines_[i];
                if (got == line || (prefix && got.rfind(line, 0) == 0)) {
                    lines_.erase(lines_.begin(), lines_.begin() + static_cast<long>(i) + 1);
                    return got;
                }
            }
            lines_.clear();
        }
        if (std::chrono::steady_clock::now() >= until) return "";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

namespace {

std::string http_get(int port, const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string response;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buf[65536];
            ssize_t n;
            while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
                response.append(buf, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    const size_t body = response.find("\r\n\r\n");
    if (response.rfind("HTTP/1.", 0) != 0 || response.find(" 200 ") == std::string::npos ||
        body == std::string::npos)
        return "";
    return response.substr(body + 4);
}

}  // namespace

NodeExporter::NodeExporter(const std::string& directory) {
    const char* program = "/usr/bin/prometheus-node-exporter";
    if (::access(program, X_OK) != 0) {
        why_ = std::string(program) + " is missing (Debian prometheus-node-exporter)";
        return;
    }
    port_ = testing::unused_loopback_port();
    const std::vector<std::string> args = {
        program,
        "--web.listen-address=127.0.0.1:" + std::to_string(port_),
        "--collector.disable-defaults",
        "--collector.textfile",
        "--collector.textfile.directory=" + directory,
        "--log.level=error"};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program, nullptr, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        why_ = "the node exporter could not be started";
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        if (!scrape().empty()) {
            ok_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why_ = "the node exporter did not answer on port " + std::to_string(port_);
}

NodeExporter::~NodeExporter() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string NodeExporter::scrape() const {
    return http_get(port_, "/metrics");
}

double sample_value(const std::string& text, const std::string& series) {
    size_t at = 0;
    while ((at = text.find(series, at)) != std::string::npos) {
        const bool line_start = at == 0 || text[at - 1] == '\n';
        const size_t after = at + series.size();
        if (line_start && after < text.size() && text[after] == ' ')
            return std::strtod(text.c_str() + after + 1, nullptr);
        at = after;
    }
    return std::nan("");
}

}  // namespace zelvik::test
