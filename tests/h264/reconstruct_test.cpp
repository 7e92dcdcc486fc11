// Macroblock reconstruction over hand-set records: each case states the macroblock's motion and
// reference pictures, and the expected samples come from the kernels' definitions or closed forms
// computed here (integer vectors copy, bilinear chroma, (10 + 11 + 1) / 2, weights, direct modes).
#include "h264dec/luma_interp.h"
#include "h264dec/macroblock.h"
#include "h264dec/reconstruct.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace reconstruct_test { // one namespace per test file: a folder compiles as one source

namespace {

// A 32x32 picture (2x2 macroblocks) with reference pictures, reconstructing macroblock (1, 1).
struct Fixture
{
    H264DecoderState dec;
    DecodedPlanes cur;
    std::vector<std::unique_ptr<DecodedPlanes>> refs;
    LumaRefList mref;
    ChromaRefList mcef;

    Fixture()
    {
        DecoderImage &img = dec.img;
        img.width = img.height = 32;
        img.width_cr = img.height_cr = 16;
        dec_alloc_macroblock_arrays(dec, 32, 32);
        dec_start_picture_arrays(dec);
        for (auto &mb : *img.mb_data)
            mb.slice_number = 0;
        cur.y.Reset(32, 32);
        cur.uv.Reset(2, 16, 16);
        dec.cur_pic_y = &cur.y;
        dec.cur_pic_uv = &cur.uv;
        dec.mref = &mref;
        dec.mcef = &mcef;
        img.type = kPictureP;
        At(1, 1);
    }
    void At(int mbx, int mby)
    {
        DecoderImage &img = dec.img;
        img.mb_x = mbx;
        img.mb_y = mby;
        img.mb_index = img.current_mb_nr = mby * 2 + mbx;
        img.block_x = 4 * mbx;
        img.block_y = 4 * mby;
        img.pix_x = 16 * mbx;
        img.pix_y = 16 * mby;
        img.pix_c_x = 8 * mbx;
        img.pix_c_y = 8 * mby;
    }
    DecoderMacroblock &Mb() { return (*dec.img.mb_data)[static_cast<size_t>(dec.img.mb_index)]; }
    // A reference picture: flat when value >= 0, otherwise random.
    DecodedPlanes &AddRef(int value, unsigned seed = 1)
    {
        refs.push_back(std::make_unique<DecodedPlanes>());
        DecodedPlanes &p = *refs.back();
        p.y.Reset(32, 32);
        p.uv.Reset(2, 16, 16);
        std::mt19937 rng(seed);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                p.y[y][x] = static_cast<uint8_t>(value >= 0 ? value : static_cast<int>(rng() % 256));
        for (int c = 0; c < 2; ++c)
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    p.uv[c][y][x] = static_cast<uint8_t>(value >= 0 ? value : static_cast<int>(rng() % 256));
        mref.push_back(&p.y);
        mcef.push_back(&p.uv);
        return p;
    }
    // The whole macroblock as one partition of list 0 (P) with reference r and vector (vx, vy).
    void PMotion(int r, int vx, int vy)
    {
        DecoderImage &img = dec.img;
        DecoderMacroblock &mb = Mb();
        mb.mb_type = kMb16x16;
        for (int q = 0; q < 4; ++q) {
            mb.sub_mode[q] = 1;
            mb.sub_pred_dir[q] = 0;
        }
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                (*img.ref_idx_arr)[img.block_y + j][img.block_x + i] = r;
                (*img.mv)[img.block_x + i + 4][img.block_y + j][0] = vx;
                (*img.mv)[img.block_x + i + 4][img.block_y + j][1] = vy;
            }
    }
    void BMotion(int dir, int subMode, int fr, int br, int fvx = 0, int fvy = 0)
    {
        DecoderImage &img = dec.img;
        img.type = kPictureB;
        DecoderMacroblock &mb = Mb();
        mb.mb_type = subMode == 0 ? kMbSkipOrDirect : kMb16x16;
        for (int q = 0; q < 4; ++q) {
            mb.sub_mode[q] = subMode;
            mb.sub_pred_dir[q] = dir;
        }
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                (*img.fwd_ref)[img.block_y + j][img.block_x + i] = fr;
                (*img.bwd_ref)[img.block_y + j][img.block_x + i] = br;
                (*img.fwd_mv)[img.block_x + i + 4][img.block_y + j][0] = fvx;
                (*img.fwd_mv)[img.block_x + i + 4][img.block_y + j][1] = fvy;
            }
    }
    int Y(int x, int y) const { return cur.y[16 + y][16 + x]; }
    int U(int c, int x, int y) const { return cur.uv[c][8 + y][8 + x]; }
};

