// The block DCT as a subband split: the fast transforms against their defining sums, the split
// against a direct 2-D DCT, and round trips.
#include "modules/sbc/sbc_dct.h"
#include "platform/messages.h"
#include "sbc_test_util.h"

#include <gtest/gtest.h>

namespace dct_test { // one namespace per test file: a folder compiles as one source

using namespace sbctest;

namespace {

std::vector<std::vector<float>> Inputs(int n)
{
    std::mt19937 gen(n);
    std::uniform_real_distribution<float> u(-255, 255);
    std::vector<std::vector<float>> v;
    v.emplace_back(n, 0.0f);
    v.emplace_back(n, 255.0f);
    std::vector<float> alt(n), impulse(n, 0.0f), random(n);
    for (int i = 0; i < n; ++i)
        alt[i] = i % 2 ? -255.0f : 255.0f;
    impulse[n - 1] = 1e4f;
    for (float &x : random)
        x = u(gen);
    v.push_back(alt);
    v.push_back(impulse);
    v.push_back(random);
    return v;
}

double MaxAbs(const std::vector<float> &v)
{
    double m = 0;
    for (float x : v)
        m = std::max(m, static_cast<double>(std::fabs(x)));
    return m;
}

} // namespace

TEST(DctKernels, FastTransformsEqualTheirDefinitions)
{
    for (int n : {2, 4, 8, 16}) {
        const SbcDctTable t = SbcDctTables(n);
        for (const std::vector<float> &in : Inputs(n)) {
            const double tol = 2e-6 * (MaxAbs(in) + 1) * n;
            std::vector<float> x = in, fast(n), ref(n);
            SbcDct2(t, x.data(), fast.data(), n);
            SbcDct2Reference(in.data(), ref.data(), n);
            for (int k = 0; k < n; ++k)
                EXPECT_NEAR(fast[k], ref[k], tol) << "dct2 n " << n << " k " << k;
            x = in;
            SbcIdct2(t, x.data(), fast.data(), n);
            SbcIdct2Reference(in.data(), ref.data(), n);
            for (int k = 0; k < n; ++k)
                EXPECT_NEAR(fast[k], ref[k], tol) << "idct2 n " << n << " k " << k;
            SbcDct4(t, in.data(), fast.data(), n);
            SbcDct4Reference(in.data(), ref.data(), n);
            for (int k = 0; k < n; ++k)
                EXPECT_NEAR(fast[k], ref[k], tol) << "dct4 n " << n << " k " << k;
        }
    }
}

TEST(DctKernels, Dct4IsItsOwnInverseAndPermutationsMatch)
{
    const SbcDctTable t = SbcDctTables(4);
    const std::vector<float> y = {3, -1, 4, 1.5f};
    std::vector<float> once(4), twice(4);
    SbcDct4(t, y.data(), once.data(), 4);
    SbcDct4(t, once.data(), twice.data(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(twice[i], y[i], 1e-5);
    EXPECT_EQ(SbcDct4Perm(4), (std::vector<int>{0, 3, 1, 2}));
    EXPECT_EQ(SbcDct4Perm(8), (std::vector<int>{0, 7, 3, 4, 1, 6, 2, 5}));
    EXPECT_EQ(SbcDct4Perm(16), (std::vector<int>{0, 15, 7, 8, 3, 12, 4, 11, 1, 14, 6, 9, 2, 13, 5, 10}));
}

TEST(SbcSplitDct, MatchesADirectBlockDctAndRoundTrips)
{
    struct Case
    {
        int rows, cols, br, bc;
    };
    const Case cases[] = {{32, 32, 2, 2},   {32, 32, 4, 4}, {32, 48, 8, 8},
                          {32, 32, 16, 16}, {16, 32, 8, 4}, {32, 16, 2, 16}};
    for (const Case &c : cases) {
        ImgPtr src = TestPicture(c.rows, c.cols, 3);
        const float *x = src->FloatPlane();
        Subb *sb = nullptr;
        SbcSplitDct(&sb, src.get(), c.br, c.bc, 0);
        ASSERT_NE(sb, nullptr);
        const SubbComponent &comp = sb->comp[0];
        ASSERT_EQ(comp.count, c.br * c.bc);
        EXPECT_EQ(sb->decomposed, SUBB_BLOCK_DCT);
        double mean = 0;
        for (int i = 0; i < c.rows * c.cols; ++i)
            mean += x[i];
        mean /= c.rows * c.cols;
        EXPECT_NEAR(comp.mean, mean, 1e-3);
        // Sample (p, q) of band (j, k) = coefficient (j, k) of block (p, q), over sqrt(br bc).
        const int pr = c.rows / c.br, pc = c.cols / c.bc;
        double worst = 0;
        for (int j = 0; j < c.br; ++j)
            for (int k = 0; k < c.bc; ++k) {
                const int band = j * c.bc + k;
                ASSERT_EQ(comp.bandRows[band], pr);
                ASSERT_EQ(comp.bandCols[band], pc);
                ASSERT_EQ(comp.first[band], j * pr * c.cols + k * pc);
                for (int p = 0; p < pr; ++p)
                    for (int q = 0; q < pc; ++q) {
                        double s = 0;
                        for (int u = 0; u < c.br; ++u)
                            for (int v = 0; v < c.bc; ++v)
                                s += (x[(p * c.br + u) * c.cols + q * c.bc + v] - comp.mean) *
                                     std::cos(M_PI * j * (2 * u + 1) / (2.0 * c.br)) *
                                     std::cos(M_PI * k * (2 * v + 1) / (2.0 * c.bc));
                        s *= std::sqrt((j ? 2.0 : 1.0) / c.br) * std::sqrt((k ? 2.0 : 1.0) / c.bc);
                        s /= std::sqrt(static_cast<double>(c.br * c.bc));
                        const float got = sb->FloatPlane()[comp.first[band] + p * c.cols + q];
                        worst = std::max(worst, std::fabs(got - s));
                    }
            }
        EXPECT_LT(worst, 2e-3) << c.rows << "x" << c.cols << " blocks " << c.br << "x" << c.bc;
        Img *out = nullptr;
        SbcReconDct(&out, sb, 1);
        ASSERT_NE(out, nullptr);
        ImgPtr rec(out);
        EXPECT_LT(Mse(x, rec->FloatPlane(), c.rows * c.cols), 1e-8) << c.br << "x" << c.bc;
    }
}

TEST(SbcSplitDct, ConstantImageAndTwoByTwoBlockMeans)
{
    ImgPtr flat = FloatImage(16, 16);
    std::fill(flat->FloatPlane(), flat->FloatPlane() + 256, 93.0f);
    Subb *sb;
    SbcSplitDct(&sb, flat.get(), 16, 16, 0);
    ASSERT_NE(sb, nullptr);
    EXPECT_EQ(sb->comp[0].count, 256);
    for (int i = 0; i < 256; ++i)
        EXPECT_NEAR(sb->FloatPlane()[i], 0, 1e-4);
    Img *out;
    SbcReconDct(&out, sb, 1);
    for (int i = 0; i < 256; ++i)
        EXPECT_NEAR(out->FloatPlane()[i], 93.0f, 1e-4);
    FreeImg(out);

    ImgPtr img = TestPicture(8, 8, 5);
    SbcSplitDct(&sb, img.get(), 2, 2, 0);
    const float *x = img->FloatPlane();
    for (int p = 0; p < 4; ++p)
        for (int q = 0; q < 4; ++q) {
            const double blockMean = (x[2 * p * 8 + 2 * q] + x[2 * p * 8 + 2 * q + 1] +
                                      x[(2 * p + 1) * 8 + 2 * q] + x[(2 * p + 1) * 8 + 2 * q + 1]) /
                                     4.0;
            EXPECT_NEAR(sb->FloatPlane()[p * 8 + q], blockMean - sb->comp[0].mean, 1e-3);
        }
    FreeSubb(sb);
}

TEST(SbcSplitDct, RefusesBlockSidesItCannotTransform)
{
    ImgPtr img = TestPicture(24, 24);
    struct Case
    {
        int br, bc;
        const char *message;
    };
    const Case cases[] = {{3, 4, "SbcSplitDct - Sorry blnrow must be a power of 2 and greater then 1"},
                          {4, 1, "SbcSplitDct - Sorry blncol must be a power of 2 and greater then 1"},
                          {32, 4, "SbcSplitDct - Sorry blnrow must be a power of 2 and greater then 1"},
                          {16, 8, "SbcSplitDct - Sorry the image size must be a multiple of the block size"}};
    for (const Case &c : cases) {
        zn::MessageRecorder rec;
        Subb *sb = reinterpret_cast<Subb *>(1);
        SbcSplitDct(&sb, img.get(), c.br, c.bc, 0);
        EXPECT_EQ(sb, nullptr);
        EXPECT_TRUE(rec.Contains(c.message)) << c.br << "x" << c.bc;
    }
    zn::MessageRecorder rec;
    Subb *plain;
    AllocSubb(&plain, 8, 8, IMG_REP_FLOAT, IMG_SEQ_MONO);
    Img *out = reinterpret_cast<Img *>(1);
    SbcReconDct(&out, plain, 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(rec.Count(), 1u);
    FreeSubb(plain);
}

} // namespace dct_test
