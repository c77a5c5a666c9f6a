// Worker loop. The connection is checked once per pass rather than once per channel, so
// an outage costs one 2 s pause per pass instead of one per channel.
#include "engine/worker.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "channel/stop_signal.h"
#include "channel/store_link.h"
#include "common/log.h"
#include "db/wave_store.h"
#include "engine/compute_lane.h"
#include "engine/event_store_sink.h"

namespace zelvik::detect {

Worker::Worker(DetectorList& detectors, StoreLink& link, EventStoreSink* sink, StopSignal& stop,
               int sleep_seconds, int reconnect_pause_ms, bool beside)
    : detectors_(detectors),
      link_(link),
      sink_(sink),
      stop_(stop),
      sleep_seconds_(sleep_seconds),
      reconnect_pause_ms_(reconnect_pause_ms),
      beside_(beside) {}

Worker::~Worker() {
    if (thread_.joinable()) thread_.join();
}

bool Worker::run_pass() {
    const auto began = std::chrono::steady_clock::now();
    mark_progress();
    bool any = false;
    retry_pending_ = false;
    // Between passes: the lane is idle and nothing is held, so the list may change.
    (void)handover_.run_offered();
    reached_store_ = link_.ensure_connected(false, reconnect_pause_ms_);
    if (reached_store_) {
        if (sink_ != nullptr) (void)sink_->flush();
        // The rows of the pass are committed together at its end, after the reads.
        if (sink_ != nullptr) sink_->begin_pass();
        if (beside_ && !lane_ && detectors_.size() > 1) lane_ = std::make_unique<ComputeLane>();
        try {
            for (const auto& detector : detectors_) {
                if (stop_.requested()) break;
                if (visit(*detector))
                    any = true;
                else if (detector->needs_retry())
                    retry_pending_ = true;
            }
        } catch (...) {
            // The lane must not go on with a buffer or a detector while the error unwinds;
            // what was made before the error is still handed on.
            if (lane_) (void)lane_->wait();
            release_held();
            throw;
        }
        settle();
        if (sink_ != nullptr) (void)sink_->end_pass();
    }
    pass_seconds_.store(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    passes_.fetch_add(1);
    mark_progress();
    return any;
}

bool Worker::visit(ChannelDetector& detector) {
    // While the lane runs a channel, this one holds what it hands on, to be released
    // after the lane's channel; the worker runs its chain itself, then both settle.
    mark_progress();
    const bool lane_busy = lane_ && lane_->busy();
    if (lane_busy) hold(detector);
    StepBuffers& buffers = buffers_[free_buffer_];
    const WindowRead read = detector.read_window(buffers);
    if (read == WindowRead::kSamples) {
        uint64_t count = 0;
        for (const db::FilledRange& f : buffers.filled) count += f.count;
        samples_.fetch_add(count, std::memory_order_relaxed);
        if (lane_ && !lane_busy) {
            hold(detector);
            lane_->run([&detector, &buffers] { detector.process_window(buffers); });
            free_buffer_ ^= 1;
        } else {
            detector.process_window(buffers);
            if (lane_busy) settle();
        }
    }
    return read != WindowRead::kStalled;
}

void Worker::settle() {
    const std::string error = lane_ ? lane_->wait() : std::string();
    release_held();
    if (!error.empty()) throw std::runtime_error(error);
}

void Worker::hold(ChannelDetector& detector) {
    detector.use_output(detector.held_output());
    held_.push_back(&detector);
}

void Worker::release_held() {
    for (ChannelDetector* detector : held_) {
        detector->held_output().release_to(detector->direct_output());
        detector->use_output(detector->direct_output());
    }
    held_.clear();
}

bool Worker::start(bool stop_when_idle) {
    if (thread_.joinable()) return false;
    finished_.reset();
    thread_ = std::thread([this, stop_when_idle] { body(stop_when_idle); });
    return true;
}

bool Worker::idle_pause() {
    // SLEEP seconds in slices of at most 100 ms; SLEEP 0 or 1 still pauses
    // kMinIdlePause, so an idle store is not asked again at once, at the cost of a whole
    // core. A stop ends the wait at once, a settings change within a slice.
    using std::chrono::milliseconds;
    milliseconds left =
        std::max(milliseconds(int64_t{sleep_seconds_.load()} * 1000), kMinIdlePause);
    while (left.count() > 0) {
        if (handover_.waiting()) return false;
        mark_progress();
        const milliseconds slice = std::min(left, milliseconds(100));
        if (stop_.wait_for(slice)) return true;
        left -= slice;
    }
    return stop_.requested();
}

void Worker::finish_measurements(std::chrono::milliseconds completion_budget) {
    const auto deadline = std::chrono::steady_clock::now() + completion_budget;
    size_t left_open = 0;
    if (sink_ != nullptr) sink_->begin_pass();
    for (const auto& detector : detectors_) {
        if (completion_budget.count() > 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                left_open += detector->open_measurements() > 0 ? 1 : 0;
                continue;
            }
            detector->complete_open_measurements(buffers_[free_buffer_]);
        }
        detector->finish_open_measurements();
    }
    if (sink_ != nullptr) (void)sink_->end_pass();
    if (left_open > 0)
        common::log_printf(
            "%zu channels stopped with measurements open: the next run measures them whole",
            left_open);
}

void Worker::body(bool stop_when_idle) noexcept {
    try {
        while (!stop_.requested()) {
            if (run_pass()) continue;
            // A pass that failed to read is not the end of the data: a catch-up run
            // waits and tries again, as the live loop does, until every channel is at
            // the end of what is stored.
            if (stop_when_idle && reached_store_ && !retry_pending_) {
                finish_measurements();
                idle_.store(true);
                // Wakes the supervisor at once instead of at its next 300 ms pass.
                stop_.request();
                break;
            }
            if (idle_pause()) break;
        }
    } catch (const std::exception& e) {
        common::log_printf("Worker stopped by an error: %s", e.what());
    } catch (...) {
        common::log_write("Worker stopped by an unknown error");
    }
    finished_.mark();
}

bool Worker::join(std::chrono::milliseconds timeout) {
    if (!thread_.joinable()) return true;
    if (!finished_.wait_for(timeout)) {
        common::log_printf("Worker did not end within %lld ms",
                           static_cast<long long>(timeout.count()));
        return false;
    }
    thread_.join();
    return true;
}

}  // namespace zelvik::detect