int Bilinear(const Array2D<uint8_t> &p, int X, int Y)
{
    // Positions inside the plane here: floor and ceiling by hand.
    const int x0 = X >> 3, y0 = Y >> 3, fx = X & 7, fy = Y & 7;
    const int x1 = std::min(x0 + 1, 15), y1 = std::min(y0 + 1, 15);
    return ((8 - fx) * (8 - fy) * p[y0][x0] + fx * (8 - fy) * p[y0][x1] + (8 - fx) * fy * p[y1][x0] +
            fx * fy * p[y1][x1] + 32) /
           64;
}

TEST(H264Reconstruct, PIntegerVectorCopiesAndChromaInterpolatesInEighths)
{
    Fixture f;
    DecodedPlanes &r0 = f.AddRef(-1, 7);
    f.PMotion(0, -8, -4); // (-2, -1) luma samples; (-1, -0.5) chroma samples
    ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 16; ++y)
            ASSERT_EQ(f.Y(x, y), r0.y[16 + y - 1][16 + x - 2]);
    for (int c = 0; c < 2; ++c)
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y)
                ASSERT_EQ(f.U(c, x, y), Bilinear(r0.uv[c], -8 + 8 * (8 + x), -4 + 8 * (8 + y)));
}

TEST(H264Reconstruct, PQuarterVectorsFetchTheInterpolatedBlocksAndAddTheResidual)
{
    for (int v = 0; v < 16; ++v) {
        Fixture f;
        f.AddRef(-1, 3);
        const int vx = -5 + v % 4, vy = 3 + v / 4;
        f.PMotion(0, vx, vy);
        f.dec.img.coef[1][2][0][0] = 64 * 5; // +5 on block (1, 2) (clipped at 255)
        ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
        LumaPlaneView view{f.mref[0], 32, 31};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                int blk[4][4];
                h264dec_luma_block_reference(view, 4 * (16 + 4 * i) + vx, 4 * (16 + 4 * j) + vy, blk);
                for (int x = 0; x < 4; ++x)
                    for (int y = 0; y < 4; ++y) {
                        const int add = i == 1 && j == 2 ? 5 : 0;
                        ASSERT_EQ(f.Y(4 * i + x, 4 * j + y), std::min(255, blk[x][y] + add));
                    }
            }
    }
}

TEST(H264Reconstruct, BiPredictionRoundsUpAndUsesTheForwardListOffset)
{
    Fixture f;
    f.AddRef(11); // entry 0: backward index 0
    f.AddRef(10); // entry 1: forward index 0 past the offset
    f.dec.img.ref_poc = 4;
    f.dec.img.frame_poc_half = 1; // the B picture precedes its latest reference
    f.dec.img.non_reference = 1;
    f.BMotion(2, 1, 0, 0);
    int fo = 0, bo = 0;
    h264dec_b_list_offsets(f.dec.img, fo, bo);
    EXPECT_EQ(fo, 1);
    EXPECT_EQ(bo, 0);
    ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
    EXPECT_EQ(f.Y(3, 9), 11);
    EXPECT_EQ(f.U(1, 2, 2), 11);
    // One direction each.
    f.BMotion(0, 1, 0, 0);
    ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
    EXPECT_EQ(f.Y(0, 0), 10);
    f.BMotion(1, 1, 0, 0);
    ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
    EXPECT_EQ(f.Y(0, 0), 11);
}

TEST(H264Reconstruct, OffsetsOfFieldsAndTopFieldsOfNonReferenceB)
{
    DecoderImage img;
    img.type = kPictureB;
    img.structure = kTopField;
    img.field_poc = 3;
    img.ref_poc = 4;
    img.non_reference = 1;
    int fo = 0, bo = 0;
    h264dec_b_list_offsets(img, fo, bo);
    EXPECT_EQ(fo, 2);
    EXPECT_EQ(bo, 1);
    img.structure = kBottomField;
    img.ref_poc = 3;
    h264dec_b_list_offsets(img, fo, bo);
    EXPECT_EQ(fo, 0);
    EXPECT_EQ(bo, 0);
    img.type = kPictureP;
    img.ref_poc = 9;
    h264dec_b_list_offsets(img, fo, bo);
    EXPECT_EQ(fo, 0);
}

