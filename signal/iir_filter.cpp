// Butterworth design: analog prototype poles, low-pass to band-pass (or scaled low-pass)
// sections in ascending powers of s, then the bilinear transformation of every section.
// No gain correction follows: the band-pass transformation already gives gain 1 at the
// warped geometric centre and -3 dB at both corners.
#include "signal/iir_filter.h"

#include <cmath>
#include <complex>
#include <cstdio>
#include <string>

namespace zelvik::detect {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Pole {
    std::complex<double> p;
    bool conjugate;  // stands for itself and its mirror image below the real axis
};

// The prototype's poles in design order: the real pole first when the order is odd.
int prototype_poles(int order, Pole* out) {
    int count = 0;
    if (order % 2 == 1) out[count++] = {{-1.0, 0.0}, false};
    for (int k = 0; k < order / 2; ++k) {
        const double theta = kPi * (0.5 + (2.0 * k + 1.0) / (2.0 * order));
        out[count++] = {{std::cos(theta), std::sin(theta)}, true};
    }
    return count;
}

// Corner pre-warped for the bilinear transformation. The half-product is formed in
// single precision on purpose: corners and interval are stored that way.
double warp(float f, float dt) {
    const float g = f * dt / 2.0f;
    return std::tan(kPi * 2.0 * g) / (2.0 * kPi);
}

// s = (1 - 1/z) / (1 + 1/z) applied to (N0 + N1 s + N2 s^2) / (D0 + D1 s + D2 s^2).
void bilinear(double* num, double* den) {
    const double s = den[0] + den[1] + den[2];
    const double d0 = den[0], d1 = den[1], d2 = den[2];
    const double n0 = num[0], n1 = num[1], n2 = num[2];
    den[0] = 1.0;
    den[1] = 2.0 * (d0 - d2) / s;
    den[2] = (d0 - d1 + d2) / s;
    num[0] = (n0 + n1 + n2) / s;
    num[1] = 2.0 * (n0 - n2) / s;
    num[2] = (n0 - n1 + n2) / s;
}

void set3(double* c, double c0, double c1, double c2) {
    c[0] = c0;
    c[1] = c1;
    c[2] = c2;
}

// Empty when the design can be made, else the reason.
std::string design_problem(int order, std::string_view kind, float f1, float f2, float dt) {
    char text[160];
    if (order < 1 || order > IirFilter::kMaxOrder) {
        std::snprintf(text, sizeof text, "[design] order %d outside 1..%d", order,
                      IirFilter::kMaxOrder);
    } else if (kind != "BP" && kind != "LP") {
        std::snprintf(text, sizeof text, "[design] filter type \"%.*s\" not supported (BP, LP)",
                      static_cast<int>(kind.size()), kind.data());
    } else if (!std::isfinite(dt) || dt <= 0.0f || !std::isfinite(f1) || !std::isfinite(f2) ||
               f1 < 0.0f || f2 <= 0.0f || f1 > f2) {
        std::snprintf(text, sizeof text,
                      "[design] corners %g Hz and %g Hz at interval %g s unusable", f1, f2, dt);
    } else if (f2 * dt / 2.0f >= 0.25f) {
        // tan() of the warped corner passes its pole at half the sample rate.
        std::snprintf(text, sizeof text,
                      "[design] corner %g Hz at or above half the sample rate %g Hz", f2, 0.5 / dt);
    } else {
        return {};
    }
    return text;
}

// Analog band-pass sections between the warped corners wl and wh; returns their count.
int band_pass_sections(const Pole* poles, int pole_count, double wl, double wh, double* num,
                       double* den) {
    const double a = (2.0 * kPi) * (2.0 * kPi) * wl * wh;
    const double b = 2.0 * kPi * (wh - wl);
    int sections = 0;
    for (int i = 0; i < pole_count; ++i) {
        if (!poles[i].conjugate) {
            set3(num + 3 * sections, 0.0, b, 0.0);
            set3(den + 3 * sections, a, -b * poles[i].p.real(), 1.0);
            ++sections;
            continue;
        }
        const std::complex<double> q = b * poles[i].p;
        const std::complex<double> r = std::sqrt(q * q - 4.0 * a);
        for (const std::complex<double> pi : {(q + r) / 2.0, (q - r) / 2.0}) {
            set3(num + 3 * sections, 0.0, b, 0.0);
            set3(den + 3 * sections, std::norm(pi), -2.0 * pi.real(), 1.0);
            ++sections;
        }
    }
    return sections;
}

// Analog low-pass sections scaled to the warped corner w (rad/s); returns their count.
int low_pass_sections(const Pole* poles, int pole_count, double w, double* num, double* den) {
    for (int i = 0; i < pole_count; ++i) {
        double* nu = num + 3 * i;
        double* de = den + 3 * i;
        set3(nu, 1.0, 0.0, 0.0);
        if (poles[i].conjugate) {
            set3(de, std::norm(poles[i].p), -2.0 * poles[i].p.real(), 1.0);
        } else {
            set3(de, -poles[i].p.real(), 1.0, 0.0);
        }
        nu[1] /= w, de[1] /= w;
        nu[2] /= w * w, de[2] /= w * w;
    }
    return pole_count;
}

}  // namespace

void IirFilter::clear_design() {
    sections_ = 0;
    for (double& v : num_) v = 0.0;
    for (double& v : den_) v = 0.0;
}

bool IirFilter::design(int order, std::string_view type, float f1, float f2, float dt) {
    clear_design();
    const std::string_view kind = type.substr(0, 2);
    last_error_ = design_problem(order, kind, f1, f2, dt);
    if (!last_error_.empty()) return false;

    Pole poles[kMaxOrder];
    const int pole_count = prototype_poles(order, poles);
    sections_ = kind == "BP"
                    ? band_pass_sections(poles, pole_count, warp(f1, dt), warp(f2, dt), num_, den_)
                    : low_pass_sections(poles, pole_count, 2.0 * kPi * warp(f2, dt), num_, den_);
    for (int j = 0; j < sections_; ++j) {
        bilinear(num_ + 3 * j, den_ + 3 * j);
        x1_[j] = x2_[j] = y1_[j] = y2_[j] = 0.0;
    }
    return true;
}

void IirFilter::apply_block(const float* in, double* out, size_t count) {
    switch (sections_) {
        case 1:
            return run_block<1>(in, out, count);
        case 2:
            return run_block<2>(in, out, count);
        case 3:
            return run_block<3>(in, out, count);
        case 4:
            return run_block<4>(in, out, count);
        case 5:
            return run_block<5>(in, out, count);
        case 6:
            return run_block<6>(in, out, count);
        default:
            for (size_t i = 0; i < count; ++i) out[i] = static_cast<double>(in[i]);
    }
}

}  // namespace zelvik::detect
