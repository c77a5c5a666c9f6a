// The binary is built by the script beside the tarball, under an exclusive file lock so
// that test processes run side by side build it once.
#include "tests/acquire/ringserver_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace zelvik::test {
namespace {

std::string g_binary;  // built once per test process

bool accepts(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

uint16_t free_loopback_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool RingserverProcess::available(std::string& why) {
    if (!g_binary.empty()) return true;
    const std::string script = std::string(ZELVIK_SHARED_DIR) + "/seedlink-server/build.sh";
    if (::access(script.c_str(), R_OK) != 0) {
        why = "no SeedLink server to test against: " + script + " is absent";
        return false;
    }
    const std::string out = ZELVIK_RINGSERVER_BUILD_DIR;
    ::mkdir(out.c_str(), 0755);
    const int lock = ::open((out + "/build.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    ::flock(lock, LOCK_EX);
    FILE* p = ::popen(("bash '" + script + "' '" + out + "' 2>&1").c_str(), "r");
    std::string text;
    char line[512];
    while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) text = line;
    const int status = p != nullptr ? ::pclose(p) : -1;
    ::close(lock);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (status != 0 || ::access(text.c_str(), X_OK) != 0) {
        why = "ringserver did not build: " + text;
        return false;
    }
    g_binary = text;
    return true;
}

RingserverProcess::RingserverProcess(std::string dir) : dir_(std::move(dir)) {
    ::mkdir((dir_ + "/ring").c_str(), 0755);
    ::mkdir(scan_dir().c_str(), 0755);
}

bool RingserverProcess::start(uint16_t port) {
    std::string why;
    if (!available(why)) return false;
    port_ = port != 0 ? port : free_loopback_port();
    const std::string port_text = std::to_string(port_);
    pid_ = ::fork();
    if (pid_ == 0) {
        if (::chdir(dir_.c_str()) != 0) _exit(127);
        const int log = ::open("server.log", O_CREAT | O_WRONLY | O_APPEND, 0644);
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::execl(g_binary.c_str(), g_binary.c_str(), "-Rd", "ring", "-Rs", "16000000", "-Rp", "4096",
                "-L", port_text.c_str(), "-MSSCAN", "scan/ StateFile=scan.state InitCurrentState=n",
                static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
        if (accepts(port_)) return true;
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop();
    return false;
}

void RingserverProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string RingserverProcess::log_text() const {
    std::ifstream in(dir_ + "/server.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace zelvik::test
