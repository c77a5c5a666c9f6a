// The arithmetic of the STA/LTA trigger, shared by the ring-buffer trigger the engine
// runs and the shifting reference form, so both compute every value in the same order.
// Only the way the two forms find the samples leaving each window differs.
#pragma once

namespace zelvik::detect {

// Running means and the trigger decision. Filled by the owning trigger's init().
struct StaLtaCore {
    // nL and nS, held as doubles (exactly) because the per-sample divisions use them so.
    double lta_samples = 0.0;
    double sta_samples = 0.0;
    int quiet_samples = 0;     // 3n + 1: samples after init that never trigger
    int sample_count = 0;      // counted up to quiet_samples
    double threshold = 0.0;    // compared with the ratio of variances (power, not amplitude)
    double sta_mean = 0.0, sta_mean_square = 0.0;
    double lta_mean = 0.0, lta_mean_square = 0.0;
    int hold_length = 0;       // samples of hold-over after the ratio falls back
    int hold_count = 0;
    double sta_variance = 0.0;
    double lta_variance = 0.0;
    bool started = false;      // a sample has been processed since init

    // STA variance / LTA variance after the last sample; 1e8 while the LTA variance is not
    // above 0, 0 before the first sample. Formed when asked for, not per sample: it
    // decides nothing, and its division would cost a fifth of the per-sample time (the
    // divider is what limits the per-sample path).
    float ratio() const {
        if (!started) return 0.0f;
        return lta_variance > 0.0 ? static_cast<float>(sta_variance / lta_variance) : 1e8f;
    }

    // x enters the STA window, mid moves from the STA window into the LTA window and
    // old leaves the LTA window. Returns 1 when triggered (hold-over included), else 0.
    int update(double x, double mid, double old) {
        // Divide by the window lengths rather than multiply by their inverses: the means
        // must come out exactly as the incremental formula gives them.
        sta_mean += (x - mid) / sta_samples;
        sta_mean_square += (x * x - mid * mid) / sta_samples;
        sta_variance = sta_mean_square - sta_mean * sta_mean;
        lta_mean += (mid - old) / lta_samples;
        lta_mean_square += (mid * mid - old * old) / lta_samples;
        lta_variance = lta_mean_square - lta_mean * lta_mean;
        started = true;
        if (sample_count < quiet_samples) {
            ++sample_count;
            return 0;
        }
        // The variances themselves decide, so an LTA variance of 0 lets any signal through.
        if (sta_variance > threshold * lta_variance) {
            hold_count = hold_length;
            return 1;
        }
        if (hold_count == 0) return 0;
        --hold_count;
        return 1;
    }
};

}  // namespace zelvik::detect
