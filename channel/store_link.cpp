// Reconnect protocol: probe, pause, log, connect. The pause is a stop-aware wait so a
// shutdown during an outage is not held up by it.
#include "channel/store_link.h"

#include <chrono>

#include "channel/stop_signal.h"
#include "common/log.h"
#include "db/wave_store.h"

namespace zelvik::detect {

StoreLink::StoreLink(db::WaveStore& store, StopSignal& stop) : store_(store), stop_(stop) {}

bool StoreLink::ensure_connected(bool log_before_wait, int pause_ms) {
    const std::string dsn = store_.data_source_name();
    if (!lost_.exchange(false) && store_.is_alive()) {
        if (down_.exchange(false)) {
            outages_ended_.fetch_add(1);
            common::log_printf("Connection restored. ODBC: %s", dsn.c_str());
        }
        return true;
    }
    // Only the first failure of an outage is logged; later retries stay quiet until
    // the store answers again.
    const bool first = !down_.load();
    if (first && log_before_wait) common::log_printf("Connection lost. ODBC: %s", dsn.c_str());
    if (pause_ms > 0 && stop_.wait_for(std::chrono::milliseconds(pause_ms))) return false;
    if (first && !log_before_wait) common::log_printf("Connection lost. ODBC: %s", dsn.c_str());
    if (store_.connect()) {
        // "Connection lost" was written for this outage (above, or at its first failed
        // attempt), so its end is written too, even when this first attempt succeeded.
        outages_ended_.fetch_add(1);
        down_.store(false);
        common::log_printf("Connection restored. ODBC: %s", dsn.c_str());
        return true;
    }
    if (first) common::log_printf("Couldn't connect to database. ODBC: %s", dsn.c_str());
    down_.store(true);
    return false;
}

}  // namespace zelvik::detect
