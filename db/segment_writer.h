// SegmentWriter: the one place that writes the waveform catalogue: FILELIST rows (one
// per stored segment) and SITECHAN rows (one per channel). Statements are prepared once
// with '?' parameters; rows become visible only at commit(), so a writer can put a data
// file's bytes on disk before the rows that name it. ODBC types stay in the .cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik::db {

class OdbcConnection;
class StoreCatalog;

// One FILELIST row as it is stored.
struct SegmentRecord {
    std::string station, channel;  // at most 7 characters each
    std::string location;          // at most 7 characters; "??" for none
    double tbegin = 0;             // seconds since 1970 of the first sample
    double sps = 0;                // samples per second
    double tqty = 0;               // seconds of data (samples / sps); TEND is tbegin + tqty
    int16_t datatype = 0;          // SampleFormat of the data file's samples
    int64_t foff = 0;              // bytes from the data file's start to the first sample
    std::string cpath;             // data file, relative to the data directory, '/' separators
    int64_t load_date = 0;         // LDDATE, whole seconds since 1970 (UTC)
};

// A FILELIST row found by find_segments.
struct StoredSegment {
    double tbegin = 0;     // seconds since 1970
    double tqty = 0;       // seconds of data
    std::string location;  // "??" when stored as NULL
    std::string cpath;     // empty when stored as NULL
};

class SegmentWriter {
public:
    // `conn` and `catalog` must outlive the writer. `operation` opens the writer's error
    // texts ("[import] ..."); `creator` goes into CREATER (at most 15 characters).
    SegmentWriter(const OdbcConnection& conn, const StoreCatalog& catalog, std::string operation,
                  std::string creator);
    ~SegmentWriter();
    SegmentWriter(const SegmentWriter&) = delete;
    SegmentWriter& operator=(const SegmentWriter&) = delete;

    // Switches the connection's autocommit off (the writer decides when rows become
    // visible) and prepares the statements. false with last_error() set.
    [[nodiscard]] bool prepare();

    // The rows of `station`/`channel` (any location) whose TBEGIN lies strictly between
    // `lo` and `hi`, into `out`. false with last_error() on a statement error.
    [[nodiscard]] bool find_segments(std::string_view station, std::string_view channel, double lo,
                                     double hi, std::vector<StoredSegment>& out);
    // Deletes the rows find_segments would give for the same window whose CPATH is
    // `cpath` (a row whose data file has gone). false with last_error().
    [[nodiscard]] bool forget_segment(std::string_view station, std::string_view channel, double lo,
                                      double hi, std::string_view cpath);
    // Inserts one FILELIST row. false with last_error(): the transaction must be rolled
    // back (PostgreSQL refuses every later statement in it).
    [[nodiscard]] bool add_segment(const SegmentRecord& segment);
    // Inserts the channel's SITECHAN row unless it has one; `load_date` as in
    // SegmentRecord. false with last_error(), as add_segment.
    [[nodiscard]] bool add_channel(std::string_view station, std::string_view channel,
                                   std::string_view location, double sps, int64_t load_date);

    // The growing segment of a live stream: sets TQTY (and TEND) of the row of the
    // channel and location whose TBEGIN is segment.tbegin (to a microsecond). false with
    // last_error() on a statement error or when no such row exists.
    [[nodiscard]] bool extend_segment(const SegmentRecord& segment);
    // The channel's row with the latest TBEGIN (location "??" also matches NULL) into
    // `out` (its station, channel, location and load_date are not filled).
    // @retval 1 found, 0 none, -1 error (last_error()).
    [[nodiscard]] int last_segment(std::string_view station, std::string_view channel,
                                   std::string_view location, SegmentRecord& out);
    // Whether a row of the channel overlaps [begin, end).
    // @retval 1 yes, 0 no, -1 error (last_error()).
    [[nodiscard]] int holds(std::string_view station, std::string_view channel,
                            std::string_view location, double begin, double end);

    // Makes the rows written since the last commit visible. false with last_error() when
    // the commit failed (the caller rolls back).
    [[nodiscard]] bool commit();
    // Drops the rows written since the last commit; harmless when there are none.
    void roll_back();

    const std::string& last_error() const { return error_; }

    struct Statements;  // prepared statements and their bound buffers

private:
    const OdbcConnection& conn_;
    const StoreCatalog& catalog_;
    std::string operation_;
    std::unique_ptr<Statements> st_;
    std::string error_;
};

}  // namespace zelvik::db
