// Measurement of one detection. The period comes from the largest spectral line of the
// detrended window (a direct DFT, once per detection); the amplitude is taken on the
// filtered samples as stored, over spans of two thirds of that period.
#include "detect/detection_record.h"

#include <cmath>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "common/civil_time.h"
#include "detect/instrument_response.h"
#include "report/log.h"

namespace zelvik::detect {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Removes the least-squares line, sample i at abscissa i x dt, then the mean.
void detrend(std::vector<double>& v, float dt) {
    const double n = static_cast<double>(v.size());
    double st = 0, st2 = 0, sv = 0, svt = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        const double t = static_cast<double>(i) * dt;
        st += t, st2 += t * t, sv += v[i], svt += v[i] * t;
    }
    const double denominator = n * st2 - st * st;
    if (denominator != 0.0) {  // 0 for fewer than 2 samples: no line to remove
        const double slope = (n * svt - sv * st) / denominator;
        const double intercept = (sv * st2 - svt * st) / denominator;
        for (size_t i = 0; i < v.size(); ++i)
            v[i] -= intercept + slope * (static_cast<double>(i) * dt);
    }
    double mean = 0;
    for (const double x : v) mean += x;
    mean /= n;
    for (double& x : v) x -= mean;
}

// Period of the largest |X[k]|, k = 2 .. N/2 - 1, of the direct DFT; ties keep the lower
// k. Only those lines are computed: the others never take part. 0 when none qualifies.
double dominant_period(const std::vector<double>& v, double dt) {
    const int n = static_cast<int>(v.size());
    double best = 0.0, period = 0.0;
    for (int k = 2; k < n / 2; ++k) {
        const double angle = -2.0 * kPi * k / n;
        const double wr = std::cos(angle), wi = std::sin(angle);
        double zr = 1.0, zi = 0.0, sr = 0.0, si = 0.0;
        for (int j = 0; j < n; ++j) {
            sr += v[j] * zr;
            si += v[j] * zi;
            const double r = zr * wr - zi * wi;  // rotation advanced by one multiplication
            zi = zr * wi + zi * wr;
            zr = r;
        }
        const double magnitude = std::hypot(sr / n, si / n);
        if (magnitude > best) {
            best = magnitude;
            period = n * dt / k;
        }
    }
    return period;
}

// Largest peak-to-peak swing over spans of samples i .. i + 2M/3.
double largest_swing(const double* s, int n, int period_samples) {
    double best = 0.0;
    for (int i = 0; i < n; ++i) {
        const double reach = i + 2.0 * period_samples / 3.0;
        const int last = reach >= n - 1 ? n - 1 : static_cast<int>(reach);
        double hi = s[i], lo = s[i];
        for (int j = i + 1; j <= last; ++j) {
            hi = s[j] > hi ? s[j] : hi;
            lo = s[j] < lo ? s[j] : lo;
        }
        if (hi - lo > best) best = hi - lo;
    }
    return best;
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
              -1.0},
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
    const int n = count_;
    double period = 0.0;
    if (n > 0) {
        std::vector<double> work(samples_.get(), samples_.get() + n);
        detrend(work, static_cast<float>(sample_interval_));
        period = dominant_period(work, sample_interval_);
    }
    const int period_samples = period > 0.0 ? static_cast<int>(period / sample_interval_ + 0.5) : 0;
    const float counts =
        n > 0 ? static_cast<float>(largest_swing(samples_.get(), n, period_samples) / 2) : 0.0f;

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
    (void)report::log_printf(
        "Ch: %s.%s.%s Ev_time: %s amp(cnt):%.3f amp(mkm):%.6f T(s):%.4f calib=%.4f",
        result_.station.c_str(), result_.channel.c_str(), result_.location.c_str(), when.c_str(),
        result_.amplitude_counts, result_.amplitude_um, result_.period, result_.factor);
    finished_ = true;
    if (sink_ != nullptr) sink_->store(result_);
}

}  // namespace zelvik::detect
