// Stores finished measurements as rows of the event list, with the reconnect protocol
// and the STORAGE_TIME purge. During a worker pass rows wait in the queue and are
// written together at the end of the pass, in one transaction; outside a pass each row
// is written at once. A row that cannot be stored because the store is away, or whose
// transaction the store refused to commit, stays queued (the newest kMaxPending) and is
// stored, in order and once, when the store answers again.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "channel/detection_record.h"
#include "common/mutex.h"

namespace zelvik::detect {

class StoreLink;

class EventStoreSink : public MeasurementSink {
public:
    static constexpr size_t kMaxPending = 10000;

    // `link` is not owned and must outlive the sink. storage_days <= 0 never purges; a
    // purge takes rows older than storage_days before the newest onset and before now.
    EventStoreSink(StoreLink& link, int storage_days, int reconnect_pause_ms = 2000);

    // Worker thread (DetectionRecord::finish). Queues the row behind any that wait;
    // outside a pass stores what it can at once. Never throws.
    void store(const Measurement& m) override;

    // Worker thread. Rows of the measurements finished after begin_pass() wait for
    // end_pass(), which stores every waiting row in one transaction and returns the
    // number still waiting (logged when not 0).
    void begin_pass();
    size_t end_pass();

    // Stores waiting rows in order, in one transaction, while the store answers. Worker
    // thread, or any thread once the worker has ended. Returns the number still waiting.
    size_t flush();

    size_t pending() const;

    // Runs after the rows of a transaction were written and before it is committed.
    // For tests that take the store away at that moment; empty by default.
    void set_before_commit(std::function<void()> hook) { before_commit_ = std::move(hook); }
    // Called once per measurement whose row was settled, on the thread that stored it,
    // outside the sink's lock: `existed` when the row was already in the table (written
    // by an earlier run). A row the store refused counts as new. Set before the worker
    // starts; must not throw.
    using RowVerdict = std::function<void(const Measurement& m, bool existed)>;
    void set_row_verdict(RowVerdict verdict) { verdict_ = std::move(verdict); }
    // Rows inserted so far for the channel "STA.CHA.LOC" (0 when none). Any thread.
    long rows_stored(const std::string& channel_name) const;

private:
    struct Row {
        std::string station;
        std::string channel_name;  // "STA.CHA.LOC", for the count
        double onset;
        double amplitude;  // micrometres, -1 = not converted
        double period;
        std::optional<OnsetPick> pick;  // its PICKS row, where the store has that table
        std::string channel, location;  // codes of the PICKS row
        Measurement measurement;        // for the verdict
    };
    enum class Outcome { kDone, kUnreachable, kRefused };
    enum class Step { kWritten, kPurgeFailed, kRowFailed, kPicksFailed };
    // Each sets `settled` to the number of rows from the front that need no more work.
    Outcome store_batch(const std::vector<Row>& rows, size_t& settled);
    Outcome store_singly(const std::vector<Row>& rows, size_t& settled);
    Step write_rows(const std::vector<Row>& rows, bool purge, bool picks,
                    std::vector<const Row*>& inserted);
    // The PICKS rows of `rows` that carry a pick; true when there is no such table.
    bool write_picks(const std::vector<const Row*>& rows);
    Outcome store_row(const Row& row, bool& existed);
    void tell(const std::vector<const Row*>& rows, const std::vector<bool>& existed) const;
    Outcome lost_or(Outcome otherwise);  // kUnreachable when the connection is gone
    // Rows of detections before this time go: STORAGE_TIME before `onset` and before now.
    double purge_limit(double onset) const;

    StoreLink& link_;
    const int storage_days_;
    const int pause_ms_;
    std::function<void()> before_commit_;
    RowVerdict verdict_;
    bool in_pass_ = false;  // worker thread only
    // Guards pending_. Never held across a store operation.
    mutable common::Mutex mutex_;
    std::deque<Row> pending_ GUARDED_BY(mutex_);             // oldest first
    std::map<std::string, long> stored_ GUARDED_BY(mutex_);  // rows inserted, by channel name
};

}  // namespace zelvik::detect
