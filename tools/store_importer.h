// Imports waveform files into a store in batches: each file's samples go into a new
// data file under the data directory and its FILELIST and SITECHAN rows into the
// batch's open transaction. commit() first puts the files' bytes on disk, then commits,
// so no row ever points at bytes that are not there; a failure rolls the batch back
// and removes its new files. One sync and one commit per batch keep import fast.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zelvik::db {
class OdbcConnection;
class SegmentWriter;
class StoreCatalog;
}  // namespace zelvik::db

namespace zelvik::tools {

struct Segment;

struct ImportCounts {
    size_t segments_added = 0;
    size_t segments_present = 0;  // already in the store: skipped
    size_t samples_added = 0;
};

class StoreImporter {
public:
    // `conn` and `catalog` must outlive the importer; `data_dir` uses '/' separators.
    StoreImporter(const db::OdbcConnection& conn, const db::StoreCatalog& catalog,
                  std::string data_dir);
    ~StoreImporter();

    // Prepares the segment writer's statements; false with last_error() set.
    [[nodiscard]] bool prepare();

    // Adds one miniSEED or SAC file to the batch; segments already in the store (same
    // channel, start within half a sample, same length) are skipped, so a second import
    // of the same file adds nothing. false with last_error(): nothing of this file was
    // added; when batch_lost() is also true, a database failure rolled back the whole
    // batch (the earlier files of the batch are not imported either).
    [[nodiscard]] bool import_file(const std::string& path, ImportCounts& counts);
    // Syncs the batch's data files and commits its rows. false with last_error() when
    // the batch was rolled back instead.
    [[nodiscard]] bool commit();
    // Files and samples waiting for commit().
    size_t pending_files() const;
    size_t pending_samples() const { return pending_samples_; }
    bool batch_lost() const { return batch_lost_; }

    const std::string& last_error() const { return error_; }

private:
    bool add_rows(const std::vector<const Segment*>& fresh, const std::vector<int64_t>& offsets,
                  const std::string& cpath);
    void roll_back();
    std::string data_dir_;
    std::unique_ptr<db::SegmentWriter> writer_;  // the rows; shares the caller's connection
    std::string error_;
    struct Pending;  // the batch's new data files
    std::unique_ptr<Pending> pending_;
    size_t pending_samples_ = 0;
    bool batch_lost_ = false;
};

}  // namespace zelvik::tools
