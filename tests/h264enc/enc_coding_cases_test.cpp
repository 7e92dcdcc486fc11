// Worked values of the encoder's coding tools, each computed here from the quantiser formula and the
// coefficient costs rather than taken from the code: the rounding constant of I and P pictures, the
// cost that lets a chroma component drop lone ones, and the cost that protects larger luma levels.
#include "h264enc/enc_run.h"
#include "h264enc/slice_coder.h"
#include "h264enc/trans_quant.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace h264enc;

// A 16x16 picture, one macroblock, source and reconstruction allocated.
std::unique_ptr<EncoderRun> OneMacroblockRun(int type, int qp)
{
    auto run = std::make_unique<EncoderRun>();
    run->input.SourceWidth = 16;
    run->input.SourceHeight = 16;
    run->input.NumberReferenceFrames = 1;
    init_image_geometry(run->input, run->img);
    run->org_frame.allocate(16, 16, "test");
    run->rec_frame.allocate(16, 16, "test");
    run->img.type = type;
    run->img.qp = qp;
    set_macroblock_position(run->img, 0);
    run->img.CurrentMb().qp = qp;
    return run;
}

// The residual of a 4x4 block whose core transform is k x n_i x n_j at (i, j) and 0 elsewhere: the
// transform's basis rows are orthogonal with squared norms 4, 10, 4, 10, so the outer product of rows
// i and j transforms into a single coefficient.
void SingleCoefficientResidual(int out[4][4], int i, int j, int k)
{
    static const int A[4][4] = {{1, 1, 1, 1}, {2, 1, -1, -2}, {1, -1, -1, 1}, {1, -2, 2, -1}};
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            out[x][y] += k * A[i][x] * A[j][y];
}

TEST(EncTransQuant, TheTransformOfABasisProductIsOneCoefficient)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            int in[4][4] = {}, out[4][4];
            SingleCoefficientResidual(in, i, j, 1);
            forward4x4(in, out);
            const int n[4] = {4, 10, 4, 10};
            for (int a = 0; a < 4; ++a)
                for (int b = 0; b < 4; ++b)
                    ASSERT_EQ(out[a][b], a == i && b == j ? n[i] * n[j] : 0) << i << j << a << b;
        }
}

// At qp 28 (per 4, rem 4, 19 bits) a flat luma residual r has the single coefficient 16 r with
// multiplier 8192: level = (131072 r + f) >> 19 with f = 2^19 / 3 = 174762 (I) or 2^19 / 6 = 87381.
TEST(EncTransQuant, LumaBlockRoundingByPictureTypeAndItsCost)
{
    const struct
    {
        int type, r, level, cost;
    } cases[] = {
        {kTypeI, 3, 1, 3},      // 393216 + 174762 = 567978 >= 524288: a lone 1 at run 0 costs 3
        {kTypeP, 3, 0, 0},      // 393216 + 87381 = 480597 < 524288: nothing
        {kTypeB, 3, 0, 0},      // every non-I picture takes the smaller constant
        {kTypeP, 4, 1, 3},      // 524288 + 87381: a 1 again
        {kTypeP, 8, 2, 999999}, // 1048576 + 87381 = 1135957 >> 19 = 2: a level above 1
        {kTypeI, 8, 2, 999999},
    };
    for (const auto &c : cases) {
        auto run = OneMacroblockRun(c.type, 28);
        for (int x = 0; x < 16; ++x)
            for (int y = 0; y < 16; ++y) {
                run->mbw.resid[x][y] = c.r;
                run->mbw.pred[x][y] = 100;
            }
        int cost = 7; // the routine adds to what the caller has
        const int nonzero = h264enc_trans_quant_4x4(*run, 4, 8, &cost);
        const int(*list)[65] = run->img.cof.cofAC[2][1]; // quarter 2, block 1: offset (4, 8)
        EXPECT_EQ(nonzero, c.level != 0) << c.type << " " << c.r;
        EXPECT_EQ(list[0][0], c.level) << c.type << " " << c.r;
        EXPECT_EQ(list[0][c.level != 0 ? 1 : 0], 0) << "the list ends with a 0 level";
        EXPECT_EQ(cost, 7 + c.cost) << c.type << " " << c.r;
        if (c.level == 0) { // nothing kept: the reconstruction is the prediction
            EXPECT_EQ(run->rec->y[9][5], 100);
        }
    }
}

