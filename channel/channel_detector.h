// One channel of the detection engine: its settings, filters, detection rule, response
// and open measurements. step() reads the channel's next window from the store and runs
// every delivered sample, at its true time, through the chain; gaps are never filled.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/wave_store.h"
#include "channel/channel_settings.h"
#include "channel/detection_record.h"
#include "signal/detection_rule.h"
#include "channel/held_effects.h"
#include "signal/iir_filter.h"
#include "signal/instrument_response.h"

namespace zelvik::detect {

class StoreLink;

enum class ChannelState : int {
    kNotSetUp = -1,        // before setup()
    kWaitingForStore = 0,  // setup could not reach the store; retried while it answers
    kRunning = 1,
    kUnusable = 2,  // settings or sample rate refused; retried after a store outage ends
};

// Called on the worker thread for every new detection (the detection report).
using DetectionHook =
    std::function<void(const std::string& station, double onset, double sta_variance, float ratio)>;

// Scratch space of the worker, reused by every step so that a step allocates nothing.
struct StepBuffers {
    std::vector<float> samples;
    std::vector<db::FilledRange> filled;
    std::vector<db::SegmentFault> faults;
    double window_start = 0.0;  // time of samples[0] of the window read last
    size_t capacity = 0;        // samples that window can hold
};

// What ChannelDetector::read_window() did.
enum class WindowRead {
    kStalled,  // the read position stayed (see needs_retry())
    kMoved,    // it moved on without samples to process (a jump, or segments without any)
    kSamples,  // it moved on; the samples read wait for process_window()
};

// A stretch of stored data that a channel passed over because it could not be read.
struct SkippedSegment {
    std::string channel;  // "STA.CHA.LOC"
    db::SegmentFault fault;
};

class ChannelDetector {
public:
    static constexpr double kWindowSeconds = 3600.0;  // longest stretch one step reads
    static constexpr double kRecordSeconds = 5.0;     // measurement window
    static constexpr size_t kBlockSamples = 512;      // samples filtered per block (stack)

    // `link` and `sink` are not owned and must outlive the detector; `sink` may be null.
    ChannelDetector(StoreLink& link, MeasurementSink* sink, DetectionHook hook);
    virtual ~ChannelDetector();
    ChannelDetector(const ChannelDetector&) = delete;
    ChannelDetector& operator=(const ChannelDetector&) = delete;

    // Reads section "THREAD<n>", sets read_position to `start` (seconds since 1970) and
    // runs prepare(). Called once, before the worker visits this detector.
    void setup(const std::string& settings_path, int n, double start);

    // The store-dependent part of setup: sample rate, checks, filters, trigger and the
    // response. Logs one line when the channel cannot run and one when it runs again;
    // nothing while the state stays the same. Worker thread once the worker runs.
    ChannelState prepare();

    // Worker thread. Reads [read_position, read_position + 3600 s) and processes what
    // was delivered. True when the read position moved on (samples processed, segments
    // passed that deliver none, or a jump over an outage to later data).
    bool step(StepBuffers& buffers);

    // step() in its two halves, for a worker that runs one channel's chain beside
    // another's. read_window(): worker thread, the part that asks the store; reads the
    // next window into `buffers` and moves the read position. After kSamples,
    // process_window() runs what was read through the chain, on any one thread at a
    // time, before the detector's next read_window().
    WindowRead read_window(StepBuffers& buffers);
    void process_window(const StepBuffers& buffers);

    // While holding, everything the detector hands on (log lines, finished measurements,
    // detection reports) is held, in order, until release_held() hands it on. Both on
    // the worker thread, outside a process_window() running elsewhere.
    void set_holding(bool on) { holding_ = on; }
    void release_held();

    // Worker thread, after step() returned false: true when the step failed for a reason
    // that may pass (no store, a read error, the data directory gone, a data file not
    // yet given up on), false when the channel is at the end of its stored data or can
    // never run. A catch-up run ends only when no channel needs a retry.
    bool needs_retry() const { return retry_; }