TEST(H264Reconstruct, ExplicitAndBiPredictiveWeights)
{
    struct Case
    {
        int dir, denom, w0, w1, o0, o1, want;
    };
    // One direction: ((w p + 2^(d-1)) >> d) + o, clipped. Two: ((p0 w0 + p1 w1 + 2^d) >> (d + 1)) + the
    // rounded mean offset; 32/32 at denominator 5 is the plain mean; denominator 0 rounds the pair by 1.
    const Case cases[] = {
        {0, 1, 3, 0, -5, 0, ((3 * 10 + 1) >> 1) - 5},
        {0, 0, 30, 0, 0, 0, 255},
        {1, 2, 2, 2, 0, -20, 0},
        {2, 5, 32, 32, 0, 0, 11},
        {2, 0, 1, 1, 0, 0, 11},
        {2, 1, 1, 3, 3, 4, ((10 + 33 + 2) >> 2) + 4},
    };
    for (const Case &c : cases) {
        Fixture f;
        f.AddRef(11);
        f.AddRef(10);
        DecoderImage &img = f.dec.img;
        img.ref_poc = 4;
        img.frame_poc_half = 1;
        img.non_reference = 1;
        img.apply_weights = 1;
        img.luma_log_weight_denom = img.chroma_log_weight_denom = c.denom;
        img.wp_round_luma = img.wp_round_chroma = c.denom > 0 ? 1 << (c.denom - 1) : 0;
        for (int comp = 0; comp < 3; ++comp) {
            img.wp_weight[0][0][comp] = c.w0;
            img.wp_weight[1][0][comp] = c.w1;
            img.wp_offset[0][0][comp] = c.o0;
            img.wp_offset[1][0][comp] = c.o1;
            img.wbp_weight[0][0][0][comp] = c.w0;
            img.wbp_weight[1][0][0][comp] = c.w1;
        }
        f.BMotion(c.dir, 1, 0, 0);
        ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
        EXPECT_EQ(f.Y(5, 5), c.want) << c.dir << " " << c.denom;
        EXPECT_EQ(f.U(0, 5, 5), c.want);
    }
}

TEST(H264Reconstruct, TemporalDirectScalesTheCoLocatedVector)
{
    struct Case
    {
        int colRef, vx, vy, refPoc, refPocPrev;
        int fwd[2], bwd[2];
    };
    // dist 4, td 4, t 2: scale 128, forward (128 v + 128) >> 8, backward (-128 v + 128) >> 8.
    // A zero distance (td 0) takes scale 256: forward v, backward 0.
    const Case cases[] = {{0, 16, 8, 4, 0, {8, 4}, {-8, -4}},
                          {0, -12, 5, 4, 0, {-6, 3}, {6, -2}},
                          {0, 16, -8, 4, 4, {16, -8}, {0, 0}}};
    for (const Case &c : cases) {
        Fixture f;
        f.AddRef(-1, 5);
        f.AddRef(-1, 6);
        DecoderImage &img = f.dec.img;
        img.frame_poc_half = 1;
        img.ref_poc = c.refPoc;
        img.ref_poc_prev = c.refPocPrev;
        f.BMotion(2, 0, 0, 0);
        img.direct_spatial_mv_pred_flag = 0;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                (*img.ref_idx_arr)[4 + j][4 + i] = c.colRef;
                (*img.mv)[4 + i + 4][4 + j][0] = c.vx;
                (*img.mv)[4 + i + 4][4 + j][1] = c.vy;
            }
        ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
        EXPECT_EQ((*img.fwd_mv)[4 + 6][5][0], c.fwd[0]);
        EXPECT_EQ((*img.fwd_mv)[4 + 6][5][1], c.fwd[1]);
        EXPECT_EQ((*img.bwd_mv)[4 + 6][5][0], c.bwd[0]);
        EXPECT_EQ((*img.direct_bwd_mv)[4 + 6][5][1], c.bwd[1]);
        EXPECT_EQ((*img.fwd_ref)[5][6], 0);
        EXPECT_EQ((*img.bwd_ref)[5][6], 0);
        // The forward entry is max(c, 0) + 1 = 1, the backward one 0.
        int a[4][4], b[4][4];
        h264dec_luma_block_reference(LumaPlaneView{f.mref[1], 32, 31}, 4 * 24 + c.fwd[0], 4 * 20 + c.fwd[1],
                                     a);
        h264dec_luma_block_reference(LumaPlaneView{f.mref[0], 32, 31}, 4 * 24 + c.bwd[0], 4 * 20 + c.bwd[1],
                                     b);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                ASSERT_EQ(f.Y(8 + x, 4 + y), (a[x][y] + b[x][y] + 1) / 2);
    }
}

