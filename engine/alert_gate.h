// Between the detectors and the alerts: a detection is reported with its measurement,
// and one in data recorded before this run started (a restart that begins BEGIN seconds
// back reads it again) is alarmed and reported only when its event row turns out to be
// new. A detection some earlier run already stored is neither alarmed nor reported a
// second time; live detections go out at once, whatever the store does.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channel/detection_record.h"
#include "common/mutex.h"

namespace zelvik::report {
class ReportSender;
}

namespace zelvik::detect {

class EventStoreSink;

class AlertGate : public MeasurementSink {
public:
    // Neither is owned; both must outlive the gate.
    AlertGate(EventStoreSink& sink, report::ReportSender& sender);

    // Supervisor thread, before the worker starts. `names[i]` is "STA.CHA.LOC" of
    // channel i; onsets before `fresh_from` (seconds since 1970, the run's start) wait
    // for the event store's verdict. `reports` false: the coincidence rule reports, and
    // the gate only passes the measurements on.
    void set_channels(std::vector<std::string> names, double fresh_from, bool reports);

    // Between passes, the worker waiting or running the change: the channels in the
    // order of a changed set (old_of_new[i]: the channel that i continues, -1 = new);
    // `reports` as in set_channels().
    void remap(std::vector<std::string> names, const std::vector<int>& old_of_new, bool reports);

    // Worker thread: a new detection's trigger values, kept for its report.
    void detection(int channel, double onset, double sta_variance, float ratio);

    // Worker thread: stores the measurement's row; a live one is reported at once.
    void store(const Measurement& m) override;

    // The event store's verdict on a measurement's row (the thread that stored it):
    // `existed` when an earlier run had written it.
    void verdict(const Measurement& m, bool existed);

    // Under the coincidence rule, whether a detection the rule raised may alarm and be
    // reported: a live one may; a replayed one once its row turned out new, never when
    // an earlier run stored it; kPending while its row waits for its verdict. The verdict
    // is forgotten once it was answered. Supervisor thread.
    enum class Replay { kLive, kPending, kNew, kStored };
    Replay take_replay(const std::string& name, double onset);

    // Supervisor thread: what the alarm may show for channel i whose detector's latest
    // onset is `last_onset`: that onset when live, else the latest one found new.
    double alarm_onset(size_t channel, double last_onset) const;

private:
    struct Trigger {
        double sta_variance = 0.0;
        float ratio = 0.0f;
    };
    void report(const Measurement& m);
    int channel_of(const Measurement& m) const;

    EventStoreSink& sink_;
    report::ReportSender& sender_;
    double fresh_from_ = 0.0;  // fixed before the worker starts
    // Set before the worker starts; changed only by remap(), between passes.
    bool reports_ = true;
    std::vector<std::string> names_;
    // Per channel: the latest replayed onset whose row was new (0 = none). Written by the
    // storing thread, read by the supervisor.
    std::unique_ptr<std::atomic<double>[]> cleared_;
    // Guards triggers_.
    mutable common::Mutex mutex_;
    std::map<std::pair<int, double>, Trigger> triggers_ GUARDED_BY(mutex_);  // by channel and onset
    // Under the coincidence rule: the verdicts on replayed rows, by "STA.CHA.LOC" and onset
    // (names, not indices, so that a changed channel set cannot mix them up).
    std::map<std::pair<std::string, double>, bool> replayed_ GUARDED_BY(mutex_);
    static constexpr size_t kMaxReplayed = 10000;
};

}  // namespace zelvik::detect
