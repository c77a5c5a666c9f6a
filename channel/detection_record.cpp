// Measurement of one detection. The period comes from the largest spectral line of the
// detrended window (an FFT, settled by the direct transform where lines come close); the
// amplitude is taken on the filtered samples as stored, over spans of two thirds of that
// period, by sliding extremes.
#include "channel/detection_record.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <utility>

#include "common/civil_time.h"
#include "common/log.h"
#include "signal/instrument_response.h"
#include "signal/window_measurement.h"

namespace zelvik::detect {
namespace {

// "YYYY-MM-DD hh:mm:ss.mmm", UTC, rounded to the millisecond.
std::string utc_millis_text(double epoch) {
    const auto ms = static_cast<int64_t>(std::llround(epoch * 1000.0));
    const int64_t seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    char tail[8];
    std::snprintf(tail, sizeof tail, ".%03d", static_cast<int>(ms - seconds * 1000));
    std::string text = common::utc_text(static_cast<double>(seconds));
    text.append(tail);
    return text;
}

void log_pick(const Measurement& m) {
    const OnsetPick& p = *m.pick;
    const std::string when = utc_millis_text(p.time);
    if (p.fallback == PickFallback::kNone) {
        (void)common::log_printf(
            "Pick: %s.%s.%s P %s UTC, %+.3f s from the trigger onset, +-%.3f s, SNR %.1f, "
            "grade %d",
            m.station.c_str(), m.channel.c_str(), m.location.c_str(), when.c_str(),
            p.time - p.trigger_onset, p.uncertainty, p.snr, p.grade);
    } else {
        (void)common::log_printf("Pick: %s.%s.%s P %s UTC, the trigger onset kept (%s), grade %d",
                                 m.station.c_str(), m.channel.c_str(), m.location.c_str(),
                                 when.c_str(), to_string(p.fallback), p.grade);
    }
}

}  // namespace

DetectionRecord::DetectionRecord(std::string station, std::string channel, std::string location,
                                 double onset, const InstrumentResponse& response,
                                 MeasurementSink* sink)
    : result_{std::move(station),
              std::move(channel),
              std::move(location),
              onset,
              -1.0f,
              -1.0f,
              -1.0f,
              -1.0,
              std::nullopt},
      response_(response),
      sink_(sink) {}

bool DetectionRecord::set_window(double sample_rate, double seconds) {
    if (samples_ || finished_) return false;
    const bool usable = sample_rate >= kMinSampleRate && sample_rate <= 10000.0 && seconds > 0.0 &&
                        seconds <= 600.0 && static_cast<int>(sample_rate * seconds) >= 2;
    if (usable) {
        sample_interval_ = 1.0 / sample_rate;
        capacity_ = static_cast<int>(sample_rate * seconds);
        samples_.reset(new (std::nothrow) double[capacity_]);
        if (samples_) return true;
    }
    finish();  // refused or out of memory: a record with no samples, reported as such
    return false;
}

bool DetectionRecord::add(double value, double time) {
    if (finished_ || !samples_) return false;
    if (count_ > 0 && !(std::fabs(time - last_time_) < 1.5 * sample_interval_)) {
        finish();  // a gap: measure what came before it; this sample is not taken
        return true;
    }
    samples_[count_++] = value;
    last_time_ = time;
    if (count_ == capacity_) finish();
    return true;
}

void DetectionRecord::measure() {
    const WindowMeasurement w = measure_window(samples_.get(), count_, sample_interval_);
    const double period = w.period;
    const float counts = w.amplitude_counts;

    // A period of 0 has no frequency to evaluate the response at: no conversion then.
    double factor = -1.0;
    if (response_.kind() != ResponseKind::kNone && period > 0.0) {
        const double v = response_.evaluate(static_cast<float>(1.0 / static_cast<float>(period)));
        if (v > 0.0) factor = 1000000.0 / v;
    }
    result_.period = static_cast<float>(period);
    result_.amplitude_counts = counts;
    result_.amplitude_um = factor > 0.0 ? static_cast<float>(counts * factor) : -1.0f;
    result_.factor = factor;
}

void DetectionRecord::finish() {
    measure();
    const auto onset_seconds = static_cast<int64_t>(std::trunc(result_.onset));
    const std::string when = common::format_local(onset_seconds, "%H:%M:%S %d.%m.%y");
    (void)common::log_printf(
        "Ch: %s.%s.%s Ev_time: %s amp(cnt):%.3f amp(mkm):%.6f T(s):%.4f calib=%.4f",
        result_.station.c_str(), result_.channel.c_str(), result_.location.c_str(), when.c_str(),
        result_.amplitude_counts, result_.amplitude_um, result_.period, result_.factor);
    if (result_.pick) log_pick(result_);
    finished_ = true;
    if (sink_ != nullptr) sink_->store(result_);
}

}  // namespace zelvik::detect
