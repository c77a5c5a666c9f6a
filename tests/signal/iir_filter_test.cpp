// IirFilter: the worked coefficients (to six significant digits), the gain at the centre
// and the corners measured by filtering sines, refusals, and the carried-over state.
#include "signal/iir_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

namespace zelvik::detect {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::string six_digits(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v == 0.0 ? 0.0 : v);  // no "-0"
    return text;
}

// Worked values of the design, as published with the algorithm (rounded to 6 digits).
TEST(IirFilter, ReproducesWorkedCoefficients) {
    struct Section {
        const char* b[3];
        const char* a[3];
    };
    struct Case {
        int order;
        float f1, f2, rate;
        std::vector<Section> sections;
    };
    const Case cases[] = {
        {2,
         0.6f,
         1.9f,
         20.0f,
         {{{"0.194307", "0", "-0.194307"}, {"1", "-1.80258", "0.84445"}},
          {{"0.165235", "0", "-0.165235"}, {"1", "-1.43646", "0.664921"}}}},
        {2,
         0.6f,
         1.9f,
         40.0f,
         {{{"0.0987667", "0", "-0.0987667"}, {"1", "-1.90891", "0.919834"}},
          {{"0.0919922", "0", "-0.0919922"}, {"1", "-1.75165", "0.814474"}}}},
        {3,
         1.0f,
         5.0f,
         20.0f,
         {{{"0.420808", "0", "-0.420808"}, {"1", "-0.841616", "0.158384"}},
          {{"0.730159", "0", "-0.730159"}, {"1", "-1.68719", "0.78308"}},
          {{"0.320681", "0", "-0.320681"}, {"1", "-0.0702103", "0.453909"}}}},
    };
    for (const Case& c : cases) {
        IirFilter f;
        ASSERT_TRUE(f.design(c.order, "BP", c.f1, c.f2, 1.0f / c.rate)) << f.last_error();
        ASSERT_EQ(f.section_count(), static_cast<int>(c.sections.size()));
        for (int j = 0; j < f.section_count(); ++j) {
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(six_digits(f.numerator(j, i)), c.sections[j].b[i])
                    << "order " << c.order << " rate " << c.rate << " section " << j << " b" << i;
                EXPECT_EQ(six_digits(f.denominator(j, i)), c.sections[j].a[i])
                    << "order " << c.order << " rate " << c.rate << " section " << j << " a" << i;
            }
        }
    }
}

TEST(IirFilter, RefusesUnusableDesignsAndKeepsNoSections) {
    struct Case {
        int order;
        const char* type;
        float f1, f2, dt;
        bool ok;
        int sections;
    };
    const Case cases[] = {
        {1, "BP", 1, 5, 0.01f, true, 1},     {2, "BP", 1, 5, 0.01f, true, 2},
        {3, "BP", 1, 5, 0.01f, true, 3},     {6, "BP", 1, 5, 0.01f, true, 6},
        {3, "BPF", 0, 1, 0.05f, true, 3},  // the settings defaults: FR1 0, FR2 1 Hz
        {3, "LP", 0, 5, 0.01f, true, 2},   // low-pass: one real and one conjugate pole
        {0, "BP", 1, 5, 0.01f, false, 0},    {7, "BP", 1, 5, 0.01f, false, 0},
        {-3, "BP", 1, 5, 0.01f, false, 0},   {1000000, "BP", 1, 5, 0.01f, false, 0},
        {3, "HP", 1, 5, 0.01f, false, 0},    {3, "B", 1, 5, 0.01f, false, 0},
        {3, "BP", 5, 1, 0.01f, false, 0},   // corners swapped
        {3, "BP", 1, 50, 0.01f, false, 0},  // upper corner at half the rate
        {3, "BP", 1, 49.9f, 0.01f, true, 3}, {3, "BP", 1, 5, 0.0f, false, 0},  // no sample interval
        {3, "BP", NAN, 5, 0.01f, false, 0},  {3, "BP", 1, INFINITY, 0.01f, false, 0},
    };
    for (const Case& c : cases) {
        IirFilter f;
        EXPECT_EQ(f.design(c.order, c.type, c.f1, c.f2, c.dt), c.ok)
            << c.order << " " << c.type << " " << c.f2;
        EXPECT_EQ(f.section_count(), c.sections) << c.order << " " << c.type;
        EXPECT_EQ(f.last_error().empty(), c.ok) << f.last_error();
    }
}

// Steady-state gain at `freq`, measured by filtering a long sine and projecting the
// output onto the sine and cosine of that frequency over the second half.
double measured_gain(IirFilter& f, double freq, double rate) {
    const int n = 40000;
    std::complex<double> sum = 0.0;
    int used = 0;
    for (int i = 0; i < n; ++i) {
        const double phase = 2.0 * kPi * freq * i / rate;
        const double y = f.apply(std::sin(phase));
        if (i >= n / 2) {
            sum += y * std::complex<double>(std::sin(phase), std::cos(phase));
            ++used;
        }
    }
    return 2.0 * std::abs(sum) / used;
}

