// Supervisor start-up, pass and shutdown. Every wait of the shutdown is bounded and says
// so in the log when it runs out; detectors are destroyed only after the worker ended.
#include "engine/supervisor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "channel/data_extent.h"
#include "common/channel_id.h"
#include "common/civil_time.h"
#include "common/clock.h"
#include "common/log.h"
#include "config/ini_file.h"
#include "db/store_status.h"
#include "db/wave_store.h"
#include "engine/begin_time.h"

namespace zelvik::detect {
namespace {

// "YYYY-MM-DD hh:mm:ss.ss UTC": onsets need the hundredths the list shows, rounded as
// the list rounds them.
std::string onset_text(double onset) {
    const double rounded = std::round(onset * 100.0) / 100.0;
    const double whole = std::floor(rounded);
    char hundredths[16];
    std::snprintf(hundredths, sizeof hundredths, ".%02d",
                  std::clamp(static_cast<int>(std::lround((rounded - whole) * 100.0)), 0, 99));
    return common::utc_text(whole) + hundredths + " UTC";
}

}  // namespace

Supervisor::Supervisor(SupervisorSettings settings, db::WaveStore& store)
    : settings_(std::move(settings)),
      link_(store, stop_),
      sender_(settings_.mail),
      sink_(link_, settings_.storage_days, settings_.reconnect_pause_ms),
      gate_(sink_, sender_),
      board_(settings_.max_duration_seconds, settings_.silence_seconds) {
    sink_.set_row_verdict(
        [this](const Measurement& m, bool existed) { gate_.verdict(m, existed); });
}

Supervisor::~Supervisor() {
    if (started_) shut_down();
}

int Supervisor::clamp_thread_count() const {
    const int n = settings_.thread_count;
    if (n >= 0 && n <= kMaxChannels) return n;
    const int used = n < 0 ? 0 : kMaxChannels;
    common::log_printf("THREADS %d outside 0..%d: %d channels are set up", n, kMaxChannels, used);
    return used;
}

int64_t Supervisor::start_up() {
    started_ = true;
    const int64_t now = common::now_utc_seconds();
    run_started_ = now;
    const std::string begin =
        config::ini::read_string(settings_.settings_path, "SYSTEM", "BEGIN", "1800", 32);
    const BeginTime chosen = detection_start_time(settings_.arguments, begin, now);
    // The line names the start actually used, which is the settings' value when only
    // a command-line argument was refused.
    if (!chosen.problem.empty()) {
        const std::string used = chosen.origin == "default" ? std::string("the default 1800 s back")
                                                            : "the " + chosen.origin + " value";
        common::log_printf("%sdetection starts at %s UTC, %s", chosen.problem.c_str(),
                           common::utc_text(static_cast<double>(chosen.start)).c_str(),
                           used.c_str());
    }
    start_time_ = chosen.start;
    common::log_printf("Detection start time: %s",
                       common::format_local(start_time_, "%H:%M:%S %d.%m.%Y").c_str());
    if (sender_.start()) common::log_write("Detection report sender started");

    started_at_ = now;
    const int count = clamp_thread_count();
    check_alarm_settings(settings_);
    if (settings_.coincidence > 1) {
        coincidence_ = std::make_unique<CoincidenceRule>(
            settings_.coincidence, settings_.window_seconds, static_cast<size_t>(count));
        common::log_printf("Alarm only for detections of %d stations within %g s",
                           settings_.coincidence, settings_.window_seconds);
    }
    (void)link_.ensure_connected(false, settings_.reconnect_pause_ms);
    for (int n = 0; n < count && !stop_.requested(); ++n) {
        hook_index_.push_back(std::make_shared<int>(n));
        auto detector =
            std::make_unique<ChannelDetector>(link_, &gate_, detection_hook(hook_index_.back()));
        detector->setup(settings_.settings_path, n, static_cast<double>(start_time_));
        detectors_.push_back(std::move(detector));
    }
    // Data before this moment may have been seen by an earlier run.
    gate_.set_channels(channel_names(), static_cast<double>(now), !coincidence_);
    backlog_end_.assign(detectors_.size(), 0.0);
    board_.resize(detectors_.size());
    alarms_.assign(detectors_.size(), 0);
    raised_onset_.assign(detectors_.size(), 0.0);
    readings_.resize(detectors_.size());
    build_watch();
    summarise();
    sender_.clear_stop();
    if (settings_.stop_when_idle && !watch_.can_watch()) {
        // Nothing would ever be read: a catch-up run ends here rather than report
        // "caught up" over channels it never watched.
        stop_.request();
        return start_time_;
    }
    // What the backlog ends need is taken before the worker may touch the detectors.
    std::vector<BacklogProbe> probes;
    if (settings_.stop_when_idle) probes = backlog_probes();
    worker_ = std::make_unique<Worker>(detectors_, link_, &sink_, stop_, settings_.sleep_seconds,
                                       settings_.reconnect_pause_ms);
    (void)worker_->start(settings_.stop_when_idle);
    // The ends are found while the worker already reads: their look-ups (a few dozen
    // per channel) would otherwise delay the whole catch-up by as much.
    for (const BacklogProbe& p : probes) {
        backlog_end_[p.index] =
            channel_data_end(link_.store(), p.station, p.channel, p.location, p.sample_rate,
                             static_cast<double>(start_time_), static_cast<double>(now));
    }
    return start_time_;
}

void Supervisor::check_alarm_settings(SupervisorSettings& s) {
    if (s.coincidence < 1) {
        common::log_printf("COINCIDENCE %d below 1: every detection raises the alarm",
                           s.coincidence);
        s.coincidence = 1;
    }
    if (!(s.window_seconds >= 0.0) || !std::isfinite(s.window_seconds)) {
        common::log_printf("WINDOW %g is no span of seconds: 10 s is used", s.window_seconds);
        s.window_seconds = 10.0;
    }
    if (s.no_data_seconds < 0) {
        common::log_printf("NODATA %d below 0: the data watch is off", s.no_data_seconds);
        s.no_data_seconds = 0;
    }
}

DetectionHook Supervisor::detection_hook(std::shared_ptr<int> index) {
    // Worker thread. The rule and the list change only between passes, on this thread.
    return [this, index](const std::string& station, double onset, double sta_variance,
                         float ratio) {
        const int channel = *index;
        if (!coincidence_) {
            // One station is enough: every detection is reported with its measurement.
            gate_.detection(channel, onset, sta_variance, ratio);
            return;
        }
        const ChannelSettings& s = detectors_[static_cast<size_t>(channel)]->settings();
        coincidence_->add({channel, station, common::channel_id(s.station, s.channel, s.location),
                           onset, sta_variance, ratio});
    };
}

std::vector<std::string> Supervisor::channel_names() const {
    std::vector<std::string> names;
    for (const auto& d : detectors_) {
        const ChannelSettings& s = d->settings();
        names.push_back(common::channel_id(s.station, s.channel, s.location));
    }
    return names;
}

std::vector<std::string> Supervisor::watch_labels() const {
    std::vector<std::string> labels;
    for (const auto& d : detectors_) {
        const ChannelSettings& s = d->settings();
        labels.push_back("Channel " + std::to_string(s.index) + " (" +
                         common::channel_id(s.station, s.channel, s.location) + ")");
    }
    return labels;
}

void Supervisor::build_watch() {
    // Archive times of a catch-up run say nothing about a live feed.
    const bool watch = settings_.no_data_seconds > 0 && !settings_.stop_when_idle;
    watchdog_ = std::make_unique<DataWatchdog>(settings_.no_data_seconds, watch, watch_labels());
    no_data_mail_.reset();
    if (watch && sender_.ready())
        no_data_mail_ = std::make_unique<NoDataMail>(channel_names(), settings_.no_data_seconds);
}

void Supervisor::summarise() {
    std::vector<SetUpChannel> channels;
    for (const auto& d : detectors_) {
        const ChannelSettings& s = d->settings();
        channels.push_back({s.index, common::channel_id(s.station, s.channel, s.location),
                            d->state(), d->state_reason()});
    }
    const std::string data_dir = link_.store().data_directory();
    std::error_code ec;
    watch_ = summarise_watch(channels, data_dir, std::filesystem::is_directory(data_dir, ec));
    common::log_write(watch_.text);
}

std::vector<Supervisor::BacklogProbe> Supervisor::backlog_probes() const {
    // Only for the progress display; channels that do not run keep 0 (unknown).
    std::vector<BacklogProbe> out;
    for (size_t i = 0; i < detectors_.size(); ++i) {
        const ChannelDetector& d = *detectors_[i];
        if (d.state() != ChannelState::kRunning) continue;
        const ChannelSettings& s = d.settings();
        out.push_back({i, s.station, s.channel, s.location, d.sample_rate()});
    }
    return out;
}

AlarmPass Supervisor::run_once(int64_t now, double wall) {
    const bool final = caught_up();  // before the readings: the worker has ended then
    for (size_t i = 0; i < detectors_.size(); ++i) {
        const double onset = detectors_[i]->last_onset();
        readings_[i] = {detectors_[i]->last_data_time(),
                        coincidence_ ? onset : gate_.alarm_onset(i, onset),
                        detectors_[i]->settings().sound};
    }
    bool watch_changed = false;
    watch_pass(now, wall > 0.0 ? wall : static_cast<double>(now), watch_changed);
    if (coincidence_) {
        coincidence_pass(now, final);
        for (size_t i = 0; i < readings_.size(); ++i) readings_[i].last_onset = raised_onset_[i];
    }
    AlarmPass pass = board_.pass(readings_, now);
    for (const int i : pass.entered) ++alarms_[static_cast<size_t>(i)];
    pass.rows_changed = pass.rows_changed || watch_changed;
    return pass;
}

void Supervisor::watch_pass(int64_t now, double wall, bool& rows_changed) {
    watch_lines_.clear();
    if (!watchdog_) return;
    std::vector<WatchedChannel> channels(detectors_.size());
    for (size_t i = 0; i < detectors_.size(); ++i)
        channels[i] = {readings_[i].last_data_time,
                       detectors_[i]->state() == ChannelState::kRunning};
    rows_changed = watchdog_->pass(channels, link_.down(), now, wall);
    watch_lines_ = watchdog_->lines();
    if (!no_data_mail_) return;
    std::string body = no_data_mail_->due(watchdog_->states(), now);
    if (!body.empty()) (void)sender_.queue_mail("NO DATA", std::move(body));
}

void Supervisor::coincidence_pass(int64_t now, bool final) {
    std::vector<ChannelProgress> progress(detectors_.size());
    for (size_t i = 0; i < detectors_.size(); ++i) {
        const ChannelSettings& s = detectors_[i]->settings();
        const bool stalled = watchdog_ && watchdog_->states()[i].stalled;
        // A detection is declared STA/2 after its onset; one more second covers the
        // samples of the window that was being processed.
        progress[i] = {s.station, readings_[i].last_data_time, s.sta_seconds / 2 + 1.0,
                       detectors_[i]->state() == ChannelState::kRunning && !stalled};
    }
    const CoincidenceOutcome out = coincidence_->pass(progress, now, final);
    const int k = coincidence_->stations();
    const double w = coincidence_->window();
    std::vector<CoincidenceOutcome::Raised> raises;
    raises.swap(held_raises_);
    raises.insert(raises.end(), out.raised.begin(), out.raised.end());
    for (const CoincidenceOutcome::Raised& r : raises)
        if (!report_raise(r, final)) held_raises_.push_back(r);
    for (const NetworkDetection& d : out.below) {
        common::log_printf(
            "Detection %s at %s stays below the alarm rule: fewer than %d stations within %g s",
            d.name.c_str(), onset_text(d.onset).c_str(), k, w);
    }
}

bool Supervisor::report_raise(const CoincidenceOutcome::Raised& r, bool final) {
    const NetworkDetection& d = r.detection;
    const AlertGate::Replay replay = gate_.take_replay(d.name, d.onset);
    // At the end of a run a verdict that never came (the store down) counts as new: a
    // repeated report is better than a lost one.
    if (replay == AlertGate::Replay::kPending && !final) return false;
    if (replay == AlertGate::Replay::kStored) {
        common::log_printf(
            "Detection %s at %s UTC was stored by an earlier run: no alarm, no report",
            d.name.c_str(), common::utc_text(d.onset).c_str());
        return true;
    }
    common::log_printf("Detection %s at %s raises the alarm: %d stations within %g s",
                       d.name.c_str(), onset_text(d.onset).c_str(), r.stations,
                       coincidence_->window());
    (void)sender_.report_detection(d.station, d.onset, d.sta_variance, d.ratio);
    // The channel by name: a settings change may have renumbered the channels since.
    for (size_t i = 0; i < detectors_.size(); ++i) {
        const ChannelSettings& s = detectors_[i]->settings();
        if (common::channel_id(s.station, s.channel, s.location) == d.name)
            raised_onset_[i] = std::max(raised_onset_[i], d.onset);
    }
    return true;
}

std::vector<ChannelRow> Supervisor::rows() const {
    std::vector<ChannelRow> out;
    out.reserve(detectors_.size());
    for (size_t i = 0; i < detectors_.size(); ++i) {
        const ChannelAlarmState& a = board_.states()[i];
        out.push_back({detectors_[i]->settings(), detectors_[i]->state(), a.shown_data_time,
                       a.shown_event_time, a.alarm, static_cast<double>(start_time_),
                       backlog_end_[i], watchdog_ && watchdog_->states()[i].stalled,
                       detectors_[i]->detections(), detectors_[i]->state_reason()});
    }
    return out;
}

MetricsSnapshot Supervisor::metrics_snapshot(double now) const {
    MetricsSnapshot m;
    m.taken_at = now;
    m.started_at = static_cast<double>(run_started_);
    m.channels.reserve(detectors_.size());
    for (size_t i = 0; i < detectors_.size(); ++i) {
        const ChannelDetector& d = *detectors_[i];
        const ChannelSettings& s = d.settings();
        MetricsState state = MetricsState::kWaiting;
        if (d.state() == ChannelState::kRunning) {
            const bool stalled = watchdog_ && watchdog_->states()[i].stalled;
            state = stalled ? MetricsState::kStalled : MetricsState::kRunning;
        } else if (d.state() == ChannelState::kUnusable) {
            state = MetricsState::kSkipped;
        }
        m.channels.push_back({s.index, s.station, s.channel, s.location, state, d.last_data_time(),
                              d.detections(), alarms_[i]});
    }
    m.store_up = !link_.down();
    // An outage counts from its beginning, not only once it has ended.
    m.store_outages = link_.outages_ended() + (link_.down() ? 1 : 0);
    if (worker_) {
        m.worker_pass_seconds = worker_->last_pass_seconds();
        m.worker_passes = worker_->passes();
        m.worker_quiet_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                               worker_->last_progress())
                                     .count();
        m.samples_processed = worker_->samples_read();
    }
    m.outbox_reports = sender_.backlog();
    m.alert_failures = sender_.mails_failed();
    m.alert_deliveries = sender_.mails_sent();
    return m;
}

