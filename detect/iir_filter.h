// Recursive Butterworth filter as a cascade of second-order sections, designed from the
// analog low-pass prototype with pre-warped corners and the bilinear transformation.
// The state carries over from one call of apply() to the next for the filter's whole life.
#pragma once

#include <string>
#include <string_view>

namespace zelvik::detect {

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

    // Number of second-order sections in use (0 before a successful design).
    int section_count() const { return sections_; }
    // Coefficient i (0..2) of section j: numerator b0, b1, b2 and denominator 1, a1, a2.
    double numerator(int section, int i) const { return num_[3 * section + i]; }
    double denominator(int section, int i) const { return den_[3 * section + i]; }

    // Text of the last refused design, "" after a successful one.
    const std::string& last_error() const { return last_error_; }

private:
    void clear_design();
    template <int kSections>
    double run(double x);

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
