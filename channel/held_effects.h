// What one channel's step hands on to the rest of the engine (log lines, finished
// measurements, detection reports), held while the step runs beside another channel's
// on a helper thread, and released afterwards on the worker thread in the order it was
// made: the log, the event rows and the reports then see exactly what one thread visiting
// the channels one after another would have given them.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "channel/detection_record.h"
#include "common/log.h"

namespace zelvik::detect {

// A detection report waiting to be made (the station is the channel's own).
struct HeldDetection {
    double onset;
    double sta_variance;
    float ratio;
};

class HeldEffects final : public common::LogHold, public MeasurementSink {
public:
    using Held = std::variant<std::string, Measurement, HeldDetection>;

    void hold(std::string_view message) override { held_.emplace_back(std::string(message)); }
    void store(const Measurement& m) override { held_.emplace_back(m); }
    void detection(const HeldDetection& d) { held_.emplace_back(d); }

    // Writes each held line, stores each measurement in `sink` (may be null) and calls
    // `report_detection` for each detection, in the order they were held, then forgets
    // them all.
    template <typename ReportDetection>
    void release(MeasurementSink* sink, ReportDetection&& report_detection) {
        for (const Held& r : held_) {
            if (const auto* line = std::get_if<std::string>(&r)) {
                (void)common::log_write(*line);
            } else if (const auto* m = std::get_if<Measurement>(&r)) {
                if (sink != nullptr) sink->store(*m);
            } else {
                report_detection(std::get<HeldDetection>(r));
            }
        }
        held_.clear();
    }

private:
    std::vector<Held> held_;
};

}  // namespace zelvik::detect
