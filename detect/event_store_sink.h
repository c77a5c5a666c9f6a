// Stores finished measurements as rows of the event list, with the reconnect protocol
// and the STORAGE_TIME purge. A row that cannot be stored because the store is away is
// kept (the newest kMaxPending) and stored, in order, once the store answers again.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "detect/detection_record.h"

namespace zelvik::detect {

class StoreLink;

class EventStoreSink : public MeasurementSink {
public:
    static constexpr size_t kMaxPending = 10000;

    // `link` is not owned and must outlive the sink. storage_days <= 0 never purges.
    EventStoreSink(StoreLink& link, int storage_days, int reconnect_pause_ms = 2000);

    // Worker thread (DetectionRecord::finish). Queues the row behind any that wait and
    // stores what it can; never throws.
    void store(const Measurement& m) override;

    // Stores waiting rows in order while the store answers. Worker thread, or any thread
    // once the worker has ended. Returns the number of rows still waiting.
    size_t flush();

    size_t pending() const;

    // Rows inserted so far for the channel "STA.CHA.LOC" (0 when none). Any thread.
    long rows_stored(const std::string& channel_name) const;

private:
    struct Row {
        std::string station;
        std::string channel_name;  // "STA.CHA.LOC", for the count
        double onset;
        double amplitude;  // micrometres, -1 = not converted
        double period;
    };
    enum class Outcome { kDone, kUnreachable };
    Outcome store_row(const Row& row);

    StoreLink& link_;
    const int storage_days_;
    const int pause_ms_;
    // Guards pending_. Never held across a store operation.
    mutable std::mutex mutex_;
    std::deque<Row> pending_;             // oldest first
    std::map<std::string, long> stored_;  // rows inserted, by channel name
};

}  // namespace zelvik::detect
