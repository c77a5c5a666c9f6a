// The tree is the bottom-up segment tree for a commutative operation, which needs no
// padding to a power of two: a query climbs from both ends of the range at once.
#include "signal/min_max_columns.h"

#include <algorithm>
#include <cmath>

namespace zelvik::detect {

MinMaxTree::MinMaxTree(const float* values, size_t n) : n_(n), min_(2 * n), max_(2 * n) {
    std::copy(values, values + n, min_.begin() + static_cast<std::ptrdiff_t>(n));
    std::copy(values, values + n, max_.begin() + static_cast<std::ptrdiff_t>(n));
    for (size_t k = n - 1; k > 0 && n > 1; --k) {
        min_[k] = std::min(min_[2 * k], min_[2 * k + 1]);
        max_[k] = std::max(max_[2 * k], max_[2 * k + 1]);
    }
}

ColumnRange MinMaxTree::range(size_t a, size_t b) const {
    ColumnRange r;
    for (a += n_, b += n_; a < b; a /= 2, b /= 2) {
        if (a & 1) {
            r.add(min_[a], max_[a]);
            ++a;
        }
        if (b & 1) {
            --b;
            r.add(min_[b], max_[b]);
        }
    }
    return r;
}

void add_columns(const MinMaxTree& tree, double first_time, double rate, double view_start,
                 double view_end, std::vector<ColumnRange>& columns) {
    const size_t n = tree.size();
    const auto width = static_cast<double>(columns.size());
    if (n == 0 || columns.empty() || !(view_end > view_start) || !(rate > 0)) return;
    const double column_seconds = (view_end - view_start) / width;
    const double last_time = first_time + static_cast<double>(n - 1) / rate;
    const double c_first = std::floor((first_time - view_start) / column_seconds) - 1;
    const double c_last = std::floor((last_time - view_start) / column_seconds) + 1;
    // Only the columns the run reaches are visited (one more each side for rounding).
    const auto c0 = static_cast<size_t>(std::clamp(c_first, 0.0, width));
    const auto c1 = static_cast<size_t>(std::clamp(c_last + 1, 0.0, width));
    // Column c begins at this time; the same expression for the end of c - 1 and the
    // start of c, so that every sample falls in exactly one column.
    auto boundary = [&](size_t c) { return view_start + static_cast<double>(c) * column_seconds; };
    // Index of the first sample at or after time t (clamped to [0, n]).
    auto first_at = [&](double t) {
        const double i = std::ceil((t - first_time) * rate);
        return static_cast<size_t>(std::clamp(i, 0.0, static_cast<double>(n)));
    };
    for (size_t c = c0; c < c1; ++c) {
        size_t a = first_at(boundary(c));
        size_t b = first_at(boundary(c + 1));
        if (a == b) {
            if (a == 0 || a == n) continue;  // before the first or after the last sample
            b = a + 1;                       // the line between two samples crosses here
        }
        if (a > 0) --a;  // join the previous column
        const ColumnRange r = tree.range(a, b);
        columns[c].add(r.min, r.max);
    }
}

}  // namespace zelvik::detect
