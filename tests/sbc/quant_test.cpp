// Scalar quantisation core: cell search, channel errors, PCM and DPCM identities, the arithmetic
// bit count, statistics and the optimal predictor.
#include "image/numeric.h"
#include "modules/sbc/sbc_quant.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "sbc_test_util.h"

#include <gtest/gtest.h>

namespace quant_test { // one namespace per test file: a folder compiles as one source

using namespace sbctest;

namespace {

struct CorrMatrix
{
    float **m = matrix(-2, 2, -2, 2);
    CorrMatrix()
    {
        for (int r = -2; r <= 2; ++r)
            for (int c = -2; c <= 2; ++c)
                m[r][c] = 0;
    }
    ~CorrMatrix() { FreeMatrix(m, -2, 2, -2, 2); }
};

// A field whose rows are first-order autoregressive along both directions.
std::vector<float> CorrelatedField(int rows, int cols, float rho, unsigned seed)
{
    std::mt19937 gen(seed);
    std::normal_distribution<float> n(0, 10);
    std::vector<float> x(rows * cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            float left = c ? x[r * cols + c - 1] : 0, up = r ? x[(r - 1) * cols + c] : 0;
            float ul = r && c ? x[(r - 1) * cols + c - 1] : 0;
            x[r * cols + c] = rho * left + rho * up - rho * rho * ul + n(gen);
        }
    return x;
}

class PinnedRand : public ::testing::Test
{
protected:
    void SetUp() override
    {
        zn::PinRandSeed(1234);
        SbcBitErrors(0, 1, 0.5f); // the clock seeding of the first use happens here, pinned
        zn::SeedRand(1234);
    }
    void TearDown() override { zn::UnpinRandSeed(); }
};

} // namespace

TEST(CellSearch, PicksTheLowerCellOnAThresholdAndClampsOutside)
{
    const float thr[5] = {-99, -1, 0, 1, 2};
    struct Case
    {
        float x;
        int cell;
    };
    const Case cases[] = {{-5, 0}, {-1, 0}, {-0.5f, 1},  {0, 1},   {0.001f, 2},
                          {1, 2},  {2, 3},  {2.001f, 4}, {1e9f, 4}};
    for (const Case &c : cases)
        EXPECT_EQ(SbcQuantCell(c.x, thr, 5), c.cell) << c.x;
    const float one[1] = {42};
    for (float x : {-1e9f, 0.0f, 42.0f, 1e9f})
        EXPECT_EQ(SbcQuantCell(x, one, 1), 0);
}

TEST_F(PinnedRand, BitErrorsFlipAtTheChosenRateAndDrawNothingAtZero)
{
    zn::SeedRand(99);
    const int first = zn::Rand();
    zn::SeedRand(99);
    EXPECT_EQ(SbcBitErrors(77, 8, 0.0f), 77);
    EXPECT_EQ(zn::Rand(), first); // p = 0 made no draw

    const int words = 100000;
    long flipped = 0;
    for (int i = 0; i < words; ++i)
        flipped += __builtin_popcount(static_cast<unsigned>(SbcBitErrors(0, 8, 0.005f)));
    // 0.04 flips per 8-bit word; binomial spread is about 0.6 % of the count here.
    EXPECT_NEAR(flipped / static_cast<double>(words), 0.04, 0.004);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(SbcBitErrors(5, 3, 1.5f), 5 ^ 7); // every bit flips
}

TEST_F(PinnedRand, PcmOfFloatsReportsTheMeasuredErrorAndFlcRate)
{
    ImgPtr img = TestPicture(64, 48);
    const long n = 64 * 48;
    std::vector<float> orig(img->FloatPlane(), img->FloatPlane() + n);
    for (int levels : {1, 2, 5, 16, 256}) {
        QuantPtr q = Uniform(levels, 256.0f / levels);
        for (long i = 0; i < n; ++i)
            img->FloatPlane()[i] = orig[i] - 128;
        std::vector<float> in(img->FloatPlane(), img->FloatPlane() + n);
        float rate, dist;
        SbcPcmQuantize(&rate, &dist, q.get(), 0, img->plane[0], IMG_REP_FLOAT, 64, 48, 0, 48);
        EXPECT_NEAR(dist, Mse(in.data(), img->FloatPlane(), n), 1e-4 * (1 + dist)) << levels;
        EXPECT_FLOAT_EQ(rate, q->code->VlcCodeLen[0]) << levels;

        // Channel errors change what is written, not the reported distortion.
        std::copy(in.begin(), in.end(), img->FloatPlane());
        float rate2, dist2;
        SbcPcmQuantize(&rate2, &dist2, q.get(), 0.05f, img->plane[0], IMG_REP_FLOAT, 64, 48, 0, 48);
        EXPECT_EQ(dist2, dist);
        EXPECT_EQ(rate2, rate);
        if (levels >= 16) {
            EXPECT_GT(Mse(in.data(), img->FloatPlane(), n), dist);
        }
    }
}

TEST_F(PinnedRand, CorruptedIndicesThatNameNoLevelDecodeAsTheMiddleLevel)
{
    QuantPtr q = Uniform(5, 1.0f);  // thresholds -2.5 .. 1.5, reconstructions -2 .. 2, 3-bit code
    float x[5] = {-2, -1, 0, 1, 2}; // one sample per cell
    float rate, dist;
    SbcPcmQuantize(&rate, &dist, q.get(), 1.5f, x, IMG_REP_FLOAT, 1, 5, 0, 5);
    // Indices 0, 1, 2 arrive as 7, 6, 5 (no level: middle level 2); 3 and 4 arrive as 4 and 3.
    const float expect[5] = {0, 0, 0, 2, 1};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(x[i], expect[i]) << i;
    EXPECT_EQ(dist, 0.0f);
}

TEST_F(PinnedRand, DpcmReportsTheMeasuredErrorForEveryModel)
{
    const int rows = 40, cols = 36;
    std::vector<float> field = CorrelatedField(rows, cols, 0.7f, 5);
    for (int model = 1; model <= 4; ++model) {
        CorrMatrix cc;
        SbcCorr2d(cc.m, 5, field.data(), IMG_REP_FLOAT, rows, cols, 0, cols);
        float coef[4] = {0, 0, 0, 0}, var;
        YuleWalker2d(&var, coef, cc.m, 5, model);
        QuantPtr q = Uniform(32, 4 * std::sqrt(var) / 16);
        std::vector<float> x = field, err(rows * cols);
        float rate, dist;
        SbcDpcmQuantPred(&rate, &dist, q.get(), coef, 0, err.data(), x.data(), IMG_REP_FLOAT, rows, cols, 0,
                         cols);
        EXPECT_NEAR(dist, Mse(field.data(), x.data(), rows * cols), 1e-4 * (1 + dist)) << model;
        EXPECT_FLOAT_EQ(rate, 5.0f);
        std::vector<float> y = field;
        float rate2, dist2;
        SbcDpcmQuantize(&rate2, &dist2, q.get(), coef, 0, y.data(), IMG_REP_FLOAT, rows, cols, 0, cols);
        EXPECT_EQ(x, y) << model;
        EXPECT_EQ(dist2, dist);
        // Channel errors leave the reported figures alone.
        std::vector<float> z = field;
        float rate3, dist3;
        SbcDpcmQuantize(&rate3, &dist3, q.get(), coef, 0.01f, z.data(), IMG_REP_FLOAT, rows, cols, 0, cols);
        EXPECT_EQ(dist3, dist);
        EXPECT_EQ(rate3, rate);
    }
}

TEST(Dpcm, LeftModelPredictsTheFirstSampleOfEachRowAsZero)
{
    const int rows = 3, cols = 4;
    std::vector<float> x = {5, 6, 7, 8, 1, 2, 3, 4, 9, 9, 9, 9}, err(12);
    const std::vector<float> orig = x;
    QuantPtr q = Uniform(64, 0.5f);
    const float coef[4] = {0, 0, 0, 1};
    float rate, dist;
    SbcDpcmQuantPred(&rate, &dist, q.get(), coef, 0, err.data(), x.data(), IMG_REP_FLOAT, rows, cols, 0,
                     cols);
    for (int r = 0; r < rows; ++r)
        EXPECT_EQ(err[r * cols], orig[r * cols]);
}

TEST_F(PinnedRand, PredictionNeverReachesOutsideTheWindow)
{
    // The window is columns 1..4 of a 6-column plane whose other columns hold huge values; its coding
    // must equal that of the same samples in a plane of their own, with and without errors.
    const int rows = 5, cols = 4, stride = 6;
    std::vector<float> alone = CorrelatedField(rows, cols, 0.5f, 9);
    QuantPtr q = Uniform(16, 2.0f);
    const float coef[4] = {0.25f, 0.25f, 0.25f, 0.25f};
    for (float p : {0.0f, 0.02f}) {
        std::vector<float> wide(rows * stride, 1e6f), a = alone;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c)
                wide[r * stride + 1 + c] = alone[r * cols + c];
        float r1, d1, r2, d2;
        zn::SeedRand(7);
        SbcDpcmQuantize(&r1, &d1, q.get(), coef, p, wide.data(), IMG_REP_FLOAT, rows, cols, 1, stride);
        zn::SeedRand(7);
        SbcDpcmQuantize(&r2, &d2, q.get(), coef, p, a.data(), IMG_REP_FLOAT, rows, cols, 0, cols);
        EXPECT_EQ(d1, d2);
        for (int r = 0; r < rows; ++r) {
            EXPECT_EQ(wide[r * stride], 1e6f);
            EXPECT_EQ(wide[r * stride + 5], 1e6f);
            for (int c = 0; c < cols; ++c)
                EXPECT_EQ(wide[r * stride + 1 + c], a[r * cols + c]) << "p " << p;
        }
    }
}