std::chrono::steady_clock::time_point Supervisor::worker_progress(
    std::chrono::steady_clock::time_point now) const {
    // A worker that ended by an error (not a caught-up run) makes no more progress:
    // the service manager is to restart the process.
    return worker_ && !worker_->idle() ? worker_->last_progress() : now;
}

void Supervisor::silence(int seconds) {
    board_.silence(common::now_run_seconds(), seconds);
}

void Supervisor::shut_down() {
    if (shut_down_) return;
    shut_down_ = true;
    stop_.request();
    const bool worker_ended = !worker_ || worker_->join(settings_.shutdown_wait);
    if (!worker_ended) overran_.store(true);
    if (worker_ended && worker_) {
        // Measurements still open would be lost with their detectors: each is completed
        // from what the store already holds, and one at the end of the stored data is
        // finished with the samples it has, so its line is logged and its row stored.
        worker_->finish_measurements(settings_.shutdown_wait);
        const size_t left = sink_.flush();
        if (left > 0)
            common::log_printf("%zu event rows could not be stored: the store does not answer",
                               left);
        // Every detection still waiting for other stations is judged now, and those
        // that raise the alarm still reach the report before its sender stops.
        if (coincidence_) {
            for (size_t i = 0; i < detectors_.size(); ++i)
                readings_[i].last_data_time = detectors_[i]->last_data_time();
            coincidence_pass(common::now_run_seconds(), true);
        }
    }
    // The report stop flag is raised even with no channels, so the sender never waits
    // out its whole period at exit.
    sender_.request_stop();
    if (!sender_.join(settings_.shutdown_wait)) {
        overran_.store(true);
        common::log_write("Detection report sender did not end in time");
    }
    if (worker_ended) {
        for (const auto& d : detectors_) {
            const ChannelSettings& s = d->settings();
            outcomes_.push_back(
                {s,
                 d->state(),
                 d->last_data_time(),
                 d->detections(),
                 sink_.rows_stored(common::channel_id(s.station, s.channel, s.location)),
                 {d->detections_of_grade(0), d->detections_of_grade(1), d->detections_of_grade(2),
                  d->detections_of_grade(3), d->detections_of_grade(4)}});
        }
        worker_.reset();
        for (const auto& d : detectors_)
            for (const db::SegmentFault& f : d->skipped()) skipped_.push_back({d->name(), f});
        detectors_.clear();
    }
}

}  // namespace zelvik::detect
