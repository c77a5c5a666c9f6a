// WaveStore: the program's one connection to the waveform store (an ODBC data source
// plus data files under a data directory). Every public operation takes the store's
// single mutex for its whole length, so the supervisor and the worker may share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "db/event_row.h"
#include "db/pick_row.h"
#include "db/store_catalog.h"
#include "db/store_status.h"

namespace zelvik::db {

struct SegmentRow;
struct SegmentOutcome;

class StoreConnection;
struct SegmentQuery;
class ResponseQueries;
class EventListQueries;

// Sample indices of a reading window that segments filled with samples read from files.
struct FilledRange {
    size_t first;  // index into the caller's buffer
    size_t count;  // samples
};

// A segment that read_samples could not deliver whole, reported when the caller asks
// for faults instead of failing the window.
struct SegmentFault {
    enum Kind : int {
        kUnreadable = 0,  // the data file cannot be opened or read: nothing delivered
        kShort = 1,       // the data file ends before the segment: [from, to) missing
        kMalformed = 2,   // the row itself is unusable (SPS, TQTY, FOFF, times)
    };
    Kind kind = kUnreadable;
    std::string path;  // the data file as opened
    double from = 0;   // seconds since 1970: the part of the window not delivered
    double to = 0;
    std::string reason;  // "No such file or directory", ...
};

// One EVENTLIST row of this program (EVENT_TYPE 1), as a listing reads it back.
struct StoredEvent {
    double onset = 0;       // TBEGIN, seconds since 1970
    double amplitude = -1;  // AMP, micrometres; -1 when NULL
    double period = -1;     // PER, seconds; -1 when NULL
};

// A calendar instant as the response selects bind it (UTC, whole fields).
struct StoreTimestamp {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    unsigned fraction = 0;  // nanoseconds
};

// UTC calendar fields of `epoch` (seconds since 1970), fraction dropped.
StoreTimestamp store_timestamp_utc(double epoch);

class WaveStore {
public:
    // Defaults: data source "QSX", user "QSX", password "VEM", data directory "D:/Data",
    // use-TEND on. Nothing is connected until connect().
    WaveStore();
    ~WaveStore();  // disconnects when the connection is alive; sends nothing otherwise
    WaveStore(const WaveStore&) = delete;
    WaveStore& operator=(const WaveStore&) = delete;

    // name (any case): "odbc", "user", "password" (at most 31 characters each), "data"
    // (backslashes become '/'), "use_tend" (decimal integer, non-zero = on; with an open
    // connection the TEND column check runs at once).
    // @retval 0 stored; kUnknownParam for another name; -1 for a text over 31 characters
    //         (nothing changes, last_error() says why). Does not log.
    [[nodiscard]] int set_param(std::string_view name, std::string_view value);

    // Releases any previous (possibly lost) connection first, then opens a new one, builds
    // the catalogue, checks TEND, and prepares every statement. True when connected and
    // the response and event list statements are prepared. A failed prepare of those is
    // written to the log; other failures are in last_error(), for the caller to log.
    [[nodiscard]] bool connect();

    // Runs the prepared probe; false when not connected, the probe is missing or fails.
    [[nodiscard]] bool is_alive();

    // Frees every statement, disconnects, frees the handles. Safe to call twice.
    void disconnect();

