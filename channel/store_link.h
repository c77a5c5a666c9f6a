// The reconnect protocol around the one waveform-store connection, shared by detector
// setup, the worker and the event store. An outage is logged when it begins and when
// it ends, not at every retry, so a store that stays away cannot flood the log.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace zelvik::db {
class WaveStore;
}

namespace zelvik::detect {

class StopSignal;

class StoreLink {
public:
    // Neither `store` nor `stop` is owned; both must outlive the link.
    StoreLink(db::WaveStore& store, StopSignal& stop);

    // Checks the connection; when it is lost, waits `pause_ms` (woken by a stop), then
    // connects again. `log_before_wait` gives the event store's order of the two steps.
    // Logs "Connection lost. ODBC: %s" and "Couldn't connect to database. ODBC: %s" on
    // the first failure of an outage and "Connection restored. ODBC: %s" at its end.
    // Any thread, though the engine calls it from one thread at a time.
    // @retval true the store answers.
    [[nodiscard]] bool ensure_connected(bool log_before_wait = false, int pause_ms = 2000);

    // Records that an operation found the connection gone (the next check reconnects).
    void mark_lost() { lost_.store(true); }

    // True between the first failed reconnect of an outage and the next success.
    bool down() const { return down_.load(); }

    // Number of outages that have ended so far; a channel refused for want of data in
    // the store is tried again once this has moved on.
    uint64_t outages_ended() const { return outages_ended_.load(); }

    db::WaveStore& store() { return store_; }

private:
    db::WaveStore& store_;
    StopSignal& stop_;
    std::atomic<bool> lost_{false};  // an operation saw -100 since the last check
    std::atomic<bool> down_{false};  // the outage has been logged
    std::atomic<uint64_t> outages_ended_{0};
};

}  // namespace zelvik::detect