TEST(Dpcm, ByteAndIntegerPlanesTakeRoundedDecodedValues)
{
    QuantPtr q = Uniform(8, 3.0f);
    const float coef[4] = {0, 0, 0, 0}; // no prediction: decoded value = reconstruction level
    std::vector<uint8_t> b = {1, 4, 7, 10};
    std::vector<int32_t> i = {-1, 1, 4, 200};
    float rate, dist;
    SbcDpcmQuantize(&rate, &dist, q.get(), coef, 0, b.data(), IMG_REP_BYTE, 1, 4, 0, 4);
    SbcDpcmQuantize(&rate, &dist, q.get(), coef, 0, i.data(), IMG_REP_INT, 1, 4, 0, 4);
    // Reconstructions 1.5, 4.5, 7.5, 10.5 round up; -1.5 becomes -1 (add 0.5, truncate toward 0).
    EXPECT_EQ(b, (std::vector<uint8_t>{2, 5, 8, 11}));
    EXPECT_EQ(i, (std::vector<int32_t>{-1, 2, 5, 11}));
}

TEST(Dpcm, OnlyFixedLengthAndTableCodesGiveARate)
{
    QuantPtr q = Uniform(4, 1.0f);
    q->code->type = VLC_TYPE_ARITH;
    std::vector<float> x(6, 0.3f);
    const float coef[4] = {};
    zn::MessageRecorder rec;
    float rate = -1, dist;
    SbcDpcmQuantize(&rate, &dist, q.get(), coef, 0, x.data(), IMG_REP_FLOAT, 2, 3, 0, 3);
    EXPECT_EQ(rate, 0.0f);
    EXPECT_TRUE(rec.Contains("SbcDpcmQuantize-Only FLC and HUFF codewords allowed"));
}