TEST(H264Reconstruct, TemporalDirectBesideAnIntraCoLocatedBlockUsesEntriesOneAndZero)
{
    Fixture f;
    f.AddRef(11);
    f.AddRef(20);
    DecoderImage &img = f.dec.img;
    f.BMotion(2, 0, 0, 0);
    img.direct_spatial_mv_pred_flag = 0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            (*img.ref_idx_arr)[4 + j][4 + i] = -1;
    (*img.mv)[4 + 5][5][0] = 40; // ignored for an intra co-located block
    ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
    EXPECT_EQ(f.Y(7, 7), 16); // (20 + 11 + 1) / 2
    EXPECT_EQ((*img.fwd_ref)[5][5], -1);
    EXPECT_EQ((*img.bwd_ref)[5][5], -1);
    EXPECT_EQ((*img.fwd_mv)[4 + 5][5][0], 0);
}

TEST(H264Reconstruct, SpatialDirectWithoutNeighboursPredictsFromIndexZeroBothWays)
{
    Fixture f;
    f.AddRef(11);
    f.AddRef(20);
    f.At(0, 0);
    DecoderImage &img = f.dec.img;
    f.BMotion(2, 0, 0, 0);
    img.direct_spatial_mv_pred_flag = 1;
    img.num_ref_idx_active_bwd = 1;
    img.ref_poc = 4;
    img.frame_poc_half = 1; // forward index 0 reads entry 1
    ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
    EXPECT_EQ(f.cur.y[3][3], 16);
    EXPECT_EQ((*img.fwd_ref)[1][1], 0);
    EXPECT_EQ((*img.bwd_ref)[1][1], 0);
}

TEST(H264Reconstruct, IntraSixteenDcAtTheCornerIsFlat128WithChromaDc)
{
    Fixture f;
    f.At(0, 0);
    DecoderMacroblock &mb = f.Mb();
    mb.mb_type = kMbIntra16x16;
    mb.i16_pred_mode = 2;
    mb.chroma_pred_mode = 2;
    f.dec.img.coef[3][3][0][0] = 64 * 7;
    ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
    EXPECT_EQ(f.cur.y[0][0], 128);
    EXPECT_EQ(f.cur.y[13][13], 135);
    EXPECT_EQ(f.cur.uv[1][7][7], 128);
}

