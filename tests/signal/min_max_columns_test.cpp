// The min/max column reduction against a plain scan of the samples: every sample lies
// inside the range of the column its time falls in, every range is made of the run's
// own values, a run has no empty column inside it and nothing outside it.
#include "signal/min_max_columns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace zelvik::detect {
namespace {

TEST(MinMaxTree, AnswersEveryRangeAsAScanDoes) {
    std::mt19937 gen(7);
    std::normal_distribution<float> noise(0.0f, 100.0f);
    for (size_t n : {1u, 2u, 3u, 17u, 1000u}) {
        std::vector<float> v(n);
        for (float& x : v) x = noise(gen);
        const MinMaxTree tree(v.data(), n);
        for (size_t a = 0; a < n; a += 1 + n / 40) {
            for (size_t b = a + 1; b <= n; b += 1 + n / 30) {
                const ColumnRange r = tree.range(a, b);
                EXPECT_EQ(r.min, *std::min_element(v.begin() + a, v.begin() + b));
                EXPECT_EQ(r.max, *std::max_element(v.begin() + a, v.begin() + b));
            }
        }
        EXPECT_TRUE(tree.range(n, n).empty());
    }
}

TEST(MinMaxColumns, KeepEveryExtremeAtAnyDensity) {
    struct Case {
        const char* what;
        double rate, seconds;  // the run
        double view_start, view_seconds;
        size_t width;
    };
    const Case cases[] = {
        {"an hour at 100 sps over 1200 columns", 100, 3600, 0, 3600, 1200},
        {"one minute at 20 sps, about a sample a column", 20, 60, 0.013, 60, 1187},
        {"zoomed in: 10 samples over 1000 columns", 1, 10, -0.5, 11, 1000},
        {"run starting and ending inside the view", 100, 30, -40.0, 100, 800},
        {"run wider than the view", 100, 300, 100.37, 60, 900},
    };
    std::mt19937 gen(11);
    std::normal_distribution<float> noise(0.0f, 1000.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto n = static_cast<size_t>(c.rate * c.seconds);
        std::vector<float> v(n);
        for (float& x : v) x = noise(gen);
        v[n / 3] = 1e6f;  // one lone spike must survive any reduction
        const MinMaxTree tree(v.data(), n);
        std::vector<ColumnRange> columns(c.width);
        add_columns(tree, 0.0, c.rate, c.view_start, c.view_start + c.view_seconds, columns);
        const double column = c.view_seconds / static_cast<double>(c.width);
        // Each sample inside the view is inside its column's range.
        for (size_t i = 0; i < n; ++i) {
            const double k = (static_cast<double>(i) / c.rate - c.view_start) / column;
            if (k < 0 || k >= static_cast<double>(c.width)) continue;
            ColumnRange r = columns[static_cast<size_t>(k)];
            // A sample on a column boundary (to rounding) may fall on either side.
            const double nearest = std::round(k);
            if (std::fabs(k - nearest) < 1e-6 && nearest >= 1 && nearest < double(c.width)) {
                const ColumnRange& left = columns[static_cast<size_t>(nearest) - 1];
                const ColumnRange& right = columns[static_cast<size_t>(nearest)];
                r = left;
                if (!right.empty()) r.add(right.min, right.max);
            }
            ASSERT_FALSE(r.empty()) << "sample " << i;
            ASSERT_LE(r.min, v[i]) << "sample " << i;
            ASSERT_GE(r.max, v[i]) << "sample " << i;
        }
        // Ranges hold nothing but values of samples within one sample of the column,
        // and only columns the run reaches hold anything.
        const double run_end = static_cast<double>(n - 1) / c.rate;
        for (size_t k = 0; k < c.width; ++k) {
            const double t0 = c.view_start + static_cast<double>(k) * column;
            const double near0 = std::max(0.0, std::floor((t0 - 1 / c.rate) * c.rate));
            const double near1 =
                std::min(double(n), std::ceil((t0 + column + 1 / c.rate) * c.rate));
            const bool reached = t0 + column > 0 && t0 <= run_end;
            EXPECT_EQ(columns[k].empty(), !reached) << "column " << k;
            if (columns[k].empty()) continue;
            const auto a = v.begin() + static_cast<std::ptrdiff_t>(near0);
            const auto b = v.begin() + static_cast<std::ptrdiff_t>(near1);
            EXPECT_GE(columns[k].min, *std::min_element(a, b)) << "column " << k;
            EXPECT_LE(columns[k].max, *std::max_element(a, b)) << "column " << k;
            EXPECT_NE(std::find(a, b, columns[k].min), b) << "column " << k;
            EXPECT_NE(std::find(a, b, columns[k].max), b) << "column " << k;
        }
    }
}

}  // namespace
}  // namespace zelvik::detect
