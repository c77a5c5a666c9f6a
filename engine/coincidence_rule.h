// The network coincidence rule of the alarm: a detection raises the alarm (display,
// sound, "ALERT" mail) only when detections of at least k different stations have
// onsets within a window of s seconds. Detections are judged by their onsets (data
// time), never by when they reached the supervisor, since the worker visits channels
// one after the other and a station may run behind. With k = 1 the supervisor does not
// use this class at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/mutex.h"

namespace zelvik::detect {

// One detection as the worker hands it over.
struct NetworkDetection {
    int channel = 0;            // index into the detector list
    std::string station;        // stations, not channels, are counted
    std::string name;           // "STA.CHA.LOC" for the log
    double onset = 0.0;         // seconds since 1970 UTC
    double sta_variance = 0.0;  // for the "ALERT" line
    float ratio = 0.0f;         // for the "ALERT" line
};

// How far one channel has got, as the supervisor read it at the start of a pass.
struct ChannelProgress {
    std::string station;
    double data_time = 0.0;  // seconds since 1970; 0 = no data yet
    double lag = 0.0;        // seconds between an onset and the sample that declares it
    bool live = false;       // running and not stalled: its data may still come
};

// What one pass decided.
struct CoincidenceOutcome {
    struct Raised {
        NetworkDetection detection;
        int stations = 0;  // stations within the window that made the group
    };
    std::vector<Raised> raised;           // in onset order; each detection at most once
    std::vector<NetworkDetection> below;  // no group can form any more
};

class CoincidenceRule {
public:
    static constexpr size_t kMaxKept = 10000;  // detections kept for grouping

    // `stations` k (at least 2 to be of use), `window_s` s >= 0. `channels`: number of
    // detectors, for confirmed_onset().
    CoincidenceRule(int stations, double window_s, size_t channels);

    // Between passes, the worker waiting: the channels in the order of a changed set
    // (old_of_new[i]: the channel that i continues, -1 = a new one). Detections of
    // channels that went are dropped with them.
    void remap(const std::vector<int>& old_of_new);

    // Worker thread: queues a detection for the next pass. Never waits for the pass.
    void add(NetworkDetection d);

    // Supervisor thread. Takes the queued detections, raises those that now form a
    // group, and decides "below" for a waiting one once every other station's live
    // channels have passed onset + window (by the progress of the previous pass, so a
    // detection handed over just before its channel's data time moved is never missed),
    // or it has waited `max_wait_s` of `now`. `final` decides every waiting one (the run
    // has ended: no more data will come).
    CoincidenceOutcome pass(const std::vector<ChannelProgress>& progress, int64_t now,
                            bool final = false);

    // Supervisor thread: the latest onset of channel i that raised the alarm; 0 = none.
    double confirmed_onset(size_t i) const { return i < confirmed_.size() ? confirmed_[i] : 0.0; }

    int stations() const { return stations_; }
    double window() const { return window_; }
    static constexpr double kMaxWaitSeconds = 3600.0;

private:
    enum class Verdict { kWaiting, kRaised, kBelow };
    struct Kept {
        NetworkDetection d;
        Verdict verdict = Verdict::kWaiting;
        int64_t arrived = 0;  // `now` of the pass that took it
    };

    void take_queued(int64_t now, std::vector<size_t>& fresh);
    void raise_group_of(size_t at, CoincidenceOutcome& out);
    bool settled(const Kept& k, const std::vector<ChannelProgress>& progress) const;
    void trim(CoincidenceOutcome& out);

    const int stations_;
    const double window_;

    // Guards queued_, the hand-over from the worker.
    common::Mutex queue_mutex_;
    std::vector<NetworkDetection> queued_ GUARDED_BY(queue_mutex_);

    // Supervisor thread only.
    std::vector<Kept> kept_;  // sorted by onset
    std::vector<double> confirmed_;
    std::vector<ChannelProgress> previous_;
};

}  // namespace zelvik::detect
