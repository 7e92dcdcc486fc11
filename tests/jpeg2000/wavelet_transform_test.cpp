// The wavelet transform: one-dimensional lifting against closed formulas and a double-precision
// convolution, lifting against the convolution path, and perfect reconstruction of tile-components
// through a band-row store in the quantiser's place.
#include "jpeg2000/dz_quantizer.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/support/band_row_store.h"
#include "jpeg2000/wavelet_transform.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace wavelet_transform_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {

wavelet_kernel Kernel(const char *id, int type)
{
    wavelet_kernel k;
    k.type = type;
    load_kernel(id, nullptr, k);
    return k;
}

// Whole-sample symmetric mirror of absolute position p into [x0, x0 + n - 1].
int MirrorAbs(int p, int x0, int n)
{
    if (n == 1)
        return x0;
    int period = 2 * (n - 1), q = (p - x0) % period;
    if (q < 0)
        q += period;
    return x0 + (q < n ? q : period - q);
}

int FloorDiv(int a, int b)
{
    return int(std::floor(double(a) / b));
}

} // namespace

TEST(J2kLifting, FiveThreeOnTheFourSampleRow)
{
    wavelet_kernel k = Kernel("W5X3", kKernelIntLifting);
    int32_t x[4] = {10, 20, 30, 40}, low[2], high[2];
    lift_analysis(k, x, 4, 0, low, high);
    EXPECT_EQ(high[0], 0);
    EXPECT_EQ(high[1], 10);
    EXPECT_EQ(low[0], 10);
    EXPECT_EQ(low[1], 33);
}

// The closed form of the reversible 5/3 kernel on a whole-sample mirrored row, any length >= 2 and
// either parity of the first sample.
TEST(J2kLifting, FiveThreeEqualsItsClosedFormula)
{
    wavelet_kernel k = Kernel("W5X3", kKernelIntLifting);
    std::mt19937 rng(7);
    for (int n = 2; n <= 13; ++n)
        for (int x0 = 0; x0 < 4; ++x0)
            for (int trial = 0; trial < 5; ++trial) {
                std::vector<int32_t> x(static_cast<size_t>(n));
                for (auto &v : x)
                    v = int32_t(rng() % 2001) - 1000;
                auto X = [&](int p) { return x[size_t(MirrorAbs(p, x0, n) - x0)]; };
                auto D = [&](int p) { return X(p) - FloorDiv(X(p - 1) + X(p + 1), 2); };
                std::vector<int32_t> low(static_cast<size_t>(n)), high(static_cast<size_t>(n));
                lift_analysis(k, x.data(), n, x0, low.data(), high.data());
                int li = 0, hi = 0;
                for (int p = x0; p < x0 + n; ++p) {
                    if (p & 1)
                        EXPECT_EQ(high[size_t(hi++)], D(p)) << n << " " << x0 << " " << p;
                    else
                        EXPECT_EQ(low[size_t(li++)], X(p) + FloorDiv(D(p - 1) + D(p + 1) + 2, 4))
                            << n << " " << x0 << " " << p;
                }
            }
}

TEST(J2kLifting, OneSampleGoesUnchangedToTheBandOfItsParity)
{
    wavelet_kernel ki = Kernel("W5X3", kKernelIntLifting), kf = Kernel("W9X7", kKernelFloatLifting);
    for (int x0 : {4, 7}) {
        int32_t in = 77, low = 0, high = 0, back = 0;
        lift_analysis(ki, &in, 1, x0, &low, &high);
        EXPECT_EQ((x0 & 1) ? high : low, 77);
        lift_synthesis(ki, &low, &high, 1, x0, &back);
        EXPECT_EQ(back, 77);
        float f = 77.5f, fl = 0, fh = 0;
        lift_analysis(kf, &f, 1, x0, &fl, &fh);
        EXPECT_EQ((x0 & 1) ? fh : fl, 77.5f);
        conv_analysis(kf, &f, 1, x0, &fl, &fh);
        EXPECT_EQ((x0 & 1) ? fh : fl, 77.5f);
    }
}

