// Settings taken over while running. Everything indexed by channel (the detector list,
// the hooks' indices, the alert gate, the coincidence queue) changes on the worker
// thread between two passes while the supervisor waits; what only the supervisor
// reads (alarm states, data watch) follows right after, so the rows never mix two sets.
#include <cmath>

#include "common/channel_id.h"
#include "common/clock.h"
#include "common/log.h"
#include "db/wave_store.h"
#include "engine/channel_set_change.h"
#include "engine/supervisor.h"

namespace zelvik::detect {

void Supervisor::take_over_values(const SupervisorSettings& s) {
    settings_.thread_count = s.thread_count;
    settings_.sleep_seconds = s.sleep_seconds;
    settings_.storage_days = s.storage_days;
    settings_.wav_file = s.wav_file;
    settings_.silence_seconds = s.silence_seconds;
    settings_.max_duration_seconds = s.max_duration_seconds;
    settings_.no_data_seconds = s.no_data_seconds;
    settings_.coincidence = s.coincidence;
    settings_.window_seconds = s.window_seconds;
    if (!(s.mail == settings_.mail)) sender_.change_mail(s.mail);
    settings_.mail = s.mail;
    board_.set_durations(s.max_duration_seconds, s.silence_seconds);
}

bool Supervisor::apply_settings(const SettingsUpdate& update, std::chrono::milliseconds wait) {
    SupervisorSettings next = update.settings;
    check_alarm_settings(next);
    std::vector<ChannelSettings> running;
    for (const auto& d : detectors_) running.push_back(d->settings());
    const ChannelPlan plan = plan_channels(running, update.channels);
    const size_t count = update.channels.size();

    // Built here, off the worker; the worker's first visit prepares them on its own
    // connection. A new channel looks as far back as the run did at its start.
    const double back = static_cast<double>(started_at_ - start_time_);
    const double start = static_cast<double>(common::now_utc_seconds()) - back;
    std::vector<std::unique_ptr<ChannelDetector>> fresh(count);
    std::vector<std::shared_ptr<int>> fresh_index(count);
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        const ChannelSettings& c = update.channels[i];
        names.push_back(common::channel_id(c.station, c.channel, c.location));
        if (plan.old_of_new[i] >= 0) continue;
        fresh_index[i] = std::make_shared<int>(static_cast<int>(i));
        fresh[i] = std::make_unique<ChannelDetector>(link_, &gate_, detection_hook(fresh_index[i]));
        fresh[i]->configure(c, start);
    }
    const bool rule_changed = next.coincidence != settings_.coincidence ||
                              next.window_seconds != settings_.window_seconds;
    std::unique_ptr<CoincidenceRule> rule;
    if (rule_changed && coincidence_) {
        // The waiting detections are judged by the rule they arrived under.
        for (size_t i = 0; i < detectors_.size(); ++i)
            readings_[i].last_data_time = detectors_[i]->last_data_time();
        coincidence_pass(common::now_utc_seconds(), true);
    }
    if (rule_changed && next.coincidence > 1)
        rule = std::make_unique<CoincidenceRule>(next.coincidence, next.window_seconds, count);

    // Worker thread between passes (or this one when no worker runs).
    const auto change = [&] {
        Worker::DetectorList list(count);
        std::vector<std::shared_ptr<int>> index(count);
        for (size_t i = 0; i < count; ++i) {
            const int from = plan.old_of_new[i];
            if (from >= 0) {
                list[i] = std::move(detectors_[static_cast<size_t>(from)]);
                index[i] = std::move(hook_index_[static_cast<size_t>(from)]);
                *index[i] = static_cast<int>(i);
                list[i]->renumber(update.channels[i].index);
                continue;
            }
            const int replaced = plan.changed_from[i];
            if (replaced >= 0)
                fresh[i]->configure(update.channels[i],
                                    detectors_[static_cast<size_t>(replaced)]->read_position());
            list[i] = std::move(fresh[i]);
            index[i] = std::move(fresh_index[i]);
        }
        Worker::DetectorList going;
        for (auto& d : detectors_)
            if (d) going.push_back(std::move(d));
        detectors_ = std::move(list);
        hook_index_ = std::move(index);
        if (rule_changed)
            coincidence_ = std::move(rule);
        else if (coincidence_)
            coincidence_->remap(plan.old_of_new);
        gate_.remap(names, plan.old_of_new, !coincidence_);
        if (worker_) worker_->set_sleep_seconds(next.sleep_seconds);
        if (!update.connection.empty()) {
            db::WaveStore& store = link_.store();
            store.disconnect();
            for (const auto& [name, value] : update.connection)
                if (store.set_param(name, value) != 0) common::log_write(store.last_error());
            // This thread owns the connection; a failure is the link's to retry and log.
            if (store.connect())
                common::log_printf("Reconnected to the store. ODBC: %s",
                                   store.data_source_name().c_str());
            else
                link_.mark_lost();
        }
        // Their open measurements are finished with the samples they have, so their
        // lines are logged and their rows stored.
        if (going.empty()) return;
        sink_.begin_pass();
        for (const auto& d : going) d->finish_open_measurements();
        (void)sink_.end_pass();
    };
    const bool worker_runs = worker_ && !worker_->finished();
    if (worker_runs) {
        if (!worker_->handover().hand_over(change, wait, [this] { return worker_->finished(); })) {
            // The worker ended meanwhile: nothing walks the list any more.
            if (!worker_->finished()) return false;
            change();
        }
    } else {
        change();
    }

    // Supervisor-only state follows the new order.
    board_.remap(plan.old_of_new);
    readings_.resize(count);
    backlog_end_ = remap_rows(backlog_end_, plan.old_of_new, 0.0);
    alarms_ = remap_rows(alarms_, plan.old_of_new, 0L);
    raised_onset_ = remap_rows(raised_onset_, plan.old_of_new, 0.0);
    const bool was_ready = sender_.ready();
    const bool no_data_changed = next.no_data_seconds != settings_.no_data_seconds;
    take_over_values(next);
    // The NO DATA mail exists only while the report sender runs.
    const bool watch_changed = no_data_changed || was_ready != sender_.ready();
    if (watch_changed) {
        build_watch();
    } else {
        if (watchdog_) watchdog_->remap(plan.old_of_new, watch_labels());
        if (no_data_mail_) no_data_mail_->remap(plan.old_of_new, channel_names());
    }
    return true;
}

}  // namespace zelvik::detect
