// Period and amplitude in counts of one measurement window: the window is detrended
// (least-squares line with sample i at i x dt, dt in single precision, then the mean),
// its dominant period found (dominant_period.h), and half the largest swing within two
// thirds of that period taken on the samples as given (sliding_extremes.h).
#pragma once

namespace zelvik::detect {

struct WindowMeasurement {
    double period = 0.0;           // seconds, 0 when no line qualified
    float amplitude_counts = 0.f;  // half the largest peak-to-peak swing
};

// O(N log N). `samples` holds n >= 0 finite values; dt > 0 seconds.
WindowMeasurement measure_window(const double* samples, int n, double dt);

// The same by the direct transform and a rescan of every span: O(N^2), the reference.
WindowMeasurement measure_window_direct(const double* samples, int n, double dt);

}  // namespace zelvik::detect
