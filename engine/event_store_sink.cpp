// The Store steps of a measurement, one transaction per batch of rows: the existence
// test of every row and the insert of those not found, each in statements of many rows
// (a few round trips to a server per pass rather than two per row), then one purge of old rows with
// the newest onset of the batch (the rows a per-row purge would have left), never of rows
// younger than STORAGE_TIME before now, then the commit. Rows
// leave the queue only once their transaction is committed; the existence test makes a second
// attempt harmless when a commit did reach the table but its answer was lost.
// Errors of a live connection are logged and the row is given up (retrying a statement
// the database refuses would block every later row): the batch is then stored row by
// row so that only the refused rows are lost. A refused commit keeps the batch queued.
#include "engine/event_store_sink.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string_view>
#include <utility>

#include "channel/store_link.h"
#include "common/channel_id.h"
#include "common/civil_time.h"
#include "common/clock.h"
#include "common/log.h"
#include "db/wave_store.h"

namespace zelvik::detect {

EventStoreSink::EventStoreSink(StoreLink& link, int storage_days, int reconnect_pause_ms)
    : link_(link), storage_days_(storage_days), pause_ms_(reconnect_pause_ms) {}

double EventStoreSink::purge_limit(double onset) const {
    // Onsets are data times and may lie anywhere (a channel dated years ahead); the
    // current time bounds the purge so that such a channel cannot empty the list.
    const double keep = storage_days_ * 86400.0;
    return std::min(onset - keep, common::now_utc() - keep);
}

size_t EventStoreSink::pending() const {
    const common::MutexLock lock(mutex_);
    return pending_.size();
}

void EventStoreSink::store(const Measurement& m) {
    Row row{m.station, common::channel_id(m.station, m.channel, m.location),
            m.onset,   m.amplitude_um,
            m.period,  m.pick,
            m.channel, m.location,
            m};
    {
        const common::MutexLock lock(mutex_);
        pending_.push_back(std::move(row));
        if (pending_.size() > kMaxPending) {
            const Row& old = pending_.front();
            common::log_printf("Event of %s at %s dropped: %zu rows wait for the store already",
                               old.station.c_str(), common::utc_text(old.onset).c_str(),
                               kMaxPending);
            pending_.pop_front();
        }
    }
    if (in_pass_) return;
    const size_t left = flush();
    if (left > 0) {
        common::log_printf("Event of %s at %s kept until the store answers (%zu waiting)",
                           m.station.c_str(), common::utc_text(m.onset).c_str(), left);
    }
}

void EventStoreSink::begin_pass() {
    in_pass_ = true;
}

size_t EventStoreSink::end_pass() {
    in_pass_ = false;
    const size_t left = flush();
    if (left > 0) common::log_printf("%zu event rows kept until the store answers", left);
    return left;
}

long EventStoreSink::rows_stored(const std::string& channel_name) const {
    const common::MutexLock lock(mutex_);
    const auto it = stored_.find(channel_name);
    return it == stored_.end() ? 0 : it->second;
}

size_t EventStoreSink::flush() {
    std::vector<Row> batch;
    {
        const common::MutexLock lock(mutex_);
        if (pending_.empty()) return 0;
        batch.assign(pending_.begin(), pending_.end());
    }
    size_t settled = 0;
    if (link_.ensure_connected(true, pause_ms_)) (void)store_batch(batch, settled);
    const common::MutexLock lock(mutex_);
    pending_.erase(pending_.begin(),
                   pending_.begin() + static_cast<long>(std::min(settled, pending_.size())));
    return pending_.size();
}

EventStoreSink::Outcome EventStoreSink::lost_or(Outcome otherwise) {
    if (link_.store().is_alive()) return otherwise;
    link_.mark_lost();
    return Outcome::kUnreachable;
}

EventStoreSink::Outcome EventStoreSink::store_batch(const std::vector<Row>& rows, size_t& settled) {
    db::WaveStore& store = link_.store();
    bool purge = storage_days_ > 0;
    bool picks = true;
    for (;;) {
        if (!store.begin_events()) {
            const std::string error = store.event_last_error();
            if (lost_or(Outcome::kDone) == Outcome::kUnreachable) return Outcome::kUnreachable;
            common::log_write(error);
            return store_singly(rows, settled);
        }
        std::vector<const Row*> inserted;
        const Step step = write_rows(rows, purge, picks, inserted);
        if (step == Step::kWritten) {
            if (before_commit_) before_commit_();
            if (store.end_events(true)) {
                settled = rows.size();
                {
                    const common::MutexLock lock(mutex_);
                    for (const Row* row : inserted) ++stored_[row->channel_name];
                }
                std::vector<const Row*> all;
                std::vector<bool> existed;
                for (const Row& row : rows) {
                    all.push_back(&row);
                    existed.push_back(std::find(inserted.begin(), inserted.end(), &row) ==
                                      inserted.end());
                }
                tell(all, existed);
                return Outcome::kDone;
            }
            const std::string error = store.event_last_error();
            const Outcome outcome = lost_or(Outcome::kRefused);
            if (outcome == Outcome::kRefused) common::log_write(error);
            return outcome;  // the rows stay queued either way
        }
        // A failed statement spoils the transaction on some servers: undo it first.
        const std::string error = store.event_last_error();
        (void)store.end_events(false);
        if (lost_or(Outcome::kDone) == Outcome::kUnreachable) return Outcome::kUnreachable;
        common::log_write(error);
        if (step == Step::kRowFailed) return store_singly(rows, settled);
        // Neither a failed purge nor failed picks stop the event rows: again without them.
        if (step == Step::kPicksFailed) picks = false;
        if (step == Step::kPurgeFailed) purge = false;
    }
}

EventStoreSink::Step EventStoreSink::write_rows(const std::vector<Row>& rows, bool purge,
                                                bool picks, std::vector<const Row*>& inserted) {
    db::WaveStore& store = link_.store();
    inserted.clear();
    std::vector<db::EventRow> batch;
    batch.reserve(rows.size());
    double newest = rows.front().onset;
    for (const Row& row : rows) {
        newest = std::max(newest, row.onset);
        batch.push_back({row.station, row.onset, row.amplitude, row.period});
    }
    // The existence test of every row in a few statements, then one insert of the rows
    // not found: the same rows go in as with a test and an insert per row. A row equal
    // to an earlier one of the batch would have found that one stored, so it is left out.
    const auto exists = std::make_unique<bool[]>(rows.size());
    if (!store.find_events(batch.data(), batch.size(), exists.get())) return Step::kRowFailed;
    std::vector<db::EventRow> missing;
    std::set<std::pair<double, std::string_view>> taken;  // onset and station going in
    for (size_t i = 0; i < rows.size(); ++i) {
        if (exists[i] || !taken.emplace(rows[i].onset, rows[i].station).second) continue;
        missing.push_back(batch[i]);
        inserted.push_back(&rows[i]);
    }
    if (!store.insert_events(missing.data(), missing.size())) return Step::kRowFailed;
    if (picks && !write_picks(inserted)) return Step::kPicksFailed;
    if (purge && !store.delete_data(purge_limit(newest))) return Step::kPurgeFailed;
    return Step::kWritten;
}

bool EventStoreSink::write_picks(const std::vector<const Row*>& rows) {
    db::WaveStore& store = link_.store();
    if (!store.has_picks()) return true;
    std::vector<db::PickRow> picks;
    for (const Row* row : rows) {
        if (!row->pick) continue;
        const OnsetPick& p = *row->pick;
        picks.push_back(
            {row->station, row->channel, row->location, p.trigger_onset, p.time, p.grade, p.snr});
    }
    return picks.empty() || store.insert_picks(picks.data(), picks.size());
}

EventStoreSink::Outcome EventStoreSink::store_singly(const std::vector<Row>& rows,
                                                     size_t& settled) {
    for (settled = 0; settled < rows.size(); ++settled) {
        bool existed = false;
        if (store_row(rows[settled], existed) == Outcome::kUnreachable)
            return Outcome::kUnreachable;
        tell({&rows[settled]}, {existed});
    }
    return Outcome::kDone;
}

void EventStoreSink::tell(const std::vector<const Row*>& rows,
                          const std::vector<bool>& existed) const {
    if (!verdict_) return;
    for (size_t i = 0; i < rows.size(); ++i) verdict_(rows[i]->measurement, existed[i]);
}

EventStoreSink::Outcome EventStoreSink::store_row(const Row& row, bool& existed) {
    db::WaveStore& store = link_.store();
    if (storage_days_ > 0 && !store.delete_data(purge_limit(row.onset))) {
        common::log_write(store.event_last_error());
    }
    const int exists = store.is_exist(row.station, row.onset);
    existed = exists > 0;
    if (exists > 0) return Outcome::kDone;
    if (exists == 0 && store.insert_data(row.station, row.onset, row.amplitude, row.period)) {
        if (!write_picks({&row})) common::log_write(store.event_last_error());
        const common::MutexLock lock(mutex_);
        ++stored_[row.channel_name];
        return Outcome::kDone;
    }
    // A failure because the connection went away keeps the row; the existence test
    // makes a second attempt harmless if the first one did reach the table.
    const std::string error = store.event_last_error();
    if (lost_or(Outcome::kDone) == Outcome::kUnreachable) return Outcome::kUnreachable;
    common::log_write(error);
    return Outcome::kDone;
}

}  // namespace zelvik::detect
