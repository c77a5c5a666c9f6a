// The worker thread: visits every channel detector in list order, one step each, and
// pauses by SLEEP when no channel had new data. The detector list changes only between
// two passes, by a change the supervisor hands over (and waits for), so it is walked
// unlocked.
// With a second core, the chain of every other channel with samples runs on a compute
// lane beside the next channel's read and chain; what both hand on is held and released
// in list order, so the log, the rows and the reports come out as from one thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "channel/channel_detector.h"
#include "common/finish_latch.h"
#include "engine/channel_set_change.h"

namespace zelvik::detect {

class ComputeLane;
class EventStoreSink;
class StopSignal;
class StoreLink;

class Worker {
public:
    using DetectorList = std::vector<std::unique_ptr<ChannelDetector>>;
    static constexpr std::chrono::milliseconds kMinIdlePause{500};

    // None of the references is owned; all must outlive the worker. `sink` may be null.
    // `detectors` is changed only by changes run through handover().
    // sleep_seconds: SLEEP; an idle pass waits that long, at least kMinIdlePause.
    // reconnect_pause_ms: the pause of the reconnect protocol before each attempt.
    // beside: run channels' chains on a compute lane too (default: with two cores or more).
    Worker(DetectorList& detectors, StoreLink& link, EventStoreSink* sink, StopSignal& stop,
           int sleep_seconds, int reconnect_pause_ms = 2000, bool beside = second_core());
    ~Worker();  // joins (without a time limit) when the thread still runs
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // One pass over every detector (the loop body). True when some channel had new data.
    bool run_pass();

    // Starts the thread. When `stop_when_idle`, the thread ends by itself after the
    // first pass without new data in which no channel needs a retry (ChannelDetector::
    // needs_retry), having finished every open measurement and stored
    // waiting rows; idle() then turns true and the stop signal is raised. Returns false
    // when already started.
    [[nodiscard]] bool start(bool stop_when_idle = false);

    // Waits at most `timeout` for the thread, after the stop signal was raised. False
    // (logged) when it did not end in time; the thread is then joined by the destructor.
    [[nodiscard]] bool join(std::chrono::milliseconds timeout);

    bool idle() const { return idle_.load(); }  // a catch-up run has finished
    bool finished() const { return finished_.is_set(); }
    int passes() const { return passes_.load(); }  // passes completed

    // The worker's last sign of progress on the monotonic clock: the start of a pass or
    // of a channel's step, the end of a pass, each slice of its idle pause. A worker
    // stuck in a store call stops moving it; the service watchdog reads it. Any thread.
    std::chrono::steady_clock::time_point last_progress() const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(progress_.load()));
    }
    double last_pass_seconds() const { return pass_seconds_.load(); }  // last complete pass
    uint64_t samples_read() const { return samples_.load(); }  // into the chains, any thread

    // Worker thread or after it ended: finishes open measurements of every channel and
    // stores rows that wait. With a `completion_budget` (a stop), each channel first
    // completes its open measurements from samples already in the store; a channel the
    // budget does not reach keeps them unstored for the next run to make whole, rather
    // than storing them cut short.
    void finish_measurements(std::chrono::milliseconds completion_budget = {});

    // Changes of the channel set (and of what the worker reads of the settings) reach
    // the worker here; it runs them at the start of a pass or during its idle pause.
    ChangeHandover& handover() { return handover_; }
    // SLEEP, from the next idle pause on. Any thread.
    void set_sleep_seconds(int seconds) { sleep_seconds_.store(seconds); }

    static bool second_core() { return std::thread::hardware_concurrency() >= 2; }

private:
    void body(bool stop_when_idle) noexcept;
    bool idle_pause();
    bool visit(ChannelDetector& detector);  // one step; true when the channel moved on
    void settle();                          // waits for the lane, releases in list order
    // Points the detector at its held output for this visit and remembers it.
    void hold(ChannelDetector& detector);
    // Releases every held detector's output into its direct one, in list order.
    void release_held();
    void mark_progress() {
        progress_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    }

    DetectorList& detectors_;
    StoreLink& link_;
    EventStoreSink* sink_;
    StopSignal& stop_;
    std::atomic<int> sleep_seconds_;
    const int reconnect_pause_ms_;
    const bool beside_;
    bool reached_store_ = false;  // worker thread only: the last pass found the store
    bool retry_pending_ = false;  // worker thread only: a channel of the last pass must retry
    std::array<StepBuffers, 2> buffers_;  // worker thread; the lane's job uses one of them
    size_t free_buffer_ = 0;              // worker thread: the one not lent to the lane
    std::vector<ChannelDetector*> held_;  // worker thread: holding, in list order
    std::unique_ptr<ComputeLane> lane_;   // made on the first pass over two channels
    std::atomic<bool> idle_{false};
    common::FinishLatch finished_;
    std::atomic<int> passes_{0};
    ChangeHandover handover_;
    std::atomic<std::chrono::steady_clock::rep> progress_{
        std::chrono::steady_clock::now().time_since_epoch().count()};
    std::atomic<double> pass_seconds_{0.0};
    std::atomic<uint64_t> samples_{0};
    std::thread thread_;
};

}  // namespace zelvik::detect
