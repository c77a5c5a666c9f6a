// Channel reader: the reads of one channel's windows. A read that fails is retried on
// the next pass; a lasting fault is logged once, not at every pass, and an unreadable
// data file gets a grace time before its segment is taken as a gap.
#include "channel/channel_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "channel/store_link.h"
#include "common/channel_id.h"
#include "common/civil_time.h"
#include "common/clock.h"
#include "common/log.h"
#include "db/store_status.h"

namespace zelvik::detect {

ChannelReader::ChannelReader(StoreLink& link, const ChannelSettings& settings)
    : link_(link), settings_(settings) {}

std::string ChannelReader::name() const {
    return common::channel_id(settings_.station, settings_.channel, settings_.location);
}

void ChannelReader::choose_response(InstrumentResponse& response) {
    db::WaveStore& store = link_.store();
    const db::StoreTimestamp now = db::store_timestamp_utc(common::now_utc());
    const char* sta = settings_.station.c_str();
    const char* cha = settings_.channel.c_str();
    const char* loc = settings_.location.c_str();
    for (const bool paz : {true, false}) {
        std::string text;
        const int found = paz ? store.select_sac(sta, cha, loc, "", now, text)
                              : store.select_fap(sta, cha, loc, "", now, text);
        if (found < 0) common::log_write(store.response_last_error());
        if (found <= 0) continue;
        // The kind follows the table even when the text does not serve; the line then
        // says why, and that amplitudes are not converted.
        (void)(paz ? response.parse_paz(text) : response.parse_fap(text));
        const std::string problem = response_text_problem(paz, text);
        if (problem.empty()) {
            common::log_printf("Response for %s.%s.%s is %s", sta, cha, loc, paz ? "PAZ" : "FAP");
        } else {
            common::log_printf("Response for %s.%s.%s is UNUSABLE: %s; %s", sta, cha, loc,
                               problem.c_str(), kUnconvertedAmplitudes);
        }
        return;
    }
    response = InstrumentResponse();
    common::log_printf("Response for %s.%s.%s is NONE", sta, cha, loc);
}

double ChannelReader::window_seconds(double sample_rate) {
    return sample_rate > 0.0 ? std::min(kWindowSeconds, kMaxWindowSamples / sample_rate)
                             : kWindowSeconds;
}

int ChannelReader::fetch(StepBuffers& buffers, double sample_rate, double& t0, double& t1,
                         size_t& capacity) {
    capacity = static_cast<size_t>(sample_rate * (t1 - t0)) + 2;
    if (buffers.samples.size() < capacity) buffers.samples.resize(capacity);
    const int r = link_.store().read_samples(buffers.samples.data(), capacity, settings_.station,
                                             settings_.channel, settings_.location, t0, t1,
                                             &buffers.filled, &buffers.faults, sample_rate);
    if (r == db::kConnectionLost) link_.mark_lost();
    return r;
}

bool ChannelReader::delivered(const StepBuffers& buffers, size_t capacity) {
    return std::any_of(buffers.filled.begin(), buffers.filled.end(),
                       [&](const db::FilledRange& f) { return f.first < capacity && f.count > 0; });
}

WindowRead ChannelReader::read(StepBuffers& buffers, double sample_rate) {
    const double window = window_seconds(sample_rate);
    double t0 = position_;
    double t1 = t0 + window;
    size_t capacity = 0;
    const int r = fetch(buffers, sample_rate, t0, t1, capacity);
    if (r == db::kNoSegment)
        return jump_to_next_data(t0 + window) ? WindowRead::kMoved : WindowRead::kStalled;
    if (r != 0) {
        // Retried next pass, but a lasting fault (the data directory gone) is named
        // once, with the file it stopped at, instead of leaving the channel silently stuck.
        retry_ = true;
        if (r != last_read_status_ && r != db::kConnectionLost)
            log_read_failure(r, t0, buffers.faults);
        last_read_status_ = r;
        return WindowRead::kStalled;
    }
    last_read_status_ = 0;
    if (!accept_faults(buffers.faults)) {
        retry_ = true;
        return WindowRead::kStalled;
    }
    if (!(t1 > position_)) return WindowRead::kStalled;
    position_ = t1;
    buffers.window_start = t0;
    buffers.capacity = capacity;
    // Progress even when the segments delivered no samples (a format that is not
    // read): a catch-up run must not take that for the end of the data.
    return delivered(buffers, capacity) ? WindowRead::kSamples : WindowRead::kMoved;
}

bool ChannelReader::read_span(StepBuffers& buffers, double sample_rate, double t0, double t1) {
    if (!(t1 > t0) || t1 - t0 > window_seconds(sample_rate)) return false;
    size_t capacity = 0;
    if (fetch(buffers, sample_rate, t0, t1, capacity) != 0) return false;
    buffers.window_start = t0;
    buffers.capacity = capacity;
    return delivered(buffers, capacity);
}

void ChannelReader::log_read_failure(int status, double t0,
                                     const std::vector<db::SegmentFault>& faults) {
    const std::string file = faults.empty()
                                 ? std::string()
                                 : " (" + faults.back().path + ": " + faults.back().reason + ")";
    common::log_printf("Channel %d (%s): reading at %s failed: %s%s", settings_.index,
                       name().c_str(), common::utc_text(t0).c_str(), db::to_string(status),
                       file.c_str());
}

namespace {
double steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

bool ChannelReader::accept_faults(const std::vector<db::SegmentFault>& faults) {
    // An unreadable data file may be back in a moment (a copy in progress, permissions
    // being fixed): the window is read again until the file has stayed unreadable for
    // the grace time, and only then is its segment passed over as a gap.
    for (const db::SegmentFault& f : faults) {
        if (f.kind != db::SegmentFault::kUnreadable) continue;
        const double now = steady_seconds();
        if (unreadable_path_ != f.path) {
            unreadable_path_ = f.path;
            unreadable_since_ = now;
            common::log_printf("Channel %d (%s): data file %s cannot be read (%s); trying again",
                               settings_.index, name().c_str(), f.path.c_str(), f.reason.c_str());
        }
        if (now - unreadable_since_ < unreadable_grace_) return false;
    }
    unreadable_path_.clear();
    for (const db::SegmentFault& f : faults) log_skipped(f);
    return true;
}

void ChannelReader::log_skipped(const db::SegmentFault& f) {
    // A segment that spans two windows is reported in both; its file is named once. Rows
    // at fault are named once per file and reason (a row that stops the reading is met
    // at every pass, the rows of a file in an unknown format at every window).
    const bool malformed = f.kind == db::SegmentFault::kMalformed;
    const bool seen = std::any_of(skipped_.begin(), skipped_.end(), [&](const db::SegmentFault& s) {
        return s.path == f.path && s.kind == f.kind && (!malformed || s.reason == f.reason);
    });
    // The same row met again at the same place is no new stretch passed over.
    const bool repeat =
        malformed && std::any_of(skipped_.begin(), skipped_.end(), [&](const db::SegmentFault& s) {
            return s.path == f.path && s.reason == f.reason && s.from == f.from;
        });
    if (!seen) {
        const char* what = f.kind == db::SegmentFault::kShort ? "is short" : "cannot be read";
        if (malformed) what = "has an unusable row";
        // A row that passes nothing over stops the reading where its data end.
        const std::string span =
            f.to > f.from
                ? common::utc_text(f.from) + " to " + common::utc_text(f.to) + " taken as a gap"
                : "no data read from it after " + common::utc_text(f.from);
        common::log_printf("Channel %d (%s): data file %s %s (%s); %s", settings_.index,
                           name().c_str(), f.path.c_str(), what, f.reason.c_str(), span.c_str());
    }
    // Bounded: a store of broken rows must not grow the list without end.
    if (!repeat && skipped_.size() < 10000) skipped_.push_back(f);
}

bool ChannelReader::jump_to_next_data(double window_end) {
    double start = 0.0;
    const int found = link_.store().next_data_start(settings_.station, settings_.channel,
                                                    settings_.location, window_end, start);
    retry_ = found < 0;  // the store did not answer: not the end of the data
    if (found <= 0 || !(start > position_)) return false;
    common::log_printf("Channel %d (%s): no data from %s, resuming at %s", settings_.index,
                       name().c_str(), common::utc_text(position_).c_str(),
                       common::utc_text(start).c_str());
    position_ = start;
    return true;
}

}  // namespace zelvik::detect
