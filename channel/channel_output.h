// Where a channel's step hands on what it makes: log lines, finished measurements (the
// event rows) and detections (the reports). The worker picks an output per visit:
// DirectOutput passes everything on at once; HeldOutput keeps it, in the order it was
// made, while the step runs beside another channel's on the compute lane, and the
// worker releases it afterwards into the direct output, so the log, the rows and the
// reports see exactly what one thread visiting the channels in turn would give them.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "channel/detection_record.h"
#include "common/log.h"

namespace zelvik::detect {

// Called on the worker thread for every new detection (the detection report).
using DetectionHook =
    std::function<void(const std::string& station, double onset, double sta_variance, float ratio)>;

// One detection to report.
struct Detection {
    std::string station;
    double onset;  // seconds since 1970
    double sta_variance;
    float ratio;
};

class ChannelOutput : public MeasurementSink {
public:
    // Where this thread's log lines go while a step writes into this output; null
    // when they go straight to the log.
    virtual common::LogHold* log_hold() = 0;
    // store(const Measurement&) from MeasurementSink: a finished measurement.
    virtual void detection(const Detection& d) = 0;
};

class DirectOutput final : public ChannelOutput {
public:
    // `sink` (may be null) is not owned and must outlive the output.
    DirectOutput(MeasurementSink* sink, DetectionHook hook) : sink_(sink), hook_(std::move(hook)) {}

    common::LogHold* log_hold() override { return nullptr; }
    void store(const Measurement& m) override {
        if (sink_ != nullptr) sink_->store(m);
    }
    void detection(const Detection& d) override {
        if (hook_) hook_(d.station, d.onset, d.sta_variance, d.ratio);
    }

private:
    MeasurementSink* sink_;
    DetectionHook hook_;
};

class HeldOutput final : public ChannelOutput, public common::LogHold {
public:
    common::LogHold* log_hold() override { return this; }
    void hold(std::string_view line) override { held_.emplace_back(std::string(line)); }
    void store(const Measurement& m) override { held_.emplace_back(m); }
    void detection(const Detection& d) override { held_.emplace_back(d); }

    // Hands everything held on to `to` in the order it was made (log lines to the log),
    // then forgets it. Worker thread, once the step that wrote here has returned.
    void release_to(ChannelOutput& to) {
        for (const Held& h : held_) {
            if (const auto* line = std::get_if<std::string>(&h))
                (void)common::log_write(*line);
            else if (const auto* m = std::get_if<Measurement>(&h))
                to.store(*m);
            else
                to.detection(std::get<Detection>(h));
        }
        held_.clear();
    }

private:
    using Held = std::variant<std::string, Measurement, Detection>;
    std::vector<Held> held_;
};

}  // namespace zelvik::detect
