// Numeric toolkit: windows, the N-dimensional FFT against a direct DFT, image spectra, LU solving and
// row-pointer tables.
#include "image/numeric.h"
#include "image/znimage.h"
#include "platform/messages.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace numeric_test { // one namespace per test file: a folder compiles as one source

namespace {

using cd = std::complex<double>;

// Direct DFT over an N-dimensional array, last dimension fastest.
std::vector<cd> DirectDft(const std::vector<cd> &x, const std::vector<int> &sizes, int sign)
{
    const size_t total = x.size();
    std::vector<cd> out(total);
    const int nd = static_cast<int>(sizes.size());
    auto coords = [&](size_t i) {
        std::vector<int> c(nd);
        for (int d = nd - 1; d >= 0; --d) {
            c[d] = static_cast<int>(i % sizes[d]);
            i /= sizes[d];
        }
        return c;
    };
    for (size_t k = 0; k < total; ++k) {
        std::vector<int> kc = coords(k);
        cd sum = 0;
        for (size_t n = 0; n < total; ++n) {
            std::vector<int> nc = coords(n);
            double phase = 0;
            for (int d = 0; d < nd; ++d)
                phase += static_cast<double>(nc[d]) * kc[d] / sizes[d];
            sum += x[n] * std::polar(1.0, sign * 2 * M_PI * phase);
        }
        out[k] = sum;
    }
    return out;
}

} // namespace

TEST(MakeTapering, KnownWindowsAndEnergies)
{
    struct Case
    {
        int type, n;
        std::vector<float> w;
        double energy;
    };
    const Case cases[] = {
        {TAPER_HANN, 4, {0, 0.75f, 0.75f, 0}, 1.125},
        {TAPER_TRIANGLE, 5, {0, 0.5f, 1, 0.5f, 0}, 1.5},
        {TAPER_HAMMING, 3, {0.08f, 1, 0.08f}, 1 + 2 * 0.08 * 0.08},
        {TAPER_RECT, 3, {1, 1, 1}, 3},
    };
    for (const Case &c : cases) {
        std::vector<float> w(c.n);
        double e = MakeTapering(w.data(), c.n, c.type);
        EXPECT_NEAR(e, c.energy, 1e-5) << "type " << c.type;
        for (int i = 0; i < c.n; ++i)
            EXPECT_NEAR(w[i], c.w[i], 1e-6) << "type " << c.type << " i " << i;
    }
    zn::MessageRecorder rec;
    float w[2];
    EXPECT_EQ(MakeTapering(w, 2, 7), 0);
    EXPECT_TRUE(rec.Contains("MakeTapering - Invalid window specification"));
    EXPECT_EQ(MakeTapering(w, 0, TAPER_RECT), 0);
    EXPECT_EQ(MakeTapering(w, 0, TAPER_HANN), 0);
}

TEST(FourierND, MatchesDirectDftInBothDirections)
{
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> u(-100, 100);
    const std::vector<std::vector<int>> shapes = {{1}, {2}, {16}, {4, 8}, {8, 2}, {2, 4, 4}};
    for (const auto &shape : shapes) {
        size_t total = 1;
        for (int s : shape)
            total *= s;
        for (int sign : {1, -1}) {
            std::vector<cd> x(total);
            std::vector<float> data(2 * total + 1);
            for (size_t i = 0; i < total; ++i) {
                data[2 * i + 1] = u(gen);
                data[2 * i + 2] = u(gen);
                x[i] = cd(data[2 * i + 1], data[2 * i + 2]);
            }
            std::vector<int> sizes = {0};
            sizes.insert(sizes.end(), shape.begin(), shape.end());
            ASSERT_TRUE(FourierND(data.data(), sizes.data(), static_cast<int>(shape.size()), sign));
            std::vector<cd> ref = DirectDft(x, shape, sign);
            for (size_t i = 0; i < total; ++i) {
                EXPECT_NEAR(data[2 * i + 1], ref[i].real(), 2e-3 * std::sqrt(total) + 1e-3);
                EXPECT_NEAR(data[2 * i + 2], ref[i].imag(), 2e-3 * std::sqrt(total) + 1e-3);
            }
        }
    }
}

