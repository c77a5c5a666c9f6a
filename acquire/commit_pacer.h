// Paces the commits of a live store and keeps the source's state file behind them:
// positions of records added since the last commit are held here and written to the
// state file only once the store has committed those records.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "acquire/source_state.h"

namespace zelvik::acquire {

class LiveStore;

class CommitPacer {
public:
    // `state` must outlive the pacer. interval: longest wait from a record to its commit.
    CommitPacer(SourceState& state, double interval_seconds, size_t max_records = 5000);

    // A record of stream `key` was handed to the store; `position` is where the source
    // resumes after it.
    void note(const std::string& key, const SourcePosition& position);
    bool pending() const { return !pending_.empty(); }
    // Something waits and the interval since the first of it has passed, or it is many.
    bool due() const;
    enum class Result {
        kCommitted,
        kStoreFailed,    // rolled back: what waited is dropped, resume from the state
        kStateNotSaved,  // committed, but the state file lags (a restart drops the
                         // records it sees again as held); tried again next commit
    };
    // Commits the store, then saves the state; `error` says what failed.
    [[nodiscard]] Result commit(LiveStore& store, std::string& error);
    // Records committed since the pacer was made.
    uint64_t records_committed() const { return committed_; }
    // Forgets what waits, after the store dropped it.
    void drop() {
        pending_.clear();
        arrivals_.clear();
        records_ = 0;
    }

    // Once every `summary_seconds` (and at the end, with `force`): one line with the
    // records committed since the last line and the time from their arrival to their
    // commit (p50, p95, max); empty when not due.
    std::string summary(bool force = false);
    void set_summary_seconds(double seconds) { summary_every_ = seconds; }

private:
    SourceState& state_;
    std::chrono::steady_clock::duration interval_;
    size_t max_records_;
    size_t records_ = 0;
    uint64_t committed_ = 0;
    std::chrono::steady_clock::time_point first_;
    std::map<std::string, SourcePosition> pending_;
    std::vector<std::chrono::steady_clock::time_point> arrivals_;  // of the records waiting
    std::vector<double> latencies_;  // seconds, of the records committed since the summary
    std::chrono::steady_clock::time_point summary_at_ = std::chrono::steady_clock::now();
    double summary_every_ = 600;
};

}  // namespace zelvik::acquire
