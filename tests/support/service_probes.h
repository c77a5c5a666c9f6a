// The two listeners of a service's health, real on both ends: a datagram socket named
// in NOTIFY_SOCKET that takes what a program tells systemd, and the node exporter
// (Debian prometheus-node-exporter) reading a textfile directory, scraped over HTTP.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelvik::test {

// Binds a datagram socket in a temp dir and points NOTIFY_SOCKET (and WATCHDOG_USEC
// when `watchdog_usec` > 0, WATCHDOG_PID unset) at it; the destructor unsets them. A
// thread of its own drains the socket at once, as systemd does (a full socket would
// block the sender).
class NotifySocket {
public:
    explicit NotifySocket(long long watchdog_usec = 0);
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool ok() const { return fd_ >= 0; }
    // Waits `wait`, then takes every line received so far (each datagram split into
    // its lines).
    std::vector<std::string> receive(std::chrono::milliseconds wait);
    // Waits up to `wait` for a line equal to `line` (or starting with it when it ends
    // in '='), taking the lines up to it; returns the matching line or "" when none came.
    std::string wait_for(const std::string& line, std::chrono::milliseconds wait);

private:
    void drain() noexcept;

    std::string dir_, path_;
    int fd_ = -1;
    std::mutex mutex_;                // guards lines_ and stop_
    std::vector<std::string> lines_;  // received, not yet taken
    bool stop_ = false;
    std::thread reader_;
};

// prometheus-node-exporter on a free loopback port with only the textfile collector,
// over `directory`. Killed by the destructor.
class NodeExporter {
public:
    explicit NodeExporter(const std::string& directory);
    ~NodeExporter();
    NodeExporter(const NodeExporter&) = delete;
    NodeExporter& operator=(const NodeExporter&) = delete;

    // False when the program is missing or did not answer within 10 s; why() says.
    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }
    // GET /metrics: the body, or "" on failure.
    std::string scrape() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool ok_ = false;
    std::string why_;
};

// The value of the first sample of the exposition `text` whose line starts with
// `series` (name and labels as written, e.g. `zelvik_store_up` or
// `zelvik_channel_state{station="A",channel="B",location="",state="running"}`), or NaN.
double sample_value(const std::string& text, const std::string& series);

}  // namespace zelvik::test
