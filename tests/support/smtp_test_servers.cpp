// Test SMTP servers: the aiosmtpd child process is started with pipes for its port
// line and its lifetime; the scripted server answers one connection in its own thread,
// polling in short slices so that destruction never waits on a blocked read.
#include "tests/support/smtp_test_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace zelvik::testing {
namespace {

constexpr int kSliceMs = 20;

int listen_loopback6(int& port) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    socklen_t len = sizeof addr;
    if (fd == -1 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 4) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd != -1) ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin6_port);
    return fd;
}

int listen_loopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd == -1 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 4) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd != -1) ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

bool send_text(int fd, const std::string& text) {
    return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

}  // namespace

int unused_loopback_port() {
    int port = 0;
    const int fd = listen_loopback(port);
    if (fd != -1) ::close(fd);
    return port;
}

SmtpSinkProcess::SmtpSinkProcess(std::string out_dir, std::vector<std::string> options,
                                 const char* script)
    : out_dir_(std::move(out_dir)) {
    int to_child[2];
    int from_child[2];
    if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(to_child[0], 0);
        ::dup2(from_child[1], 1);
        std::vector<const char*> argv = {ZELVIK_SYSTEM_PYTHON,
                                         script != nullptr ? script : ZELVIK_SMTP_SINK_SCRIPT,
                                         out_dir_.c_str()};
        for (const std::string& o : options) argv.push_back(o.c_str());
        argv.push_back(nullptr);
        ::execv(argv[0], const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    stdin_fd_ = to_child[1];
    // The sink prints "PORT n" once it listens; a failed start closes the pipe.
    std::string line;
    pollfd pfd{from_child[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&pfd, 1, 10000) > 0) {
        char buffer[128];
        const ssize_t n = ::read(from_child[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<size_t>(n));
    }
    ::close(from_child[0]);
    if (line.rfind("PORT ", 0) == 0) {
        port_ = std::stoi(line.substr(5));
    } else {
        error_ = "sink script did not start: \"" + line + "\"";
    }
}

SmtpSinkProcess::~SmtpSinkProcess() {
    if (stdin_fd_ != -1) ::close(stdin_fd_);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::vector<SmtpSinkProcess::Mail> SmtpSinkProcess::mails() const {
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(out_dir_)) {
        if (entry.path().extension() == ".eml") names.push_back(entry.path());
    }
    std::sort(names.begin(), names.end());
    std::vector<Mail> result;
    for (const auto& name : names) {
        std::filesystem::path env = name;
        env.replace_extension(".env");
        result.push_back({test::read_file(env.string()), test::read_file(name.string())});
    }
    return result;
}

size_t SmtpSinkProcess::wait_for_mails(size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const size_t have = mails().size();
        if (have >= count || std::chrono::steady_clock::now() >= deadline) return have;
        ::poll(nullptr, 0, kSliceMs);
    }
}

WebhookSinkProcess::WebhookSinkProcess(std::string out_dir, int fail_first)
    : out_dir_(out_dir),
      process_(std::move(out_dir), {"--fail", std::to_string(fail_first)},
               ZELVIK_WEBHOOK_SINK_SCRIPT) {}

std::vector<std::string> WebhookSinkProcess::posts() const {
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(out_dir_)) {
        if (entry.path().extension() == ".json") names.push_back(entry.path());
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> result;
    for (const auto& name : names) result.push_back(test::read_file(name.string()));
    return result;
}

size_t WebhookSinkProcess::wait_for_posts(size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const size_t have = posts().size();
        if (have >= count || std::chrono::steady_clock::now() >= deadline) return have;
        ::poll(nullptr, 0, kSliceMs);
    }
}

bool make_test_certificate(const std::string& dir, const std::string& san, std::string& cert,
                           std::string& key) {
    cert = dir + "/cert.pem";
    key = dir + "/key.pem";
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout '" +
                                key + "' -out '" + cert +
                                "' -subj /CN=zelvik-test -addext "
                                "'subjectAltName=" +
                                san + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

ScriptedSmtpServer::ScriptedSmtpServer(Behaviour behaviour, std::string greeting, ReplyFn reply,
                                       bool ipv6)
    : behaviour_(behaviour), greeting_(std::move(greeting)), reply_(std::move(reply)) {
    listen_fd_ = ipv6 ? listen_loopback6(port_) : listen_loopback(port_);
    if (listen_fd_ != -1) thread_ = std::thread([this] { run(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ != -1) ::close(listen_fd_);
}

bool ScriptedSmtpServer::wait_until_done(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_cv_.wait_for(lock, timeout, [this] { return done_; });
}

std::string ScriptedSmtpServer::transcript() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return transcript_;
}

bool ScriptedSmtpServer::client_spoke_first() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return spoke_first_;
}

// Appends what arrives within one slice; false when the client closed or stop_.
bool ScriptedSmtpServer::read_more(int fd, std::string& buffer) {
    while (!stop_) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, kSliceMs) <= 0) continue;
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(n));
        std::lock_guard<std::mutex> lock(mutex_);
        transcript_.append(chunk, static_cast<size_t>(n));
        return true;
    }
    return false;
}

void ScriptedSmtpServer::converse(int fd) {
    std::string buffer;
    if (behaviour_ == Behaviour::kNeverAnswer) {
        while (read_more(fd, buffer)) {
        }
        return;
    }
    // A well-behaved client says nothing until it has the greeting.
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, 100) > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        spoke_first_ = true;
    }
    if (!send_text(fd, greeting_)) return;
    bool in_data = false;
    for (;;) {
        const size_t end = in_data ? buffer.find("\r\n.\r\n") : buffer.find("\r\n");
        if (end == std::string::npos) {
            if (!read_more(fd, buffer)) return;
            continue;
        }
        const std::string command = in_data ? std::string("<end of data>") : buffer.substr(0, end);
        buffer.erase(0, end + (in_data ? 5 : 2));
        const std::string reply = reply_(command);
        in_data = !in_data && command.rfind("DATA", 0) == 0 && reply.rfind("3", 0) == 0;
        if (!send_text(fd, reply) || command == "QUIT") return;
    }
}

void ScriptedSmtpServer::run() {
    int fd = -1;
    while (!stop_ && fd == -1) {
        pollfd pfd{listen_fd_, POLLIN, 0};
        if (::poll(&pfd, 1, kSliceMs) > 0)
            fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    if (fd != -1) {
        if (behaviour_ != Behaviour::kCloseAtOnce) converse(fd);
        ::close(fd);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    done_cv_.notify_all();
}

}  // namespace zelvik::testing
