// Window measurement. The FFT plans live per thread: records are measured on the worker
// thread, and a catch-up run measures thousands of windows of one length.
#include "signal/window_measurement.h"

#include <vector>

#include "signal/dominant_period.h"
#include "signal/sliding_extremes.h"
#include "signal/spectrum_lines.h"

namespace zelvik::detect {
namespace {

// Removes the least-squares line, sample i at abscissa i x dt, then the mean.
std::vector<double> detrended(const double* samples, int count, float dt) {
    std::vector<double> v(samples, samples + count);
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
    return v;
}

int period_in_samples(double period, double dt) {
    return period > 0.0 ? static_cast<int>(period / dt + 0.5) : 0;
}

}  // namespace

WindowMeasurement measure_window(const double* samples, int n, double dt) {
    WindowMeasurement out;
    if (n <= 0) return out;
    thread_local SpectrumLines lines;
    out.period = dominant_period(detrended(samples, n, static_cast<float>(dt)), dt, lines);
    const int m = period_in_samples(out.period, dt);
    out.amplitude_counts = static_cast<float>(largest_swing(samples, n, m) / 2);
    return out;
}

WindowMeasurement measure_window_direct(const double* samples, int n, double dt) {
    WindowMeasurement out;
    if (n <= 0) return out;
    out.period = direct_dominant_period(detrended(samples, n, static_cast<float>(dt)), dt);
    const int m = period_in_samples(out.period, dt);
    out.amplitude_counts = static_cast<float>(direct_largest_swing(samples, n, m) / 2);
    return out;
}

}  // namespace zelvik::detect
