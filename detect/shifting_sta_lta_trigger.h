// Reference form of the STA/LTA trigger that shifts its whole buffer for every sample
// (n - 1 moves). It exists to prove the ring-buffer StaLtaTrigger gives bit-for-bit the
// same values and to measure what the ring saves; the engine never runs it.
#pragma once

#include <string>
#include <vector>

#include "detect/sta_lta_core.h"

namespace zelvik::detect {

class ShiftingStaLtaTrigger {
public:
    // Same contract as StaLtaTrigger::init.
    [[nodiscard]] bool init(double sample_rate, int lta_samples, int sta_samples, double threshold);

    // Same contract as StaLtaTrigger::process; costs n - 1 moves per sample.
    int process(double x);

    double sta_variance() const { return core_.sta_variance; }
    float ratio() const { return core_.ratio(); }
    const std::string& last_error() const { return last_error_; }

private:
    StaLtaCore core_;
    std::vector<double> buffer_;  // oldest first: [0, nL) LTA window, [nL, n) STA window
    size_t lta_index_ = 0;        // nL: where the STA window starts
    bool ready_ = false;
    std::string last_error_;
};

}  // namespace zelvik::detect
