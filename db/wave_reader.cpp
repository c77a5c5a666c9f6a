// WaveStore's reading: one select of the segments overlapping a window, each segment
// read into its place, and the look-up of where a channel's data resumes after a gap.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "db/sample_reading.h"
#include "db/store_connection.h"
#include "db/wave_store.h"

namespace zelvik::db {
namespace {

// Adds [first, first+count) to `ranges`, kept sorted and merged where they touch:
// overlapping segments must not report one stretch twice.
void add_range(std::vector<FilledRange>& ranges, size_t first, size_t count) {
    if (count == 0) return;
    size_t last = first + count;
    auto it =
        std::lower_bound(ranges.begin(), ranges.end(), first,
                         [](const FilledRange& r, size_t f) { return r.first + r.count < f; });
    while (it != ranges.end() && it->first <= last) {
        first = std::min(first, it->first);
        last = std::max(last, it->first + it->count);
        it = ranges.erase(it);
    }
    ranges.insert(it, FilledRange{first, last - first});
}

// Longest stretch a row that cannot be read whole is passed over as a gap. A longer
// claim (a TQTY of 1e12 s, or infinite) is a fault of the row, not missing data: taken
// at its word it would move the read position years ahead, past any data that come.
constexpr double kLongestRowGapSeconds = 86400.0;

}  // namespace

int WaveStore::read_samples(float* buffer, size_t capacity, std::string_view sta,
                            std::string_view chan, std::string_view loc, double& t0, double& t1,
                            std::vector<FilledRange>* filled, std::vector<SegmentFault>* faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (filled != nullptr) filled->clear();
    if (faults != nullptr) faults->clear();
    if (!(t1 > t0)) return kEmptyWindow;
    if (!is_alive_locked()) return kConnectionLost;
    // A stored code has at most 7 characters, so a longer one matches nothing.
    if (!fits_code(sta) || !fits_code(chan) || !fits_code(loc)) return kNoSegment;
    SegmentQuery& q = unlocated(loc) ? conn_->unlocated : conn_->located;
    if (!q.stmt.valid()) return kStatementError;
    q.set(sta, chan, loc, t0, t1);
    double delivered_end = t0;
    const int r = read_rows_locked(q, buffer, capacity, t0, t1, delivered_end, filled, faults);
    q.stmt.close_cursor();
    if (r != kOk) return r;
    t1 = delivered_end;
    return kOk;
}

int WaveStore::read_rows_locked(SegmentQuery& q, float* buffer, size_t capacity, double t0,
                                double t1, double& delivered_end, std::vector<FilledRange>* filled,
                                std::vector<SegmentFault>* faults) {
    if (!odbc_ok(SQLExecute(q.stmt.get()))) return kStatementError;
    SQLRETURN f = SQLFetch(q.stmt.get());
    if (f == SQL_NO_DATA) return kNoSegment;
    bool any = false;
    for (; f != SQL_NO_DATA; f = SQLFetch(q.stmt.get())) {
        if (!odbc_ok(f)) return kStatementError;
        SegmentRow row;
        const bool times_null =
            q.ind[0] == SQL_NULL_DATA || q.ind[1] == SQL_NULL_DATA || q.ind[2] == SQL_NULL_DATA;
        row.tbegin = q.tbegin;
        row.sps = q.sps;
        row.tqty = q.tqty;
        row.datatype = q.ind[3] == SQL_NULL_DATA ? int16_t{-1} : static_cast<int16_t>(q.datatype);
        row.foff = q.ind[4] == SQL_NULL_DATA ? 0 : static_cast<int64_t>(q.foff);
        if (q.ind[5] != SQL_NULL_DATA) row.cpath = q.cpath;
        const std::string path = data_file_path(data_dir_, row.cpath);
        SegmentOutcome out;
        int r = kSegmentReadError;
        if (!times_null) {
            r = q.ind[5] == SQL_NULL_DATA ? kFileOpenError
                                          : read_segment(buffer, capacity, t0, t1, row, path, out);
        }
        if (filled != nullptr) add_range(*filled, out.first, out.samples_read);
        double end = out.end;
        if (r != kOk) {
            if (faults == nullptr) return r;
            if (!note_fault_locked(row, times_null, path, out, t0, t1, *faults)) return r;
            end = faults->back().to;
        } else if (faults != nullptr && !delivers_samples(row.datatype) && out.end > out.begin) {
            // Read without error, but nothing came of it: the row says why, not the gap
            // the channel would otherwise find after it.
            char reason[96];
            std::snprintf(reason, sizeof reason, "DATATYPE %d is no sample format (0-3 or 5)",
                          row.datatype);
            const bool bounded = row.tbegin + row.tqty - out.begin <= kLongestRowGapSeconds;
            if (!bounded) end = out.begin;
            faults->push_back({SegmentFault::kMalformed, path, out.begin, end, reason});
        } else if (faults != nullptr && out.samples_read < out.samples_wanted) {
            const double from = out.begin + static_cast<double>(out.samples_read) / row.sps;
            if (row.tbegin + row.tqty - from > kLongestRowGapSeconds) {
                // The file ends at `from`: what it holds was read, and there it stops.
                char reason[96];
                std::snprintf(reason, sizeof reason, "TQTY %g s, but the file ends %g s in",
                              row.tqty, from - row.tbegin);
                faults->push_back({SegmentFault::kMalformed, path, from, from, reason});
                end = from;
            } else {
                faults->push_back({SegmentFault::kShort, path, from, out.end, "file too short"});
            }
        }
        // The end of what was delivered is the latest segment end seen, not the last
        // segment's length added to the window start.
        delivered_end = any ? std::max(delivered_end, end) : end;
        any = true;
    }
    return kOk;
}

bool WaveStore::note_fault_locked(const SegmentRow& row, bool times_null, const std::string& path,
                                  const SegmentOutcome& out, double t0, double t1,
                                  std::vector<SegmentFault>& faults) const {
    SegmentFault fault;
    fault.path = path;
    fault.reason = out.os_error != 0 ? std::strerror(out.os_error) : "no data file named";
    // An errno means the file failed (open or read); without one the row is at fault.
    if (out.os_error != 0) {
        fault.kind = SegmentFault::kUnreadable;
        fault.from = out.begin;
        fault.to = out.end;
        // A data directory that cannot be read at all is an outage of the data, not a
        // fault of this one segment: the caller waits and reads the window again.
        if (!data_directory_readable_locked()) {
            faults.push_back(std::move(fault));
            return false;
        }
    } else {
        fault.kind = SegmentFault::kMalformed;
        char reason[128];
        std::snprintf(reason, sizeof reason, "TBEGIN %.3f, SPS %g, TQTY %g, FOFF %lld", row.tbegin,
                      row.sps, row.tqty, static_cast<long long>(row.foff));
        fault.reason = times_null ? "TBEGIN, SPS or TQTY is NULL" : reason;
        const double end = row.tbegin + row.tqty;
        fault.from = !times_null && std::isfinite(row.tbegin) ? std::max(t0, row.tbegin) : t0;
        // Its claimed span is passed over as a gap, unless the claim itself is absurd.
        const bool bounded = !times_null && std::isfinite(end) && end > fault.from &&
                             end - fault.from <= kLongestRowGapSeconds;
        fault.to = bounded ? std::min(t1, end) : fault.from;
    }
    if (!(fault.to >= fault.from)) fault.to = fault.from;
    faults.push_back(std::move(fault));
    return true;
}

bool WaveStore::data_directory_readable_locked() const {
    const std::string dir = data_dir_.empty() ? std::string(".") : data_dir_;
    return ::access(dir.c_str(), R_OK | X_OK) == 0;
}

int WaveStore::next_data_start(std::string_view sta, std::string_view chan, std::string_view loc,
                               double after, double& start) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fits_code(sta) || !fits_code(chan) || !fits_code(loc)) return 0;
    if (!conn_) {
        last_error_ = "[next_data_start] Not connected";
        return -1;
    }
    NextStartQuery& q = unlocated(loc) ? conn_->next_unlocated : conn_->next_located;
    if (!q.stmt.valid()) {
        last_error_ = "[next_data_start] Execute statement error";
        return -1;
    }
    q.set(sta, chan, loc, after, 0);
    if (!odbc_ok(SQLExecute(q.stmt.get()))) {
        last_error_ = q.stmt.error_text("next_data_start", "Execute statement error");
        q.stmt.close_cursor();
        return -1;
    }
    const SQLRETURN f = SQLFetch(q.stmt.get());
    if (f != SQL_NO_DATA && !odbc_ok(f)) {
        last_error_ = q.stmt.error_text("next_data_start", "Fetch data error");
        q.stmt.close_cursor();
        return -1;
    }
    q.stmt.close_cursor();
    if (f == SQL_NO_DATA || q.first_ind == SQL_NULL_DATA) return 0;
    start = q.first;
    return 1;
}

}  // namespace zelvik::db
