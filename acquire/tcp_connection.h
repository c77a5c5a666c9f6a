// One TCP connection to a server, owned by one thread. Every call that may block waits
// in short slices and looks at the stop flag between them, so a stop request ends any
// wait within a slice; no wait is longer than the timeout it is given.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelvik::acquire {

enum IoStatus : int {
    kIoOk = 0,
    kIoTimeout = -1,      // nothing (or not enough) arrived in time
    kIoClosed = -2,       // the far end closed the connection
    kIoError = -3,        // a system call failed; last_error() says which
    kIoStopped = -4,      // the stop flag was raised
    kIoLineTooLong = -5,  // no line end within the bound given to read_line()
};
const char* to_string(IoStatus status);

class TcpConnection {
public:
    // `stop` (may be null) must outlive the connection; raising it ends waits.
    explicit TcpConnection(const std::atomic<bool>* stop = nullptr) : stop_(stop) {}
    ~TcpConnection() { close(); }
    TcpConnection(TcpConnection&& other) noexcept;
    TcpConnection& operator=(TcpConnection&& other) noexcept;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Resolves `host` and connects without blocking, trying each address in turn within
    // `timeout_s` in all. @retval kIoOk, kIoTimeout, kIoError, kIoStopped.
    [[nodiscard]] int connect(const std::string& host, uint16_t port, double timeout_s);
    // Sends all of `bytes` within `timeout_s`. @retval kIoOk or a failure status.
    [[nodiscard]] int send_all(std::string_view bytes, double timeout_s);
    // Reads exactly `n` bytes into `out` (replaced) within `timeout_s`.
    [[nodiscard]] int read_exact(size_t n, std::string& out, double timeout_s);
    // Reads one line ending in LF (a CR before it is dropped) within `timeout_s`; more
    // than `max_length` bytes without a line end gives kIoLineTooLong.
    [[nodiscard]] int read_line(std::string& line, size_t max_length, double timeout_s);
    // kIoOk once a byte can be read without waiting, kIoTimeout after `timeout_s`.
    [[nodiscard]] int wait_readable(double timeout_s);
    // Closes the socket; safe to call twice. close() is not retried on EINTR.
    void close();

    bool is_open() const { return fd_ >= 0; }
    const std::string& last_error() const { return error_; }

private:
    int fail(int status, std::string text);
    // Waits for `events` on the socket until `deadline_ms` (monotonic milliseconds).
    int wait_for(short events, int64_t deadline_ms);
    // Reads what the socket has into pending_ (waiting until `deadline_ms`).
    int fill(int64_t deadline_ms);

    int fd_ = -1;
    const std::atomic<bool>* stop_ = nullptr;
    std::string pending_;  // bytes received and not yet handed out
    std::string error_;
};

}  // namespace zelvik::acquire