// The decoder's chroma numbering and its per-block DC, against the rules written out here.
TEST(H264Reconstruct, ChromaIntraKernelDcPerBlockAndPlane)
{
    std::mt19937 rng(12);
    for (int t = 0; t < 200; ++t) {
        int above[9], left[9];
        for (int k = 0; k < 9; ++k) {
            above[k] = static_cast<int>(rng() % 256);
            left[k] = static_cast<int>(rng() % 256);
        }
        left[0] = above[0];
        const bool a = t % 2 == 0, l = t % 3 != 0;
        int pred[8][8];
        ASSERT_EQ(h264dec_chroma_intra_kernel(2, above + 1, left + 1, a, l, pred), 0);
        const int s0 = above[1] + above[2] + above[3] + above[4],
                  s1 = above[5] + above[6] + above[7] + above[8];
        const int s2 = left[1] + left[2] + left[3] + left[4], s3 = left[5] + left[6] + left[7] + left[8];
        const int tl = a && l ? (s0 + s2 + 4) / 8 : a ? (s0 + 2) / 4 : l ? (s2 + 2) / 4 : 128;
        const int tr = a ? (s1 + 2) / 4 : l ? (s2 + 2) / 4 : 128;
        const int bl = l ? (s3 + 2) / 4 : a ? (s0 + 2) / 4 : 128;
        const int br = a && l ? (s1 + s3 + 4) / 8 : a ? (s1 + 2) / 4 : l ? (s3 + 2) / 4 : 128;
        EXPECT_EQ(pred[1][2], tl);
        EXPECT_EQ(pred[6][0], tr);
        EXPECT_EQ(pred[3][7], bl);
        EXPECT_EQ(pred[7][4], br);
        if (a && l) {
            ASSERT_EQ(h264dec_chroma_intra_kernel(3, above + 1, left + 1, a, l, pred), 0);
            int h = 0, v = 0;
            for (int k = 0; k < 4; ++k) {
                h += (k + 1) * (above[1 + 4 + k] - above[1 + 2 - k]);
                v += (k + 1) * (left[1 + 4 + k] - left[1 + 2 - k]);
            }
            const int b = (17 * h + 16) >> 5, c = (17 * v + 16) >> 5, aa = 16 * (left[8] + above[8]);
            for (int x = 0; x < 8; ++x)
                for (int y = 0; y < 8; ++y)
                    ASSERT_EQ(pred[x][y], std::clamp((aa + b * (x - 3) + c * (y - 3) + 16) / 32, 0, 255));
            ASSERT_EQ(h264dec_chroma_intra_kernel(0, above + 1, left + 1, a, l, pred), 0);
            EXPECT_EQ(pred[5][6], above[6]);
            ASSERT_EQ(h264dec_chroma_intra_kernel(1, above + 1, left + 1, a, l, pred), 0);
            EXPECT_EQ(pred[5][6], left[7]);
        }
    }
}

TEST(H264Reconstruct, ChromaModesWithoutTheirNeighbourEndTheRun)
{
    struct Case
    {
        int mode;
        const char *text;
        int code;
    };
    const Case cases[] = {{0, "unexpected VERT_PRED_8 chroma intra prediction mode", -1},
                          {3, "unexpected PLANE_8 chroma intra prediction mode", -1},
                          {4, "illegal chroma intra prediction mode", 600}};
    for (const Case &c : cases) {
        Fixture f;
        zn::MessageRecorder rec;
        f.At(1, 0); // no macroblock above
        f.Mb().mb_type = kMbIntra16x16;
        f.Mb().i16_pred_mode = 2;
        f.Mb().chroma_pred_mode = c.mode;
        try {
            h264dec_reconstruct_macroblock(f.dec);
            ADD_FAILURE() << "no error for mode " << c.mode;
        } catch (const H264FatalError &e) {
            EXPECT_EQ(e.ExitCode(), c.code);
        }
        EXPECT_TRUE(rec.Contains(c.text));
    }
}

TEST(H264Reconstruct, MissingReferenceEndsTheRunWithOneMessage)
{
    Fixture f;
    zn::MessageRecorder rec;
    f.AddRef(9);
    f.PMotion(1, 0, 0);
    EXPECT_THROW(h264dec_reconstruct_macroblock(f.dec), H264FatalError);
    EXPECT_EQ(rec.Count(), 1u);
}

TEST(H264Reconstruct, ChromaFarLeftReplicatesColumnZero)
{
    Fixture f;
    DecodedPlanes &r0 = f.AddRef(-1, 2);
    f.PMotion(0, -4000, 0);
    ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(f.U(0, 5, y), r0.uv[0][8 + y][0]);
    EXPECT_EQ(h264dec_chroma_sample(r0.uv[1], 16, 16, -3, 8 * 4), r0.uv[1][4][0]);
}

TEST(H264Reconstruct, SpInterBlocksAreRequantisedAtTheSwitchingQuantiser)
{
    // Flat prediction 101 at qs 28 with no residual: luma 4 x floor(103 / 4) = 100, chroma
    // 2 x floor(102 / 2) = 102 (see the inverse transform tests).
    Fixture f;
    f.AddRef(101);
    f.PMotion(0, 0, 0);
    f.dec.img.type = kPictureSP;
    f.dec.img.qp = 20;
    f.dec.img.qpsp = 28;
    ASSERT_EQ(h264dec_reconstruct_macroblock(f.dec), 0);
    EXPECT_EQ(f.Y(9, 9), 100);
    EXPECT_EQ(f.U(0, 1, 1), 102);
    EXPECT_EQ(f.U(1, 7, 6), 102);
}

} // namespace

} // namespace reconstruct_test
