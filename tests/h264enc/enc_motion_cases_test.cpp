// Worked cases of the motion refinement and of the 8x8 split, on pictures whose costs are known by
// construction: a flat picture where only the vector bits differ (so two half-sample positions tie
// exactly), and a flat picture with one 4x4 block of known levels whose coefficient cost is 5 or 6.
#include "h264enc/enc_run.h"
#include "h264enc/frame_store.h"
#include "h264enc/mode_decision.h"
#include "h264enc/motion_search.h"
#include "h264enc/quarter_plane.h"
#include "h264enc/slice_coder.h"
#include "h264enc/support/flat_reference.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <random>

namespace enc_motion_cases_test {

using namespace h264enc;

// A 32x32 P picture at macroblock 0 whose reference and source are flat 100 (chroma 128): every
// vector predicts the same samples, so costs differ by the vector bits alone.
std::unique_ptr<EncoderRun> FlatRun(int hadamard, int mb = 0)
{
    auto run = std::make_unique<EncoderRun>();
    EncoderParams &in = run->input;
    in.SourceWidth = in.SourceHeight = 32;
    in.NumberReferenceFrames = 1;
    in.SearchRange = 2;
    in.RestrictSearchRange = 2;
    in.UseHadamard = hadamard;
    in.InterSearch8x8 = in.InterSearch8x4 = in.InterSearch4x8 = in.InterSearch4x4 = 1;
    init_image_geometry(in, run->img);
    run->org_frame.allocate(32, 32, "test");
    run->rec_frame.allocate(32, 32, "test");
    run->img.type = kTypeP;
    run->img.qp = 28;
    set_macroblock_position(run->img, mb);
    run->img.CurrentMb().qp = 28;
    enctest::PrepareFlatReferenceMacroblock(*run);
    run->motion.lambda = 4;
    run->motion.fixed_lambda = 4 << 16;
    return run;
}

TEST(EncSubSampleRefinement, EqualHalfSampleCostsKeepTheEarlierPositionInSpiralOrder)
{
    // Prediction (0, 0), integer vector (0, 0), lambda 4. Half-sample stage (without Hadamard it does
    // not revisit the integer vector): (0, -2) and (0, 2) cost 4 x (1 + 5) = 24 each, the horizontal
    // ones the same, the diagonal ones 4 x (5 + 5). (0, -2) comes first in the spiral and must stay.
    // Quarter stage around it: (0, -1) costs 4 x (1 + 3) = 16, the least. Had (0, 2) won, the vector
    // would end at (0, 1).
    auto run = FlatRun(0);
    int mvx = 0, mvy = 0;
    const int cost = refine_sub_pel(*run, 0, 0, 0, 1, 0, 0, &mvx, &mvy, kMaxCost);
    EXPECT_EQ(mvx, 0);
    EXPECT_EQ(mvy, -1);
    EXPECT_EQ(cost, 16);
}

TEST(EncSubSampleRefinement, HadamardRevisitsTheIntegerVector)
{
    // With Hadamard the integer vector competes in the half-sample stage: 4 x (1 + 1) = 8, less the
    // bonus of a 16x16 block at the zero vector of reference 0 in a P picture, 16 x 4: -56. It beats
    // every other position, and no quarter position is cheaper.
    auto run = FlatRun(1);
    int mvx = 0, mvy = 0;
    const int cost = refine_sub_pel(*run, 0, 0, 0, 1, 0, 0, &mvx, &mvy, kMaxCost);
    EXPECT_EQ(mvx, 0);
    EXPECT_EQ(mvy, 0);
    EXPECT_EQ(cost, 8 - 64);
}

TEST(EncPSkip, EqualSkipCostKeepsTheSearchedVectorALowerOneTakesTheSkipVector)
{
    // Macroblock 3 of the flat picture, every neighbour at vector v with reference 0: the prediction
    // and the P-skip vector are v. Every sample cost is 0. The searched vector is (0, 0), its cost
    // 4 x (bits(-vx) + bits(-vy)) less the zero-vector bonus 64; the skip cost is 0 - floor(8 x 4 +
    // 0.4999) = -32. v = (1, 2): 4 x (3 + 5) - 64 = -32, a tie, so (0, 0) stays. v = (2, 2):
    // 4 x (5 + 5) - 64 = -24, and the skip vector takes over at -32.
    const struct
    {
        std::array<int, 2> v, want;
    } cases[] = {{{1, 2}, {0, 0}}, {{2, 2}, {2, 2}}};
    for (const auto &c : cases) {
        auto run = FlatRun(1, 3);
        MotionMaps &m = run->img.maps;
        std::fill(m.ref_map.begin(), m.ref_map.end(), 0);
        std::fill(m.mv_map.begin(), m.mv_map.end(), c.v);
        const int cost = search_block_motion(*run, 0, 16, 16, 1, 2);
        EXPECT_EQ(cost, -32) << c.v[0] << " " << c.v[1];
        EXPECT_EQ(run->motion.Mv(0, 1)[0][0], c.want) << c.v[0] << " " << c.v[1];
    }
}

// The residual of a 4x4 block whose core transform is k x n_i x n_j at (i, j) and 0 elsewhere (the
// basis rows are orthogonal with squared norms 4, 10, 4, 10).
void AddBasisProduct(int out[4][4], int i, int j, int k)
{
    static const int A[4][4] = {{1, 1, 1, 1}, {2, 1, -1, -2}, {1, -1, -1, 1}, {1, -2, 2, -1}};
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            out[x][y] += k * A[i][x] * A[j][y];
}

// Source block (bx, by): 100 plus a flat 4 (the DC level 1 at scan position 0, (64 x 8192 + 87381)
// >> 19 = 1) and a level 1 at scan position 2 ((0, 1): 3 x 40 with 5243) or 1 ((1, 0)). The cost of
// a lone one after a run of r zeros is 3, 2, 2, 1, ... (run 0: 3; run 1: 2): positions 0 and 2 cost
// 3 + 2 = 5, positions 0 and 1 cost 3 + 3 = 6.
void SetLevels(EncoderRun &run, int bx, int by, bool cost_six)
{
    int block[4][4] = {};
    for (auto &column : block)
        for (int &v : column)
            v = 4;
    if (cost_six)
        AddBasisProduct(block, 1, 0, 3);
    else
        AddBasisProduct(block, 0, 1, 3);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            run.org->y[by + y][bx + x] = static_cast<uint8_t>(100 + block[x][y]);
}

TEST(EncModeDecision, SplitOfCoefficientCostFiveDropsItsLumaSixKeepsIt)
{
    for (const bool six : {false, true}) {
        auto run = FlatRun(1);
        EncoderParams &in = run->input;
        in.InterSearch16x16 = in.InterSearch16x8 = in.InterSearch8x16 = 0; // the split is the inter mode
        SetLevels(*run, 12, 4, six);                                       // block 7, in quarter 1
        h264enc_encode_macroblock(*run);
        const MacroblockRecord &mb = run->img.CurrentMb();
        ASSERT_EQ(mb.mb_mode, kMode8x8) << six;
        if (six) {
            EXPECT_EQ(mb.coded_pattern & 15, 2);
            EXPECT_EQ(mb.coded_block_bits & 0xFFFF, 1 << 7);
            EXPECT_NE(run->rec->y[4][12], 100);
        } else {
            EXPECT_EQ(mb.coded_pattern & 15, 0);
            EXPECT_EQ(mb.coded_block_bits & 0xFFFF, 0);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    ASSERT_EQ(run->rec->y[y][x], 100) << "the prediction is the reconstruction";
        }
    }
}

TEST(EncQuarterBlock, FastReadEqualsTheClampedReadEverywhere)
{
    // A random 48x32 picture interpolated to quarter samples; blocks at random positions reaching far
    // past every edge, and every position of a band around the plane's borders.
    std::mt19937 rng(5);
    h264enc::Array2D<uint8_t> luma, plane;
    luma.allocate(32, 48, "test");
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            luma[y][x] = static_cast<uint8_t>(rng() % 2 == 0 ? rng() % 256 : (y % 2) * 255);
    plane.allocate(4 * 32 + 2 * kQuarterMargin, 4 * 48 + 2 * kQuarterMargin, "test");
    h264enc::Array2D<int> work;
    work.allocate(32 + 8, 2 * 48 + 16, "test");
    interpolate_quarter_plane(luma, work, plane);
    auto check = [&](int y4, int x4) {
        uint8_t fast[16], plain[16];
        quarter_block4x4(plane, y4, x4, fast);
        quarter_block4x4_reference(plane, y4, x4, plain);
        for (int k = 0; k < 16; ++k)
            ASSERT_EQ(fast[k], plain[k]) << y4 << " " << x4 << " " << k;
    };
    for (int n = 0; n < 20000; ++n)
        check(static_cast<int>(rng() % 400) - 150, static_cast<int>(rng() % 500) - 150);
    for (int y4 = -80; y4 < 4 * 32 + 80; ++y4)
        for (int x4 : {-80, -65, -64, -63, -17, -16, -15, -1, 0, 1, 4 * 48 - 13, 4 * 48 - 12, 4 * 48 - 11,
                       4 * 48 + 3, 4 * 48 + 4, 4 * 48 + 5, 4 * 48 + 80})
            check(y4, x4);
}

} // namespace enc_motion_cases_test
