// Reference form of the STA/LTA trigger, written step for step as the algorithm is
// stated: it shifts its whole buffer for every sample (n - 1 moves) and forms the ratio
// at every sample. It exists to prove that the ring-buffer StaLtaTrigger gives
// bit-for-bit the same values and decisions, and to measure what the ring saves.
#pragma once

#include <string>
#include <vector>

namespace zelvik::detect {

class ShiftingStaLtaTrigger {
public:
    // Same contract as StaLtaTrigger::init.
    [[nodiscard]] bool init(double sample_rate, int lta_samples, int sta_samples, double threshold);

    // Same contract as StaLtaTrigger::process; costs n - 1 moves per sample.
    int process(double x);

    double sta_variance() const { return sta_variance_; }
    float ratio() const { return ratio_; }
    const std::string& last_error() const { return last_error_; }

private:
    int lta_samples_ = 0;  // nL
    int sta_samples_ = 0;  // nS
    int sample_count_ = 0;
    double threshold_ = 0.0;
    std::vector<double> buffer_;  // oldest first: [0, nL) LTA window, [nL, n) STA window
    double sta_mean_ = 0.0, sta_mean_square_ = 0.0;
    double lta_mean_ = 0.0, lta_mean_square_ = 0.0;
    bool ready_ = false;
    int hold_length_ = 0;
    int hold_count_ = 0;
    double sta_variance_ = 0.0;
    float ratio_ = 0.0f;
    std::string last_error_;
};

}  // namespace zelvik::detect
