// The period search of a measurement: the period N dt / k of the largest spectral line
// |X[k]|, k = 2 .. N/2 - 1, of a detrended window of N samples; a line must be strictly
// larger than every lower one to win, so ties keep the lower k, and 0 when no line is
// above 0 (N below 6, or a window of zeros).
//
// direct_dominant_period() computes every line by the direct transform, each row's
// rotation factor advanced by one complex multiplication per term: O(N^2), the
// reference. dominant_period() gives the same result in O(N log N): an FFT names the
// lines that could be the largest within its error bound and the reference's own
// bound, and only those are computed the direct way, in order of k.
#pragma once

#include <vector>

namespace zelvik::detect {

class SpectrumLines;

// |X[k]| of the direct transform of `v`, as the reference computes it.
double direct_line_magnitude(const std::vector<double>& v, int k);

// Period in seconds for sample interval `dt` seconds; the reference, O(N^2).
double direct_dominant_period(const std::vector<double>& v, double dt);

// The same period in O(N log N). `lines` keeps its FFT plans from call to call; when
// it cannot be used (out of memory) the reference is taken.
double dominant_period(const std::vector<double>& v, double dt, SpectrumLines& lines);

}  // namespace zelvik::detect
