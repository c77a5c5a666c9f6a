// Worker loop. The connection is checked once per pass rather than once per channel, so
// an outage costs one 2 s pause per pass instead of one per channel.
#include "detect/worker.h"

#include <algorithm>
#include <exception>

#include "detect/event_store_sink.h"
#include "detect/stop_signal.h"
#include "detect/store_link.h"
#include "report/log.h"

namespace zelvik::detect {

Worker::Worker(const DetectorList& detectors, StoreLink& link, EventStoreSink* sink,
               StopSignal& stop, int sleep_seconds, int reconnect_pause_ms)
    : detectors_(detectors),
      link_(link),
      sink_(sink),
      stop_(stop),
      sleep_seconds_(sleep_seconds),
      reconnect_pause_ms_(reconnect_pause_ms) {}

Worker::~Worker() {
    if (thread_.joinable()) thread_.join();
}

bool Worker::run_pass() {
    bool any = false;
    retry_pending_ = false;
    reached_store_ = link_.ensure_connected(false, reconnect_pause_ms_);
    if (reached_store_) {
        if (sink_ != nullptr) (void)sink_->flush();
        // The rows of the pass are committed together at its end, after the reads.
        if (sink_ != nullptr) sink_->begin_pass();
        for (const auto& detector : detectors_) {
            if (stop_.requested()) break;
            if (detector->step(buffers_))
                any = true;
            else if (detector->needs_retry())
                retry_pending_ = true;
        }
        if (sink_ != nullptr) (void)sink_->end_pass();
    }
    passes_.fetch_add(1);
    return any;
}

bool Worker::start(bool stop_when_idle) {
    if (thread_.joinable()) return false;
    finished_.reset();
    thread_ = std::thread([this, stop_when_idle] { body(stop_when_idle); });
    return true;
}

bool Worker::idle_pause() {
    // SLEEP seconds in slices of at most 2 s; SLEEP 0 or 1 still pauses kMinIdlePause,
    // so an idle store is not asked again at once, at the cost of a whole core. A stop
    // ends the wait at once.
    using std::chrono::milliseconds;
    milliseconds left = std::max(milliseconds(int64_t{sleep_seconds_} * 1000), kMinIdlePause);
    while (left.count() > 0) {
        const milliseconds slice = std::min(left, milliseconds(2000));
        if (stop_.wait_for(slice)) return true;
        left -= slice;
    }
    return stop_.requested();
}

void Worker::finish_measurements() {
    if (sink_ != nullptr) sink_->begin_pass();
    for (const auto& detector : detectors_) detector->finish_open_measurements();
    if (sink_ != nullptr) (void)sink_->end_pass();
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
        report::log_printf("Worker stopped by an error: %s", e.what());
    } catch (...) {
        report::log_write("Worker stopped by an unknown error");
    }
    finished_.mark();
}

bool Worker::join(std::chrono::milliseconds timeout) {
    if (!thread_.joinable()) return true;
    if (!finished_.wait_for(timeout)) {
        report::log_printf("Worker did not end within %lld ms",
                           static_cast<long long>(timeout.count()));
        return false;
    }
    thread_.join();
    return true;
}

}  // namespace zelvik::detect