TEST(FourierND, ForwardThenInverseScalesByCount)
{
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> u(-1, 1);
    const int total = 64 * 32;
    std::vector<float> data(2 * total + 1), orig;
    for (auto &v : data)
        v = u(gen);
    orig = data;
    int sizes[3] = {0, 64, 32};
    ASSERT_TRUE(FourierND(data.data(), sizes, 2, 1));
    ASSERT_TRUE(FourierND(data.data(), sizes, 2, -1));
    for (int i = 1; i <= 2 * total; ++i)
        EXPECT_NEAR(data[i] / total, orig[i], 1e-5);
}

TEST(FourierND, RefusesSizesThatAreNotPowersOfTwo)
{
    std::vector<float> data(2 * 6 + 1, 1.0f);
    int sizes[2] = {0, 6};
    EXPECT_FALSE(FourierND(data.data(), sizes, 1, 1));
    EXPECT_EQ(data[1], 1.0f);
}

TEST(ImgFFT, ConstantImageConcentratesAtZeroFrequency)
{
    Img *img;
    AllocImg(&img, 8, 8, IMG_REP_BYTE, IMG_SEQ_MONO);
    for (int i = 0; i < 64; ++i)
        img->BytePlane()[i] = 255;
    Spectrum *s;
    AllocSpectrum(&s, 8, 8);
    ImgFFT(img, s, TAPER_RECT);
    EXPECT_FLOAT_EQ(s->re[0], 16320.0f);
    for (int k = 1; k < 64; ++k) {
        EXPECT_NEAR(s->re[k], 0, 1e-2);
        EXPECT_NEAR(s->im[k], 0, 1e-2);
    }
    SwapQuadrants(s);
    EXPECT_FLOAT_EQ(s->re[4 * 8 + 4], 16320.0f);
    EXPECT_NEAR(s->re[0], 0, 1e-2);
    ZnImage lp;
    lp.LogPowerSpectrum(s);
    ASSERT_EQ(lp.Rows(), 8);
    EXPECT_NEAR(lp.Data()[4 * 8 + 4], 29 * std::log10(16320.0 * 16320.0) - 100, 1e-3);
    EXPECT_NEAR(lp.Data()[4 * 8 + 4], 144.3, 0.05);
    FreeSpectrum(s);
    FreeImg(img);
}

TEST(ImgFFT, RefusesSidesThatAreNotPowersOfTwo)
{
    Img *img;
    AllocImg(&img, 6, 8, IMG_REP_FLOAT, IMG_SEQ_MONO);
    Spectrum *s;
    AllocSpectrum(&s, 6, 8);
    s->re[0] = 5;
    zn::MessageRecorder rec;
    ImgFFT(img, s, TAPER_RECT);
    EXPECT_EQ(rec.Count(), 1u);
    EXPECT_EQ(s->re[0], 5.0f);
    FreeSpectrum(s);
    FreeImg(img);
}

TEST(ImgFFT, UnequalSidesRestoreWindowEnergySquareOnesDoNot)
{
    struct Case
    {
        int rows, cols;
        double scale;
    };
    float wr4[4], wc8[8];
    const double e4 = MakeTapering(wr4, 4, TAPER_HANN), e8 = MakeTapering(wc8, 8, TAPER_HANN);
    // The DC term of a windowed constant is the constant times the scale times the windows' sums.
    double s4 = 0, s8 = 0;
    for (float w : wr4)
        s4 += w;
    for (float w : wc8)
        s8 += w;
    const Case cases[] = {{4, 8, std::sqrt(8 / e8) * std::sqrt(4 / e4) * s4 * s8}, {4, 4, s4 * s4}};
    for (const Case &c : cases) {
        Img *img;
        AllocImg(&img, c.rows, c.cols, IMG_REP_FLOAT, IMG_SEQ_MONO);
        for (int i = 0; i < c.rows * c.cols; ++i)
            img->FloatPlane()[i] = 10.0f;
        Spectrum *s;
        AllocSpectrum(&s, c.rows, c.cols);
        ImgFFT(img, s, TAPER_HANN);
        EXPECT_NEAR(s->re[0], 10 * c.scale, 1e-3) << c.rows << "x" << c.cols;
        FreeSpectrum(s);
        FreeImg(img);
    }
}

