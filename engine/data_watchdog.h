// The data watchdog: a running channel whose data time has not moved on for NODATA
// seconds of the computer's clock is stalled until its data time moves again. A store
// that does not answer for NODATA seconds stalls every channel at once and is reported
// once as such, not channel by channel. Data times more than 60 s ahead of the clock
// are named once per channel. Every decision is one log line, kept for the front end.
// Supervisor thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelvik::detect {

// One channel as the supervisor read it at the start of a pass.
struct WatchedChannel {
    double data_time = 0.0;  // seconds since 1970; 0 = no data yet
    bool running = false;    // only running channels are watched
};

// What a channel looks like to the operator after the pass.
struct WatchState {
    bool stalled = false;
    bool by_outage = false;       // stalled because the store does not answer
    double last_data_time = 0.0;  // 0 = no data yet
    double stalled_since = 0.0;   // clock time the stall was noticed; 0 when not stalled
    double resumed_at = 0.0;      // clock time the data last resumed; 0 = never stalled
};

class DataWatchdog {
public:
    static constexpr double kFutureTolerance = 60.0;  // seconds ahead of the clock

    // `no_data_s` NODATA; `watch` false (NODATA 0, a catch-up run) never stalls a channel
    // but still names data times in the future. `labels[i]` is "Channel n (STA.CHA.LOC)".
    DataWatchdog(int no_data_s, bool watch, std::vector<std::string> labels);

    // Between passes: the channels in the order of a changed set (old_of_new[i]: the
    // channel that i continues, -1 = a new one, watched from its first data on).
    void remap(const std::vector<int>& old_of_new, std::vector<std::string> labels);

    // One pass at `now` (the run clock, which times NODATA), with data times judged
    // against `wall` (the system clock; 0 takes `now`). `store_down`: the store
    // connection is lost and not yet back. True when some channel's stalled state changed.
    bool pass(const std::vector<WatchedChannel>& channels, bool store_down, int64_t now,
              double wall = 0.0);

    // Log lines written by the last pass, in order.
    const std::vector<std::string>& lines() const { return lines_; }
    const std::vector<WatchState>& states() const { return states_; }
    bool watching() const { return watch_; }
    int no_data_seconds() const { return no_data_; }

private:
    struct Tracked {
        double last_seen = 0.0;     // data time at the last advance
        double last_advance = 0.0;  // clock time of that advance (or of the watch start)
        bool future_named = false;
    };

    void say(const std::string& line);
    bool watch_outage(bool store_down, double now);
    bool watch_channel(size_t i, const WatchedChannel& c, double now);
    void check_future(size_t i, double data_time, double now);

    const int no_data_;
    const bool watch_;
    std::vector<std::string> labels_;
    std::vector<Tracked> tracked_;
    std::vector<WatchState> states_;
    double outage_since_ = 0.0;  // clock time the store was first seen down; 0 = up
    bool outage_stall_ = false;  // the outage has lasted NODATA and was reported
    bool started_ = false;
    std::vector<std::string> lines_;
};

}  // namespace zelvik::detect