// Intra 16x16 coding rounds with 2^q / 3 in every picture type. One flat block of residual 11 has the
// DC 176; the Hadamard spreads it to 88 in all sixteen DC terms (the columns halved). At qp 28 the DC
// level is (88 x 8192 + 2f) >> 20: 720896 + 349524 = 1070420 gives 1; with the P constant it would be
// 720896 + 174762 = 895658, 0.
TEST(EncTransQuant, Intra16x16RoundsAsInIPicturesEvenInPPictures)
{
    for (int type : {kTypeI, kTypeP}) {
        auto run = OneMacroblockRun(type, 28);
        for (int x = 0; x < 16; ++x)
            for (int y = 0; y < 16; ++y) {
                run->mbw.intra16[2][x][y] = 100;
                run->org->y[y][x] = static_cast<uint8_t>(x < 4 && y < 4 ? 111 : 100);
            }
        EXPECT_EQ(h264enc_trans_quant_16x16(*run, 2), 0) << "no AC level";
        const int(*dc)[65] = run->img.cof.cofDC[0];
        for (int k = 0; k < 16; ++k) {
            EXPECT_EQ(dc[0][k], 1) << type << " " << k;
            EXPECT_EQ(dc[1][k], 0) << type << " " << k;
        }
        EXPECT_EQ(dc[0][16], 0);
    }
}

// Chroma at qp 28 (chroma qp 28) in a P picture: a coefficient 3 x 40 at a position with one odd
// coordinate quantises to (120 x 5243 + 87381) >> 19 = 716541 >> 19 = 1. Two such ones at zig-zag
// positions 1 and 8 have runs 0 and 6 (cost 3 + 0 = 3 < 4): dropped. At positions 1 and 2 the runs are
// 0 and 0 (cost 3 + 3 = 6): kept.
TEST(EncTransQuant, ChromaDropsLoneOnesBelowCostFour)
{
    const struct
    {
        int i2, j2; // the second coefficient; the first is at (1, 0)
        bool kept;
    } cases[] = {{1, 2, false}, {0, 1, true}};
    for (const auto &c : cases)
        for (int uv : {0, 1})
            for (int blk : {0, 3}) {
                auto run = OneMacroblockRun(kTypeP, 28);
                int block[4][4] = {};
                SingleCoefficientResidual(block, 1, 0, 3);
                SingleCoefficientResidual(block, c.i2, c.j2, 3);
                const int bx = blk % 2, by = blk / 2;
                for (int x = 0; x < 8; ++x)
                    for (int y = 0; y < 8; ++y) {
                        run->mbw.cpred[x][y] = 128;
                        run->mbw.resid[x][y] = x / 4 == bx && y / 4 == by ? block[x % 4][y % 4] : 0;
                    }
                const int pattern = h264enc_trans_quant_chroma(*run, uv, 0);
                const int bits = run->img.CurrentMb().coded_block_bits;
                const int(*list)[65] = run->img.cof.cofAC[4 + uv][blk];
                const std::string what =
                    "second at (" + std::to_string(c.i2) + ", " + std::to_string(c.j2) + ") uv " +
                    std::to_string(uv) + " block " + std::to_string(blk);
                EXPECT_EQ(run->img.cof.cofDC[1 + uv][0][0], 0) << what << ": no DC level";
                if (c.kept) {
                    EXPECT_EQ(pattern, 2) << what;
                    EXPECT_EQ(bits, 1 << (16 + 4 * uv + blk)) << what;
                    EXPECT_EQ(list[0][0], 1) << what;
                    EXPECT_EQ(list[1][0], 0) << what;
                    EXPECT_EQ(list[0][1], 1) << what;
                    EXPECT_EQ(list[1][1], 0) << what;
                    EXPECT_EQ(list[0][2], 0) << what;
                } else {
                    EXPECT_EQ(pattern, 0) << what;
                    EXPECT_EQ(bits, 0) << what;
                    EXPECT_EQ(list[0][0], 0) << what;
                    for (int x = 0; x < 8; ++x)
                        for (int y = 0; y < 8; ++y)
                            ASSERT_EQ(run->rec->uv[uv][y][x], 128) << what << ": the prediction stands";
                }
            }
}

// The pattern passed in is kept when the component adds nothing, and a dropped component does not
// lower it.
TEST(EncTransQuant, ChromaPatternIsNeverLowered)
{
    for (int before : {1, 2}) {
        auto run = OneMacroblockRun(kTypeP, 28);
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y)
                run->mbw.cpred[x][y] = 128;
        int block[4][4] = {};
        SingleCoefficientResidual(block, 1, 0, 3);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                run->mbw.resid[x][y] = block[x][y];
        EXPECT_EQ(h264enc_trans_quant_chroma(*run, 1, before), before);
    }
}

} // namespace