// 9/7 lifting against a double-precision convolution with the equivalent filters and whole-sample
// mirroring; and the convolution path against lifting; both for odd and even first samples.
TEST(J2kLifting, NineSevenLiftingEqualsConvolution)
{
    wavelet_kernel k = Kernel("W9X7", kKernelFloatLifting);
    std::mt19937 rng(3);
    for (int n = 2; n <= 40; n += 3)
        for (int x0 = 0; x0 < 2; ++x0) {
            std::vector<float> x(static_cast<size_t>(n));
            for (auto &v : x)
                v = float(int(rng() % 256) - 128);
            std::vector<float> low(static_cast<size_t>(n)), high(static_cast<size_t>(n)),
                cl(static_cast<size_t>(n)), ch(static_cast<size_t>(n));
            lift_analysis(k, x.data(), n, x0, low.data(), high.data());
            conv_analysis(k, x.data(), n, x0, cl.data(), ch.data());
            double scale = 0;
            for (float v : x)
                scale = std::max(scale, double(std::fabs(v)));
            int li = 0, hi = 0;
            for (int p = x0; p < x0 + n; ++p) {
                const tap_set &f = (p & 1) ? k.analysis_high : k.analysis_low;
                double want = 0;
                for (int j = -f.neg_support; j <= f.pos_support; ++j)
                    want += double(f.Tap(j)) * x[size_t(MirrorAbs(p + j, x0, n) - x0)];
                float got = (p & 1) ? high[size_t(hi)] : low[size_t(li)];
                float conv = (p & 1) ? ch[size_t(hi++)] : cl[size_t(li++)];
                EXPECT_NEAR(got, want, 1e-4 * scale) << n << " " << x0 << " " << p;
                EXPECT_NEAR(conv, want, 1e-4 * scale) << n << " " << x0 << " " << p;
            }
            std::vector<float> back(static_cast<size_t>(n)), cback(static_cast<size_t>(n));
            lift_synthesis(k, low.data(), high.data(), n, x0, back.data());
            conv_synthesis(k, cl.data(), ch.data(), n, x0, cback.data());
            for (int i = 0; i < n; ++i) {
                EXPECT_NEAR(back[size_t(i)], x[size_t(i)], 1e-3) << n << " " << x0;
                EXPECT_NEAR(cback[size_t(i)], x[size_t(i)], 1e-3) << n << " " << x0;
            }
        }
}

TEST(J2kTransform, ParityCountsAndChildRegions)
{
    EXPECT_EQ(parity_count(0, 5, 0), 3);
    EXPECT_EQ(parity_count(0, 5, 1), 2);
    EXPECT_EQ(parity_count(3, 4, 0), 2);
    EXPECT_EQ(parity_count(-3, 4, 1), 2);
    region_rect r{7, 5, 3, 0};
    region_rect c = child_region(r, 1, 0);
    EXPECT_EQ(c.rows, 4); // rows 3, 5, 7, 9
    EXPECT_EQ(c.first_row, 1);
    EXPECT_EQ(c.cols, 3);
    EXPECT_EQ(c.first_col, 0);
}

// Reversible 5/3 returns every sample through the band-row store: odd and even sizes and origins,
// one-sample rows and columns, 0 to 8 levels.
TEST(J2kTransform, ReversibleFiveThreeReconstructsPerfectly)
{
    wavelet_kernel k = Kernel("W5X3", kKernelIntLifting);
    component_transform_setup s;
    s.reversible = true;
    s.vertical = s.horizontal = &k;
    std::mt19937 rng(11);
    for (int levels = 0; levels <= 8; ++levels)
        for (int rows : {1, 2, 5, 16, 17})
            for (int cols : {1, 3, 8, 13})
                for (int origin : {0, 1, 6}) {
                    region_rect r{rows, cols, origin, origin + 3};
                    std::vector<int32_t> in(size_t(rows * cols)), out(in.size(), -1);
                    for (auto &v : in)
                        v = int32_t(rng() % 512) - 256;
                    zntest::BandRowStore store;
                    s.levels = levels;
                    analyse_component(s, 2, r, in.data(), store);
                    synthesise_component(s, 2, r, store, out.data());
                    EXPECT_TRUE(store.AllServed());
                    ASSERT_EQ(out, in) << levels << " " << rows << "x" << cols << " @" << origin;
                }
}

