// WaveStore's reading: one select of the segments overlapping a window, each segment
// read into its place, and the look-up of where a channel's data resumes after a gap.
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "db/data_root.h"
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

// Rows up to this much longer than the longest one known are still found by the
// bounded select, so a row written since that is a little longer than any before
// (record lengths vary) is never missed; a longer one raises the bound once read.
constexpr double kLongestSegmentMargin = 3600.0;  // seconds

std::string channel_key(std::string_view sta, std::string_view chan, std::string_view loc) {
    return std::string(sta) + "/" + std::string(chan) + "/" +
           std::string(unlocated(loc) ? "" : loc);
}

// Longest stretch a row that cannot be read whole is passed over as a gap. A longer
// claim (a TQTY of 1e12 s, or infinite) is a fault of the row, not missing data: taken
// at its word it would move the read position years ahead, past any data that come.
constexpr double kLongestRowGapSeconds = 86400.0;

}  // namespace

double WaveStore::segment_floor_locked(std::string_view sta, std::string_view chan,
                                       std::string_view loc, double t0) {
    const std::string key = channel_key(sta, chan, loc);
    auto it = conn_->longest_segment.find(key);
    if (it == conn_->longest_segment.end()) {
        const Table f = Table::kFilelist;
        double longest = 0;
        // Once per channel and connection: this one walks the channel's whole history.
        const int found = select_channel_value_locked(
            "longest_segment", f,
            "max(" + segment_end_expr_locked() + "-" + catalog_.column(f, "TBEGIN") + ")", sta,
            chan, loc, longest);
        // No row yet or an error: unbounded for now, asked again next time.
        if (found != 1) return -DBL_MAX;
        it = conn_->longest_segment
                 .emplace(key, std::isnan(longest) ? INFINITY : std::max(longest, 0.0))
                 .first;
    }
    // A row of infinite (or NaN) length leaves the select unbounded, as it must.
    return std::isfinite(it->second) ? t0 - (it->second + kLongestSegmentMargin) : -DBL_MAX;
}

void WaveStore::note_segment_length_locked(std::string_view sta, std::string_view chan,
                                           std::string_view loc, double length) {
    const auto it = conn_->longest_segment.find(channel_key(sta, chan, loc));
    if (it != conn_->longest_segment.end() && length > it->second) it->second = length;
}

std::string WaveStore::segment_end_expr_locked() const {
    const Table f = Table::kFilelist;
    return use_tend_ ? catalog_.column(f, "TEND")
                     : catalog_.column(f, "TBEGIN") + "+" + catalog_.column(f, "TQTY");
}

int WaveStore::read_samples(float* buffer, size_t capacity, std::string_view sta,
                            std::string_view chan, std::string_view loc, double& t0, double& t1,
                            std::vector<FilledRange>* filled, std::vector<SegmentFault>* faults,
                            double channel_sps) {
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
    q.t2 = segment_floor_locked(sta, chan, loc, t0);
    double delivered_end = t0;
    double longest = 0;
    const int r = read_rows_locked(q, buffer, capacity, t0, t1, delivered_end, longest, filled,
                                   faults, channel_sps);
    q.stmt.close_cursor();
    note_segment_length_locked(sta, chan, loc, longest);
    if (r != kOk) return r;
    t1 = delivered_end;
    return kOk;
}

int WaveStore::read_rows_locked(SegmentQuery& q, float* buffer, size_t capacity, double t0,
                                double t1, double& delivered_end, double& longest,
                                std::vector<FilledRange>* filled, std::vector<SegmentFault>* faults,
                                double channel_sps) {
    if (!odbc_ok(SQLExecute(q.stmt.get()))) return kStatementError;
    SQLRETURN f = SQLFetch(q.stmt.get());
    if (f == SQL_NO_DATA) return kNoSegment;
    bool any = false;
    DataRoot root(data_dir_);
    for (; f != SQL_NO_DATA; f = SQLFetch(q.stmt.get())) {
        if (!odbc_ok(f)) return kStatementError;
        SegmentRow row;
        const bool times_null =
            q.ind[0] == SQL_NULL_DATA || q.ind[1] == SQL_NULL_DATA || q.ind[2] == SQL_NULL_DATA;
        row.tbegin = q.tbegin;
        row.sps = q.sps;
        row.tqty = q.tqty;
        if (!times_null) longest = std::max(longest, row.tqty);
        row.datatype = q.ind[3] == SQL_NULL_DATA ? int16_t{-1} : static_cast<int16_t>(q.datatype);
        row.foff = q.ind[4] == SQL_NULL_DATA ? 0 : static_cast<int64_t>(q.foff);
        if (q.ind[5] != SQL_NULL_DATA) row.cpath = q.cpath;
        const std::string path = data_file_path(data_dir_, row.cpath);
        SegmentOutcome out;
        int r = kSegmentReadError;
        std::string opened;
        // A row that names a file outside the data directory is refused before anything
        // is opened: the store must not be a way to read the rest of the machine.
        const bool outside = q.ind[5] != SQL_NULL_DATA && !root.admits(path, opened);
        std::string why;
        if (!times_null && channel_sps > 0.0 && std::isfinite(row.sps) &&
            std::fabs(row.sps - channel_sps) > 1e-4 * channel_sps) {
            char text[96];
            std::snprintf(text, sizeof text, "SPS %g differs from the channel's %g sps", row.sps,
                          channel_sps);
            why = text;
        }
        if (!times_null && why.empty()) {
            r = q.ind[5] == SQL_NULL_DATA || outside
                    ? kFileOpenError
                    : read_segment(buffer, capacity, t0, t1, row, opened, out);
        }
        if (filled != nullptr) add_range(*filled, out.first, out.samples_read);
        double end = out.end;
        if (r != kOk) {
            if (faults == nullptr) return r;
            if (!note_fault_locked(row, times_null, outside, why, path, out, t0, t1, *faults))
                return r;
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

bool WaveStore::note_fault_locked(const SegmentRow& row, bool times_null, bool outside,
                                  const std::string& why, const std::string& path,
                                  const SegmentOutcome& out, double t0, double t1,
                                  std::vector<SegmentFault>& faults) const {
    SegmentFault fault;
    fault.path = path;
    fault.reason = out.problem != nullptr ? out.problem
                   : out.os_error != 0    ? std::strerror(out.os_error)
                                          : "no data file named";
    // An errno or a refused file means the file failed; without either the row is at fault.
    if (why.empty() && !outside && (out.os_error != 0 || out.problem != nullptr)) {
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
        // Never retried: the row, not the file, is wrong, and it stays wrong.
        char reason[128];
        std::snprintf(reason, sizeof reason, "TBEGIN %.3f, SPS %g, TQTY %g, FOFF %lld", row.tbegin,
                      row.sps, row.tqty, static_cast<long long>(row.foff));
        fault.reason = !why.empty() ? why
                       : outside    ? "CPATH outside the data directory"
                       : times_null ? "TBEGIN, SPS or TQTY is NULL"
                                    : reason;
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
