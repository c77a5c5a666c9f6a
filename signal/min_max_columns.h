// Reduction of a run of samples to one minimum and maximum per pixel column, for
// drawing a waveform honestly at any width: every sample's value lies within its
// column's range, so no extreme is lost, and a redraw costs O(width x log samples)
// because the ranges come from a min/max tree built once per run of samples.
#pragma once

#include <cstddef>
#include <vector>

namespace zelvik::detect {

// Smallest and largest value of a pixel column; empty (min > max) when no sample
// falls in it or beside it.
struct ColumnRange {
    float min = 1.0f, max = 0.0f;
    bool empty() const { return min > max; }
    void add(float lo, float hi) {
        if (empty()) {
            min = lo, max = hi;
        } else {
            min = lo < min ? lo : min;
            max = hi > max ? hi : max;
        }
    }
};

// Min/max tree over a fixed sequence of values: leaves at [n, 2n), node k holds the
// range of nodes 2k and 2k + 1. Built in O(n); any [a, b) answered in O(log n).
class MinMaxTree {
public:
    MinMaxTree() = default;
    MinMaxTree(const float* values, size_t n);

    size_t size() const { return n_; }
    // Range of the values at indices [a, b); empty when a >= b. b at most size().
    ColumnRange range(size_t a, size_t b) const;

private:
    size_t n_ = 0;
    std::vector<float> min_, max_;  // 2n nodes each; index 0 unused
};

// Adds to columns[0..width) the ranges of one gap-free run of samples: `tree` over its
// values, first sample at `first_time`, `rate` samples per second, the columns
// splitting [view_start, view_end) evenly. A column holds the samples whose time falls
// in it plus the sample before the first of them, so consecutive columns join; a column
// that no sample falls in but that lies between two samples of the run gets those two.
// Columns beyond the run stay as they were: a gap between runs stays empty.
void add_columns(const MinMaxTree& tree, double first_time, double rate, double view_start,
                 double view_end, std::vector<ColumnRange>& columns);

}  // namespace zelvik::detect