// The first level's bands of a 2-D 5/3 analysis equal the closed formula applied to columns and
// then rows.
TEST(J2kTransform, FirstLevelBandsFollowTheSeparableFormula)
{
    wavelet_kernel k = Kernel("W5X3", kKernelIntLifting);
    component_transform_setup s;
    s.reversible = true;
    s.levels = 1;
    s.vertical = s.horizontal = &k;
    region_rect r{6, 7, 1, 2};
    std::vector<int32_t> in(size_t(r.rows * r.cols));
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = int32_t((i * 37) % 101);
    zntest::BandRowStore store;
    analyse_component(s, 0, r, in.data(), store);
    // Columns first, then rows, each by the one-dimensional lifting already checked against its formula.
    std::vector<std::vector<int32_t>> v[2];
    for (int vb = 0; vb < 2; ++vb)
        v[vb].assign(size_t(parity_count(r.first_row, r.rows, vb)), std::vector<int32_t>(size_t(r.cols)));
    for (int x = 0; x < r.cols; ++x) {
        std::vector<int32_t> col(size_t(r.rows)), lo(size_t(r.rows)), hi(size_t(r.rows));
        for (int y = 0; y < r.rows; ++y)
            col[size_t(y)] = in[size_t(y * r.cols + x)];
        lift_analysis(k, col.data(), r.rows, r.first_row, lo.data(), hi.data());
        for (size_t y = 0; y < v[0].size(); ++y)
            v[0][y][size_t(x)] = lo[y];
        for (size_t y = 0; y < v[1].size(); ++y)
            v[1][y][size_t(x)] = hi[y];
    }
    for (int band = 0; band < 4; ++band) {
        auto got = store.IntBand(0, band == 0 ? 0 : 1, band);
        auto &rows = v[band >> 1];
        ASSERT_EQ(got.size(), rows.size()) << band;
        for (size_t y = 0; y < rows.size(); ++y) {
            std::vector<int32_t> lo(size_t(r.cols)), hi(size_t(r.cols));
            lift_analysis(k, rows[y].data(), r.cols, r.first_col, lo.data(), hi.data());
            std::vector<int32_t> &want = (band & 1) ? hi : lo;
            want.resize(size_t(parity_count(r.first_col, r.cols, band & 1)));
            EXPECT_EQ(got[y], want) << band << " " << y;
        }
    }
}

// 8-bit samples come back exactly from the 9/7 transform, by lifting and by convolution.
TEST(J2kTransform, NineSevenReturnsEightBitSamples)
{
    wavelet_kernel k = Kernel("W9X7", kKernelFloatLifting);
    component_transform_setup s;
    s.vertical = s.horizontal = &k;
    std::mt19937 rng(5);
    for (bool conv : {false, true})
        for (int levels : {0, 1, 3, 6})
            for (auto [rows, cols, origin] :
                 {std::tuple{1, 9, 0}, std::tuple{12, 1, 0}, std::tuple{33, 20, 0}, std::tuple{17, 31, 5}}) {
                s.convolution = conv;
                s.levels = levels;
                region_rect r{rows, cols, origin, origin};
                std::vector<int32_t> in(size_t(rows * cols)), out(in.size());
                for (auto &v : in)
                    v = int32_t(rng() % 256) - 128;
                zntest::BandRowStore store;
                analyse_component(s, 0, r, in.data(), store);
                synthesise_component(s, 0, r, store, out.data());
                ASSERT_EQ(out, in) << conv << " " << levels << " " << rows << "x" << cols;
            }
}

