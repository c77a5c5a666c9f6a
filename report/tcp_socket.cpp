// TcpSocket: non-blocking descriptor, every wait done with poll() in short slices so
// that a timeout or a raised cancel flag ends it. IPv4 or IPv6, resolved by getaddrinfo.
#include "report/tcp_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <algorithm>
#include <utility>

namespace zelvik::report {
namespace {

// Longest single poll(); bounds how late a raised cancel flag is noticed.
constexpr std::chrono::milliseconds kPollSlice{50};

std::string errno_text(int err) {
    char buffer[256];
    // GNU strerror_r returns the text, which need not be in `buffer`.
    return strerror_r(err, buffer, sizeof buffer);
}

bool set_non_blocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags != -1 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) != -1;
}

}  // namespace

const char* to_string(IoStatus status) {
    switch (status) {
        case IoStatus::kOk:
            return "ok";
        case IoStatus::kClosed:
            return "connection closed by the server";
        case IoStatus::kTimeout:
            return "timed out";
        case IoStatus::kCancelled:
            return "cancelled";
        case IoStatus::kError:
            return "system error";
    }
    return "unknown";
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      cancel_(other.cancel_),
      last_error_(std::move(other.last_error_)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        cancel_ = other.cancel_;
        last_error_ = std::move(other.last_error_);
    }
    return *this;
}

void TcpSocket::close() noexcept {
    if (fd_ == -1) return;
    // Don't retry close on EINTR: on Linux the descriptor is released anyway, and a
    // retry could close a descriptor another thread has just been given.
    ::close(fd_);
    fd_ = -1;
}

IoStatus TcpSocket::fail(const char* operation, const std::string& message) {
    last_error_ = std::string("[") + operation + "] " + message;
    return IoStatus::kError;
}

IoStatus TcpSocket::wait_for(short events, std::chrono::milliseconds timeout,
                             const char* operation) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (cancel_ != nullptr && cancel_->load(std::memory_order_acquire)) {
            last_error_ = std::string("[") + operation + "] cancelled";
            return IoStatus::kCancelled;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            last_error_ = std::string("[") + operation + "] timed out after " +
                          std::to_string(timeout.count()) + " ms";
            return IoStatus::kTimeout;
        }
        pollfd pfd{fd_, events, 0};
        const int n = ::poll(&pfd, 1, static_cast<int>(std::min(left, kPollSlice).count()));
        if (n > 0) return IoStatus::kOk;  // ready, or an error the next call will report
        if (n < 0 && errno != EINTR) return fail(operation, errno_text(errno));
    }
}

IoStatus TcpSocket::connect(const std::string& host, int port, std::chrono::milliseconds timeout) {
    close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;  // a name or literal of either family
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) return fail("connect", "cannot resolve \"" + host + "\": " + gai_strerror(rc));

    IoStatus status = IoStatus::kError;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        fd_ = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd_ == -1 || !set_non_blocking(fd_)) {
            status = fail("connect", "cannot create a socket: " + errno_text(errno));
            close();
            continue;
        }
        if (::connect(fd_, a->ai_addr, a->ai_addrlen) == 0) {
            status = IoStatus::kOk;
            break;
        }
        if (errno != EINPROGRESS) {
            status = fail("connect", errno_text(errno));
            close();
            continue;
        }
        status = wait_for(POLLOUT, timeout, "connect");
        if (status == IoStatus::kOk) {
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) break;
            status = fail("connect", errno_text(err != 0 ? err : errno));
        }
        close();
        if (status == IoStatus::kCancelled) break;
    }
    ::freeaddrinfo(found);
    if (status == IoStatus::kOk) last_error_.clear();
    return status;
}

IoStatus TcpSocket::send_all(std::string_view data, std::chrono::milliseconds timeout) {
    if (fd_ == -1) return fail("send", "not connected");
    while (!data.empty()) {
        const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const IoStatus status = wait_for(POLLOUT, timeout, "send");
            if (status != IoStatus::kOk) return status;
            continue;
        }
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) {
            last_error_ = "[send] " + errno_text(errno);
            return IoStatus::kClosed;
        }
        return fail("send", errno_text(errno));
    }
    return IoStatus::kOk;
}

IoStatus TcpSocket::receive_some(std::string& out, size_t max_bytes,
                                 std::chrono::milliseconds timeout) {
    if (fd_ == -1) return fail("receive", "not connected");
    char buffer[4096];
    const size_t want = std::min(max_bytes, sizeof buffer);
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, want, 0);
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
            return IoStatus::kOk;
        }
        if (n == 0) {
            last_error_ = "[receive] connection closed by the server";
            return IoStatus::kClosed;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const IoStatus status = wait_for(POLLIN, timeout, "receive");
            if (status != IoStatus::kOk) return status;
            continue;
        }
        if (errno == ECONNRESET) {
            last_error_ = "[receive] " + errno_text(errno);
            return IoStatus::kClosed;
        }
        return fail("receive", errno_text(errno));
    }
}

}  // namespace zelvik::report
