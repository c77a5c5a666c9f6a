// Watchdog passes. Time runs on the computer's clock; data times only tell whether a
// channel moved on. Time without the store does not count against a channel: when the
// store answers again every channel gets a fresh NODATA to show new data.
#include "engine/data_watchdog.h"

#include <algorithm>
#include <cstdio>

#include "common/civil_time.h"
#include "common/log.h"
#include "engine/channel_set_change.h"

namespace zelvik::detect {
namespace {

std::string data_time_text(double t) {
    return t > 0.0 ? common::utc_text(t) + " UTC" : std::string("none yet");
}

}  // namespace

DataWatchdog::DataWatchdog(int no_data_s, bool watch, std::vector<std::string> labels)
    : no_data_(std::max(0, no_data_s)),
      watch_(watch && no_data_s > 0),
      labels_(std::move(labels)),
      tracked_(labels_.size()),
      states_(labels_.size()) {}

void DataWatchdog::remap(const std::vector<int>& old_of_new, std::vector<std::string> labels) {
    labels_ = std::move(labels);
    tracked_ = remap_rows(tracked_, old_of_new);
    states_ = remap_rows(states_, old_of_new);
}

void DataWatchdog::say(const std::string& line) {
    (void)common::log_write(line);
    lines_.push_back(line);
}

bool DataWatchdog::pass(const std::vector<WatchedChannel>& channels, bool store_down, int64_t now,
                        double wall) {
    lines_.clear();
    const auto t = static_cast<double>(now);
    const double w = wall > 0.0 ? wall : t;
    bool changed = watch_outage(store_down, t);
    const size_t n = std::min(channels.size(), states_.size());
    for (size_t i = 0; i < n; ++i) {
        check_future(i, channels[i].data_time, w);
        if (!store_down) changed = watch_channel(i, channels[i], t) || changed;
    }
    return changed;
}

bool DataWatchdog::watch_outage(bool store_down, double now) {
    if (!watch_) return false;
    char line[256];
    if (store_down) {
        if (outage_since_ == 0.0) outage_since_ = now;
        if (outage_stall_ || now - outage_since_ < no_data_) return false;
        outage_stall_ = true;
        std::snprintf(line, sizeof line,
                      "No data from any channel for %.0f s: the store does not answer since %s",
                      now - outage_since_, data_time_text(outage_since_).c_str());
        say(line);
        for (size_t i = 0; i < states_.size(); ++i) {
            WatchState& s = states_[i];
            if (tracked_[i].last_advance == 0.0 || s.stalled) continue;  // never ran, or already
            s.stalled = true;
            s.by_outage = true;
            s.stalled_since = now;
        }
        return true;
    }
    if (outage_since_ == 0.0) return false;
    const bool reported = outage_stall_;
    const double lasted = now - outage_since_;
    outage_since_ = 0.0;
    outage_stall_ = false;
    for (size_t i = 0; i < states_.size(); ++i) {
        WatchState& s = states_[i];
        if (tracked_[i].last_advance == 0.0 || (s.stalled && !s.by_outage)) continue;
        tracked_[i].last_advance = std::max(tracked_[i].last_advance, now);
        if (s.by_outage) {
            s.stalled = false;
            s.by_outage = false;
            s.stalled_since = 0.0;
            s.resumed_at = now;
        }
    }
    if (!reported) return false;
    std::snprintf(line, sizeof line, "The store answers again after %.0f s: channels are watched",
                  lasted);
    say(line);
    return true;
}

bool DataWatchdog::watch_channel(size_t i, const WatchedChannel& c, double now) {
    if (!watch_ || !c.running) return false;
    Tracked& k = tracked_[i];
    WatchState& s = states_[i];
    char line[320];
    if (k.last_advance == 0.0) {  // watched from the first pass in which it runs
        k.last_advance = now;
        k.last_seen = c.data_time;
        s.last_data_time = c.data_time;
    }
    if (c.data_time > k.last_seen) {
        const double quiet = now - k.last_advance;
        const double before = k.last_seen;
        k.last_seen = c.data_time;
        k.last_advance = now;
        s.last_data_time = c.data_time;
        if (!s.stalled) return false;
        s.stalled = false;
        s.stalled_since = 0.0;
        s.resumed_at = now;
        std::snprintf(line, sizeof line,
                      "%s: data again after %.0f s without new data; last data time was %s, "
                      "now %s",
                      labels_[i].c_str(), quiet, data_time_text(before).c_str(),
                      data_time_text(c.data_time).c_str());
        say(line);
        return true;
    }
    if (s.stalled || now - k.last_advance < no_data_) return false;
    s.stalled = true;
    s.stalled_since = now;
    std::snprintf(line, sizeof line, "%s: no new data for %.0f s; last data time %s",
                  labels_[i].c_str(), now - k.last_advance, data_time_text(k.last_seen).c_str());
    say(line);
    return true;
}

void DataWatchdog::check_future(size_t i, double data_time, double now) {
    Tracked& k = tracked_[i];
    if (k.future_named || !(data_time > now + kFutureTolerance)) return;
    k.future_named = true;
    char line[320];
    std::snprintf(line, sizeof line,
                  "%s: data time %s is %.0f s ahead of the computer's clock: clock or data "
                  "time wrong",
                  labels_[i].c_str(), data_time_text(data_time).c_str(), data_time - now);
    say(line);
}

}  // namespace zelvik::detect
