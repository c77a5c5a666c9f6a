// Channel detector: setup and the per-window step, over its reading half and its chain
// half. The state of the channel (runs, waits for the store, skipped) is kept here and
// logged when it changes, whichever half found the reason.
#include "channel/channel_detector.h"

#include <cstdio>
#include <exception>

#include "channel/store_link.h"
#include "common/channel_id.h"
#include "common/log.h"

namespace zelvik::detect {

ChannelDetector::ChannelDetector(StoreLink& link, MeasurementSink* sink, DetectionHook hook)
    : link_(link),
      direct_(sink, std::move(hook)),
      chain_(
          settings_, current_output_,
          [this](double onset, double sta_variance, float ratio) {
              output_->detection({settings_.station, onset, sta_variance, ratio});
          },
          [this](const std::string& reason) { set_state(ChannelState::kUnusable, reason); }) {}

ChannelDetector::~ChannelDetector() = default;

std::string ChannelDetector::name() const {
    return common::channel_id(settings_.station, settings_.channel, settings_.location);
}

void ChannelDetector::setup(const std::string& settings_path, int n, double start) {
    settings_ = read_channel_settings(settings_path, n);
    reader_.set_position(start);
    (void)prepare();
}

std::string ChannelDetector::state_reason() const {
    common::MutexLock lock(reason_mutex_);
    return state_reason_;
}

void ChannelDetector::configure(const ChannelSettings& settings, double start) {
    settings_ = settings;
    reader_.set_position(start);
}

void ChannelDetector::set_state(ChannelState next, const std::string& reason) {
    {
        common::MutexLock lock(reason_mutex_);
        state_reason_ = reason;
    }
    const ChannelState before = state_.exchange(next);
    if (before == next && next != ChannelState::kRunning) return;
    const char* what = next == ChannelState::kRunning           ? "runs"
                       : next == ChannelState::kWaitingForStore ? "waits for the store"
                       : next == ChannelState::kWaitingForData  ? "waits for its first data"
                                                                : "skipped";
    common::log_printf("Channel %d (%s) %s: %s", settings_.index, name().c_str(), what,
                       reason.c_str());
}

ChannelState ChannelDetector::prepare() {
    try {
        return prepare_channel();
    } catch (const std::exception& e) {
        refuse(std::string("setup failed: ") + e.what());
        return state_.load();
    }
}

void ChannelDetector::refuse(const std::string& reason) {
    outages_seen_ = link_.outages_ended();
    set_state(ChannelState::kUnusable, reason);
}

ChannelState ChannelDetector::prepare_channel() {
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
    if (sps == 0.0) {
        set_state(ChannelState::kWaitingForData,
                  "not in the store yet (no SITECHAN row); starts when its first data arrive");
        return state_.load();
    }
    const std::string problem = channel_settings_problem(settings_, sps);
    if (!problem.empty()) {
        refuse(problem);
        return state_.load();
    }
    if (!chain_.build(sps)) {
        refuse(chain_.last_error());
        return state_.load();
    }
    reader_.choose_response(chain_.response());
    char text[200];
    std::snprintf(text, sizeof text,
                  "%g sps, ORDER %d, %.3f-%.3f Hz, STA %.3f s, LTA %.3f s, ratio %.3f", sps,
                  settings_.order, settings_.fr1, settings_.fr2, settings_.sta_seconds,
                  settings_.lta_seconds, settings_.threshold);
    set_state(ChannelState::kRunning, text);
    return ChannelState::kRunning;
}

bool ChannelDetector::step(StepBuffers& buffers) {
    const WindowRead r = read_window(buffers);
    if (r == WindowRead::kSamples) process_window(buffers);
    return r != WindowRead::kStalled;
}

WindowRead ChannelDetector::read_window(StepBuffers& buffers) {
    const common::ScopedLogHold hold(output_->log_hold());
    // One channel's failure (memory, above all) is that channel's: it is skipped with
    // the reason and the worker goes on with the others.
    try {
        return read_next(buffers);
    } catch (const std::exception& e) {
        refuse(std::string("reading failed: ") + e.what());
        reader_.set_retry(false);
        return WindowRead::kStalled;
    }
}

WindowRead ChannelDetector::read_next(StepBuffers& buffers) {
    reader_.set_retry(false);
    if (state_.load() != ChannelState::kRunning) {
        const bool retry =
            state_.load() != ChannelState::kUnusable || link_.outages_ended() != outages_seen_;
        if (!retry || prepare() != ChannelState::kRunning) {
            reader_.set_retry(state_.load() == ChannelState::kWaitingForStore);
            return WindowRead::kStalled;
        }
    }
    return reader_.read(buffers, chain_.sample_rate());
}

void ChannelDetector::process_window(const StepBuffers& buffers) {
    const common::ScopedLogHold hold(output_->log_hold());
    try {
        chain_.process_window(buffers);
    } catch (const std::exception& e) {
        refuse(std::string("processing failed: ") + e.what());
    }
}

void ChannelDetector::complete_open_measurements(StepBuffers& buffers) {
    const double until = chain_.open_measurements_until();
    if (until <= 0.0 || state_.load() != ChannelState::kRunning) return;
    const double from = reader_.position();
    const double to = until + 1.0 / chain_.sample_rate();
    try {
        if (to > from && reader_.read_span(buffers, chain_.sample_rate(), from, to))
            chain_.complete_open_measurements(buffers);
    } catch (const std::exception& e) {
        common::log_printf("Channel %d (%s): open measurements not completed: %s", settings_.index,
                           name().c_str(), e.what());
    }
}

void ChannelDetector::finish_open_measurements() {
    chain_.finish_open_measurements();
}

}  // namespace zelvik::detect
