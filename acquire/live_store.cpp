// A stream's state is loaded from the store the first time one of its records arrives
// (its newest segment and where its data end), so a restarted or reconnected source
// carries on the same growing segment. Pending row changes are kept per stream until
// commit(); after a failed commit everything is reloaded from the store.
#include "acquire/live_store.h"

#include <cmath>
#include <ctime>
#include <utility>

#include "db/sample_reading.h"
#include "db/segment_writer.h"

namespace zelvik::acquire {

struct LiveStore::Stream {
    std::string station, channel, location;  // as FILELIST holds them
    bool has_open = false;
    OpenSegment open;
    bool open_in_store = false;  // its row exists (committed or in this transaction)
    int64_t stored_samples = 0;  // samples its row says it holds
    double held_end = 0;         // end of the newest data held or being written
    DataFile file;               // the day file being written
    int64_t file_end = 0;        // bytes: where a new segment in `file` starts
    struct Closed {
        db::SegmentRecord row;
        bool in_store;  // its row exists and only grows; else it is inserted
    };
    std::vector<Closed> closed;     // finished segments whose rows are pending
    std::vector<DataFile> to_sync;  // earlier day files written since the commit
};

namespace {

db::SegmentRecord row_of(const std::string& sta, const std::string& cha, const std::string& loc,
                         const OpenSegment& seg) {
    return {sta,          cha,
            loc,          seg.tbegin,
            seg.sps,      static_cast<double>(seg.samples) / seg.sps,
            seg.datatype, seg.foff,
            seg.cpath,    static_cast<int64_t>(std::time(nullptr))};
}

}  // namespace

LiveStore::LiveStore(db::SegmentWriter& writer, std::string data_dir, Logger log)
    : writer_(writer), data_dir_(std::move(data_dir)), log_(std::move(log)) {}

LiveStore::~LiveStore() = default;

LiveStore::Stream* LiveStore::stream_for(const StoredRecord& record) {
    const std::string location = record.location.empty() ? "??" : record.location;
    const std::string key = record.station + "." + record.channel + "." + location;
    auto& slot = streams_[key];
    if (slot) return slot.get();
    slot = std::make_unique<Stream>();
    slot->station = record.station;
    slot->channel = record.channel;
    slot->location = location;
    if (!load(*slot, record)) {
        streams_.erase(key);
        return nullptr;
    }
    return slot.get();
}

bool LiveStore::load(Stream& s, const StoredRecord& record) {
    in_transaction_ = true;
    if (!writer_.add_channel(s.station, s.channel, s.location, record.sps,
                             static_cast<int64_t>(std::time(nullptr)))) {
        error_ = writer_.last_error();
        return false;
    }
    db::SegmentRecord last;
    const int found = writer_.last_segment(s.station, s.channel, s.location, last);
    if (found < 0) {
        error_ = writer_.last_error();
        return false;
    }
    if (found == 0 || !(last.sps > 0)) return true;
    const auto samples = static_cast<int64_t>(db::samples_in_span(last.tqty, last.sps));
    s.open = {last.tbegin, last.sps, samples, last.datatype, last.foff, last.cpath};
    s.has_open = true;
    s.open_in_store = true;
    s.stored_samples = samples;
    s.held_end = s.open.end();
    return true;
}

bool LiveStore::open_day_file(Stream& s, const std::string& cpath) {
    if (s.file.is_open() && s.file.path() == data_dir_ + "/" + cpath) return true;
    if (s.file.is_open()) s.to_sync.push_back(std::move(s.file));
    if (!s.file.open(data_dir_ + "/" + cpath)) {
        error_ = s.file.last_error();
        return false;
    }
    s.file_end = s.file.size();
    // Bytes past the open segment's committed samples were left by a run that stopped
    // before its commit: the segment carries on over them.
    if (s.has_open && s.open.cpath == cpath) {
        const int64_t open_end =
            s.open.foff +
            s.open.samples * static_cast<int64_t>(db::bytes_per_sample(s.open.datatype));
        s.file_end = open_end;
    }
    return s.file_end >= 0;
}

bool LiveStore::write_samples(Stream& s, const StoredRecord& record, int64_t skip, bool extend) {
    const auto width = static_cast<int64_t>(db::bytes_per_sample(record.datatype));
    const int64_t count = record.count - skip;
    const double start = record.start + static_cast<double>(skip) / record.sps;
    const std::string cpath =
        day_file_path(record.network, record.station, record.location, record.channel, start);
    if (!extend && s.has_open && (!s.open_in_store || s.open.samples != s.stored_samples))
        s.closed.push_back({row_of(s.station, s.channel, s.location, s.open), s.open_in_store});
    if (!open_day_file(s, cpath)) return false;
    if (!extend) {
        s.open = {start, record.sps, 0, record.datatype, s.file_end, cpath};
        s.has_open = true;
        s.open_in_store = false;
        s.stored_samples = 0;
    }
    const int64_t offset = s.open.foff + s.open.samples * width;
    if (!s.file.write_at(offset, record.bytes.data() + skip * width,
                         static_cast<size_t>(count * width))) {
        error_ = s.file.last_error();
        return false;
    }
    s.open.samples += count;
    s.file_end = std::max(s.file_end, offset + count * width);
    s.held_end = std::max(s.held_end, s.open.end());
    return true;
}

bool LiveStore::held_elsewhere(const StoredRecord& record, bool& held) {
    const std::string location = record.location.empty() ? "??" : record.location;
    const double end = record.start + static_cast<double>(record.count) / record.sps;
    in_transaction_ = true;
    const int found = writer_.holds(record.station, record.channel, location, record.start, end);
    if (found < 0) {
        error_ = writer_.last_error();
        return false;
    }
    held = found == 1;
    return true;
}

LiveStore::Outcome LiveStore::add(const StoredRecord& record) {
    if (!(record.sps > 0) || record.count <= 0) return Outcome::kHeld;
    Stream* s = stream_for(record);
    if (!s) return Outcome::kFailed;
    const RecordSpan span{record.start, record.sps, record.count, record.datatype,
                          day_file_path(record.network, record.station, record.location,
                                        record.channel, record.start)};
    const PlacementResult place = place_record(s->has_open ? &s->open : nullptr, s->held_end, span);
    if (place.how == Placement::kHeld) return Outcome::kHeld;
    if (place.how == Placement::kEarlier) {
        // Before the stream's end: stored only when it fills a gap, as a segment of its
        // own; the open segment is closed so that nothing is written over it.
        bool held = false;
        if (!held_elsewhere(record, held)) return Outcome::kFailed;
        if (held) return Outcome::kHeld;
        log_("record of " + s->station + "." + s->channel + " at " + std::to_string(record.start) +
             " fills a gap before the stream's end");
        const double keep_end = s->held_end;
        if (!write_samples(*s, record, 0, false)) return Outcome::kFailed;
        s->closed.push_back({row_of(s->station, s->channel, s->location, s->open), false});
        s->has_open = false;
        s->held_end = keep_end;
        ++pending_records_;
        return Outcome::kStored;
    }
    if (!write_samples(*s, record, place.skip, place.how == Placement::kExtend))
        return Outcome::kFailed;
    ++pending_records_;
    return Outcome::kStored;
}

bool LiveStore::commit() {
    // A look-up alone also ends its transaction: an open one would keep SQLite's
    // shared lock and block Zelvik's own writes.
    if (pending_records_ == 0 && !in_transaction_) return true;
    error_.clear();
    bool ok = true;
    for (auto& [key, s] : streams_) {
        for (DataFile& f : s->to_sync) {
            if (ok && !f.sync()) error_ = f.last_error(), ok = false;
        }
        if (ok && s->file.is_open() && !s->file.sync()) error_ = s->file.last_error(), ok = false;
    }
    for (auto& [key, s] : streams_) {
        for (const Stream::Closed& c : s->closed)
            ok = ok && (c.in_store ? writer_.extend_segment(c.row) : writer_.add_segment(c.row));
        if (!ok || !s->has_open) continue;
        const db::SegmentRecord row = row_of(s->station, s->channel, s->location, s->open);
        if (!s->open_in_store) {
            ok = writer_.add_segment(row);
        } else if (s->open.samples != s->stored_samples) {
            ok = writer_.extend_segment(row);
        }
    }
    ok = ok && writer_.commit();
    if (!ok) {
        if (error_.empty()) error_ = writer_.last_error();
        writer_.roll_back();
        forget_all();
        return false;
    }
    for (auto& [key, s] : streams_) {
        s->closed.clear();
        s->to_sync.clear();
        if (s->has_open) {
            s->open_in_store = true;
            s->stored_samples = s->open.samples;
        }
    }
    pending_records_ = 0;
    in_transaction_ = false;
    error_.clear();
    return true;
}

void LiveStore::forget_all() {
    streams_.clear();
    pending_records_ = 0;
    in_transaction_ = false;
}

}  // namespace zelvik::acquire
