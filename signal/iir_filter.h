// Recursive Butterworth filter as a cascade of second-order sections, designed from the
// analog low-pass prototype with pre-warped corners and the bilinear transformation.
// The state carries over from one call of apply() to the next for the filter's whole life.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

namespace zelvik::detect {

template <int kSections>
struct IirCascade;

class IirFilter {
public:
    static constexpr int kMaxOrder = 6;  // a band-pass of order n has n sections
    static constexpr int kMaxSections = 6;

    IirFilter() = default;

    // Designs the filter and zeroes its state. `type` is compared over its first two
    // characters, case as given: "BP" band-pass between f1 and f2, "LP" low-pass at f2.
    // Corners in Hz, dt (sample interval) in seconds, single precision as stored in the
    // settings; the arithmetic is double precision.
    // @retval true  designed; apply() filters from now on.
    // @retval false order outside 1..kMaxOrder, a type other than "BP"/"LP", a corner or
    //               dt that is not finite or below 0 (f1 of 0 is allowed for "BP"), f1 > f2,
    //               or f2 at or above half the sample rate; last_error() says which, and
    //               the filter is left empty (apply returns its input unchanged).
    //               Does not log: the caller decides.
    [[nodiscard]] bool design(int order, std::string_view type, float f1, float f2, float dt);

    // Filters one sample and returns the output. Allocation-free; worker thread only.
    inline double apply(double x);

    // Filters in[0..count) into out[0..count), exactly as count calls of apply() would.
    // The state stays in registers for the block instead of going through memory at
    // every sample, which is most of the cost of the per-sample path. Worker thread only.
    void apply_block(const float* in, double* out, size_t count);

    // Number of second-order sections in use (0 before a successful design).
    int section_count() const { return sections_; }
    // Coefficient i (0..2) of section j: numerator b0, b1, b2 and denominator 1, a1, a2.
    double numerator(int section, int i) const { return num_[3 * section + i]; }
    double denominator(int section, int i) const { return den_[3 * section + i]; }

    // Text of the last refused design, "" after a successful one.
    const std::string& last_error() const { return last_error_; }

private:
    void clear_design();
    template <typename Cascade>
    void load_state(Cascade& c) const {
        for (size_t j = 0; j < std::size(c.x1); ++j)
            c.x1[j] = x1_[j], c.x2[j] = x2_[j], c.y1[j] = y1_[j], c.y2[j] = y2_[j];
    }
    template <typename Cascade>
    void save_state(const Cascade& c) {
        for (size_t j = 0; j < std::size(c.x1); ++j)
            x1_[j] = c.x1[j], x2_[j] = c.x2[j], y1_[j] = c.y1[j], y2_[j] = c.y2[j];
    }
    template <int kSections>
    double run(double x);
    template <int kSections>
    void run_block(const float* in, double* out, size_t count);

    // Per-section state: previous input, input before that, previous and older output.
    double x1_[kMaxSections] = {};
    double x2_[kMaxSections] = {};
    double y1_[kMaxSections] = {};
    double y2_[kMaxSections] = {};
    double num_[3 * kMaxSections] = {};  // b0, b1, b2 of section 0, then section 1, ...
    double den_[3 * kMaxSections] = {};  // 1, a1, a2 of section 0, then section 1, ...
    int sections_ = 0;
    std::string last_error_;
};

template <int kSections>
inline double IirFilter::run(double x) {
    for (int j = 0; j < kSections; ++j) {
        const double* b = num_ + 3 * j;
        const double* a = den_ + 3 * j;
        const double y = b[0] * x + b[1] * x1_[j] + b[2] * x2_[j] - (a[1] * y1_[j] + a[2] * y2_[j]);
        y2_[j] = y1_[j];
        y1_[j] = y;
        x2_[j] = x1_[j];
        x1_[j] = x;
        x = y;
    }
    return x;
}

// A filter's coefficients and state as locals, for the block loops: no store through an
// output pointer can alias them, so they live in registers.
template <int kSections>
struct IirCascade {
    double b0[kSections], b1[kSections], b2[kSections], a1[kSections], a2[kSections];
    double x1[kSections], x2[kSections], y1[kSections], y2[kSections];

    explicit IirCascade(const IirFilter& f) {
        for (int j = 0; j < kSections; ++j) {
            b0[j] = f.numerator(j, 0), b1[j] = f.numerator(j, 1), b2[j] = f.numerator(j, 2);
            a1[j] = f.denominator(j, 1), a2[j] = f.denominator(j, 2);
        }
    }
    double step(double x) {
        for (int j = 0; j < kSections; ++j) {
            // The same expression, in the same order, as IirFilter::run(): results are
            // bit for bit equal.
            const double y =
                b0[j] * x + b1[j] * x1[j] + b2[j] * x2[j] - (a1[j] * y1[j] + a2[j] * y2[j]);
            y2[j] = y1[j];
            y1[j] = y;
            x2[j] = x1[j];
            x1[j] = x;
            x = y;
        }
        return x;
    }
};

template <int kSections>
void IirFilter::run_block(const float* in, double* out, size_t count) {
    IirCascade<kSections> c(*this);
    load_state(c);
    for (size_t i = 0; i < count; ++i) out[i] = c.step(static_cast<double>(in[i]));
    save_state(c);
}

inline double IirFilter::apply(double x) {
    // One well-predicted jump per sample to a cascade unrolled for its section count.
    switch (sections_) {
        case 1:
            return run<1>(x);
        case 2:
            return run<2>(x);
        case 3:
            return run<3>(x);
        case 4:
            return run<4>(x);
        case 5:
            return run<5>(x);
        case 6:
            return run<6>(x);
        default:
            return x;
    }
}

}  // namespace zelvik::detect
