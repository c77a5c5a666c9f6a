// The Store steps of a measurement. Errors of a live connection are logged and the row
// is given up (retrying a statement the database refuses would block every later row);
// only a connection that is gone keeps the row for later.
#include "detect/event_store_sink.h"

#include "common/civil_time.h"
#include "db/wave_store.h"
#include "detect/store_link.h"
#include "report/log.h"

namespace zelvik::detect {

EventStoreSink::EventStoreSink(StoreLink& link, int storage_days, int reconnect_pause_ms)
    : link_(link), storage_days_(storage_days), pause_ms_(reconnect_pause_ms) {}

size_t EventStoreSink::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

void EventStoreSink::store(const Measurement& m) {
    Row row{m.station, m.station + "." + m.channel + "." + m.location, m.onset, m.amplitude_um,
            m.period};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(std::move(row));
        if (pending_.size() > kMaxPending) {
            const Row& old = pending_.front();
            report::log_printf("Event of %s at %s dropped: %zu rows wait for the store already",
                               old.station.c_str(), common::utc_text(old.onset).c_str(),
                               kMaxPending);
            pending_.pop_front();
        }
    }
    const size_t left = flush();
    if (left > 0) {
        report::log_printf("Event of %s at %s kept until the store answers (%zu waiting)",
                           m.station.c_str(), common::utc_text(m.onset).c_str(), left);
    }
}

long EventStoreSink::rows_stored(const std::string& channel_name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = stored_.find(channel_name);
    return it == stored_.end() ? 0 : it->second;
}

size_t EventStoreSink::flush() {
    for (;;) {
        Row row;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (pending_.empty()) return 0;
            row = pending_.front();
        }
        if (store_row(row) == Outcome::kUnreachable) return pending();
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.pop_front();
    }
}

EventStoreSink::Outcome EventStoreSink::store_row(const Row& row) {
    if (!link_.ensure_connected(true, pause_ms_)) return Outcome::kUnreachable;
    db::WaveStore& store = link_.store();
    if (storage_days_ > 0 && !store.delete_data(row.onset - storage_days_ * 86400.0)) {
        report::log_write(store.event_last_error());
    }
    const int exists = store.is_exist(row.station, row.onset);
    if (exists > 0) return Outcome::kDone;
    if (exists == 0 && store.insert_data(row.station, row.onset, row.amplitude, row.period)) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++stored_[row.channel_name];
        return Outcome::kDone;
    }
    // A failure because the connection went away keeps the row; the existence test
    // makes a second attempt harmless if the first one did reach the table.
    const std::string error = store.event_last_error();
    if (!store.is_alive()) {
        link_.mark_lost();
        return Outcome::kUnreachable;
    }
    report::log_write(error);
    return Outcome::kDone;
}

}  // namespace zelvik::detect
