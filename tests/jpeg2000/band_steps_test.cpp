// Step sizes and band norms: the exponent-mantissa form, the reversible range exponents, the
// implicit steps, and every band's basis norm against the energy of one synthesised coefficient.
#include "jpeg2000/band_steps.h"
#include "jpeg2000/support/band_row_store.h"
#include "jpeg2000/wavelet_transform.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <cmath>

namespace band_steps_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
wavelet_kernel Kernel(const char *id, int type)
{
    wavelet_kernel k;
    k.type = type;
    load_kernel(id, nullptr, k);
    return k;
}
} // namespace

TEST(J2kSteps, ExponentAndMantissa)
{
    struct Case
    {
        double x;
        int e, m;
    } cases[] = {{1.0, 0, 0}, {0.75, 1, 1024}, {1.99999, -1, 0}, {0.0078125, 7, 0}, {3.0, -1, 1024}};
    for (const Case &c : cases) {
        exp_mant r = step_to_exp_mant(c.x);
        EXPECT_EQ(r.e, c.e) << c.x;
        EXPECT_EQ(r.m, c.m) << c.x;
        EXPECT_NEAR(exp_mant_to_step(r.e, r.m), c.x, c.x / 2048) << c.x;
    }
    exp_mant w = step_word_to_exp_mant(0x3C00);
    EXPECT_EQ(w.e, 7);
    EXPECT_EQ(w.m, 1024);
    for (double bad : {0.0, -1.0, std::nan(""), double(INFINITY)}) {
        zn::MessageRecorder rec;
        EXPECT_THROW(step_to_exp_mant(bad), zn::RunAborted) << bad;
    }
}

// 8-bit reversible 5/3, 4 levels: range exponents 8 (LL), 9 (one high direction), 10 (HH).
TEST(J2kSteps, ReversibleRangeExponents)
{
    wavelet_kernel k = Kernel("W5X3", kKernelIntLifting);
    EXPECT_EQ(reversible_range_exponent(256 * band_nominal_gain(k, k, 4, 0, 0)), 8);
    for (int level = 1; level <= 4; ++level) {
        EXPECT_EQ(reversible_range_exponent(256 * band_nominal_gain(k, k, 4, level, 1)), 9);
        EXPECT_EQ(reversible_range_exponent(256 * band_nominal_gain(k, k, 4, level, 2)), 9);
        EXPECT_EQ(reversible_range_exponent(256 * band_nominal_gain(k, k, 4, level, 3)), 10);
    }
    EXPECT_EQ(reversible_range_exponent(1.1), 0);
    EXPECT_EQ(reversible_range_exponent(1.2), 1);
    EXPECT_EQ(reversible_range_exponent(0.5), -1);
    // Normalised 9/7: every gain is 1.
    wavelet_kernel k9 = Kernel("W9X7", kKernelFloatLifting);
    for (int band = 1; band < 4; ++band)
        EXPECT_NEAR(band_nominal_gain(k9, k9, 5, 2, band), 1.0, 1e-5);
}

// A band's exponent grows by one per split between it and the image: the highest level's bands sit
// one split below (e0 + 1), level 1's as deep as the low-low band (e0 + levels).
TEST(J2kSteps, ImplicitStepsAddOneExponentPerSplit)
{
    exp_mant ll = implicit_band_step(0.75, 5, 0);
    EXPECT_EQ(ll.e, 1 + 5);
    EXPECT_EQ(ll.m, 1024);
    for (int level = 1; level <= 5; ++level) {
        exp_mant r = implicit_band_step(0.75, 5, level);
        EXPECT_EQ(r.e, 1 + 5 - level + 1);
        EXPECT_EQ(r.m, 1024);
    }
    EXPECT_EQ(implicit_band_step(0.75, 3, 3).e, 1 + 1);
    EXPECT_EQ(implicit_band_step(0.75, 3, 1).e, 1 + 3);
    // A Part-2 level whose high bands split twice more sits two splits deeper.
    EXPECT_EQ(implicit_band_step(0.75, 3, 3, 3).e, 1 + 3);
}

// The fast cascade norm equals the norm of the basis built plainly, stage by stage.
TEST(J2kSteps, CascadeNormEqualsThePlainlyBuiltBasis)
{
    for (auto [id, type] : {std::pair{"W9X7", kKernelFloatLifting}, std::pair{"W5X3", kKernelIntLifting}}) {
        wavelet_kernel k = Kernel(id, type);
        for (int depth = 0; depth <= 6; ++depth)
            for (int high = 0; high < 2; ++high) {
                std::vector<const tap_set *> stages(size_t(depth), &k.synthesis_low);
                stages.push_back(high ? &k.synthesis_high : &k.synthesis_low);
                std::vector<double> h{1.0};
                for (size_t j = 0; j < stages.size(); ++j)
                    h = upsample_convolve(*stages[j], h, 1 << j);
                EXPECT_NEAR(cascade_norm(stages), filter_norm(h), 1e-12 * filter_norm(h))
                    << id << depth << high;
            }
    }
}

// Each band's basis norm equals the L2 norm of the image that one unit coefficient of that band
// synthesises to, far from the region's edges.
TEST(J2kSteps, BasisNormsEqualTheEnergyOfASynthesisedCoefficient)
{
    constexpr float kAmp = 1 << 20;
    for (const char *id : {"W9X7", "W5X3"}) {
        wavelet_kernel k = Kernel(id, kKernelFloatLifting);
        component_transform_setup s;
        s.levels = 3;
        s.vertical = s.horizontal = &k;
        region_rect r{128, 128, 0, 0};
        std::vector<int32_t> zero(size_t(r.rows * r.cols), 0), out(zero.size());
        for (int level = 0; level <= 3; ++level)
            for (int band = level == 0 ? 0 : 1; band <= (level == 0 ? 0 : 3); ++band) {
                zntest::BandRowStore store;
                analyse_component(s, 0, r, zero.data(), store);
                // Put one coefficient in the middle of the band.
                zntest::BandRowStore lit;
                auto Copy = [&](int l, int b, bool mark) {
                    auto rows = store.FloatBand(0, l, b);
                    if (mark)
                        rows[rows.size() / 2][rows[0].size() / 2] = kAmp;
                    for (auto &row : rows)
                        lit.push_float_row(row.data(), 0, l, b, int(row.size()));
                };
                for (int l = 3; l >= 1; --l)
                    for (int b = 1; b < 4; ++b)
                        Copy(l, b, l == level && b == band);
                Copy(0, 0, level == 0);
                synthesise_component(s, 0, r, lit, out.data());
                double energy = 0;
                for (int32_t v : out)
                    energy += double(v) * double(v);
                double measured = std::sqrt(energy) / kAmp;
                EXPECT_NEAR(band_basis_norm(k, k, 3, level, band), measured, 1e-4 * measured)
                    << id << " level " << level << " band " << band;
            }
    }
}

} // namespace band_steps_test
