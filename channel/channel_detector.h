// One channel of the detection engine: its settings and state, composed of the reading
// half (ChannelReader: the windows from the store) and the chain half (ChannelChain:
// filters, detection rule, open measurements). step() reads the channel's next window
// and runs every delivered sample, at its true time, through the chain.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "channel/channel_chain.h"
#include "channel/channel_output.h"
#include "channel/channel_reader.h"
#include "channel/channel_settings.h"
#include "channel/detection_record.h"
#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "db/wave_store.h"

namespace zelvik::detect {

class StoreLink;

enum class ChannelState : int {
    kNotSetUp = -1,        // before setup()
    kWaitingForStore = 0,  // setup could not reach the store; retried while it answers
    kRunning = 1,
    kUnusable = 2,  // settings or sample rate refused; retried after a store outage ends
    // Not in the store yet (no SITECHAN row): looked for again at every visit, and run
    // from the detection start as soon as the acquisition side has stored its first data.
    kWaitingForData = 3,
};

// A stretch of stored data that a channel passed over because it could not be read.
struct SkippedSegment {
    std::string channel;  // "STA.CHA.LOC"
    db::SegmentFault fault;
};

class ChannelDetector {
public:
    static constexpr double kWindowSeconds = ChannelReader::kWindowSeconds;
    static constexpr double kRecordSeconds = ChannelChain::kRecordSeconds;
    static constexpr size_t kBlockSamples = ChannelChain::kBlockSamples;

    // `link` and `sink` are not owned and must outlive the detector; `sink` may be null.
    ChannelDetector(StoreLink& link, MeasurementSink* sink, DetectionHook hook);
    virtual ~ChannelDetector();
    ChannelDetector(const ChannelDetector&) = delete;
    ChannelDetector& operator=(const ChannelDetector&) = delete;

    // Reads section "THREAD<n>", sets read_position to `start` (seconds since 1970) and
    // runs prepare(). Called once, before the worker visits this detector.
    void setup(const std::string& settings_path, int n, double start);

    // setup() without the store: takes `settings` and the read position `start`; the
    // worker's first visit prepares the channel. For channels started while the worker
    // runs (the worker, not the caller, owns the store connection then).
    void configure(const ChannelSettings& settings, double start);

    // Worker thread, between passes: the section number changed, nothing else (the
    // editor renumbers the sections after one it deletes).
    void renumber(int n) { settings_.index = n; }

    // The store-dependent part of setup: sample rate, checks, filters, trigger and the
    // response. Logs one line when the channel cannot run and one when it runs again;
    // nothing while the state stays the same. Worker thread once the worker runs.
    ChannelState prepare();

    // Worker thread. Reads the window from read_position on and processes what
    // was delivered. True when the read position moved on (samples processed, segments
    // passed that deliver none, or a jump over an outage to later data).
    bool step(StepBuffers& buffers);

    // step() in its two halves, for a worker that runs one channel's chain beside
    // another's. read_window(): worker thread, the part that asks the store; reads the
    // next window into `buffers` and moves the read position. After kSamples,
    // process_window() runs what was read through the chain, on any one thread at a
    // time, before the detector's next read_window(). Neither throws: a failure skips
    // the channel with its reason (kUnusable), as a refused setting does.
    WindowRead read_window(StepBuffers& buffers);
    void process_window(const StepBuffers& buffers);

    // What the detector hands on (log lines, finished measurements, detections) goes to
    // the output in use: its direct output (the default) or its held output, whose
    // content the worker later releases into the direct one. Worker thread, outside a
    // process_window() running elsewhere.
    ChannelOutput& direct_output() { return direct_; }
    HeldOutput& held_output() { return held_; }
    void use_output(ChannelOutput& output) { output_ = &output; }

    // Worker thread, after step() returned false: true when the step failed for a reason
    // that may pass (no store, a read error, the data directory gone, a data file not
    // yet given up on), false when the channel is at the end of its stored data or can
    // never run. A catch-up run ends only when no channel needs a retry.
    bool needs_retry() const { return reader_.needs_retry(); }

    // Stored data passed over: segments whose data file stayed unreadable for
    // kUnreadableGrace, short data files, unusable rows. Worker thread, or after it ended.
    const std::vector<db::SegmentFault>& skipped() const { return reader_.skipped(); }
    std::string name() const;  // "STA.CHA.LOC"

    // How long a data file may stay unreadable before its segment is skipped as a gap.
    static constexpr double kUnreadableGraceSeconds = ChannelReader::kUnreadableGraceSeconds;
    void set_unreadable_grace(double seconds) { reader_.set_unreadable_grace(seconds); }

    // Worker thread. Finishes every open measurement with the samples it has, so its
    // line is logged and its row stored (end of a catch-up run).
    void finish_open_measurements();

    // Worker thread, at a stop: completes the open measurements from the samples the
    // store already holds beyond the read position, so a stop in the middle of stored
    // data never leaves a measurement cut short. What the store does not hold yet stays
    // open for finish_open_measurements().
    void complete_open_measurements(StepBuffers& buffers);
    size_t open_measurements() const { return chain_.open_measurements(); }

    ChannelState state() const { return state_.load(); }
    // Fixed after setup, but for the section number (renumber()).
    const ChannelSettings& settings() const { return settings_; }
    double last_data_time() const { return chain_.last_data_time(); }
    double last_onset() const { return chain_.last_onset(); }
    // Detections made since setup. Any thread.
    long detections() const { return chain_.detections(); }
    // Detections whose pick earned grade g (0 clearest .. 4). Any thread.
    long detections_of_grade(int g) const { return chain_.detections_of_grade(g); }
    // Why the channel is in its state, as last logged ("no SITECHAN row", ...). A copy:
    // whichever thread runs prepare() may be writing it. Any thread.
    std::string state_reason() const;
    double read_position() const { return reader_.position(); }  // worker thread
    double sample_rate() const { return chain_.sample_rate(); }  // worker thread

private:
    ChannelState prepare_channel();
    WindowRead read_next(StepBuffers& buffers);
    // Skips the channel with `reason` until a store outage has ended.
    void refuse(const std::string& reason);
    void set_state(ChannelState next, const std::string& reason);

    // Open measurements keep the sink they were given for their whole life, which may
    // span visits with different outputs: they are given this one, which always passes
    // on to the output in use.
    class CurrentOutput final : public MeasurementSink {
    public:
        explicit CurrentOutput(ChannelDetector& owner) : owner_(owner) {}
        void store(const Measurement& m) override { owner_.output_->store(m); }

    private:
        ChannelDetector& owner_;
    };

    StoreLink& link_;
    DirectOutput direct_;
    HeldOutput held_;
    ChannelOutput* output_ = &direct_;
    CurrentOutput current_output_{*this};
    ChannelSettings settings_;
    ChannelReader reader_{link_, settings_};
    ChannelChain chain_;
    uint64_t outages_seen_ = 0;  // StoreLink::outages() when the channel was refused
    std::atomic<ChannelState> state_{ChannelState::kNotSetUp};
    mutable common::Mutex reason_mutex_;  // guards state_reason_
    std::string state_reason_ GUARDED_BY(reason_mutex_);
};

}  // namespace zelvik::detect
