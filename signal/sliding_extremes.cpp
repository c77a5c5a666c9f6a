// Largest swing by sliding extremes. Spans cut short at the end lie inside the last
// full span, so they never hold a larger swing; when no span is full the first one,
// the whole window, is the largest.
#include "signal/sliding_extremes.h"

#include <cstddef>
#include <vector>

namespace zelvik::detect {
namespace {

// Span length - 1 for a period of M samples: i + 2M/3 truncated, less i.
int reach_of(int period_samples) {
    return static_cast<int>(2.0 * period_samples / 3.0);
}

}  // namespace

double direct_largest_swing(const double* s, int n, int period_samples) {
    double best = 0.0;
    for (int i = 0; i < n; ++i) {
        const double reach = i + 2.0 * period_samples / 3.0;
        const int last = reach >= n - 1 ? n - 1 : static_cast<int>(reach);
        double hi = s[i], lo = s[i];
        for (int j = i + 1; j <= last; ++j) {
            hi = s[j] > hi ? s[j] : hi;
            lo = s[j] < lo ? s[j] : lo;
        }
        if (hi - lo > best) best = hi - lo;
    }
    return best;
}

double largest_swing(const double* s, int n, int period_samples) {
    if (n <= 0) return 0.0;
    const int w = reach_of(period_samples);
    if (w >= n - 1) {  // no full span: the first one, all samples, holds the largest swing
        double hi = s[0], lo = s[0];
        for (int j = 1; j < n; ++j) {
            hi = s[j] > hi ? s[j] : hi;
            lo = s[j] < lo ? s[j] : lo;
        }
        return hi - lo > 0.0 ? hi - lo : 0.0;
    }
    // Blocks of one span length L = w + 1 (van Herk, Gil and Werman): running extremes
    // from each block's start (`ahead`) and towards its end (`behind`). A full span
    // i .. i + w meets at most two blocks, so its maximum is max(behind[i], ahead[i + w]).
    const int span = w + 1;
    thread_local std::vector<double> work;
    work.resize(4 * static_cast<std::size_t>(n));
    double* ahead_hi = work.data();
    double* ahead_lo = ahead_hi + n;
    double* behind_hi = ahead_lo + n;
    double* behind_lo = behind_hi + n;
    for (int b = 0; b < n; b += span) {
        const int end = b + span < n ? b + span : n;
        ahead_hi[b] = ahead_lo[b] = s[b];
        for (int j = b + 1; j < end; ++j) {
            ahead_hi[j] = s[j] > ahead_hi[j - 1] ? s[j] : ahead_hi[j - 1];
            ahead_lo[j] = s[j] < ahead_lo[j - 1] ? s[j] : ahead_lo[j - 1];
        }
        behind_hi[end - 1] = behind_lo[end - 1] = s[end - 1];
        for (int j = end - 2; j >= b; --j) {
            behind_hi[j] = s[j] > behind_hi[j + 1] ? s[j] : behind_hi[j + 1];
            behind_lo[j] = s[j] < behind_lo[j + 1] ? s[j] : behind_lo[j + 1];
        }
    }
    double best = 0.0;
    for (int i = 0; i + w < n; ++i) {
        const double hi = behind_hi[i] > ahead_hi[i + w] ? behind_hi[i] : ahead_hi[i + w];
        const double lo = behind_lo[i] < ahead_lo[i + w] ? behind_lo[i] : ahead_lo[i + w];
        best = hi - lo > best ? hi - lo : best;
    }
    return best;
}

}  // namespace zelvik::detect
