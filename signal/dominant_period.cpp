// Period search. Exactness of the fast search: with F[k] the FFT's magnitude, D[k] the
// reference's and X[k] the exact one, |F - X| <= e_fft and |D - X| <= e_direct. Any line
// with F[k] < max F - 2 (e_fft + e_direct) has D[k] < D of the line where F is largest,
// so it can neither win nor tie in the reference's scan; the reference's winner is
// therefore the first line of largest D among the others, which are computed here
// exactly as the reference computes them.
#include "signal/dominant_period.h"

#include <cmath>
#include <limits>

#include "signal/spectrum_lines.h"

namespace zelvik::detect {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Bound on |D[k] - X[k]|: the rotation factor of term j carries about 4 j roundings (one
// complex multiplication each, on a first factor rounded once), the sum N more.
double direct_error_bound(const std::vector<double>& v) {
    double sum = 0.0;
    for (const double x : v) sum += std::fabs(x);
    const double n = static_cast<double>(v.size());
    return (8.0 * n + 8.0) * std::numeric_limits<double>::epsilon() * sum / n;
}

}  // namespace

double direct_line_magnitude(const std::vector<double>& v, int k) {
    const int n = static_cast<int>(v.size());
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
    return std::hypot(sr / n, si / n);
}

double direct_dominant_period(const std::vector<double>& v, double dt) {
    const int n = static_cast<int>(v.size());
    double best = 0.0, period = 0.0;
    for (int k = 2; k < n / 2; ++k) {
        const double magnitude = direct_line_magnitude(v, k);
        if (magnitude > best) {
            best = magnitude;
            period = n * dt / k;
        }
    }
    return period;
}

double dominant_period(const std::vector<double>& v, double dt, SpectrumLines& lines) {
    const int n = static_cast<int>(v.size());
    if (n / 2 <= 2) return 0.0;             // no line to search
    thread_local std::vector<double> fast;  // kept: a catch-up run measures thousands
    if (!lines.compute(v, fast)) return direct_dominant_period(v, dt);
    double largest = 0.0;
    for (int k = 2; k < n / 2; ++k) largest = fast[k] > largest ? fast[k] : largest;
    const double margin = 2.0 * (lines.error_bound() + direct_error_bound(v));
    if (largest == 0.0 && margin == 0.0) return 0.0;  // a window of zeros: every line is 0
    double best = 0.0, period = 0.0;
    for (int k = 2; k < n / 2; ++k) {
        if (fast[k] < largest - margin) continue;
        const double magnitude = direct_line_magnitude(v, k);
        if (magnitude > best) {
            best = magnitude;
            period = n * dt / k;
        }
    }
    return period;
}

}  // namespace zelvik::detect
