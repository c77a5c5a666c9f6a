// A real SeedLink server for the tests: ringserver, built once from ../shared into the
// build directory, serving the miniSEED files copied into its scan folder on a free
// loopback port. Absent ../shared, available() is false and says why.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace zelvik::test {

class RingserverProcess {
public:
    // `dir` holds the ring, the scan folder and the server's log; it must outlive this.
    explicit RingserverProcess(std::string dir);
    ~RingserverProcess() { stop(); }
    RingserverProcess(const RingserverProcess&) = delete;
    RingserverProcess& operator=(const RingserverProcess&) = delete;

    // Builds (or finds) the binary; false with `why` when it cannot be had.
    static bool available(std::string& why);
    // Starts on `port` (0: a free one) and waits up to 10 s until it accepts connections.
    [[nodiscard]] bool start(uint16_t port = 0);
    // SIGTERM, then SIGKILL after 5 s; the ring is kept in dir() for a restart.
    void stop();

    uint16_t port() const { return port_; }
    std::string scan_dir() const { return dir_ + "/scan"; }
    std::string log_text() const;

private:
    std::string dir_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

// A port nobody listens on right now.
uint16_t free_loopback_port();

}  // namespace zelvik::test