TEST(Coders, RefuseAMissingQuantiserInsteadOfUsingIt)
{
    float x[4] = {1, 2, 3, 4};
    const float coef[4] = {};
    float rate, dist;
    EXPECT_THROW(SbcPcmQuantize(&rate, &dist, nullptr, 0, x, IMG_REP_FLOAT, 2, 2, 0, 2), zn::RunAborted);
    EXPECT_THROW(SbcDpcmQuantize(&rate, &dist, nullptr, coef, 0, x, IMG_REP_FLOAT, 2, 2, 0, 2),
                 zn::RunAborted);
    EXPECT_EQ(x[3], 4.0f);
}

TEST(ArithBits, CountsCloseToTheInformationContent)
{
    Vlc *v;
    AllocVlc(&v, 4, 1, 2);
    v->type = VLC_TYPE_ARITH;
    EXPECT_EQ(SbcArithBits(nullptr, 0, v), 31);
    struct Case
    {
        std::vector<int> freq; // sums to 65536
    };
    const Case cases[] = {{{16384, 16384, 16384, 16384}}, {{49152, 8192, 4096, 4096}}};
    std::mt19937 gen(2);
    for (const Case &c : cases) {
        std::vector<int> idx;
        std::discrete_distribution<int> d(c.freq.begin(), c.freq.end());
        for (int i = 0; i < 20000; ++i)
            idx.push_back(d(gen));
        double info = 0;
        for (int s = 0; s < 4; ++s)
            v->VlcCodeLen[s] = c.freq[s];
        for (int s : idx)
            info += -std::log2(c.freq[s] / 65536.0);
        const long bits = SbcArithBits(idx.data(), static_cast<long>(idx.size()), v);
        EXPECT_GE(bits, info);
        EXPECT_LE(bits, info * 1.01 + 64);
    }
    zn::MessageRecorder rec;
    int bad[2] = {1, 9};
    SbcArithBits(bad, 2, v);
    EXPECT_TRUE(rec.Contains("Invalid symbol index"));
    FreeVlc(v);
}

