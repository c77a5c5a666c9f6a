// The state file is written after every commit that moved a position; a source that
// ran quiet costs nothing.
#include "acquire/commit_pacer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "acquire/live_store.h"

namespace zelvik::acquire {

CommitPacer::CommitPacer(SourceState& state, double interval_seconds, size_t max_records)
    : state_(state),
      interval_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(interval_seconds))),
      max_records_(max_records) {}

void CommitPacer::note(const std::string& key, const SourcePosition& position) {
    const auto now = std::chrono::steady_clock::now();
    if (pending_.empty()) first_ = now;
    pending_[key] = position;
    arrivals_.push_back(now);
    ++records_;
}

bool CommitPacer::due() const {
    if (pending_.empty()) return false;
    return records_ >= max_records_ || std::chrono::steady_clock::now() - first_ >= interval_;
}

CommitPacer::Result CommitPacer::commit(LiveStore& store, std::string& error) {
    if (!store.commit()) {
        error = store.last_error();
        drop();
        return Result::kStoreFailed;
    }
    const auto committed = std::chrono::steady_clock::now();
    for (const auto& arrived : arrivals_)
        latencies_.push_back(std::chrono::duration<double>(committed - arrived).count());
    arrivals_.clear();
    for (const auto& [key, position] : pending_) state_.set(key, position);
    pending_.clear();
    committed_ += records_;
    records_ = 0;
    if (!state_.save()) {
        error = state_.last_error();
        return Result::kStateNotSaved;
    }
    return Result::kCommitted;
}

std::string CommitPacer::summary(bool force) {
    const auto now = std::chrono::steady_clock::now();
    const double since = std::chrono::duration<double>(now - summary_at_).count();
    if (!force && since < summary_every_) return {};
    summary_at_ = now;
    if (latencies_.empty())
        return force ? std::string()
                     : "no record stored in the last " + std::to_string(std::lround(since)) + " s";
    std::sort(latencies_.begin(), latencies_.end());
    auto at = [&](double q) {
        return latencies_[std::min(
            latencies_.size() - 1,
            static_cast<size_t>(q * static_cast<double>(latencies_.size())))];
    };
    char line[200];
    std::snprintf(line, sizeof line,
                  "stored %zu records in the last %.0f s; from arrival to commit p50 %.3f s, "
                  "p95 %.3f s, max %.3f s",
                  latencies_.size(), since, at(0.5), at(0.95), latencies_.back());
    latencies_.clear();
    return line;
}

}  // namespace zelvik::acquire