TEST(J2kTransform, SynthesisedSamplesRoundHalfAwayAndSaturate)
{
    // Values a damaged stream can reach must not overflow the conversion to an integer.
    const struct
    {
        float value;
        int32_t expected;
    } cases[] = {
        {2.5f, 3},
        {-2.5f, -3},
        {2.49f, 2},
        {-0.4f, 0},
        {1e10f, INT32_MAX},
        {-1e10f, INT32_MIN},
        {INFINITY, INT32_MAX},
        {-INFINITY, INT32_MIN},
        {NAN, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(zn::j2k::round_sample(c.value), c.expected) << c.value;
}

TEST(J2kTransform, BadSetupsEndTheRun)
{
    wavelet_kernel k5 = Kernel("W5X3", kKernelIntLifting), k9 = Kernel("W9X7", kKernelFloatLifting);
    int32_t sample = 0;
    region_rect r{1, 1, 0, 0};
    struct Case
    {
        int levels;
        bool reversible, conv;
        const wavelet_kernel *k;
        const char *message;
    } cases[] = {
        {33, true, false, &k5, "At most 32 decomposition levels"},
        {-1, true, false, &k5, "At most 32 decomposition levels"},
        {2, true, false, &k9, "A reversible decomposition needs an integer lifting kernel"},
        {2, false, false, &k5, "A reversible decomposition needs an integer lifting kernel"},
        {2, true, true, &k5, "cannot be implemented by convolution"},
        {2, false, false, nullptr, "has no kernel"},
    };
    for (const Case &c : cases) {
        zn::MessageRecorder rec;
        component_transform_setup s;
        s.levels = c.levels;
        s.reversible = c.reversible;
        s.convolution = c.conv;
        s.vertical = s.horizontal = c.k;
        zntest::BandRowStore store;
        try {
            analyse_component(s, 0, r, &sample, store);
            ADD_FAILURE() << c.message;
        } catch (const zn::RunAborted &e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

namespace {
// The quantiser and dequantiser in the pipeline, with the band-row store in the block coder's place:
// rows are quantised to sign-magnitude words on the way in and dequantised on the way out.
class QuantisedStore : public band_row_sink, public band_row_source
{
public:
    QuantisedStore(double step, int exp_offset, int frac_bits)
        : m_q(make_dz_band_entry(step, exp_offset, frac_bits)),
          m_d(make_dz_dequant_entry(step, exp_offset, frac_bits))
    {}
    void push_int_row(const int32_t *row, int c, int l, int b, int n) override
    {
        std::vector<uint32_t> w(static_cast<size_t>(n));
        dz_quantise_int_row(m_q, row, w.data(), n);
        m_store.push_int_row(reinterpret_cast<const int32_t *>(w.data()), c, l, b, n);
    }
    void push_float_row(const float *row, int c, int l, int b, int n) override
    {
        std::vector<float> copy(row, row + n);
        std::vector<uint32_t> w(static_cast<size_t>(n));
        dz_quantise_float_row(m_q, copy.data(), w.data(), n);
        m_store.push_int_row(reinterpret_cast<const int32_t *>(w.data()), c, l, b, n);
    }
    void pull_int_row(int32_t *row, int c, int l, int b, int n) override
    {
        std::vector<uint32_t> w(static_cast<size_t>(n));
        m_store.pull_int_row(reinterpret_cast<int32_t *>(w.data()), c, l, b, n);
        dz_dequantise_int_row(m_d, w.data(), row, n);
    }
    void pull_float_row(float *row, int c, int l, int b, int n) override
    {
        std::vector<uint32_t> w(static_cast<size_t>(n));
        m_store.pull_int_row(reinterpret_cast<int32_t *>(w.data()), c, l, b, n);
        dz_dequantise_float_row(m_d, w.data(), row, n);
    }

private:
    dz_band_entry m_q;
    dz_dequant_entry m_d;
    zntest::BandRowStore m_store;
};
} // namespace

// Reversible 5/3 through the quantiser (integer samples land at bit K) returns every sample; 9/7
// through a fine quantiser returns 8-bit samples exactly.
TEST(J2kTransform, TransformsThroughTheQuantiser)
{
    wavelet_kernel k5 = Kernel("W5X3", kKernelIntLifting), k9 = Kernel("W9X7", kKernelFloatLifting);
    std::mt19937 rng(13);
    for (int reversible = 0; reversible < 2; ++reversible)
        for (int levels : {0, 2, 5})
            for (auto [rows, cols, origin] :
                 {std::tuple{1, 1, 0}, std::tuple{9, 14, 3}, std::tuple{32, 17, 1}}) {
                component_transform_setup s;
                s.levels = levels;
                s.reversible = reversible;
                s.vertical = s.horizontal = reversible ? &k5 : &k9;
                region_rect r{rows, cols, origin, origin};
                std::vector<int32_t> in(static_cast<size_t>(rows * cols)), out(in.size());
                for (auto &v : in)
                    v = int32_t(rng() % 256) - 128;
                QuantisedStore q(reversible ? 1.0 : 1.0 / 16, reversible ? 0 : 8, 8);
                analyse_component(s, 0, r, in.data(), q);
                synthesise_component(s, 0, r, q, out.data());
                ASSERT_EQ(out, in) << reversible << " " << levels << " " << rows << "x" << cols;
            }
}

// Decomposition structures: unsplit levels and high bands split again come back exactly, and the
// bands pushed are the ones the structure names.
TEST(J2kTransform, DecompositionStructuresReconstructPerfectly)
{
    wavelet_kernel k = Kernel("W5X3", kKernelIntLifting);
    std::mt19937 rng(17);
    struct Case
    {
        std::vector<int> descent;
        std::vector<std::pair<int, int>> bands; // some (level, band) that must exist
    } cases[] = {
        {{0, 1, 1, 1}, {{3, 1}, {1, 3}, {0, 0}}},
        {{0, 1, 0, 1}, {{3, 2}, {1, 1}}},
        {{0, 2, 1, 1}, {{1, 4}, {1, 7}, {1, 15}, {3, 3}}},
        {{0, 3, 3}, {{1, 16}, {1, 63}, {2, 21}}},
        {{0, 0, 0}, {{0, 0}}},
    };
    for (const Case &c : cases)
        for (auto [rows, cols, origin] : {std::tuple{23, 18, 1}, std::tuple{40, 33, 0}}) {
            component_transform_setup s;
            s.reversible = true;
            s.levels = int(c.descent.size()) - 1;
            s.hp_descent = c.descent;
            s.vertical = s.horizontal = &k;
            region_rect r{rows, cols, origin, origin};
            std::vector<int32_t> in(static_cast<size_t>(rows * cols)), out(in.size());
            for (auto &v : in)
                v = int32_t(rng() % 256) - 128;
            zntest::BandRowStore store;
            analyse_component(s, 0, r, in.data(), store);
            for (auto [l, b] : c.bands)
                EXPECT_FALSE(store.IntBand(0, l, b).empty()) << l << " " << b;
            synthesise_component(s, 0, r, store, out.data());
            EXPECT_TRUE(store.AllServed());
            EXPECT_EQ(out, in) << s.levels;
        }
    zn::MessageRecorder rec;
    component_transform_setup s;
    s.reversible = true;
    s.levels = 2;
    s.vertical = s.horizontal = &k;
    int32_t v = 0;
    zntest::BandRowStore store;
    for (std::vector<int> bad : {std::vector<int>{0, 1}, std::vector<int>{0, 4, 1}}) {
        s.hp_descent = bad;
        EXPECT_THROW(analyse_component(s, 0, region_rect{1, 1, 0, 0}, &v, store), zn::RunAborted);
    }
}

} // namespace wavelet_transform_test