    // Stored data passed over: segments whose data file stayed unreadable for
    // kUnreadableGrace, short data files, unusable rows. Worker thread, or after it ended.
    const std::vector<db::SegmentFault>& skipped() const { return skipped_; }
    std::string name() const;  // "STA.CHA.LOC"

    // How long a data file may stay unreadable before its segment is skipped as a gap.
    static constexpr double kUnreadableGraceSeconds = 5.0;
    void set_unreadable_grace(double seconds) { unreadable_grace_ = seconds; }  // before use

    // Worker thread. Finishes every open measurement with the samples it has, so its
    // line is logged and its row stored (end of a catch-up run).
    void finish_open_measurements();

    ChannelState state() const { return state_.load(); }
    const ChannelSettings& settings() const { return settings_; }  // fixed after setup
    double last_data_time() const { return last_data_time_.load(std::memory_order_relaxed); }
    double last_onset() const { return last_onset_.load(std::memory_order_relaxed); }
    // Detections made since setup. Any thread.
    long detections() const { return detections_.load(std::memory_order_relaxed); }
    // Why the channel is in its state, as last logged ("no SITECHAN row", ...). Written
    // by whichever thread runs prepare(): read it on the supervisor thread only before
    // the worker starts.
    const std::string& state_reason() const { return state_reason_; }
    double read_position() const { return read_position_; }  // worker thread
    double sample_rate() const { return sample_rate_; }      // worker thread

private:
    bool build_chain();
    bool accept_faults(const std::vector<db::SegmentFault>& faults);
    void log_skipped(const db::SegmentFault& fault);
    void feed_stretch(const float* x, size_t count, double t_first);
    void choose_response();
    void set_state(ChannelState next, const std::string& reason);
    bool jump_to_next_data(double window_end);
    void process_stretch(const float* x, size_t count, double t_first);
    void feed_records(double m, double t);  // gives a sample to every open measurement
    void on_detection(double m, double t);  // opens the measurement, reports the detection

    // Where the detector's records put their measurements: the sink, or held.
    class RecordSink final : public MeasurementSink {
    public:
        explicit RecordSink(ChannelDetector& owner) : owner_(owner) {}
        void store(const Measurement& m) override;

    private:
        ChannelDetector& owner_;
    };

    StoreLink& link_;
    MeasurementSink* sink_;
    DetectionHook hook_;
    RecordSink record_sink_{*this};
    HeldEffects held_;
    bool holding_ = false;
    ChannelSettings settings_;
    std::vector<std::unique_ptr<DetectionRecord>> open_;  // in order of creation
    InstrumentResponse response_;
    IirFilter trigger_filter_;
    IirFilter measurement_filter_;
    std::optional<DetectionRule> rule_;  // re-made when the warm-up starts again
    double sample_rate_ = 0.0;
    double sample_interval_ = 0.0;
    double read_position_ = 0.0;
    double last_sample_time_ = 0.0;  // time of the last sample fed; 0 = none yet
    int last_read_status_ = 0;       // last read failure logged, to log each kind once
    uint64_t outages_seen_ = 0;      // StoreLink::outages() when the channel was refused
    bool retry_ = false;             // the last step failed for a reason that may pass
    std::string unreadable_path_;    // data file waited for; "" = none
    double unreadable_since_ = 0.0;  // steady-clock seconds when it first failed
    double unreadable_grace_ = kUnreadableGraceSeconds;
    std::vector<db::SegmentFault> skipped_;
    std::atomic<ChannelState> state_{ChannelState::kNotSetUp};
    std::atomic<double> last_data_time_{0.0};  // read by the supervisor
    std::atomic<double> last_onset_{0.0};      // read by the supervisor
    std::atomic<long> detections_{0};          // read by the supervisor and the front end
    std::string state_reason_;
};

}  // namespace zelvik::detect
