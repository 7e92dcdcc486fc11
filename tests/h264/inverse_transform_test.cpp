// Inverse transforms against the published equations (rows d[i][j] = vertical i, horizontal j, as the
// standard writes them), closed forms of single coefficients, the luma DC scaling in the standard's
// two-branch form, and SP requantisation of flat predictions worked out by hand.
#include "h264dec/inverse_transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace inverse_transform_test { // one namespace per test file: a folder compiles as one source

namespace {

// The standard's residual transform: d[i][j] with i the row (vertical frequency).
void StandardInverse(const int d[4][4], int r[4][4])
{
    int f[4][4], h[4][4];
    for (int i = 0; i < 4; ++i) {
        const int e0 = d[i][0] + d[i][2], e1 = d[i][0] - d[i][2];
        const int e2 = (d[i][1] >> 1) - d[i][3], e3 = d[i][1] + (d[i][3] >> 1);
        f[i][0] = e0 + e3;
        f[i][1] = e1 + e2;
        f[i][2] = e1 - e2;
        f[i][3] = e0 - e3;
    }
    for (int j = 0; j < 4; ++j) {
        const int g0 = f[0][j] + f[2][j], g1 = f[0][j] - f[2][j];
        const int g2 = (f[1][j] >> 1) - f[3][j], g3 = f[1][j] + (f[3][j] >> 1);
        h[0][j] = g0 + g3;
        h[1][j] = g1 + g2;
        h[2][j] = g1 - g2;
        h[3][j] = g0 - g3;
    }
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r[i][j] = h[i][j]; // row i, column j
}

TEST(H264InverseTransform, MatchesTheEquationsOnRandomAndExtremeBlocks)
{
    std::mt19937 rng(11);
    for (int t = 0; t < 3000; ++t) {
        const int range = t % 3 == 0 ? 64 : t % 3 == 1 ? 4096 : 1 << 15;
        std::uniform_int_distribution<int> c(-range, range);
        int coef[4][4], pred[4][4], d[4][4];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                coef[i][j] = t % 7 == 6 ? ((i + j) % 2 ? -range : range) : c(rng);
                pred[i][j] = t % 5 == 4 ? 255 * ((i * j) % 2) : static_cast<int>(rng() % 256);
            }
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                d[i][j] = coef[j][i]; // ours: [horizontal][vertical]
        int r[4][4], recon[4][4], resid[4][4];
        StandardInverse(d, r);
        h264dec_itrans4x4_kernel(coef, pred, recon, resid);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y) {
                ASSERT_EQ(recon[x][y], std::clamp((r[y][x] + 64 * pred[x][y] + 32) >> 6, 0, 255));
                ASSERT_EQ(resid[x][y], std::clamp((r[y][x] + 32) >> 6, 0, 255));
            }
    }
}

TEST(H264InverseTransform, SingleCoefficientsGiveTheirBasisPictures)
{
    const int zero[4][4] = {};
    // DC: every sample (c + 32) >> 6.
    for (int c : {-640, -64, 0, 31, 32, 64, 6400}) {
        int coef[4][4] = {}, resid[4][4];
        coef[0][0] = c;
        h264dec_itrans4x4_kernel(coef, zero, nullptr, resid);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                EXPECT_EQ(resid[x][y], std::clamp((c + 32) >> 6, 0, 255));
    }
    // The first horizontal frequency: c, c/2, -c/2, -c across every row; a negative residual reads 0.
    int coef[4][4] = {}, recon[4][4], resid[4][4], pred[4][4];
    for (auto &col : pred)
        std::fill(std::begin(col), std::end(col), 100);
    coef[1][0] = 64 * 40;
    h264dec_itrans4x4_kernel(coef, pred, recon, resid);
    const int wantResid[4] = {40, 20, 0, 0}, wantRecon[4] = {140, 120, 80, 60};
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            EXPECT_EQ(resid[x][y], wantResid[x]);
            EXPECT_EQ(recon[x][y], wantRecon[x]);
        }
}

