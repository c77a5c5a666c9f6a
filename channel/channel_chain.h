// The processing side of one channel: the trigger and measurement filters, the
// detection rule and the open measurements, run over the windows the reader delivered.
// Every sample goes through at its true time; gaps are never filled.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/channel_reader.h"
#include "channel/channel_settings.h"
#include "channel/detection_record.h"
#include "channel/onset_refiner.h"
#include "signal/detection_rule.h"
#include "signal/iir_filter.h"
#include "signal/instrument_response.h"

namespace zelvik::detect {

class ChannelChain {
public:
    static constexpr double kRecordSeconds = 5.0;  // measurement window
    static constexpr size_t kBlockSamples = 512;   // samples filtered per block (stack)

    // A new detection: its onset (seconds since 1970), STA variance and ratio.
    using DetectionCall = std::function<void(double onset, double sta_variance, float ratio)>;
    // The chain could not be rebuilt after a gap; the reason for the log.
    using FailureCall = std::function<void(const std::string& reason)>;

    // `settings` and `records` are not owned and must outlive the chain. Finished
    // measurements go to `records`; `on_detection` and `on_failure` are called on the
    // thread that runs process_window().
    ChannelChain(const ChannelSettings& settings, MeasurementSink& records,
                 DetectionCall on_detection, FailureCall on_failure);
    ~ChannelChain();
    ChannelChain(const ChannelChain&) = delete;
    ChannelChain& operator=(const ChannelChain&) = delete;

    // Designs the filters and the rule for `sample_rate`; false when one is refused
    // (last_error() says why). The warm-up starts again.
    bool build(double sample_rate);
    std::string last_error() const;

    // The response the measurements convert with; the reader sets it in place, so
    // records already open see the new one.
    InstrumentResponse& response() { return response_; }

    // Runs what the reader left in `buffers` through the chain. Any one thread at a time.
    void process_window(const StepBuffers& buffers);

    // Finishes every open measurement with the samples it has (end of a catch-up run).
    void finish_open_measurements();

    // Time of the last sample an open measurement still waits for; 0 when none is open.
    double open_measurements_until() const;
    size_t open_measurements() const { return open_.size(); }
    // Gives the samples of `buffers` that follow the last one processed to the open
    // measurements only, through the measurement filter: a stop completes what is open
    // from the store without making new detections. Ends once none is open.
    void complete_open_measurements(const StepBuffers& buffers);

    double sample_rate() const { return sample_rate_; }
    double last_data_time() const { return last_data_time_.load(std::memory_order_relaxed); }
    double last_onset() const { return last_onset_.load(std::memory_order_relaxed); }
    long detections() const { return detections_.load(std::memory_order_relaxed); }
    // Detections whose pick earned grade g (0..4). Any thread.
    long detections_of_grade(int g) const {
        return g >= 0 && g < 5 ? grades_[g].load(std::memory_order_relaxed) : 0;
    }

private:
    std::string name() const;  // "STA.CHA.LOC"
    void process_stretch(const float* x, size_t count, double t_first);
    void feed_stretch(const float* x, size_t count, double t_first);
    void feed_records(double m, double t);  // gives a sample to every open measurement
    void on_detection(double m, double t);  // opens the measurement, reports the detection

    const ChannelSettings& settings_;
    MeasurementSink& records_;
    DetectionCall detection_call_;
    FailureCall failure_call_;
    std::vector<std::unique_ptr<DetectionRecord>> open_;  // in order of creation
    InstrumentResponse response_;
    IirFilter trigger_filter_;
    IirFilter measurement_filter_;
    OnsetRefiner refiner_;               // the last few seconds before a detection, for its pick
    std::optional<DetectionRule> rule_;  // re-made when the warm-up starts again
    double sample_rate_ = 0.0;
    double sample_interval_ = 0.0;
    double last_sample_time_ = 0.0;            // time of the last sample fed; 0 = none yet
    std::atomic<double> last_data_time_{0.0};  // read by the supervisor
    std::atomic<double> last_onset_{0.0};      // read by the supervisor
    std::atomic<long> detections_{0};          // read by the supervisor and the front end
    std::atomic<long> grades_[5] = {};         // detections by pick grade, read by the summary
};

}  // namespace zelvik::detect