    // Reads the channel's samples of [t0, t1) into buffer[0..capacity) as floats, sample
    // of t0 at index 0, never writing at or past `capacity`. A location that is empty or
    // "??" matches rows whose LCODE is "??" or NULL.
    // On success t0 is unchanged and t1 becomes the end of the data delivered: the
    // latest effective end of the segments read (segments whose format delivers no
    // samples still count, so a reader moves past them). `filled` (optional, cleared
    // first) receives the merged index stretches holding samples read from files; gaps
    // and samples a short file could not supply are left out.
    // @retval 0, kEmptyWindow, kConnectionLost, kStatementError, kNoSegment,
    //         kFileOpenError, kSegmentOutsideWindow, kSegmentReadError. On a non-zero
    //         return t0 and t1 are unchanged; samples of segments read before the failing
    //         one stay in the buffer (and in `filled`). Does not log.
    // With `faults` (cleared first), one segment cannot fail the window: a data file
    // that cannot be opened or read, or a malformed row, is left out as a gap, and a
    // short file delivers what it holds; each is described in `faults` and the window
    // counts as delivered up to the segment's end. A row whose file resolves (through
    // "..", "//" or links) outside the data directory is never opened: kFileOpenError
    // without `faults`, a kMalformed fault with it. Only a data directory that cannot
    // be read at all (moved away, not mounted) still answers kFileOpenError, with the
    // file it tried in `faults`. With `channel_sps` (the channel's SITECHAN rate), a row
    // whose SPS differs from it is a malformed row too: its samples could not be placed
    // on the channel's time axis.
    [[nodiscard]] int read_samples(float* buffer, size_t capacity, std::string_view sta,
                                   std::string_view chan, std::string_view loc, double& t0,
                                   double& t1, std::vector<FilledRange>* filled = nullptr,
                                   std::vector<SegmentFault>* faults = nullptr,
                                   double channel_sps = 0.0);

    // Earliest segment start at or after `after` for the channel (location rule as in
    // read_samples). Call it with the end of a window that answered kNoSegment; a segment
    // starting exactly there is found.
    // @retval 1 found (`start` set), 0 none, -1 error (last_error()).
    [[nodiscard]] int next_data_start(std::string_view sta, std::string_view chan,
                                      std::string_view loc, double after, double& start);

    // End of the channel's latest segment (the largest TBEGIN+TQTY, or TEND when that
    // column is used; location rule as in read_samples).
    // @retval 1 found (`end` set), 0 the channel has no segment, -1 error (last_error()).
    [[nodiscard]] int last_data_end(std::string_view sta, std::string_view chan,
                                    std::string_view loc, double& end);

    // The station's event rows (EVENT_TYPE 1) with from <= TBEGIN < to, newest first, at
    // most `limit`, replacing `out`. The event list names stations only, so every channel
    // of the station shares them.
    // @retval number of rows, or -1 on error (last_error()).
    [[nodiscard]] int select_events(std::string_view sta, double from, double to, int limit,
                                    std::vector<StoredEvent>& out);

    // The channel's SPS from SITECHAN (first matching row; NULL gives 0).
    // @retval rate, 0 when no row matches, -1 on a database error (last_error()).
    [[nodiscard]] double get_sps(std::string_view sta, std::string_view chan, std::string_view loc);

    // Instrument response text valid at `when` appended to `out`. Empty network and
    // location match any; "??" is an ordinary location here.
    // @retval 1 found, 0 no row or NULL value, -1 error (response_last_error()).
    [[nodiscard]] int select_sac(std::string_view sta, std::string_view chan, std::string_view loc,
                                 std::string_view net, const StoreTimestamp& when,
                                 std::string& out);
    [[nodiscard]] int select_fap(std::string_view sta, std::string_view chan, std::string_view loc,
                                 std::string_view net, const StoreTimestamp& when,
                                 std::string& out);
    std::string response_last_error() const;

    // Event list (EVENTLIST rows with EVENT_TYPE 1, which this program owns).
    // delete_data: removes such rows with TBEGIN before `limit`, any station.
    [[nodiscard]] bool delete_data(double limit);
    // @retval 1 a row for this station and exactly this time exists, 0 none, -1 error.
    [[nodiscard]] int is_exist(std::string_view sta, double onset);
    // Writes one row; amplitude and period both become 0 unless both are > 0.
    [[nodiscard]] bool insert_data(std::string_view sta, double onset, double amp, double per);
    // The same for many rows, in a few statements of up to 64 rows each instead of two
    // per row (a round trip each to a server). find_events: exists[i] := whether a row
    // for rows[i] exists; a station code over 7 characters is never found.
    // insert_events: writes every row; a code over 7 characters fails the call, and a
    // failure may leave some rows written, so it belongs between begin_events() and
    // end_events(). @retval false error (event_last_error()).
    [[nodiscard]] bool find_events(const EventRow* rows, size_t count, bool* exists);
    [[nodiscard]] bool insert_events(const EventRow* rows, size_t count);
    std::string event_last_error() const;

