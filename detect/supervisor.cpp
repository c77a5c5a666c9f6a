// Supervisor start-up, pass and shutdown. Every wait of the shutdown is bounded and says
// so in the log when it runs out; detectors are destroyed only after the worker ended.
#include "detect/supervisor.h"

#include <algorithm>
#include <cmath>

#include "common/civil_time.h"
#include "common/clock.h"
#include "config/ini_file.h"
#include "db/store_status.h"
#include "db/wave_store.h"
#include "detect/begin_time.h"
#include "report/log.h"

namespace zelvik::detect {

Supervisor::Supervisor(SupervisorSettings settings, db::WaveStore& store)
    : settings_(std::move(settings)),
      link_(store, stop_),
      sender_(settings_.mail),
      sink_(link_, settings_.storage_days, settings_.reconnect_pause_ms),
      board_(settings_.max_duration_seconds, settings_.silence_seconds) {}

Supervisor::~Supervisor() {
    if (started_) shut_down();
}

int Supervisor::clamp_thread_count() const {
    const int n = settings_.thread_count;
    if (n >= 0 && n <= kMaxChannels) return n;
    const int used = n < 0 ? 0 : kMaxChannels;
    report::log_printf("THREADS %d outside 0..%d: %d channels are set up", n, kMaxChannels, used);
    return used;
}

int64_t Supervisor::start_up() {
    started_ = true;
    const int64_t now = common::now_utc_seconds();
    const std::string begin =
        config::ini::read_string(settings_.settings_path, "SYSTEM", "BEGIN", "1800", 32);
    const BeginTime chosen = detection_start_time(settings_.arguments, begin, now);
    if (!chosen.problem.empty())
        report::log_printf("%sdetection starts 1800 s back", chosen.problem.c_str());
    start_time_ = chosen.start;
    report::log_printf("Detection start time: %s",
                       common::format_local(start_time_, "%H:%M:%S %d.%m.%Y").c_str());
    if (sender_.start()) report::log_write("Detection report sender started");

    const int count = clamp_thread_count();
    (void)link_.ensure_connected(false, settings_.reconnect_pause_ms);
    auto hook = [this](const std::string& station, double onset, double sta_variance, float ratio) {
        (void)sender_.report_detection(station, onset, sta_variance, ratio);
    };
    for (int n = 0; n < count && !stop_.requested(); ++n) {
        auto detector = std::make_unique<ChannelDetector>(link_, &sink_, hook);
        detector->setup(settings_.settings_path, n, static_cast<double>(start_time_));
        backlog_end_.push_back(settings_.stop_when_idle
                                   ? find_backlog_end(*detector, static_cast<double>(start_time_),
                                                      static_cast<double>(now))
                                   : 0.0);
        detectors_.push_back(std::move(detector));
    }
    board_.resize(detectors_.size());
    readings_.resize(detectors_.size());
    sender_.clear_stop();
    worker_ = std::make_unique<Worker>(detectors_, link_, &sink_, stop_, settings_.sleep_seconds,
                                       settings_.reconnect_pause_ms);
    (void)worker_->start(settings_.stop_when_idle);
    return start_time_;
}

double Supervisor::find_backlog_end(const ChannelDetector& d, double start, double now) {
    // The start of the channel's last segment, by bisection over "is there a segment
    // starting at or after t"; then the end of that segment, by bisection over "does
    // [t, t + 1 s) hold data". Only for the progress display; 0 when unknown.
    if (d.state() != ChannelState::kRunning) return 0.0;
    db::WaveStore& store = link_.store();
    const ChannelSettings& s = d.settings();
    double first = 0.0;
    if (store.next_data_start(s.station, s.channel, s.location, start, first) != 1) return 0.0;
    double lo = first, hi = std::max(now, first + 1.0);
    for (int i = 0; i < 64 && hi - lo > 1.0; ++i) {
        const double mid = (lo + hi) / 2;
        double found = 0.0;
        if (store.next_data_start(s.station, s.channel, s.location, mid, found) == 1)
            lo = found;
        else
            hi = mid;
    }
    const auto capacity = static_cast<size_t>(d.sample_rate()) + 2;
    std::vector<float> probe(capacity);
    lo = std::max(lo, start);
    hi = std::max(now, lo + 1.0);
    for (int i = 0; i < 64 && hi - lo > 1.0; ++i) {
        const double mid = std::floor((lo + hi) / 2);
        double t0 = mid, t1 = mid + 1.0;
        if (store.read_samples(probe.data(), capacity, s.station, s.channel, s.location, t0, t1) ==
            0)
            lo = mid;
        else
            hi = mid;
    }
    return lo + 1.0;
}

AlarmPass Supervisor::run_once(int64_t now) {
    for (size_t i = 0; i < detectors_.size(); ++i) {
        readings_[i] = {detectors_[i]->last_data_time(), detectors_[i]->last_onset(),
                        detectors_[i]->settings().sound};
    }
    return board_.pass(readings_, now);
}

std::vector<ChannelRow> Supervisor::rows() const {
    std::vector<ChannelRow> out;
    out.reserve(detectors_.size());
    for (size_t i = 0; i < detectors_.size(); ++i) {
        const ChannelAlarmState& a = board_.states()[i];
        out.push_back({detectors_[i]->settings(), detectors_[i]->state(), a.shown_data_time,
                       a.shown_event_time, a.alarm, static_cast<double>(start_time_),
                       backlog_end_[i]});
    }
    return out;
}

void Supervisor::silence(int seconds) {
    board_.silence(common::now_utc_seconds(), seconds);
}

void Supervisor::shut_down() {
    if (shut_down_) return;
    shut_down_ = true;
    stop_.request();
    const bool worker_ended = !worker_ || worker_->join(settings_.shutdown_wait);
    if (worker_ended && worker_) {
        // Measurements still open would be lost with their detectors; finish them with
        // the samples they have so their lines are logged and their rows stored.
        worker_->finish_measurements();
        const size_t left = sink_.flush();
        if (left > 0)
            report::log_printf("%zu event rows could not be stored: the store does not answer",
                               left);
    }
    // The report stop flag is raised even with no channels, so the sender never waits
    // out its whole period at exit.
    sender_.request_stop();
    if (!sender_.join(settings_.shutdown_wait))
        report::log_write("Detection report sender did not end in time");
    if (worker_ended) {
        worker_.reset();
        detectors_.clear();
    }
}

}  // namespace zelvik::detect
