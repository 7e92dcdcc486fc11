// The EZW transform and entropy stage: perfect reconstruction, the filters' gains, the pyramid
// display, the adaptive model and the arithmetic coder with its bit packing.
#include "modules/ezw/ezw_arith.h"
#include "modules/ezw/ezw_wavelet.h"
#include "wavelet/wavelet_test_util.h"

#include <cstring>
#include <gtest/gtest.h>

namespace ezw_transform_test { // one namespace per test file: a folder compiles as one source

using namespace wavelettest;

namespace {

EzwPlane RandomPlane(int w, int h, uint32_t seed)
{
    EzwPlane p;
    p.Resize(h, w);
    for (double &v : p.v)
        v = static_cast<double>(Lcg(&seed) % 25600) / 100.0 - 128.0;
    return p;
}

TEST(EzwWavelet, FiltersAreTheScaledNineSevenPair)
{
    EzwFilterSet f;
    Ezw_filters(&f);
    double sumL = 0, sumH = 0, sumSL = 0, sumSH = 0;
    for (int k = 0; k < 9; ++k) {
        sumL += f.aL.k[k];
        sumSH += f.sH.k[k] * ((k % 2) ? -1 : 1);
    }
    for (int k = 0; k < 7; ++k) {
        sumH += f.aH.k[k];
        sumSL += f.sL.k[k];
    }
    // Low-pass filters pass a constant with gain sqrt(2); high-pass filters remove it.
    EXPECT_NEAR(sumL, std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(sumSL, std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(sumH, 0.0, 1e-12);
    EXPECT_NEAR(sumSH, std::sqrt(2.0), 1e-12);
    EXPECT_EQ(f.aL.offset, 4);
    EXPECT_EQ(f.sH.offset, 3);
}

TEST(EzwWavelet, ConstantPlaneGoesToTheLowpassBandOnly)
{
    EzwFilterSet f;
    Ezw_filters(&f);
    EzwPlane in, ll, lh, hl, hh;
    in.Resize(16, 32);
    std::fill(in.v.begin(), in.v.end(), 7.0);
    Ezw_analysis(in, &ll, &lh, &hl, &hh, f);
    ASSERT_EQ(ll.rows, 8);
    ASSERT_EQ(ll.cols, 16);
    for (size_t k = 0; k < ll.v.size(); ++k) {
        EXPECT_NEAR(ll.v[k], 14.0, 1e-12); // sqrt(2) per direction
        EXPECT_NEAR(lh.v[k], 0.0, 1e-12);
        EXPECT_NEAR(hl.v[k], 0.0, 1e-12);
        EXPECT_NEAR(hh.v[k], 0.0, 1e-12);
    }
}

TEST(EzwWavelet, AnalysisThenSynthesisReconstructs)
{
    EzwFilterSet f;
    Ezw_filters(&f);
    struct Case
    {
        int w, h, levels;
    };
    for (const Case c :
         {Case{8, 8, 1}, Case{64, 32, 3}, Case{128, 128, 5}, Case{256, 64, 6}, Case{256, 256, 8}}) {
        const EzwPlane in = RandomPlane(c.w, c.h, 77u + c.w);
        EzwPyramid p;
        p.Allocate(c.w, c.h, c.levels);
        EzwForward(in, &p, f);
        EzwPlane out;
        EzwInverse(p, &out, f);
        ASSERT_EQ(out.rows, c.h);
        ASSERT_EQ(out.cols, c.w);
        double worst = 0;
        for (size_t k = 0; k < in.v.size(); ++k)
            worst = std::max(worst, std::abs(in.v[k] - out.v[k]));
        EXPECT_LT(worst, 1e-9) << c.w << "x" << c.h << " L=" << c.levels;
    }
}

// Random samples mixed with extremes: signed zeros, subnormals, huge values that overflow to
// infinity in the sums (and so to NaN), and ordinary values.
EzwPlane ExtremePlane(int w, int h, uint32_t seed)
{
    const double extremes[] = {0.0, -0.0, 4.9e-324, -2.2e-308, 1e300, -1e300, 1e15, -255.0, 255.0};
    EzwPlane p = RandomPlane(w, h, seed);
    for (double &v : p.v)
        if (Lcg(&seed) % 4 == 0)
            v = extremes[Lcg(&seed) % std::size(extremes)];
    return p;
}

bool SameBits(const EzwPlane &a, const EzwPlane &b)
{
    return a.rows == b.rows && a.cols == b.cols && a.v.size() == b.v.size() &&
           std::memcmp(a.v.data(), b.v.data(), a.v.size() * sizeof(double)) == 0;
}

TEST(EzwWavelet, FastLevelsGiveThePlainBits)
{
    EzwFilterSet f;
    Ezw_filters(&f);
    // Sizes below and above the one from which analysis keeps only a window of filtered rows, and
    // lines shorter than the filters.
    const std::pair<int, int> sizes[] = {{2, 2},   {4, 2},   {2, 8},    {8, 8},    {16, 6},
                                         {64, 32}, {30, 96}, {40, 200}, {256, 130}};
    uint32_t seed = 3;
    for (const auto &[w, h] : sizes)
        for (bool extreme : {false, true}) {
            const EzwPlane in = extreme ? ExtremePlane(w, h, seed++) : RandomPlane(w, h, seed++);
            EzwPlane ll[2], lh[2], hl[2], hh[2];
            Ezw_analysis(in, &ll[0], &lh[0], &hl[0], &hh[0], f);
            EzwAnalysisPlain(in, &ll[1], &lh[1], &hl[1], &hh[1], f);
            EXPECT_TRUE(SameBits(ll[0], ll[1]) && SameBits(lh[0], lh[1]) && SameBits(hl[0], hl[1]) &&
                        SameBits(hh[0], hh[1]))
                << "analysis " << w << "x" << h << (extreme ? " extreme" : "");
            const EzwPlane b1 = extreme ? ExtremePlane(w / 2 + w % 2, h, seed++) : RandomPlane(w, h, seed++);
            const EzwPlane b2 = RandomPlane(b1.cols, b1.rows, seed++),
                           b3 = RandomPlane(b1.cols, b1.rows, seed++),
                           b4 = extreme ? ExtremePlane(b1.cols, b1.rows, seed++)
                                        : RandomPlane(b1.cols, b1.rows, seed++);
            EzwPlane out[2];
            Ezw_synthesis(b1, b2, b3, b4, &out[0], f);
            EzwSynthesisPlain(b1, b2, b3, b4, &out[1], f);
            EXPECT_TRUE(SameBits(out[0], out[1]))
                << "synthesis " << w << "x" << h << (extreme ? " extreme" : "");
        }
}

TEST(EzwWavelet, BytesTransformLikeTheirPlane)
{
    EzwFilterSet f;
    Ezw_filters(&f);
    uint32_t seed = 8;
    std::vector<uint8_t> bytes(256 * 128);
    for (uint8_t &b : bytes)
        b = static_cast<uint8_t>(Lcg(&seed));
    EzwPlane image;
    image.Resize(128, 256);
    for (size_t k = 0; k < bytes.size(); ++k)
        image.v[k] = bytes[k] - 117;
    EzwPyramid a, b;
    a.Allocate(256, 128, 4);
    b.Allocate(256, 128, 4, false);
    EzwForward(image, &a, f);
    EzwForwardBytes(bytes, 117, &b, f);
    EXPECT_TRUE(SameBits(a.ll, b.ll));
    for (size_t k = 0; k < a.detail.size(); ++k)
        EXPECT_TRUE(SameBits(a.detail[k], b.detail[k])) << "band " << k;
    EzwPlane out;
    EzwInverse(a, &out, f);
    std::vector<double> rows;
    EzwInverseRows(a, f, [&](int, const double *v) { rows.insert(rows.end(), v, v + 256); });
    EXPECT_EQ(std::memcmp(rows.data(), out.v.data(), rows.size() * sizeof(double)), 0);
}

TEST(EzwWavelet, EnergyIsNearlyKept)
{
    // The 9/7 pair is close to orthogonal: a level changes the energy by a few percent at most.
    EzwFilterSet f;
    Ezw_filters(&f);
    const EzwPlane in = RandomPlane(64, 64, 5);
    EzwPlane ll, lh, hl, hh;
    Ezw_analysis(in, &ll, &lh, &hl, &hh, f);
    double ein = 0, eout = 0;
    for (double v : in.v)
        ein += v * v;
    for (const EzwPlane *b : {&ll, &lh, &hl, &hh})
        for (double v : b->v)
            eout += v * v;
    EXPECT_NEAR(eout / ein, 1.0, 0.1);
}

TEST(EzwDisplay, BordersAndBandScaling)
{
    EzwPyramid p;
    p.Allocate(8, 8, 1);
    for (int t = 1; t <= 3; ++t)
        for (double &v : p.Band(0, t).v)
            v = -2.0 * t;
    p.ll.at(0, 0) = 50;
    ZnImage img;
    Ezw_subband_image(&img, p);
    ASSERT_EQ(img.Rows(), 8);
    ASSERT_EQ(img.Cols(), 8);
    auto at = [&](int r, int c) { return img.Data()[r * 8 + c]; };
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(at(k, 3), 0.0f) << "column 3 row " << k;
        EXPECT_EQ(at(3, k), 0.0f) << "row 3 column " << k;
    }
    // Every band is scaled by its own extreme: -2t becomes 128 - 127 in each detail band.
    EXPECT_FLOAT_EQ(at(4, 4), 1.0f); // HH
    EXPECT_FLOAT_EQ(at(4, 0), 1.0f); // LH
    EXPECT_FLOAT_EQ(at(0, 4), 1.0f); // HL
    EXPECT_FLOAT_EQ(at(0, 0), 255.0f);
    EXPECT_FLOAT_EQ(at(1, 1), 128.0f); // a zero of the low-pass band
    EXPECT_FLOAT_EQ(at(7, 7), 128.0f); // the skipped last row and column of a band
}

TEST(EzwModel, StartsUniformAndHalvesAtTheLimit)
{
    EzwModel m;
    Ezw_model_reset(&m);
    EXPECT_EQ(m.cum[0], 11);
    EXPECT_EQ(m.cum[1], 10); // symbol 1 owns [10, 11) of 11
    EXPECT_EQ(m.cum[11], 0);
    for (int i = 0; i < 245; ++i)
        Ezw_model_update(&m, 1 + i % 3);
    EXPECT_EQ(m.cum[0], 256);
    const int before1 = m.freq[1];
    Ezw_model_update(&m, 5);
    // Halved first ((f + 1) / 2 each), then the new count added.
    EXPECT_EQ(m.freq[1], (before1 + 1) / 2);
    int total = 0;
    for (int s = 1; s <= 11; ++s)
        total += m.freq[s];
    EXPECT_EQ(m.cum[0], total);
    EXPECT_LE(m.cum[0], 256);
    for (int s = 1; s <= 11; ++s)
        EXPECT_EQ(m.cum[s - 1] - m.cum[s], m.freq[s]);
}

TEST(EzwBits, FirstBitIsTheLowestOfItsByte)
{
    EzwBitPacker p;
    for (int b : {1, 0, 1, 0, 0, 0, 0, 0})
        p.Put(b);
    ASSERT_EQ(p.Bytes().size(), 1u);
    EXPECT_EQ(p.Bytes()[0], 5);
    // A partial byte is shifted down to its first bit; an empty one is written as 0.
    p.Put(1);
    p.Put(1);
    p.Flush();
    p.Flush();
    EXPECT_EQ(p.Bytes(), (std::vector<uint8_t>{5, 3, 0}));
}

TEST(EzwArith, RandomSymbolsRoundTrip)
{
    for (uint32_t seed : {1u, 2u, 3u}) {
        uint32_t s = seed;
        std::vector<int> symbols;
        for (int i = 0; i < 20000; ++i) {
            // Skewed, as pass symbols are: mostly 1 and 4.
            const uint32_t r = Lcg(&s) % 100;
            symbols.push_back(r < 50   ? 4
                              : r < 80 ? 1
                              : r < 98 ? 2 + static_cast<int>(r % 2)
                                       : 1 + static_cast<int>(r % 11));
        }
        EzwModel m;
        Ezw_model_reset(&m);
        EzwArithEncoder enc;
        enc.SetBudget(1L << 40);
        for (int sym : symbols) {
            EXPECT_EQ(Ezw_put_symbol(sym, m, &enc), 0);
            Ezw_model_update(&m, sym);
        }
        Ezw_finish_coder(&enc);
        EzwModel dm;
        Ezw_model_reset(&dm);
        EzwArithDecoder dec(enc.Bytes());
        long bits = 0;
        for (size_t i = 0; i < symbols.size(); ++i) {
            int n = 0;
            const int got = Ezw_get_symbol(dm, &dec, &n);
            ASSERT_EQ(got, symbols[i]) << "symbol " << i << " seed " << seed;
            Ezw_model_update(&dm, got);
            bits += n;
        }
        // The decoder shifts in as many bits as the encoder emitted, within its 16-bit look-ahead.
        EXPECT_NEAR(static_cast<double>(bits), static_cast<double>(enc.BitsEmitted()), 18.0);
        EXPECT_EQ(enc.Bytes().size(),
                  static_cast<size_t>((enc.BitsEmitted() + 7) / 8) + (enc.BitsEmitted() % 8 == 0 ? 1 : 0));
    }
}

TEST(EzwArith, BudgetIsReportedWhenSpent)
{
    EzwModel m;
    Ezw_model_reset(&m);
    EzwArithEncoder enc;
    enc.SetBudget(20);
    int calls = 0;
    while (Ezw_put_symbol(1 + calls % 11, m, &enc) == 0) {
        Ezw_model_update(&m, 1 + calls % 11);
        ++calls;
        ASSERT_LT(calls, 1000);
    }
    EXPECT_LE(enc.Budget(), 0);
    EXPECT_GE(enc.BitsEmitted(), 20);
}

TEST(EzwArith, FinishCompletingAByteWritesAZeroByte)
{
    // The terminating bits land exactly on a byte boundary for some symbol count: then one more byte
    // of value 0 follows.
    bool seen = false;
    for (int count = 0; count < 64 && !seen; ++count) {
        EzwModel m;
        Ezw_model_reset(&m);
        EzwArithEncoder enc;
        for (int i = 0; i < count; ++i) {
            Ezw_put_symbol(2, m, &enc);
            Ezw_model_update(&m, 2);
        }
        Ezw_finish_coder(&enc);
        if (enc.BitsEmitted() % 8 == 0) {
            seen = true;
            EXPECT_EQ(enc.Bytes().back(), 0);
            EXPECT_EQ(enc.Bytes().size(), static_cast<size_t>(enc.BitsEmitted() / 8 + 1));
        }
    }
    EXPECT_TRUE(seen);
}

} // namespace

} // namespace ezw_transform_test