    // PICKS rows, beside the event list: has_picks() says whether the connected store has
    // the table (any letter case, from the catalogue); insert_picks writes rows[0..count)
    // with LDDATE the current UTC time. Belongs between begin_events() and end_events().
    // @retval false no such table, a code over 7 characters or a statement error
    //               (event_last_error()).
    bool has_picks() const;
    [[nodiscard]] bool insert_picks(const PickRow* rows, size_t count);

    // The event list operations between begin_events() and end_events() form one
    // transaction (the rows of one worker pass): the store sees one commit for them.
    // Sample reading must not run in between; a long transaction blocks the writers of
    // a store with a rollback journal.
    // begin_events: autocommit off. @retval false no connection or refused (event_last_error()).
    [[nodiscard]] bool begin_events();
    // end_events: commits (`commit`) or rolls back, then turns autocommit on again. A
    // failed commit is rolled back. @retval false the commit failed (event_last_error()).
    [[nodiscard]] bool end_events(bool commit);

    // Text of the last failure of connect/set_param/get_sps/next_data_start:
    // "[operation] message : driver message".
    std::string last_error() const;

    std::string data_source_name() const;
    std::string data_directory() const;
    bool use_tend() const;
    // A copy of the catalogue built at the last connect.
    StoreCatalog catalog() const;

private:
    bool connect_locked();
    void disconnect_locked();
    bool is_alive_locked();
    void check_tend_locked();
    int prepare_all_locked();
    // select_sac (`sac`) or select_fap.
    int select_response(bool sac, std::string_view sta, std::string_view chan, std::string_view loc,
                        std::string_view net, const StoreTimestamp& when, std::string& out);
    // `longest` := the longest TQTY among the rows read (seconds).
    int read_rows_locked(SegmentQuery& q, float* buffer, size_t capacity, double t0, double t1,
                         double& delivered_end, double& longest, std::vector<FilledRange>* filled,
                         std::vector<SegmentFault>* faults, double channel_sps);
    // The lowest TBEGIN a segment overlapping a window from `t0` can have: t0 less the
    // channel's longest segment and a margin; -DBL_MAX while that is not known.
    double segment_floor_locked(std::string_view sta, std::string_view chan, std::string_view loc,
                                double t0);
    // Raises the channel's known longest segment to `length` seconds.
    void note_segment_length_locked(std::string_view sta, std::string_view chan,
                                    std::string_view loc, double length);
    // TEND, or TBEGIN+TQTY, with the catalogue's names.
    std::string segment_end_expr_locked() const;
    // Adds the fault of a segment that could not be read (`outside`: its path was
    // refused); false when the window must fail instead (the data directory itself
    // cannot be read).
    // `why`: the reason a row is refused before it is read ("" = from the outcome).
    bool note_fault_locked(const SegmentRow& row, bool times_null, bool outside,
                           const std::string& why, const std::string& path,
                           const SegmentOutcome& out, double t0, double t1,
                           std::vector<SegmentFault>& faults) const;
    bool data_directory_readable_locked() const;
    // `select <value_expr> from <t>` for one channel (location rule as in read_samples),
    // prepared for this call; `operation` opens the error text.
    // @retval 1 found (`value` set), 0 no row or NULL, -1 error (last_error_).
    int select_channel_value_locked(const char* operation, Table t, const std::string& value_expr,
                                    std::string_view sta, std::string_view chan,
                                    std::string_view loc, double& value);

    // Guards every member below and the connection's handles and statements.
    mutable std::mutex mutex_;
    std::string data_source_ = "QSX";  // at most 31 characters
    std::string user_ = "QSX";
    std::string password_ = "VEM";
    std::string data_dir_ = "D:/Data";  // forward slashes
    bool use_tend_ = true;
    std::string last_error_;      // connect, set_param, get_sps, next_data_start
    std::string response_error_;  // select_sac, select_fap
    std::string event_error_;     // delete_data, is_exist, insert_data
    StoreCatalog catalog_;
    // Declared after the catalogue so that statements go before it on destruction.
    std::unique_ptr<StoreConnection> conn_;
};

}  // namespace zelvik::db
