// The measurement of one detection: collects the next few seconds of measurement-filter
// output, finds the dominant period from its spectrum and the amplitude within two
// thirds of that period, converts it through the instrument response, logs it and hands it on.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "signal/aic_picker.h"

namespace zelvik::detect {

class InstrumentResponse;

// One finished measurement, as logged.
struct Measurement {
    std::string station, channel, location;
    double onset;                   // seconds since 1970, UTC
    float amplitude_counts;         // half the largest peak-to-peak swing, counts
    float amplitude_um;             // micrometres of displacement, -1 = not converted
    float period;                   // dominant period, seconds; 0 when none was found
    double factor;                  // micrometres per count, -1 = no usable response
    std::optional<OnsetPick> pick;  // the refined onset, when the chain made one
};

// Where finished measurements go (the event list of the waveform store). Called on the
// worker thread, once per record, after the measurement line was logged; must not throw.
class MeasurementSink {
public:
    virtual ~MeasurementSink() = default;
    virtual void store(const Measurement& m) = 0;
};

class DetectionRecord {
public:
    // Lowest sample rate a window accepts (per second): below it a 5 s window would hold
    // fewer than 2 samples.
    static constexpr double kMinSampleRate = 0.4;

    // `response` and `sink` are not owned and must outlive the record; `sink` may be null
    // (the measurement is then only logged).
    DetectionRecord(std::string station, std::string channel, std::string location, double onset,
                    const InstrumentResponse& response, MeasurementSink* sink);
    DetectionRecord(const DetectionRecord&) = delete;
    DetectionRecord& operator=(const DetectionRecord&) = delete;

    // Sizes the window: rate samples per second for `seconds`.
    // @retval false already set (nothing changes); or a rate outside [kMinSampleRate, 10000],
    //               seconds outside (0, 600], or a window below 2 samples: then the record
    //               finishes at once with no samples (logged and stored like any other).
    [[nodiscard]] bool set_window(double sample_rate, double seconds);

    // Takes one sample at `time`; a jump of 1.5 sample intervals or more is a gap and
    // finishes the record without taking the sample; a full window finishes it too.
    // Returns false when the record was finished already or has no window, else true.
    bool add(double value, double time);

    // The refined onset of this detection; logged after the measurement line and handed
    // on with the measurement.
    void set_pick(const OnsetPick& pick) { result_.pick = pick; }

    bool finished() const { return finished_; }
    // Time of the last sample the window still waits for; 0 once finished.
    double needed_until() const {
        return finished_ || !samples_ ? 0.0 : last_time_ + (capacity_ - count_) * sample_interval_;
    }
    const Measurement& result() const { return result_; }  // valid once finished()

private:
    void finish();
    void measure();

    Measurement result_;
    std::unique_ptr<double[]> samples_;
    double last_time_ = 0.0;
    double sample_interval_ = 0.0;  // seconds
    int count_ = 0;
    int capacity_ = 0;
    bool finished_ = false;
    const InstrumentResponse& response_;
    MeasurementSink* sink_;
};

}  // namespace zelvik::detect