TEST(H264InverseTransform, DecoderBlockUsesItsPredictionOffsetAndWritesBothPlanes)
{
    DecoderImage img;
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 16; ++y)
            img.pred_block[x][y] = x * 16 + y;
    img.coef[2][3][0][0] = -64 * 5;
    h264dec_itrans_4x4(img, 8, 12, 2, 3);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            EXPECT_EQ(img.resid_block[x][y], (8 + x) * 16 + 12 + y - 5);
            EXPECT_EQ(img.work_block[x][y], 0);
        }
}

// The standard's luma DC: f = H c H, then dcY with LevelScale4x4 = 16 x ours, in two branches.
TEST(H264InverseTransform, LumaDcMatchesTheStandardScaling)
{
    static const int kNorm[6] = {10, 11, 13, 14, 16, 18};
    static const int H[4][4] = {{1, 1, 1, 1}, {1, 1, -1, -1}, {1, -1, -1, 1}, {1, -1, 1, -1}};
    std::mt19937 rng(2);
    std::uniform_int_distribution<int> lv(-300, 300);
    for (int qp = 0; qp < 52; ++qp)
        for (int t = 0; t < 20; ++t) {
            DecoderImage img;
            img.qp = qp;
            int c[4][4]; // [row][column] of the DC grid
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j) {
                    c[i][j] = t == 0 ? (i + j) % 2 ? -2000 : 2000 : lv(rng);
                    img.coef[j][i][0][0] = c[i][j];
                }
            h264dec_itrans_luma_dc(img);
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j) {
                    long f = 0;
                    for (int a = 0; a < 4; ++a)
                        for (int b = 0; b < 4; ++b)
                            f += H[i][a] * c[a][b] * H[b][j];
                    const long ls = 16L * kNorm[qp % 6];
                    const long want =
                        qp >= 36 ? (f * ls) << (qp / 6 - 6) : (f * ls + (1L << (5 - qp / 6))) >> (6 - qp / 6);
                    ASSERT_EQ(img.coef[j][i][0][0], want) << "qp " << qp;
                }
        }
}

TEST(H264InverseTransform, SignTakesTheMagnitudeOfTheFirst)
{
    EXPECT_EQ(h264dec_sign(-5, 1), 5);
    EXPECT_EQ(h264dec_sign(5, 0), -5);
    EXPECT_EQ(h264dec_sign(5, -3), -5);
    EXPECT_EQ(h264dec_sign(0, -3), 0);
}

TEST(H264InverseTransform, ForwardTransformOfAFlatBlockIsItsDcOnly)
{
    int in[4][4], out[4][4];
    for (auto &col : in)
        std::fill(std::begin(col), std::end(col), 9);
    h264dec_forward4x4_kernel(in, out);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(out[i][j], i == 0 && j == 0 ? 16 * 9 : 0);
}

// With no residual an SP block is its prediction quantised at qs. At qs 28 (scale 16 << 4, multiplier
// 8192 >> 19) a flat luma prediction p becomes 4 x floor((p + 2) / 4); chroma (qsc 28, DC through the
// 2x2 transform) becomes 2 x floor((p + 1) / 2).
TEST(H264InverseTransform, SpRequantisesFlatPredictionsToTheSwitchingGrid)
{
    for (int p : {0, 1, 2, 100, 101, 102, 103, 253, 255}) {
        DecoderImage img;
        img.type = kPictureSP;
        img.qp = 20;
        img.qpsp = 28;
        for (auto &col : img.pred_block)
            std::fill(std::begin(col), std::end(col), p);
        h264dec_itrans_sp(img, 4, 4, 1, 1);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                ASSERT_EQ(img.resid_block[x][y], std::min(255, 4 * ((p + 2) / 4))) << p;

        h264dec_itrans_sp_chroma(img, 2);
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y)
                ASSERT_EQ(img.pred_block[x][y], 0);
        for (int bx = 0; bx < 2; ++bx)
            for (int by = 0; by < 2; ++by) {
                h264dec_itrans_4x4(img, 0, 0, 2 + bx, 4 + by);
                ASSERT_EQ(img.resid_block[1][2], std::min(255, 2 * ((p + 1) / 2))) << p;
            }
    }
}

