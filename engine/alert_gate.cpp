// The trigger values wait in a small map from the detection until its measurement has
// been reported or judged a repeat; the map is only touched under its lock and never
// across the report queue or the store.
#include "engine/alert_gate.h"

#include <algorithm>

#include "common/channel_id.h"
#include "common/civil_time.h"
#include "common/log.h"
#include "engine/channel_set_change.h"
#include "engine/event_store_sink.h"
#include "report/detection_report.h"

namespace zelvik::detect {

AlertGate::AlertGate(EventStoreSink& sink, report::ReportSender& sender)
    : sink_(sink), sender_(sender) {}

void AlertGate::set_channels(std::vector<std::string> names, double fresh_from, bool reports) {
    names_ = std::move(names);
    fresh_from_ = fresh_from;
    reports_ = reports;
    cleared_ = std::make_unique<std::atomic<double>[]>(names_.size());
    for (size_t i = 0; i < names_.size(); ++i) cleared_[i].store(0.0);
}

void AlertGate::remap(std::vector<std::string> names, const std::vector<int>& old_of_new,
                      bool reports) {
    auto cleared = std::make_unique<std::atomic<double>[]>(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        const int from = old_of_new[i];
        const bool kept = from >= 0 && static_cast<size_t>(from) < names_.size();
        cleared[i].store(kept ? cleared_[static_cast<size_t>(from)].load() : 0.0);
    }
    const std::vector<int> to = new_of_old(old_of_new, names_.size());
    {
        const common::MutexLock lock(mutex_);
        std::map<std::pair<int, double>, Trigger> moved;
        for (const auto& [key, trigger] : triggers_) {
            const int c = key.first;
            if (c >= 0 && static_cast<size_t>(c) < to.size() && to[static_cast<size_t>(c)] >= 0)
                moved[{to[static_cast<size_t>(c)], key.second}] = trigger;
        }
        triggers_ = std::move(moved);
    }
    names_ = std::move(names);
    cleared_ = std::move(cleared);
    reports_ = reports;
}

void AlertGate::detection(int channel, double onset, double sta_variance, float ratio) {
    const common::MutexLock lock(mutex_);
    triggers_[{channel, onset}] = {sta_variance, ratio};
}

int AlertGate::channel_of(const Measurement& m) const {
    const std::string name = common::channel_id(m.station, m.channel, m.location);
    const auto it = std::find(names_.begin(), names_.end(), name);
    return it == names_.end() ? -1 : static_cast<int>(it - names_.begin());
}

void AlertGate::store(const Measurement& m) {
    if (m.onset >= fresh_from_) report(m);
    sink_.store(m);
}

void AlertGate::verdict(const Measurement& m, bool existed) {
    if (m.onset >= fresh_from_) return;  // reported when it was measured
    if (!reports_) {
        // The coincidence rule reports; it asks for this verdict when it raises.
        const common::MutexLock lock(mutex_);
        replayed_[{common::channel_id(m.station, m.channel, m.location), m.onset}] = existed;
        // Replayed detections that never formed a group are never asked for.
        if (replayed_.size() > kMaxReplayed) replayed_.erase(replayed_.begin());
        return;
    }
    const int channel = channel_of(m);
    if (existed) {
        common::log_printf(
            "Detection %s at %s UTC was stored by an earlier run: no alarm, no report",
            common::channel_id(m.station, m.channel, m.location).c_str(),
            common::utc_text(m.onset).c_str());
        const common::MutexLock lock(mutex_);
        triggers_.erase({channel, m.onset});
        return;
    }
    if (channel >= 0) {
        std::atomic<double>& c = cleared_[static_cast<size_t>(channel)];
        if (m.onset > c.load()) c.store(m.onset);
    }
    report(m);
}

AlertGate::Replay AlertGate::take_replay(const std::string& name, double onset) {
    if (onset >= fresh_from_) return Replay::kLive;
    const common::MutexLock lock(mutex_);
    const auto it = replayed_.find({name, onset});
    if (it == replayed_.end()) return Replay::kPending;
    const bool existed = it->second;
    replayed_.erase(it);
    return existed ? Replay::kStored : Replay::kNew;
}

double AlertGate::alarm_onset(size_t channel, double last_onset) const {
    if (last_onset >= fresh_from_ || channel >= names_.size()) return last_onset;
    return std::min(last_onset, cleared_[channel].load());
}

void AlertGate::report(const Measurement& m) {
    if (!reports_) return;
    const int channel = channel_of(m);
    Trigger t;
    {
        const common::MutexLock lock(mutex_);
        const auto it = triggers_.find({channel, m.onset});
        if (it != triggers_.end()) {
            t = it->second;
            triggers_.erase(it);
        }
    }
    report::ReportEntry e;
    e.station = m.station;
    e.onset = m.onset;
    e.sta_variance = t.sta_variance;
    e.ratio = t.ratio;
    e.channel = m.channel;
    e.location = m.location;
    e.period = m.period;
    e.amplitude_counts = m.amplitude_counts;
    e.amplitude_um = m.amplitude_um;
    if (m.pick) {
        e.pick = m.pick->time;
        e.pick_grade = m.pick->grade;
        e.pick_snr = m.pick->snr;
    }
    (void)sender_.report_entry(std::move(e));
}

}  // namespace zelvik::detect