TEST(LuDecomposition, WorkedExampleTakesTheLaterRowOnEqualMerit)
{
    float **a = matrix(1, 2, 1, 2);
    a[1][1] = 2, a[1][2] = 1, a[2][1] = 4, a[2][2] = 3;
    int *indx = IntVector(1, 2);
    float *b = vector(1, 2);
    b[1] = 1, b[2] = 2;
    float d = 0;
    ASSERT_EQ(ludcmp(a, 2, indx, &d), 0);
    EXPECT_EQ(indx[1], 2);
    EXPECT_EQ(d, -1.0f);
    LuBackSubst(a, 2, indx, b);
    EXPECT_NEAR(b[1], 0.5f, 1e-6);
    EXPECT_NEAR(b[2], 0.0f, 1e-6);
    FreeVector(b, 1, 2);
    FreeIntVector(indx, 1, 2);
    FreeMatrix(a, 1, 2, 1, 2);
}

TEST(LuDecomposition, SolvesRandomSystemsAndRefusesAZeroRow)
{
    std::mt19937 gen(11);
    std::uniform_real_distribution<float> u(-1, 1);
    const int n = 4;
    float **a = matrix(1, n, 1, n);
    std::vector<double> x(n + 1), rhs(n + 1, 0);
    for (int i = 1; i <= n; ++i)
        x[i] = u(gen);
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) {
            a[i][j] = u(gen) + (i == j ? 3.0f : 0.0f);
            rhs[i] += a[i][j] * x[j];
        }
    int *indx = IntVector(1, n);
    float *b = vector(1, n);
    for (int i = 1; i <= n; ++i)
        b[i] = static_cast<float>(rhs[i]);
    float d;
    ASSERT_EQ(ludcmp(a, n, indx, &d), 0);
    LuBackSubst(a, n, indx, b);
    for (int i = 1; i <= n; ++i)
        EXPECT_NEAR(b[i], x[i], 1e-5);

    zn::MessageRecorder rec;
    for (int j = 1; j <= n; ++j)
        a[2][j] = 0;
    EXPECT_EQ(ludcmp(a, n, indx, &d), 1);
    EXPECT_TRUE(rec.Contains("Singular matrix in routine ludcmp"));
    FreeVector(b, 1, n);
    FreeIntVector(indx, 1, n);
    FreeMatrix(a, 1, n, 1, n);
}

TEST(OffsetArrays, AddressArbitraryRanges)
{
    float *v = vector(-3, 3);
    for (int i = -3; i <= 3; ++i)
        v[i] = static_cast<float>(i);
    EXPECT_EQ(v[-3] + v[3], 0.0f);
    FreeVector(v, -3, 3);
    float **m = matrix(-2, 2, -2, 2);
    for (int r = -2; r <= 2; ++r)
        for (int c = -2; c <= 2; ++c)
            m[r][c] = static_cast<float>(10 * r + c);
    EXPECT_EQ(m[-2][2], -18.0f);
    EXPECT_EQ(m[2][-2], 18.0f);
    FreeMatrix(m, -2, 2, -2, 2);
}

TEST(RowPointerTables, IndexPlanesAndWindows)
{
    std::vector<float> plane(64);
    for (int i = 0; i < 64; ++i)
        plane[i] = static_cast<float>(i);
    void **t = IndexSubArray(plane.data(), IMG_REP_FLOAT, 5, 8, 0, 2, 0, 2);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(IndexRow<float>(t, 0)[0], 5.0f);
    EXPECT_EQ(IndexRow<float>(t, 1)[0], 13.0f);
    EXPECT_EQ(IndexRow<float>(t, 2)[2], 23.0f);
    FreeIndexArray(t, 0);

    std::vector<uint8_t> bytes(12);
    for (int i = 0; i < 12; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    void **b = IndexArray(bytes.data(), IMG_REP_BYTE, 1, 3, 2, 5); // 3 rows of 4
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(IndexRow<uint8_t>(b, 1)[2], 0);
    EXPECT_EQ(IndexRow<uint8_t>(b, 3)[5], 11);
    FreeIndexArray(b, 1);
    EXPECT_EQ(IndexArray(bytes.data(), 5, 0, 1, 0, 1), nullptr);
}

} // namespace numeric_test
