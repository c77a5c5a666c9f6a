// Spectral lines by FFT. The window is scaled by its largest magnitude before it is
// rounded to single precision, so values up to the double range neither overflow nor
// lose their relative accuracy. The error bound is the normwise bound of a
// floating-point FFT (a few units of rounding per stage, log2 N stages) applied to each
// line, with a generous factor: the caller's exactness rests on it, its speed does not.
#include "signal/spectrum_lines.h"

#include <kiss_fft.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

namespace zelvik::detect {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSafety = 32.0;  // over the normwise bound's own constant (about 7)

int largest_prime_factor(int n) {
    int largest = 1;
    for (int p = 2; p * p <= n; ++p) {
        while (n % p == 0) {
            largest = p;
            n /= p;
        }
    }
    return n > 1 ? std::max(largest, n) : largest;
}

struct KissConfig {
    kiss_fft_cfg cfg = nullptr;
    ~KissConfig() { kiss_fft_free(cfg); }
};

}  // namespace

// One length made ready: the KissFFT configurations, and for Bluestein the chirp and the
// spectrum of its conjugate on the convolution length m.
struct SpectrumLines::Plan {
    int n = 0;
    int m = 0;  // 0: a transform of length n directly
    KissConfig forward, inverse;
    std::vector<kiss_fft_cpx> chirp;           // e^(-i pi j^2 / n), j < n
    std::vector<kiss_fft_cpx> chirp_spectrum;  // FFT of conj(chirp) wrapped on m, divided by m
    double chirp_spectrum_peak = 0.0;          // largest |chirp_spectrum| x m
    std::vector<kiss_fft_cpx> in, out;

    bool make(int length);
    // Spectrum of v x scale into `out`; returns the sum of squares of the scaled window.
    double transform(const std::vector<double>& v, double scale);
};

bool SpectrumLines::Plan::make(int length) {
    n = length;
    if (largest_prime_factor(n) <= kLargestDirectFactor) {
        forward.cfg = kiss_fft_alloc(n, 0, nullptr, nullptr);
        in.resize(n), out.resize(n);
        return forward.cfg != nullptr;
    }
    m = kiss_fft_next_fast_size(2 * n - 1);
    forward.cfg = kiss_fft_alloc(m, 0, nullptr, nullptr);
    inverse.cfg = kiss_fft_alloc(m, 1, nullptr, nullptr);
    if (forward.cfg == nullptr || inverse.cfg == nullptr) return false;
    chirp.resize(n);
    std::vector<kiss_fft_cpx> wrapped(m, kiss_fft_cpx{0.0f, 0.0f});
    for (int j = 0; j < n; ++j) {
        // j^2 taken modulo 2n keeps the angle exact for every j below 50,000 and beyond.
        const auto square = static_cast<int64_t>(j) * j % (2 * static_cast<int64_t>(n));
        const double angle = kPi * static_cast<double>(square) / n;
        chirp[j] = {static_cast<float>(std::cos(angle)), static_cast<float>(-std::sin(angle))};
        const kiss_fft_cpx conjugate{chirp[j].r, -chirp[j].i};
        wrapped[j] = conjugate;
        if (j > 0) wrapped[m - j] = conjugate;
    }
    chirp_spectrum.resize(m);
    kiss_fft(forward.cfg, wrapped.data(), chirp_spectrum.data());
    for (kiss_fft_cpx& c : chirp_spectrum) {
        chirp_spectrum_peak = std::max(chirp_spectrum_peak, std::hypot(double{c.r}, double{c.i}));
        c.r /= static_cast<float>(m), c.i /= static_cast<float>(m);
    }
    in.resize(m), out.resize(m);
    return true;
}

double SpectrumLines::Plan::transform(const std::vector<double>& v, double scale) {
    double energy = 0.0;
    if (m == 0) {
        for (int j = 0; j < n; ++j) {
            const double x = v[j] * scale;
            energy += x * x;
            in[j] = {static_cast<float>(x), 0.0f};
        }
        kiss_fft(forward.cfg, in.data(), out.data());
        return energy;
    }
    // X[k] = w_k (a * conj(w))[k] with a_j = v_j w_j, the convolution taken on length m.
    std::fill(in.begin() + n, in.end(), kiss_fft_cpx{0.0f, 0.0f});
    for (int j = 0; j < n; ++j) {
        const double x = v[j] * scale;
        energy += x * x;
        const auto f = static_cast<float>(x);
        in[j] = {f * chirp[j].r, f * chirp[j].i};
    }
    kiss_fft(forward.cfg, in.data(), out.data());
    for (int k = 0; k < m; ++k) {
        const kiss_fft_cpx a = out[k], b = chirp_spectrum[k];
        in[k] = {a.r * b.r - a.i * b.i, a.r * b.i + a.i * b.r};
    }
    kiss_fft(inverse.cfg, in.data(), out.data());
    for (int k = 0; k < n; ++k) {
        const kiss_fft_cpx c = out[k], w = chirp[k];
        out[k] = {c.r * w.r - c.i * w.i, c.r * w.i + c.i * w.r};
    }
    return energy;
}

SpectrumLines::SpectrumLines() = default;
SpectrumLines::~SpectrumLines() = default;

SpectrumLines::Plan* SpectrumLines::plan_for(int n) {
    for (size_t i = 0; i < plans_.size(); ++i) {
        if (plans_[i]->n != n) continue;
        std::rotate(plans_.begin(), plans_.begin() + static_cast<long>(i),
                    plans_.begin() + static_cast<long>(i) + 1);
        return plans_.front().get();
    }
    auto plan = std::unique_ptr<Plan>(new (std::nothrow) Plan());
    if (!plan) return nullptr;
    try {
        if (!plan->make(n)) return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (plans_.size() >= kMaxPlans) plans_.pop_back();
    plans_.insert(plans_.begin(), std::move(plan));
    return plans_.front().get();
}

bool SpectrumLines::compute(const std::vector<double>& v, std::vector<double>& magnitudes) {
    magnitudes.clear();
    error_bound_ = 0.0;
    const auto n = static_cast<int64_t>(v.size());
    if (n < 1 || n > kMaxLength) return false;
    double peak = 0.0;
    for (const double x : v) peak = std::fabs(x) > peak ? std::fabs(x) : peak;
    try {
        magnitudes.assign(static_cast<size_t>(n / 2 + 1), 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (peak == 0.0) return true;  // every line is exactly 0
    Plan* plan = plan_for(static_cast<int>(n));
    if (plan == nullptr) {
        magnitudes.clear();
        return false;
    }
    const double energy = plan->transform(v, 1.0 / peak);
    // The scaled sums are below N in magnitude: their squares cannot overflow a float.
    const double unit = peak / static_cast<double>(n);  // from the scaled sums to |X[k]|
    for (int64_t k = 0; k <= n / 2; ++k) {
        const kiss_fft_cpx c = plan->out[static_cast<size_t>(k)];
        magnitudes[static_cast<size_t>(k)] = std::sqrt(double{c.r * c.r + c.i * c.i}) * unit;
    }
    const double stages = std::log2(static_cast<double>(plan->m > 0 ? plan->m : n)) + 1.0;
    const double gain =
        plan->m > 0 ? 3.0 * (1.0 + plan->chirp_spectrum_peak / std::sqrt(double(n))) : 1.0;
    error_bound_ = kSafety * std::numeric_limits<float>::epsilon() * stages * gain *
                   std::sqrt(energy * static_cast<double>(n)) * unit;
    return true;
}

}  // namespace zelvik::detect