TEST(IirFilter, BandPassGainIsOneAtWarpedCentreAndHalfPowerAtCorners) {
    struct Case {
        int order;
        float f1, f2, rate;
    };
    const Case cases[] = {
        {2, 0.6f, 1.9f, 20}, {3, 1.0f, 5.0f, 20}, {3, 1.0f, 5.0f, 100}, {6, 2.0f, 8.0f, 100}};
    for (const Case& c : cases) {
        const float dt = 1.0f / c.rate;
        // The centre is where tan(pi f dt) is the geometric mean of the corners' tangents.
        const double centre =
            std::atan(std::sqrt(std::tan(kPi * c.f1 * dt) * std::tan(kPi * c.f2 * dt))) /
            (kPi * dt);
        const struct {
            double freq, gain;
        } points[] = {{centre, 1.0}, {c.f1, std::sqrt(0.5)}, {c.f2, std::sqrt(0.5)}};
        for (const auto& p : points) {
            IirFilter f;
            ASSERT_TRUE(f.design(c.order, "BP", c.f1, c.f2, dt));
            EXPECT_NEAR(measured_gain(f, p.freq, c.rate), p.gain, 2e-3)
                << "order " << c.order << " at " << p.freq << " Hz, rate " << c.rate;
        }
    }
}

TEST(IirFilter, LowPassPassesLowFrequenciesAndHalvesPowerAtItsCorner) {
    IirFilter f;
    ASSERT_TRUE(f.design(4, "LP", 0.0f, 5.0f, 0.01f));
    EXPECT_NEAR(measured_gain(f, 0.2, 100.0), 1.0, 2e-3);
    ASSERT_TRUE(f.design(4, "LP", 0.0f, 5.0f, 0.01f));
    EXPECT_NEAR(measured_gain(f, 5.0, 100.0), std::sqrt(0.5), 2e-3);
    ASSERT_TRUE(f.design(4, "LP", 0.0f, 5.0f, 0.01f));
    EXPECT_LT(measured_gain(f, 20.0, 100.0), 0.01);
}

TEST(IirFilter, ZeroInputGivesZeroAndImpulseResponseDecays) {
    for (const int order : {1, 2, 3, 6}) {
        IirFilter f;
        ASSERT_TRUE(f.design(order, "BP", 0.6f, 1.9f, 0.05f));
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(f.apply(0.0), 0.0);
        std::vector<double> h;
        for (int i = 0; i < 4000; ++i) h.push_back(std::fabs(f.apply(i == 0 ? 1.0 : 0.0)));
        const double early = *std::max_element(h.begin(), h.begin() + 100);
        const double late = *std::max_element(h.begin() + 3000, h.end());
        EXPECT_GT(early, 0.01) << "order " << order;
        EXPECT_LT(late, 1e-12 * early) << "order " << order;
    }
}

TEST(IirFilter, TwoWindowsInTurnEqualTheirConcatenation) {
    std::vector<double> x(3000);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = std::sin(0.3 * i) + 0.5 * std::cos(1.7 * i) + (i % 7 == 0 ? 3.0 : 0.0);
    IirFilter whole, parts;
    ASSERT_TRUE(whole.design(3, "BP", 1.0f, 5.0f, 0.01f));
    ASSERT_TRUE(parts.design(3, "BP", 1.0f, 5.0f, 0.01f));
    std::vector<double> a, b;
    for (const double v : x) a.push_back(whole.apply(v));
    for (size_t i = 0; i < 1234; ++i) b.push_back(parts.apply(x[i]));
    for (size_t i = 1234; i < x.size(); ++i) b.push_back(parts.apply(x[i]));
    EXPECT_EQ(a, b);
}

TEST(IirFilter, BlocksEqualSampleBySampleBitForBitForEveryOrder) {
    // Float input as the store delivers it; block lengths that split the run unevenly,
    // including single samples and an empty block.
    std::vector<float> x(5000);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(1000.0 * std::sin(0.07 * i) + 300.0 * std::cos(2.3 * i) +
                                  (i % 97 == 0 ? 2e4 : 0.0));
    const size_t blocks[] = {1, 0, 511, 512, 1, 3, 1000, 2972};
    for (const char* type : {"BP", "LP"}) {
        for (int order = 1; order <= IirFilter::kMaxOrder; ++order) {
            IirFilter single, blocked;
            ASSERT_TRUE(single.design(order, type, 0.6f, 1.9f, 0.01f));
            ASSERT_TRUE(blocked.design(order, type, 0.6f, 1.9f, 0.01f));
            std::vector<double> a, b(x.size());
            for (const float v : x) a.push_back(single.apply(static_cast<double>(v)));
            size_t at = 0;
            for (const size_t n : blocks) {
                blocked.apply_block(x.data() + at, b.data() + at, n);
                at += n;
            }
            ASSERT_EQ(at, x.size());
            EXPECT_EQ(a, b) << type << " order " << order;
        }
    }
    // A filter with no design passes its input through, as apply() does.
    IirFilter empty;
    std::vector<double> out(3);
    empty.apply_block(x.data(), out.data(), 3);
    EXPECT_EQ(out, std::vector<double>(x.begin(), x.begin() + 3));
}

}  // namespace
}  // namespace zelvik::detect