// A residual level on top of the prediction: level x scale x A moves into the prediction's transform
// domain; quantised again at qs = q it returns the same level when the prediction is zero.
TEST(H264InverseTransform, SpWithZeroPredictionKeepsTheLevelAtEqualQuantisers)
{
    static const int kNorm[6][3] = {{10, 16, 13}, {11, 18, 14}, {13, 20, 16},
                                    {14, 23, 18}, {16, 25, 20}, {18, 29, 23}};
    for (int qs : {10, 24, 28, 40}) {
        for (int pos = 0; pos < 16; ++pos) {
            const int i = pos % 4, j = pos / 4;
            const int kind = (i % 2 == 0 && j % 2 == 0) ? 0 : (i % 2 && j % 2) ? 1 : 2;
            for (int level : {-3, 1, 7}) {
                DecoderImage img;
                img.type = kPictureSP;
                img.sp_switch = 1; // q = qs
                img.qpsp = qs;
                img.coef[0][0][i][j] = (level * kNorm[qs % 6][kind]) << (qs / 6);
                DecoderImage plain;
                plain.coef[0][0][i][j] = img.coef[0][0][i][j];
                h264dec_itrans_sp(img, 0, 0, 0, 0);
                const int zero[4][4] = {};
                int recon[4][4];
                h264dec_itrans4x4_kernel(plain.coef[0][0], zero, recon, nullptr);
                for (int x = 0; x < 4; ++x)
                    for (int y = 0; y < 4; ++y)
                        ASSERT_EQ(img.resid_block[x][y], recon[x][y]) << qs << " " << pos << " " << level;
            }
        }
    }
}

// The kernels the decoder runs equal the plain two-pass reference: random blocks, DC-only and empty
// blocks (its shortcuts), and extreme coefficients and predictions.
TEST(InverseTransform, FastKernelEqualsTheReference)
{
    std::mt19937 rng(21);
    for (int trial = 0; trial < 20000; ++trial) {
        int coef[4][4] = {}, pred[4][4];
        const int kind = trial % 5;
        const int range = kind == 4 ? 1 << 22 : 4096;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                const bool keep = kind == 0 || (kind == 1 && i == 0 && j == 0) || kind >= 3 ||
                                  (kind == 2 && rng() % 8 == 0);
                coef[i][j] = keep ? static_cast<int>(rng() % (2 * range + 1)) - range : 0;
                pred[i][j] = kind == 3 ? (rng() % 2 ? 255 : 0) : static_cast<int>(rng() % 256);
            }
        if (trial % 7 == 0)
            coef[0][0] = 0;
        int r1[4][4], r2[4][4], s1[4][4], s2[4][4];
        h264dec_itrans4x4_kernel(coef, pred, r1, s1);
        h264dec_itrans4x4_reference(coef, pred, r2, s2);
        // The row kernel of the reconstruction, into another block and in place over its prediction.
        uint8_t rows[4 * 7], out[4 * 5];
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                rows[7 * y + x] = static_cast<uint8_t>(pred[x][y]);
        h264dec_itrans4x4_add(coef, rows, 7, out, 5);
        h264dec_itrans4x4_add(coef, rows, 7, rows, 7);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y) {
                ASSERT_EQ(r1[x][y], r2[x][y]) << trial;
                ASSERT_EQ(s1[x][y], s2[x][y]) << trial;
                ASSERT_EQ(out[5 * y + x], r2[x][y]) << trial;
                ASSERT_EQ(rows[7 * y + x], r2[x][y]) << trial;
            }
    }
}

} // namespace

} // namespace inverse_transform_test
