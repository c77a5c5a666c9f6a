// The amplitude search of a measurement: the largest peak-to-peak swing max - min over
// the spans of samples i .. i + w (cut at the last sample), for every start i, with
// w = trunc(2 M / 3) for a period of M samples.
//
// direct_largest_swing() rescans each span: O(N w), the reference. largest_swing() takes
// the span's maximum and minimum from running extremes over fixed blocks: O(N). Both
// compare the same sample values and subtract once per span, so they agree exactly.
#pragma once

namespace zelvik::detect {

// Samples s[0 .. n) (no NaN), period_samples M >= 0.
double direct_largest_swing(const double* s, int n, int period_samples);
double largest_swing(const double* s, int n, int period_samples);

}  // namespace zelvik::detect