TEST(Statistics, MeanVarianceAndCorrelationByDefinition)
{
    const int rows = 6, cols = 7, stride = 9;
    std::mt19937 gen(4);
    std::uniform_int_distribution<int> u(0, 255);
    std::vector<uint8_t> b(rows * stride);
    std::vector<int32_t> iv(rows * stride);
    std::vector<float> f(rows * stride);
    for (int k = 0; k < rows * stride; ++k) {
        b[k] = static_cast<uint8_t>(u(gen));
        iv[k] = b[k] - 128;
        f[k] = b[k] * 0.5f;
    }
    auto at = [&](int r, int c) { return static_cast<double>(b[1 + r * stride + c]); };
    double m = 0, m2 = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            m += at(r, c), m2 += at(r, c) * at(r, c);
    const int n = rows * cols;
    m /= n;
    const double var = m2 / n - m * m;
    float mean, vari;
    SbcMean(&mean, b.data(), IMG_REP_BYTE, rows, cols, 1, stride);
    EXPECT_NEAR(mean, m, 1e-4);
    SbcMeanVari(&mean, &vari, iv.data(), IMG_REP_INT, rows, cols, 1, stride);
    EXPECT_NEAR(mean, m - 128, 1e-4);
    EXPECT_NEAR(vari, var, 1e-2);
    SbcVari(&vari, f.data(), IMG_REP_FLOAT, static_cast<float>(m / 2), rows, cols, 1, stride);
    EXPECT_NEAR(vari, var / 4, 1e-2);

    CorrMatrix cc;
    SbcCorr2d(cc.m, 5, b.data(), IMG_REP_BYTE, rows, cols, 1, stride);
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            double s = 0;
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < cols; ++c)
                    if (r + dy >= 0 && r + dy < rows && c + dx >= 0 && c + dx < cols)
                        s += (at(r + dy, c + dx) - m) * (at(r, c) - m);
            EXPECT_NEAR(cc.m[dy][dx], s / n, 1e-2) << dy << "," << dx;
        }

    CorrMatrix one;
    SbcCorr2d(one.m, 5, b.data(), IMG_REP_BYTE, 1, 1, 3, stride);
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            EXPECT_EQ(one.m[dy][dx], 0.0f);
}

TEST(YuleWalker2d, FlatImageGivesFiniteZeroCoefficients)
{
    std::vector<float> flat(16 * 16, 77.0f);
    for (int model = 1; model <= 4; ++model) {
        zn::MessageRecorder rec;
        CorrMatrix cc;
        SbcCorr2d(cc.m, 5, flat.data(), IMG_REP_FLOAT, 16, 16, 0, 16);
        float coef[4] = {9, 9, 9, 9}, var = -1;
        YuleWalker2d(&var, coef, cc.m, 5, model);
        EXPECT_EQ(var, 0.0f);
        const int slots[4] = {PRED_LEFT, PRED_UPPER, PRED_UPPER_LEFT, PRED_UPPER_RIGHT};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(coef[slots[i]], i < model ? 0.0f : 9.0f) << "model " << model << " slot " << slots[i];
        EXPECT_EQ(rec.Count(), 0u);
    }
}

TEST(YuleWalker2d, RecoversTheSourceOfAnAutoregressiveField)
{
    // x = 0.7 left + 0.7 up - 0.49 up-left + noise: model 3 recovers the three coefficients and the
    // noise variance; model 1 leaves the other slots as they were.
    std::vector<float> f = CorrelatedField(256, 256, 0.7f, 3);
    CorrMatrix cc;
    SbcCorr2d(cc.m, 5, f.data(), IMG_REP_FLOAT, 256, 256, 0, 256);
    float coef[4] = {0, 0, 0, 0}, var;
    YuleWalker2d(&var, coef, cc.m, 5, 3);
    EXPECT_NEAR(coef[PRED_LEFT], 0.7, 0.03);
    EXPECT_NEAR(coef[PRED_UPPER], 0.7, 0.03);
    EXPECT_NEAR(coef[PRED_UPPER_LEFT], -0.49, 0.03);
    EXPECT_NEAR(var, 100, 8);
    float c1[4] = {5, 6, 7, 0};
    YuleWalker2d(&var, c1, cc.m, 5, 1);
    EXPECT_EQ(c1[0], 5);
    EXPECT_EQ(c1[1], 6);
    EXPECT_EQ(c1[2], 7);
    zn::MessageRecorder rec;
    YuleWalker2d(&var, c1, cc.m, 5, 5);
    EXPECT_TRUE(rec.Contains("YuleWalker2d-Unknown prediction model"));
}

} // namespace quant_test
