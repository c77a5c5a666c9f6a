// The state file is written after every commit that moved a position; a source that
// ran quiet costs nothing.
#include "acquire/commit_pacer.h"

#include "acquire/live_store.h"

namespace zelvik::acquire {

CommitPacer::CommitPacer(SourceState& state, double interval_seconds, size_t max_records)
    : state_(state),
      interval_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(interval_seconds))),
      max_records_(max_records) {}

void CommitPacer::note(const std::string& key, const SourcePosition& position) {
    if (pending_.empty()) first_ = std::chrono::steady_clock::now();
    pending_[key] = position;
    ++records_;
}

bool CommitPacer::due() const {
    if (pending_.empty()) return false;
    return records_ >= max_records_ || std::chrono::steady_clock::now() - first_ >= interval_;
}

CommitPacer::Result CommitPacer::commit(LiveStore& store, std::string& error) {
    if (!store.commit()) {
        error = store.last_error();
        pending_.clear();
        records_ = 0;
        return Result::kStoreFailed;
    }
    for (const auto& [key, position] : pending_) state_.set(key, position);
    pending_.clear();
    records_ = 0;
    if (!state_.save()) {
        error = state_.last_error();
        return Result::kStateNotSaved;
    }
    return Result::kCommitted;
}

}  // namespace zelvik::acquire
