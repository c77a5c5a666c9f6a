// Non-blocking sockets driven by poll(): connect, send and receive all wait at most
// kSliceMs at a time, so both the caller's timeout and its stop flag are honoured.
#include "acquire/tcp_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace zelvik::acquire {
namespace {

constexpr int kSliceMs = 100;

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t deadline_after(double seconds) {
    return now_ms() + static_cast<int64_t>(seconds * 1000.0);
}

}  // namespace

const char* to_string(IoStatus status) {
    switch (status) {
        case kIoOk:
            return "ok";
        case kIoTimeout:
            return "timed out";
        case kIoClosed:
            return "connection closed by the server";
        case kIoError:
            return "network error";
        case kIoStopped:
            return "stopped";
        case kIoLineTooLong:
            return "line too long";
    }
    return "unknown";
}

TcpConnection::TcpConnection(TcpConnection&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      stop_(other.stop_),
      pending_(std::move(other.pending_)),
      error_(std::move(other.error_)) {}

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        stop_ = other.stop_;
        pending_ = std::move(other.pending_);
        error_ = std::move(other.error_);
    }
    return *this;
}

void TcpConnection::close() {
    // Don't retry close on EINTR: the descriptor is released either way on Linux.
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_.clear();
}

int TcpConnection::fail(int status, std::string text) {
    error_ = std::move(text);
    return status;
}

int TcpConnection::wait_for(short events, int64_t deadline_ms) {
    for (;;) {
        if (stop_ != nullptr && stop_->load()) return fail(kIoStopped, "stop requested");
        const int64_t left = deadline_ms - now_ms();
        if (left <= 0) return fail(kIoTimeout, "no answer in time");
        pollfd p{fd_, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left < kSliceMs ? left : kSliceMs));
        if (r < 0 && errno != EINTR)
            return fail(kIoError, std::string("poll: ") + std::strerror(errno));
        if (r > 0) return kIoOk;  // errors and hang-ups show in the next call
    }
}

int TcpConnection::connect(const std::string& host, uint16_t port, double timeout_s) {
    close();
    const int64_t deadline = deadline_after(timeout_s);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int r = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); r != 0)
        return fail(kIoError, "cannot resolve " + host + ": " + ::gai_strerror(r));
    int status = fail(kIoError, "no address for " + host);
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        fd_ = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd_ < 0) {
            status = fail(kIoError, std::string("socket: ") + std::strerror(errno));
            continue;
        }
        if (::connect(fd_, a->ai_addr, a->ai_addrlen) == 0) {
            status = kIoOk;
        } else if (errno != EINPROGRESS) {
            status =
                fail(kIoError, "connect to " + host + ":" + service + ": " + std::strerror(errno));
        } else if ((status = wait_for(POLLOUT, deadline)) == kIoOk) {
            int so_error = 0;
            socklen_t len = sizeof so_error;
            ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &so_error, &len);
            if (so_error != 0)
                status = fail(kIoError, "connect to " + host + ":" + service + ": " +
                                            std::strerror(so_error));
        }
        if (status == kIoOk || status == kIoStopped) break;
        close();
    }
    ::freeaddrinfo(found);
    if (status != kIoOk) close();
    return status;
}

int TcpConnection::send_all(std::string_view bytes, double timeout_s) {
    if (fd_ < 0) return fail(kIoError, "not connected");
    const int64_t deadline = deadline_after(timeout_s);
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (const int r = wait_for(POLLOUT, deadline); r != kIoOk) return r;
        } else if (n < 0 && errno != EINTR) {
            return fail(errno == EPIPE || errno == ECONNRESET ? kIoClosed : kIoError,
                        std::string("send: ") + std::strerror(errno));
        }
    }
    return kIoOk;
}

int TcpConnection::fill(int64_t deadline_ms) {
    if (fd_ < 0) return fail(kIoError, "not connected");
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            pending_.append(buffer, static_cast<size_t>(n));
            return kIoOk;
        }
        if (n == 0) return fail(kIoClosed, "the server closed the connection");
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const int r = wait_for(POLLIN, deadline_ms); r != kIoOk) return r;
        } else if (errno != EINTR) {
            return fail(errno == ECONNRESET ? kIoClosed : kIoError,
                        std::string("recv: ") + std::strerror(errno));
        }
    }
}

int TcpConnection::read_exact(size_t n, std::string& out, double timeout_s) {
    const int64_t deadline = deadline_after(timeout_s);
    while (pending_.size() < n)
        if (const int r = fill(deadline); r != kIoOk) return r;
    out.assign(pending_, 0, n);
    pending_.erase(0, n);
    return kIoOk;
}

int TcpConnection::read_line(std::string& line, size_t max_length, double timeout_s) {
    const int64_t deadline = deadline_after(timeout_s);
    size_t searched = 0;
    for (;;) {
        const size_t end = pending_.find('\n', searched);
        if (end != std::string::npos && end <= max_length) {
            line.assign(pending_, 0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            pending_.erase(0, end + 1);
            return kIoOk;
        }
        if (pending_.size() > max_length)
            return fail(kIoLineTooLong,
                        "no line end within " + std::to_string(max_length) + " bytes");
        searched = pending_.size();
        if (const int r = fill(deadline); r != kIoOk) return r;
    }
}

int TcpConnection::wait_readable(double timeout_s) {
    if (!pending_.empty()) return kIoOk;
    if (fd_ < 0) return fail(kIoError, "not connected");
    return wait_for(POLLIN, deadline_after(timeout_s));
}

}  // namespace zelvik::acquire
