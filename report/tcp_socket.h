// A move-only TCP socket (IPv4 or IPv6) whose every wait is bounded by a timeout and can be
// cut short by a cancel flag, so that neither a silent peer nor shutdown can hang
// the thread that uses it. -1 means closed; close() is never retried on EINTR.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

namespace zelvik::report {

// Outcome of one socket operation.
enum class IoStatus : int {
    kOk = 0,
    kClosed = -1,     // the peer closed the connection
    kTimeout = -2,    // nothing happened within the timeout
    kCancelled = -3,  // the cancel flag was raised while waiting
    kError = -4,      // a system call failed; last_error() says which
};

const char* to_string(IoStatus status);

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket() { close(); }
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // `cancel`, when given, must outlive the socket; a raised flag ends any wait
    // within about 50 ms with kCancelled.
    void set_cancel_flag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

    // Resolves `host` to IPv4 and IPv6 addresses and connects to the first one that accepts
    // within `timeout` each. Closes a previous connection first.
    [[nodiscard]] IoStatus connect(const std::string& host, int port,
                                   std::chrono::milliseconds timeout);

    // Sends every byte of `data`; each wait for buffer space is bounded by `timeout`.
    // Never raises SIGPIPE.
    [[nodiscard]] IoStatus send_all(std::string_view data, std::chrono::milliseconds timeout);

    // Appends what one receive brings (at most `max_bytes`) to `out`; waits at most
    // `timeout` for the first byte.
    [[nodiscard]] IoStatus receive_some(std::string& out, size_t max_bytes,
                                        std::chrono::milliseconds timeout);

    bool is_open() const { return fd_ != -1; }
    void close() noexcept;

    // Text of the last failure, e.g. "[connect] Connection refused".
    const std::string& last_error() const { return last_error_; }

private:
    IoStatus wait_for(short events, std::chrono::milliseconds timeout, const char* operation);
    IoStatus fail(const char* operation, const std::string& message);

    int fd_ = -1;
    const std::atomic<bool>* cancel_ = nullptr;  // not owned
    std::string last_error_;
};

}  // namespace zelvik::report
