// Channel detector: setup and the per-window step. Samples are placed by time, never by
// buffer position alone: each stretch the store filled is fed with its own sample times,
// so a gap reaches the open measurements, and a gap longer than the LTA window starts
// the warm-up again rather than ringing the filters with a jump to zero.
#include "detect/channel_detector.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "common/channel_id.h"
#include "common/civil_time.h"
#include "common/clock.h"
#include "common/log.h"
#include "db/store_status.h"
#include "detect/store_link.h"

namespace zelvik::detect {

ChannelDetector::ChannelDetector(StoreLink& link, MeasurementSink* sink, DetectionHook hook)
    : link_(link), sink_(sink), hook_(std::move(hook)) {}

ChannelDetector::~ChannelDetector() = default;

std::string ChannelDetector::name() const {
    return common::channel_id(settings_.station, settings_.channel, settings_.location);
}

void ChannelDetector::setup(const std::string& settings_path, int n, double start) {
    settings_ = read_channel_settings(settings_path, n);
    read_position_ = start;
    (void)prepare();
}

void ChannelDetector::set_state(ChannelState next, const std::string& reason) {
    state_reason_ = reason;
    const ChannelState before = state_.exchange(next);
    if (before == next && next != ChannelState::kRunning) return;
    const char* what = next == ChannelState::kRunning           ? "runs"
                       : next == ChannelState::kWaitingForStore ? "waits for the store"
                                                                : "skipped";
    common::log_printf("Channel %d (%s) %s: %s", settings_.index, name().c_str(), what,
                       reason.c_str());
}

ChannelState ChannelDetector::prepare() {
    // An outage is the worker's to retry (once per pass, not once per channel).
    if (link_.down()) {
        set_state(ChannelState::kWaitingForStore, "no connection");
        return state_.load();
    }
    const double sps =
        link_.store().get_sps(settings_.station, settings_.channel, settings_.location);
    if (sps < 0) {
        set_state(ChannelState::kWaitingForStore,
                  "sample rate query failed: " + link_.store().last_error());
        return state_.load();
    }
    const std::string problem = channel_settings_problem(settings_, sps);
    if (!problem.empty()) {
        outages_seen_ = link_.outages_ended();
        set_state(ChannelState::kUnusable, problem);
        return state_.load();
    }
    sample_rate_ = sps;
    sample_interval_ = 1.0 / sps;
    if (!build_chain()) {
        outages_seen_ = link_.outages_ended();
        set_state(ChannelState::kUnusable, trigger_filter_.last_error() +
                                               measurement_filter_.last_error() +
                                               (rule_ ? rule_->last_error() : std::string()));
        return state_.load();
    }
    choose_response();
    char text[200];
    std::snprintf(text, sizeof text,
                  "%g sps, ORDER %d, %.3f-%.3f Hz, STA %.3f s, LTA %.3f s, ratio %.3f", sps,
                  settings_.order, settings_.fr1, settings_.fr2, settings_.sta_seconds,
                  settings_.lta_seconds, settings_.threshold);
    set_state(ChannelState::kRunning, text);
    return ChannelState::kRunning;
}

bool ChannelDetector::build_chain() {
    const auto dt = static_cast<float>(sample_interval_);
    rule_.emplace();
    return trigger_filter_.design(settings_.order, "BP", settings_.fr1, settings_.fr2, dt) &&
           measurement_filter_.design(2, "BP", 0.6f, 1.9f, dt) &&
           rule_->init(sample_rate_, settings_.lta_seconds, settings_.sta_seconds,
                       settings_.threshold);
}

void ChannelDetector::choose_response() {
    db::WaveStore& store = link_.store();
    const db::StoreTimestamp now = db::store_timestamp_utc(common::now_utc());
    const char* sta = settings_.station.c_str();
    const char* cha = settings_.channel.c_str();
    const char* loc = settings_.location.c_str();
    std::string text;
    int found = store.select_sac(sta, cha, loc, "", now, text);
    if (found < 0) common::log_write(store.response_last_error());
    if (found > 0) {
        (void)response_.parse_paz(text);  // kind PAZ even when the text does not parse
        common::log_printf("Response for %s.%s.%s is PAZ", sta, cha, loc);
        return;
    }
    text.clear();
    found = store.select_fap(sta, cha, loc, "", now, text);
    if (found < 0) common::log_write(store.response_last_error());
    if (found > 0) {
        (void)response_.parse_fap(text);
        common::log_printf("Response for %s.%s.%s is FAP", sta, cha, loc);
        return;
    }
    response_ = InstrumentResponse();
    common::log_printf("Response for %s.%s.%s is NONE", sta, cha, loc);
}

bool ChannelDetector::step(StepBuffers& buffers) {
    const WindowRead r = read_window(buffers);
    if (r == WindowRead::kSamples) process_window(buffers);
    return r != WindowRead::kStalled;
}

WindowRead ChannelDetector::read_window(StepBuffers& buffers) {
    const common::ScopedLogHold hold(holding_ ? &held_ : nullptr);
    retry_ = false;
    if (state_.load() != ChannelState::kRunning) {
        const bool retry =
            state_.load() != ChannelState::kUnusable || link_.outages_ended() != outages_seen_;
        if (!retry || prepare() != ChannelState::kRunning) {
            retry_ = state_.load() == ChannelState::kWaitingForStore;
            return WindowRead::kStalled;
        }
    }
    double t0 = read_position_;
    double t1 = t0 + kWindowSeconds;
    const size_t capacity = static_cast<size_t>(sample_rate_ * kWindowSeconds) + 2;
    if (buffers.samples.size() < capacity) buffers.samples.resize(capacity);
    const int r = link_.store().read_samples(buffers.samples.data(), capacity, settings_.station,
                                             settings_.channel, settings_.location, t0, t1,
                                             &buffers.filled, &buffers.faults);
    if (r == db::kNoSegment)
        return jump_to_next_data(t0 + kWindowSeconds) ? WindowRead::kMoved : WindowRead::kStalled;
    if (r == db::kConnectionLost) link_.mark_lost();
    if (r != 0) {
        // Retried next pass, but a lasting fault (the data directory gone) is named
        // once, with the file it stopped at, instead of leaving the channel silently stuck.
        retry_ = true;
        if (r != last_read_status_ && r != db::kConnectionLost) {
            const std::string file =
                buffers.faults.empty()
                    ? std::string()
                    : " (" + buffers.faults.back().path + ": " + buffers.faults.back().reason + ")";
            common::log_printf("Channel %d (%s): reading at %s failed: %s%s", settings_.index,
                               name().c_str(), common::utc_text(t0).c_str(), db::to_string(r),
                               file.c_str());
        }
        last_read_status_ = r;
        return WindowRead::kStalled;
    }
    last_read_status_ = 0;
    if (!accept_faults(buffers.faults)) {
        retry_ = true;
        return WindowRead::kStalled;
    }
    if (!(t1 > read_position_)) return WindowRead::kStalled;
    read_position_ = t1;
    buffers.window_start = t0;
    buffers.capacity = capacity;
    // Progress even when the segments delivered no samples (a format that is not
    // read): a catch-up run must not take that for the end of the data.
    const bool any =
        std::any_of(buffers.filled.begin(), buffers.filled.end(),
                    [&](const db::FilledRange& f) { return f.first < capacity && f.count > 0; });
    return any ? WindowRead::kSamples : WindowRead::kMoved;
}

void ChannelDetector::process_window(const StepBuffers& buffers) {
    const common::ScopedLogHold hold(holding_ ? &held_ : nullptr);
    const size_t capacity = buffers.capacity;
    for (const db::FilledRange& range : buffers.filled) {
        if (range.first >= capacity || range.count == 0) continue;
        const size_t count = std::min(range.count, capacity - range.first);
        process_stretch(buffers.samples.data() + range.first, count,
                        buffers.window_start + static_cast<double>(range.first) / sample_rate_);
    }
}

void ChannelDetector::release_held() {
    held_.release(sink_, [this](const HeldDetection& d) {
        if (hook_) hook_(settings_.station, d.onset, d.sta_variance, d.ratio);
    });
}

void ChannelDetector::RecordSink::store(const Measurement& m) {
    if (owner_.holding_)
        owner_.held_.store(m);
    else if (owner_.sink_ != nullptr)
        owner_.sink_->store(m);
}

namespace {
double steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

bool ChannelDetector::accept_faults(const std::vector<db::SegmentFault>& faults) {
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

void ChannelDetector::log_skipped(const db::SegmentFault& f) {
    // A segment that spans two windows is reported in both; its file is named once.
    const bool seen = std::any_of(skipped_.begin(), skipped_.end(), [&](const db::SegmentFault& s) {
        return s.path == f.path && s.kind == f.kind;
    });
    if (!seen || f.kind == db::SegmentFault::kMalformed) {
        const char* what = f.kind == db::SegmentFault::kShort ? "is short" : "cannot be read";
        if (f.kind == db::SegmentFault::kMalformed) what = "has an unusable row";
        common::log_printf("Channel %d (%s): data file %s %s (%s); %s to %s taken as a gap",
                           settings_.index, name().c_str(), f.path.c_str(), what, f.reason.c_str(),
                           common::utc_text(f.from).c_str(), common::utc_text(f.to).c_str());
    }
    // Bounded: a store of broken rows must not grow the list without end.
    if (skipped_.size() < 10000) skipped_.push_back(f);
}

bool ChannelDetector::jump_to_next_data(double window_end) {
    double start = 0.0;
    const int found = link_.store().next_data_start(settings_.station, settings_.channel,
                                                    settings_.location, window_end, start);
    retry_ = found < 0;  // the store did not answer: not the end of the data
    if (found <= 0 || !(start > read_position_)) return false;
    common::log_printf("Channel %d (%s): no data from %s, resuming at %s", settings_.index,
                       name().c_str(), common::utc_text(read_position_).c_str(),
                       common::utc_text(start).c_str());
    read_position_ = start;
    return true;
}

void ChannelDetector::process_stretch(const float* x, size_t count, double t_first) {
    // A sample that is not finite would poison the filter state for good; each run of
    // them is a gap, named once, and the filters only ever see numbers.
    size_t i = 0;
    while (i < count) {
        size_t j = i;
        while (j < count && std::isfinite(x[j])) ++j;
        if (j > i) feed_stretch(x + i, j - i, t_first + static_cast<double>(i) / sample_rate_);
        if (j == count) break;
        size_t k = j;
        while (k < count && !std::isfinite(x[k])) ++k;
        common::log_printf(
            "Channel %d (%s): %zu samples from %s are not numbers, taken as a gap", settings_.index,
            name().c_str(), k - j,
            common::utc_text(t_first + static_cast<double>(j) / sample_rate_).c_str());
        i = k;
    }
}

void ChannelDetector::feed_stretch(const float* x, size_t count, double t_first) {
    size_t i = 0;
    if (last_sample_time_ > 0.0) {
        const double expected = last_sample_time_ + sample_interval_;
        // Samples at or before the last one fed (an overlap of segments or windows) were
        // processed already.
        if (t_first < expected - sample_interval_ / 2) {
            i = static_cast<size_t>(
                std::ceil((expected - sample_interval_ / 2 - t_first) * sample_rate_));
        }
        const double gap = t_first - expected;
        if (gap > settings_.lta_seconds) {
            common::log_printf("Channel %d (%s): gap of %.2f s before %s, warm-up starts again",
                               settings_.index, name().c_str(), gap,
                               common::utc_text(t_first).c_str());
            if (!build_chain()) set_state(ChannelState::kUnusable, "filters could not be rebuilt");
        }
    }
    // The per-sample path runs a block at a time: both filters over the block, then the
    // detection rule up to its next detection. Open measurements take every sample up to
    // and including a detection's before it opens its own, in the order a sample-by-
    // sample loop gives them; neither the filters nor the rule depend on the records.
    double m[kBlockSamples];
    double y[kBlockSamples];
    DetectionRule& rule = *rule_;
    const double rate = sample_rate_;
    for (size_t block = i; block < count; block += kBlockSamples) {
        const size_t n = std::min(kBlockSamples, count - block);
        measurement_filter_.apply_block(x + block, m, n);
        trigger_filter_.apply_block(x + block, y, n);
        const BlockClock clock{t_first, rate, block};
        size_t k = 0;
        while (k < n) {
            const size_t d = rule.scan(y, k, n, clock);
            const size_t end = d < n ? d + 1 : n;
            if (!open_.empty()) {
                for (size_t j = k; j < end; ++j) feed_records(m[j], clock.time(j));
            }
            if (d < n) on_detection(m[d], clock.time(d));
            k = end;
        }
    }
    if (count > 0) {
        last_sample_time_ = t_first + static_cast<double>(count - 1) / sample_rate_;
        last_data_time_.store(last_sample_time_ + sample_interval_, std::memory_order_relaxed);
    }
}

void ChannelDetector::feed_records(double m, double t) {
    std::erase_if(open_, [](const std::unique_ptr<DetectionRecord>& r) { return r->finished(); });
    for (auto& record : open_) record->add(m, t);
}

void ChannelDetector::on_detection(double m, double t) {
    const double onset = rule_->onset();
    last_onset_.store(onset, std::memory_order_relaxed);
    detections_.fetch_add(1, std::memory_order_relaxed);
    open_.push_back(std::make_unique<DetectionRecord>(
        settings_.station, settings_.channel, settings_.location, onset, response_, &record_sink_));
    DetectionRecord& record = *open_.back();
    (void)record.set_window(sample_rate_, kRecordSeconds);  // a refused window finishes the record
    record.add(m, t);
    const HeldDetection report{onset, rule_->trigger().sta_variance(), rule_->trigger().ratio()};
    if (holding_)
        held_.detection(report);
    else if (hook_)
        hook_(settings_.station, report.onset, report.sta_variance, report.ratio);
}

void ChannelDetector::finish_open_measurements() {
    // A sample an infinite time later is a gap to every record: each one measures what
    // it has and does not take the sample.
    for (auto& record : open_) record->add(0.0, std::numeric_limits<double>::infinity());
    open_.clear();
}

}  // namespace zelvik::detect
