// Stores records as they arrive: samples into one data file per channel and UTC day,
// one FILELIST segment per contiguous stretch that grows with every record, a SITECHAN
// row for a channel the store does not know yet. add() writes the samples; commit()
// syncs the data files, then writes the segments' rows in one transaction, so a row
// never points at bytes that are not on disk. Single-threaded: one source, one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "acquire/data_file.h"
#include "acquire/segment_plan.h"

namespace zelvik::db {
class SegmentWriter;
}

namespace zelvik::acquire {

// One decoded record: its samples as FILELIST stores them (little-endian, `datatype`).
struct StoredRecord {
    std::string network, station, location, channel;
    double start = 0;  // seconds since 1970: first sample
    double sps = 0;    // samples per second
    int16_t datatype = 2;
    int64_t count = 0;                 // samples
    std::vector<unsigned char> bytes;  // count samples of `datatype`
};

class LiveStore {
public:
    using Logger = std::function<void(const std::string&)>;
    // `writer` must outlive the store; `data_dir` with '/' separators.
    LiveStore(db::SegmentWriter& writer, std::string data_dir, Logger log);
    ~LiveStore();

    enum class Outcome { kStored, kHeld, kFailed };
    // Writes the record's new samples to its data file. kHeld: the store already holds
    // every sample (nothing written); kFailed with last_error().
    Outcome add(const StoredRecord& record);
    // Syncs the data files and commits the rows of everything added since the last
    // commit. false with last_error(): the rows were rolled back, and the store forgets
    // what it knew of every stream, so the caller resumes from its last saved position.
    [[nodiscard]] bool commit();
    bool has_pending() const { return pending_records_ > 0 || in_transaction_; }
    size_t streams() const { return streams_.size(); }
    const std::string& last_error() const { return error_; }

private:
    struct Stream;
    Stream* stream_for(const StoredRecord& record);
    bool load(Stream& s, const StoredRecord& record);
    bool open_day_file(Stream& s, const std::string& cpath);
    bool write_samples(Stream& s, const StoredRecord& record, int64_t skip, bool extend);
    bool held_elsewhere(const StoredRecord& record, bool& held);
    void forget_all();

    db::SegmentWriter& writer_;
    std::string data_dir_;
    Logger log_;
    std::map<std::string, std::unique_ptr<Stream>> streams_;  // by "STA.CHA.LOC" of the store
    size_t pending_records_ = 0;
    bool in_transaction_ = false;  // the writer ran a statement since the last commit
    std::string error_;
};

}  // namespace zelvik::acquire
