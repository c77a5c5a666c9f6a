// Magnitudes of the spectral lines of a real window, |X[k]| = |(1/N) sum_j v_j e^(-2 pi i jk/N)|
// for k = 0 .. N/2, by FFT (KissFFT, single precision), with a bound on their error. A
// length whose largest prime factor is above kLargestDirectFactor goes through Bluestein's
// chirp transform on a 2-3-5 size instead, so every N from 2 to 50,000 costs O(N log N).
// The bound lets a caller find every line that could be the largest one in exact
// arithmetic and settle between those with a transform of its own choice.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace zelvik::detect {

class SpectrumLines {
public:
    static constexpr int kLargestDirectFactor = 11;  // above it KissFFT's generic butterfly is slow
    static constexpr int kMaxLength = 1 << 20;
    static constexpr size_t kMaxPlans = 4;  // lengths kept ready (a gap makes a short window)

    SpectrumLines();
    ~SpectrumLines();
    SpectrumLines(const SpectrumLines&) = delete;
    SpectrumLines& operator=(const SpectrumLines&) = delete;

    // Fills `magnitudes` with N/2 + 1 entries for the N = v.size() samples (finite values).
    // @retval false N outside [1, kMaxLength] or out of memory; `magnitudes` is then empty.
    [[nodiscard]] bool compute(const std::vector<double>& v, std::vector<double>& magnitudes);

    // After a successful compute(): every magnitude lies within this distance of the
    // exact one (same unit as the magnitudes). 0 for an all-zero window.
    double error_bound() const { return error_bound_; }

private:
    struct Plan;
    Plan* plan_for(int n);

    std::vector<std::unique_ptr<Plan>> plans_;  // most recently used first
    std::vector<float> buffers_;                // interleaved complex work arrays
    double error_bound_ = 0.0;
};

}  // namespace zelvik::detect
