// Picture-level steps: weight tables (default, explicit copies, implicit from order distances, worked
// out here by hand for I0 P3 B1), field split and merge, and the co-located motion kept in frame and
// field form for direct prediction.
#include "h264dec/picture_fields.h"
#include "h264dec/picture_weights.h"
#include "h264dec/slice_header.h"

#include <gtest/gtest.h>

#include <random>

namespace picture_control_test { // one namespace per test file: a folder compiles as one source

namespace {

TEST(H264PictureWeights, DefaultWeightsAreOneAtTheDenominator)
{
    DecoderImage img;
    img.luma_log_weight_denom = 3;
    img.chroma_log_weight_denom = 0;
    dec_default_weights(img);
    EXPECT_EQ(img.wp_weight[1][14][0], 8);
    EXPECT_EQ(img.wp_weight[0][3][2], 1);
    dec_weight_rounding(img);
    EXPECT_EQ(img.wp_round_luma, 4);
    EXPECT_EQ(img.wp_round_chroma, 0);
}

// Order counts I0 = 0, P3 = 6 and the non-reference B1 = 2: list 0 index 0 is I0, list 1 index 0 P3.
// tb / td = 2 / 6: tx = (16384 + 3) / 6 = 2731, scale (2 x 2731 + 32) >> 6 = 85, weights 43 and 21.
TEST(H264PictureWeights, ImplicitWeightsFollowTheOrderDistances)
{
    struct Case
    {
        int p3Poc;
        int w0, w1;
    };
    for (const Case c : {Case{6, 43, 21}, Case{0, 32, 32}, Case{4, 32, 32}}) {
        H264DecoderState dec;
        dec_push_poc_history(dec, 0, 0, 1);
        dec_push_poc_history(dec, c.p3Poc, c.p3Poc, 1);
        dec_push_poc_history(dec, 2, 2, 0);
        DecoderImage &img = dec.img;
        img.type = kPictureB;
        img.non_reference = 1;
        img.weighted_bipred_idc = 2;
        img.num_ref_idx_active_fwd = img.num_ref_idx_active_bwd = 1;
        img.wp_offset[0][0][0] = 9; // left by an explicitly weighted P picture
        img.wp_offset[1][0][2] = -4;
        dec_bipred_weights(dec);
        EXPECT_EQ(img.wp_offset[0][0][0], 0);
        EXPECT_EQ(img.wp_offset[1][0][2], 0);
        if (c.p3Poc == 4) {
            // tb 2, td 4: tx 4096, scale 128, weights 32 and 32 by the formula itself.
            EXPECT_EQ(img.wbp_weight[0][0][0][0], 32);
        }
        EXPECT_EQ(img.wbp_weight[0][0][0][0], c.w0) << c.p3Poc;
        EXPECT_EQ(img.wbp_weight[1][0][0][2], c.w1);
        EXPECT_EQ(img.luma_log_weight_denom, 5);
        EXPECT_EQ(img.wp_round_chroma, 16);
        EXPECT_EQ(img.wp_weight[1][7][1], 32);
    }
}

TEST(H264PictureWeights, ExplicitBiWeightsCopyBothLists)
{
    H264DecoderState dec;
    DecoderImage &img = dec.img;
    img.type = kPictureB;
    img.weighted_bipred_idc = 1;
    img.num_ref_idx_active_fwd = 2;
    img.num_ref_idx_active_bwd = 3;
    img.wp_weight[0][1][0] = 5;
    img.wp_weight[1][2][0] = 9;
    dec_bipred_weights(dec);
    EXPECT_EQ(img.wbp_weight[0][1][2][0], 5);
    EXPECT_EQ(img.wbp_weight[1][1][2][0], 9);
    // P pictures leave the table alone.
    img.type = kPictureP;
    img.wp_weight[0][1][0] = 6;
    dec_bipred_weights(dec);
    EXPECT_EQ(img.wbp_weight[0][1][2][0], 5);
}

// A reference B picture weighs backward index 0 with entry 1 (indices 0 and 1 trade places), so with
// one backward reference the table must hold entry 1, not what an earlier picture left there.
// History, newest first: 12 (itself), 8, 4, 0. Forward index 1 is 4, entry 1 of list 1 is 8: td = 4,
// tb = 8, tx = (16384 + 2) / 4 = 4096, scale (8 x 4096 + 32) >> 6 = 512, weights -64 and 128.
TEST(H264PictureWeights, ReferenceBWithOneBackwardReferenceFillsTheEntryItReads)
{
    for (const int idc : {2, 1}) {
        H264DecoderState dec;
        for (int poc : {0, 4, 8, 12})
            dec_push_poc_history(dec, poc, poc, 1);
        DecoderImage &img = dec.img;
        img.type = kPictureB;
        img.non_reference = 0;
        img.weighted_bipred_idc = idc;
        img.num_ref_idx_active_fwd = 2;
        img.num_ref_idx_active_bwd = 1;
        for (auto &w : img.wbp_weight[0][1][1])
            w = -7; // left by an earlier picture
        img.wp_weight[0][1][0] = 40;
        img.wp_weight[1][1][0] = 32;
        dec_bipred_weights(dec);
        if (idc == 2) {
            EXPECT_EQ(img.wbp_weight[0][1][1][0], -64);
            EXPECT_EQ(img.wbp_weight[1][1][1][2], 128);
            EXPECT_EQ(img.wbp_weight[0][0][1][0], 32); // forward index 0 is 8 too: td = 0
        } else {
            EXPECT_EQ(img.wbp_weight[0][1][1][0], 40);
            EXPECT_EQ(img.wbp_weight[1][1][1][0], 32);
        }
    }
    // A non-reference B picture reads only the active entries.
    EXPECT_EQ(dec_backward_weight_entries(1, false), 1);
    EXPECT_EQ(dec_backward_weight_entries(1, true), 2);
    EXPECT_EQ(dec_backward_weight_entries(3, true), 3);
}

TEST(H264PictureFields, SplitAndMergeInterleaveRows)
{
    DecodedPlanes frame, top, bottom, back;
    frame.y.Reset(8, 4);
    frame.uv.Reset(2, 4, 2);
    for (DecodedPlanes *p : {&top, &bottom}) {
        p->y.Reset(4, 4);
        p->uv.Reset(2, 2, 2);
    }
    back.y.Reset(8, 4);
    back.uv.Reset(2, 4, 2);
    for (int r = 0; r < 8; ++r)
        for (int x = 0; x < 4; ++x)
            frame.y[r][x] = static_cast<uint8_t>(10 * r + x);
    for (int c = 0; c < 2; ++c)
        for (int r = 0; r < 4; ++r)
            for (int x = 0; x < 2; ++x)
                frame.uv[c][r][x] = static_cast<uint8_t>(100 * c + 10 * r + x);
    dec_split_planes(frame, top, bottom);
    EXPECT_EQ(top.y[2][1], 41);
    EXPECT_EQ(bottom.y[2][1], 51);
    EXPECT_EQ(bottom.uv[1][1][0], 130);
    dec_merge_planes(top, bottom, back);
    EXPECT_TRUE(std::equal(frame.y.Data(), frame.y.Data() + 32, back.y.Data()));
    EXPECT_TRUE(std::equal(frame.uv[1].Data(), frame.uv[1].Data() + 8, back.uv[1].Data()));
}

struct Motion
{
    Array3D<int> mv;
    Array2D<int> ref, moving;
    ColocatedMotion view;
    Motion(int cols, int rows)
    {
        mv.Reset(cols + 4, rows, 3);
        ref.Reset(rows, cols);
        moving.Reset(rows, cols);
        view = ColocatedMotion{&mv, &ref, &moving};
    }
};

TEST(H264PictureFields, FrameMotionGivesFieldMotionAndMovingFlags)
{
    const int cols = 8, rows = 8;
    Motion frame(cols, rows), top(cols, rows / 2), bottom(cols, rows / 2);
    std::mt19937 rng(6);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols + 4; ++x) {
            frame.mv[x][y][0] = static_cast<int>(rng() % 5) - 2;
            frame.mv[x][y][1] = static_cast<int>(rng() % 9) - 4;
            if (x < cols)
                frame.ref[y][x] = static_cast<int>(rng() % 3) - 1;
        }
    dec_save_direct_motion(frame.view, top.view, bottom.view, true, cols, rows);
    auto still = [&](int x, int y) {
        return frame.ref[y][x] == 0 && std::abs(frame.mv[x + 4][y][0]) <= 1 &&
               std::abs(frame.mv[x + 4][y][1]) <= 1;
    };
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            ASSERT_EQ(frame.moving[y][x], still(x, y) ? 0 : 1);
    for (Motion *f : {&top, &bottom})
        for (int k = 0; k < rows / 2; ++k)
            for (int x = 0; x < cols; ++x) {
                ASSERT_EQ(f->mv[x + 4][k][0], frame.mv[x + 4][2 * k][0]);
                ASSERT_EQ(f->mv[x + 4][k][1], frame.mv[x + 4][2 * k][1] / 2); // -3 gives -1
                const int fr = frame.ref[2 * (k & ~1)][x & ~1];
                ASSERT_EQ(f->ref[k][x], fr == -1 ? -1 : 2 * fr);
                ASSERT_EQ(f->moving[k][x], still(x, 2 * k) && still(x, 2 * k + 1) ? 0 : 1);
            }
}

TEST(H264PictureFields, FieldPairMotionGivesFrameMotion)
{
    const int cols = 4, rows = 8;
    Motion frame(cols, rows), top(cols, rows / 2), bottom(cols, rows / 2);
    std::mt19937 rng(8);
    for (Motion *f : {&top, &bottom})
        for (int y = 0; y < rows / 2; ++y)
            for (int x = 0; x < cols + 4; ++x) {
                f->mv[x][y][0] = static_cast<int>(rng() % 3) - 1;
                f->mv[x][y][1] = static_cast<int>(rng() % 3) - 1;
                if (x < cols)
                    f->ref[y][x] = static_cast<int>(rng() % 4) - 1;
            }
    dec_save_direct_motion(frame.view, top.view, bottom.view, false, cols, rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            ASSERT_EQ(frame.mv[x + 4][y][1], 2 * top.mv[x + 4][y / 2][1]);
            const int tr = top.ref[(y / 4) * 2][x & ~1];
            ASSERT_EQ(frame.ref[y][x], tr == -1 ? -1 : tr / 2);
            ASSERT_EQ(frame.moving[y][x], top.moving[y / 2][x] || bottom.moving[y / 2][x] ? 1 : 0);
            ASSERT_EQ(top.moving[y / 2][x], dec_block_is_still(top.view, x, y / 2) ? 0 : 1);
        }
}

TEST(H264PictureFields, ReferenceBPictureBecomesTheCoLocatedPicture)
{
    Motion into(4, 4);
    Array3D<int> fwdMv;
    Array2D<int> fwdRef;
    fwdMv.Reset(8, 4, 2);
    fwdRef.Reset(4, 4);
    fwdMv[4 + 2][3][1] = -7;
    fwdRef[3][2] = 2;
    dec_save_b_motion(fwdMv, fwdRef, into.view, 4, 4);
    EXPECT_EQ(into.mv[4 + 2][3][1], -7);
    EXPECT_EQ(into.ref[3][2], 2);
}

} // namespace

} // namespace picture_control_test
