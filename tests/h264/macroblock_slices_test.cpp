// Hand-built slices of the other kinds: CABAC I and P slices, B motion (direct quadrants, swapped and
// scaled backward vectors), field pictures, MBAFF pairs, two slices per picture and SP chroma.
#include "h264/support/mb_writer.h"
#include "h264dec/macroblock.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

namespace macroblock_slices_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

int CbpCode(int cbp, bool intra)
{
    for (int k = 0; k < 48; ++k)
        if (kCodedBlockPattern[k][intra ? 0 : 1] == cbp)
            return k;
    return -1;
}

TEST(MacroblockSlices, CabacIntraSlice)
{
    StreamBuilder b(2, 1, true);
    SliceHeaderFields h;
    h.slice_type = 7;
    b.CabacSlice(h, true, [](CabacSliceData &d) {
        // Macroblock 0: intra 16x16 mode 1, chroma pattern 0, luma 0; no neighbours.
        auto *c = d.mi.mb_type_contexts[0];
        d.Bin(c[0], 1);
        d.Bin(c[4], 0);
        d.Bin(c[5], 0);
        d.Bin(c[7], 0);
        d.Bin(c[8], 1);
        d.Bin(d.ti.cipr_contexts[0], 1); // chroma mode 1
        d.Bin(d.ti.cipr_contexts[3], 0);
        d.Bin(d.mi.delta_qp_contexts[0], 0);
        d.Bin(d.ti.bcbp_contexts[0][3], 0); // no DC: missing neighbours count as coded (intra)
        d.EndOfSlice(0);
        // Macroblock 1: intra 4x4; the left neighbour is intra 16x16, so the first bin's entry is 1.
        d.Bin(c[1], 0);
        for (int k = 0; k < 16; ++k)
            d.Bin(d.ti.ipr_contexts[0], 0); // every block takes its predicted mode
        d.Bin(d.ti.cipr_contexts[1], 0);    // left chroma mode 1 counts
        d.Bin(d.ti.cbp_contexts[0][1], 0);  // left not coded
        d.Bin(d.ti.cbp_contexts[0][1], 0);
        d.Bin(d.ti.cbp_contexts[0][3], 0);
        d.Bin(d.ti.cbp_contexts[0][3], 0);
        d.Bin(d.ti.cbp_contexts[1][0], 0);
    });
    DecodedStream d = DecodeStream(b.stream);
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ(d.result.macroblocks, 2);
    EXPECT_EQ(d.Mb(0).mb_type, kMbIntra16x16);
    EXPECT_EQ(d.Mb(0).i16_pred_mode, 1);
    EXPECT_EQ(d.Mb(0).chroma_pred_mode, 1);
    EXPECT_EQ(d.Mb(1).mb_type, kMbIntra4x4);
    EXPECT_EQ(d.Mb(1).chroma_pred_mode, 0);
    EXPECT_EQ(d.Mb(1).coded_block_pattern, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 4; x < 8; ++x)
            EXPECT_EQ((*d.dec->img.intra_modes)[x + 1][y + 1], 2);
}

TEST(MacroblockSlices, CabacPredictedSliceWithSkip)
{
    StreamBuilder b(2, 1, true);
    SliceHeaderFields h;
    h.slice_type = 5;
    h.cabac_init_idc = 2;
    b.CabacSlice(h, false, [](CabacSliceData &d) {
        auto *p = d.mi.mb_type_contexts[1];
        d.Bin(p[0], 0); // macroblock 0 skipped
        d.EndOfSlice(0);
        d.Bin(p[0], 1); // macroblock 1 coded: its left neighbour is skipped, entry 0
        d.Bin(p[4], 0); // 16x16
        d.Bin(p[5], 0);
        d.Bin(p[6], 0);
        auto *mv0 = d.mi.mv_res_contexts[0];
        auto *mv1 = d.mi.mv_res_contexts[1];
        d.Bin(mv0[0], 1); // +3
        d.Bypass(0);
        d.Bin(mv1[0], 1);
        d.Bin(mv1[1], 1);
        d.Bin(mv1[2], 0);
        d.Bin(mv0[5], 0); // vertical 0
        d.Bin(d.ti.cbp_contexts[0][1], 0);
        d.Bin(d.ti.cbp_contexts[0][1], 0);
        d.Bin(d.ti.cbp_contexts[0][3], 0);
        d.Bin(d.ti.cbp_contexts[0][3], 0);
        d.Bin(d.ti.cbp_contexts[1][0], 0);
    });
    DecodedStream d = DecodeStream(b.stream);
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ(d.Mb(0).mb_type, 0);
    EXPECT_EQ(d.Mb(1).mb_type, kMb16x16);
    EXPECT_EQ((*d.dec->img.mv)[4 + 4][0][0], 3);
    EXPECT_EQ((*d.dec->img.mv)[7 + 4][3][1], 0);
    EXPECT_EQ(d.Mb(1).mvd[0][0][0][0], 3);
}

TEST(MacroblockSlices, TwoSlicesMidPictureStartPredictsZero)
{
    StreamBuilder b(2, 1);
    SliceHeaderFields h;
    h.slice_type = 5;
    b.CavlcSlice(h, false, [](BitWriter &w) {
        w.ue(0);
        w.ue(0);
        w.se(4);
        w.se(4);
        w.ue(static_cast<uint32_t>(CbpCode(0, false)));
    });
    h.first_mb_in_slice = 1;
    b.CavlcSlice(h, false, [](BitWriter &w) {
        w.ue(0);
        w.ue(0);
        w.se(1);
        w.se(0);
        w.ue(static_cast<uint32_t>(CbpCode(0, false)));
    });
    DecodedStream d = DecodeStream(b.stream);
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ(d.result.slices, 2);
    EXPECT_EQ(d.Mb(1).slice_number, 1);
    EXPECT_EQ((*d.dec->img.mv)[0 + 4][0][0], 4);
    // The left macroblock lies in the other slice: prediction (0, 0), not (4, 4).
    EXPECT_EQ((*d.dec->img.mv)[4 + 4][0][0], 1);
    EXPECT_EQ((*d.dec->img.mv)[4 + 4][0][1], 0);
    EXPECT_EQ(d.Mb(1).neighbours[1][0], nullptr);
}

TEST(MacroblockSlices, FieldPictureInvertsReferenceBitsAndUsesTheFieldScan)
{
    StreamBuilder b(1, 2);
    b.sps.frame_mbs_only_flag = 0;
    b.sps.num_ref_frames = 2;
    SliceHeaderFields h;
    h.slice_type = 5;
    h.field_pic_flag = 1;
    h.num_ref_idx_override_flag = 1;
    h.num_ref_pic_active_fwd_minus1 = 3;
    int blk[16] = {};
    blk[1] = 5; // scan position 1: column 0, row 1 in the field scan
    b.CavlcSlice(h, false, [&](BitWriter &w) {
        w.ue(0);
        w.ue(0);
        w.ue(2); // index 2 is stored as 3
        w.se(0);
        w.se(0);
        w.ue(static_cast<uint32_t>(CbpCode(1, false)));
        w.se(0);
        WriteCavlcBlock(w, blk, 16, 0);
        for (int k = 0; k < 3; ++k)
            WriteCavlcBlock(w, std::array<int, 16>{}.data(), 16, k == 0 ? 2 : 1);
    });
    DecodedStream d = DecodeStream(b.stream);
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ((*d.dec->img.ref_idx_arr)[0][0], 3);
    EXPECT_EQ(d.dec->img.coef[0][0][0][1], (5 * 16) << 4); // qp 26: 26 mod 6 = 2, scale 16
    EXPECT_EQ(d.dec->img.coef[0][0][1][0], 0);
}

TEST(MacroblockSlices, MbaffPairsReadTheirFieldFlags)
{
    StreamBuilder b(2, 2);
    b.sps.frame_mbs_only_flag = 0;
    b.sps.mb_adaptive_frame_field_flag = 1;
    SliceHeaderFields h;
    h.slice_type = 7;
    b.CavlcSlice(h, true, [](BitWriter &w) {
        for (int c = 0; c < 4; ++c) {
            if (c % 2 == 0)
                w.ue(c == 0 ? 1 : 0); // first pair field, second frame
            w.ue(1);
            w.ue(0);
            w.se(0);
            WriteCavlcBlock(w, std::array<int, 16>{}.data(), 16, 0);
        }
    });
    DecodedStream d = DecodeStream(b.stream);
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ(d.result.macroblocks, 4);
    // Pair order: macroblocks 0 and 2 (left column), then 1 and 3.
    EXPECT_EQ(d.Mb(0).mb_field, 1);
    EXPECT_EQ(d.Mb(2).mb_field, 1);
    EXPECT_EQ(d.Mb(1).mb_field, 0);
    EXPECT_EQ(d.Mb(3).mb_field, 0);
    EXPECT_EQ((*d.dec->img.field_mb)[1][0], 1);
    EXPECT_EQ((*d.dec->img.field_mb)[1][1], 0);
    for (int m = 0; m < 4; ++m)
        EXPECT_EQ(d.Mb(m).mb_type, kMbIntra16x16);
}

TEST(MacroblockSlices, MbaffCopiesScaleBetweenFrameAndFieldRows)
{
    for (int field = 0; field < 2; ++field) {
        StreamBuilder b(1, 2);
        b.sps.frame_mbs_only_flag = 0;
        b.sps.mb_adaptive_frame_field_flag = 1;
        b.sps.num_ref_frames = 2;
        SliceHeaderFields h;
        h.slice_type = 5;
        h.num_ref_idx_override_flag = 1;
        h.num_ref_pic_active_fwd_minus1 = 1;
        b.CavlcSlice(h, false, [&](BitWriter &w) {
            w.ue(0);
            w.ue(static_cast<uint32_t>(field)); // the pair's field flag
            w.ue(0);                            // upper: 16x16, reference 1, vector (2, 6)
            w.ue(1);
            w.se(2);
            w.se(6);
            w.ue(static_cast<uint32_t>(CbpCode(0, false)));
            w.ue(0);
            w.ue(0); // lower: 16x16, reference 0
            w.ue(0);
            w.se(1);
            w.se(field ? 3 : 6); // the block above has another reference: median (0, 0)
            w.ue(static_cast<uint32_t>(CbpCode(0, false)));
        });
        DecodedStream d = DecodeStream(b.stream);
        ASSERT_FALSE(d.failed) << d.message;
        const MacroblockArrays &a = d.dec->mb_arrays;
        const DecoderImage &img = d.dec->img;
        if (!field) {
            // Frame rows 0..3 hold (2, 6) with index 1: field rows 0, 1 of both fields (3, 2).
            for (int p = 0; p < 2; ++p) {
                EXPECT_EQ(a.field_copy[p].mv[4][1][1], 3);
                EXPECT_EQ(a.field_copy[p].ref_idx_arr[1][0], 2);
                EXPECT_EQ(a.field_copy[p].mv[4][2][0], 1);
                EXPECT_EQ(a.field_copy[p].mv[4][2][1], 3);
                EXPECT_EQ(a.field_copy[p].ref_idx_arr[3][0], 0);
            }
        } else {
            // The upper macroblock is the top field's rows 0..3, the lower the bottom field's.
            EXPECT_EQ(a.field_copy[0].mv[4][3][1], 6);
            EXPECT_EQ(a.field_copy[0].ref_idx_arr[3][0], 1);
            EXPECT_EQ(a.field_copy[1].mv[4][0][0], 1);
            EXPECT_EQ(a.field_copy[1].mv[4][0][1], 3);
            for (int r = 0; r < 8; ++r) {
                EXPECT_EQ((*img.mv)[4][r][1], r % 2 ? 6 : 12) << r;
                EXPECT_EQ((*img.ref_idx_arr)[r][0], 0) << r;
            }
        }
    }
}

TEST(MacroblockSlices, MbaffFieldMacroblocksPredictWithinTheirField)
{
    StreamBuilder b(2, 2);
    b.sps.frame_mbs_only_flag = 0;
    b.sps.mb_adaptive_frame_field_flag = 1;
    SliceHeaderFields h;
    h.slice_type = 5;
    const int diffs[4][2] = {{4, 4}, {8, 0}, {0, 0}, {0, 0}};
    b.CavlcSlice(h, false, [&](BitWriter &w) {
        for (int c = 0; c < 4; ++c) {
            w.ue(0);
            if (c % 2 == 0)
                w.ue(1); // both pairs field
            w.ue(0);
            w.se(diffs[c][0]);
            w.se(diffs[c][1]);
            w.ue(static_cast<uint32_t>(CbpCode(0, false)));
        }
    });
    DecodedStream d = DecodeStream(b.stream);
    ASSERT_FALSE(d.failed) << d.message;
    const MacroblockArrays &a = d.dec->mb_arrays;
    // The right pair's macroblocks take the vectors of the left pair's macroblock of their own field.
    EXPECT_EQ(a.field_copy[0].mv[4 + 4][0][0], 4);
    EXPECT_EQ(a.field_copy[0].mv[4 + 4][3][1], 4);
    EXPECT_EQ(a.field_copy[1].mv[4 + 4][0][0], 8);
    EXPECT_EQ(a.field_copy[1].mv[4 + 4][3][1], 0);
    // Frame rows interleave the fields, vertical components in frame units.
    const Array3D<int> &mv = *d.dec->img.mv;
    EXPECT_EQ(mv[4 + 4][0][1], 8);
    EXPECT_EQ(mv[4 + 4][1][0], 8);
    EXPECT_EQ(mv[4 + 4][7][1], 0);
}

TEST(MacroblockSlices, SpChromaDcKeepsItsLevels)
{
    StreamBuilder b(1, 1);
    SliceHeaderFields h;
    h.slice_type = 3;
    int dc[4] = {4, -1, 0, 2};
    b.CavlcSlice(h, false, [&](BitWriter &w) {
        w.ue(0);
        w.ue(0);
        w.se(0);
        w.se(0);
        w.ue(static_cast<uint32_t>(CbpCode(16, false)));
        w.se(0);
        WriteCavlcBlock(w, dc, 4, -1);
        WriteCavlcBlock(w, std::array<int, 4>{}.data(), 4, -1);
    });
    DecodedStream d = DecodeStream(b.stream);
    ASSERT_FALSE(d.failed) << d.message;
    DecoderImage &img = d.dec->img;
    EXPECT_EQ(img.coef[0][4][0][0], 4);
    EXPECT_EQ(img.coef[1][4][0][0], -1);
    EXPECT_EQ(img.coef[0][5][0][0], 0);
    EXPECT_EQ(img.coef[1][5][0][0], 2);
    EXPECT_EQ(img.coef[2][4][0][0], 0);
}

TEST(MacroblockSlices, BSliceSkipDirectQuadrantsAndBothLists)
{
    StreamBuilder b(2, 1);
    b.sps.num_ref_frames = 2;
    SliceHeaderFields h;
    h.slice_type = 6;
    h.num_ref_idx_override_flag = 1;
    h.num_ref_pic_active_fwd_minus1 = 1;
    h.num_ref_pic_active_bwd_minus1 = 1;
    b.CavlcSlice(h, false, [](BitWriter &w) {
        w.ue(1);  // macroblock 0: direct without residual
        w.ue(22); // macroblock 1: 8x8
        for (int s = 0; s < 4; ++s)
            w.ue(static_cast<uint32_t>(s)); // direct, forward, backward, both
        w.ue(1);                            // forward indices of quadrants 1 and 3
        w.ue(0);
        w.ue(0); // backward indices of quadrants 2 and 3: 0 is stored as 1
        w.ue(1);
        for (int k = 0; k < 2; ++k) { // forward differences of quadrants 1 and 3
            w.se(2);
            w.se(-2);
        }
        for (int k = 0; k < 2; ++k) { // backward ones of quadrants 2 and 3
            w.se(-6);
            w.se(6);
        }
        w.ue(static_cast<uint32_t>(CbpCode(0, false)));
    });
    DecodedStream d = DecodeStream(b.stream);
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ(d.Mb(0).mb_type, kMbSkipOrDirect);
    DecoderMacroblock &m = d.Mb(1);
    EXPECT_EQ(m.mb_type, kMb8x8);
    const int modes[4] = {0, kSub8x8, kSub8x8, kSub8x8}, dirs[4] = {2, 0, 1, 2};
    for (int q = 0; q < 4; ++q) {
        EXPECT_EQ(m.sub_mode[q], modes[q]);
        EXPECT_EQ(m.sub_pred_dir[q], dirs[q]);
    }
    DecoderImage &img = d.dec->img;
    EXPECT_EQ((*img.fwd_ref)[0][6], 1);  // quadrant 1
    EXPECT_EQ((*img.fwd_ref)[2][6], 0);  // quadrant 3
    EXPECT_EQ((*img.fwd_ref)[2][4], -1); // quadrant 2: backward only
    EXPECT_EQ((*img.bwd_ref)[2][4], 1);  // read 0, stored 1
    EXPECT_EQ((*img.bwd_ref)[2][6], 0);  // read 1, stored 0
    EXPECT_EQ((*img.bwd_ref)[0][6], -1);
    EXPECT_EQ((*img.fwd_ref)[0][4], 0); // the direct quadrant: co-located reference 0
    EXPECT_EQ(m.mvd[0][0][2][0], 2);
    EXPECT_EQ(m.mvd[1][3][3][1], 6);
    EXPECT_EQ(m.mvd[1][0][2][0], 0);
}

TEST(MacroblockSlices, CabacMbaffPeeksAtTheLowerSkipFlag)
{
    StreamBuilder b(1, 2, true);
    b.sps.frame_mbs_only_flag = 0;
    b.sps.mb_adaptive_frame_field_flag = 1;
    SliceHeaderFields h;
    h.slice_type = 5;
    b.CabacSlice(h, false, [](CabacSliceData &d) {
        auto *p = d.mi.mb_type_contexts[1];
        d.Bin(p[0], 0);                    // upper skipped
        d.Bin(p[0], 1);                    // lower coded (its upper neighbour is skipped): read twice
        d.Bin(d.mi.mb_aff_contexts[0], 1); // the pair's field flag: read twice
        d.Bin(p[4], 0);                    // lower: 16x16
        d.Bin(p[5], 0);
        d.Bin(p[6], 0);
        auto *mv0 = d.mi.mv_res_contexts[0];
        auto *mv1 = d.mi.mv_res_contexts[1];
        d.Bin(mv0[0], 1); // +2
        d.Bypass(0);
        d.Bin(mv1[0], 1);
        d.Bin(mv1[1], 0);
        d.Bin(mv0[5], 0);
        d.Bin(d.ti.cbp_contexts[0][2], 0); // the skipped upper macroblock above is not coded
        d.Bin(d.ti.cbp_contexts[0][3], 0);
        d.Bin(d.ti.cbp_contexts[0][2], 0);
        d.Bin(d.ti.cbp_contexts[0][3], 0);
        d.Bin(d.ti.cbp_contexts[1][0], 0);
    });
    DecodedStream d = DecodeStream(b.stream);
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ(d.result.macroblocks, 2);
    EXPECT_EQ(d.Mb(0).mb_type, 0);
    EXPECT_EQ(d.Mb(0).mb_field, 1);
    EXPECT_EQ(d.Mb(1).mb_field, 1);
    EXPECT_EQ(d.Mb(1).mb_type, kMb16x16);
    EXPECT_EQ(d.Mb(1).mvd[0][0][0][0], 2);
}

// The motion reader on its own: a one-macroblock B picture whose bits are only vector data.
struct MotionHarness
{
    H264DecoderState dec;
    std::vector<uint8_t> bytes;
    explicit MotionHarness(int wmbs = 1)
    {
        DecoderImage &img = dec.img;
        img.width = 16 * wmbs;
        img.height = 16;
        img.type = kPictureB;
        dec_alloc_macroblock_arrays(dec, img.width, 16);
        dec_start_picture_arrays(dec);
        for (auto &m : *img.mb_data)
            m.slice_number = 0;
        At(wmbs - 1);
    }
    void At(int m)
    {
        DecoderImage &img = dec.img;
        img.current_mb_nr = img.mb_index = m;
        h264dec_start_macroblock(dec);
    }
    DecoderMacroblock &Mb() { return h264dec_current_mb(dec); }
    void Bits(const BitWriter &w)
    {
        BitWriter copy = w;
        copy.u(16, 0xFFFF);
        bytes = copy.Bytes();
        Bitstream *bs = dec.slice.partitions[0].bitstream.get();
        h264dec_load_payload(bs, bytes.data(), static_cast<int>(bytes.size()));
        bs->byte_length = static_cast<int>(bytes.size());
    }
    // Reads an 8x8 macroblock of four direct quadrants in temporal mode over co-located blocks of
    // reference t and vector (vx, vy); the last block is intra (-1) when asked.
    void TemporalDirect(int t, int vx, int vy, bool intraCorner)
    {
        DecoderImage &img = dec.img;
        img.direct_spatial_mv_pred_flag = 0;
        DecoderMacroblock &mb = Mb();
        mb.mb_type = kMb8x8;
        for (int q = 0; q < 4; ++q)
            mb.sub_mode[q] = 0, mb.sub_pred_dir[q] = 2;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                (*img.ref_idx_arr)[y][x] = intraCorner && x == 3 && y == 3 ? -1 : t;
                (*img.mv)[x + 4][y][0] = vx;
                (*img.mv)[x + 4][y][1] = vy;
            }
        h264dec_init_b_macroblock(dec);
        Bits(BitWriter{});
        h264dec_read_motion_info(dec);
    }
};

TEST(MacroblockMotion, TemporalDirectScalesTheColocatedVector)
{
    struct Case
    {
        int ref_poc, prev, count2, t, vx, vy, fx, fy, bx, by;
    };
    const Case cases[] = {
        {4, 0, 2, 0, 8, -4, 4, -2, -4, 2}, // f = 128
        {4, 4, 2, 0, 8, -4, 8, -4, 0, 0},  // zero distance: f = 256
        {6, 2, 2, 1, 16, 8, 8, 4, -8, -4}, // TRp = 8, TRb = 4
    };
    for (const Case &c : cases) {
        MotionHarness m;
        DecoderImage &img = m.dec.img;
        img.ref_poc = c.ref_poc;
        img.ref_poc_prev = c.prev;
        img.frame_poc_half = c.count2 / 2;
        m.TemporalDirect(c.t, c.vx, c.vy, true);
        EXPECT_EQ((*img.fwd_mv)[4][0][0], c.fx);
        EXPECT_EQ((*img.fwd_mv)[4][0][1], c.fy);
        EXPECT_EQ((*img.bwd_mv)[4][0][0], c.bx);
        EXPECT_EQ((*img.bwd_mv)[4][0][1], c.by);
        EXPECT_EQ((*img.fwd_ref)[0][0], c.t);
        EXPECT_EQ((*img.bwd_ref)[0][0], 0);
        EXPECT_EQ((*img.fwd_ref)[3][3], -1);
        EXPECT_EQ((*img.bwd_mv)[7][3][0], 0);
    }
}

// Temporal direct in field pictures and in field macroblocks of MBAFF frames: the distance of the
// co-located block's reference counts fields, the parity deciding which field index t names, and a
// bottom field counts its own distance one field shorter.
TEST(MacroblockMotion, FieldTemporalDirectCountsFields)
{
    enum Form { kTop, kBottom, kMbaffUpper, kMbaffLower };
    const int refPoc = 8, prev = 0, X = refPoc - prev, v[2] = {40, -24};
    for (const Form form : {kTop, kBottom, kMbaffUpper, kMbaffLower})
        for (int t = 0; t < 4; ++t) {
            MotionHarness m(1);
            DecoderImage &img = m.dec.img;
            img.ref_poc = refPoc;
            img.ref_poc_prev = prev;
            int current = 0;
            if (form == kTop || form == kBottom) {
                img.structure = form == kTop ? kTopField : kBottomField;
                img.field_poc = current = form == kTop ? 3 : 4;
            } else {
                img.MbaffFrameFlag = 1;
                img.mb_field_flag = 1;
                img.current_mb_nr = form == kMbaffLower ? 1 : 0;
                img.frame_poc_half = 2;
                current = 4;
            }
            // The field distances, written out per parity.
            const bool bottom = form == kBottom || form == kMbaffLower;
            const int trp = bottom ? ((t + 1) / 2) * X - (t % 2) + 1 : (t / 2 + 1) * X - ((t + 1) % 2);
            const int trb = trp + current - refPoc - (form == kBottom ? 1 : 0);
            const int f = trb * 256 / trp;
            m.TemporalDirect(t, v[0], v[1], false);
            for (int c = 0; c < 2; ++c) {
                EXPECT_EQ((*img.fwd_mv)[5][2][c], (f * v[c] + 128) >> 8) << form << " t " << t;
                EXPECT_EQ((*img.bwd_mv)[5][2][c], ((f - 256) * v[c] + 128) >> 8) << form << " t " << t;
            }
            EXPECT_EQ((*img.fwd_ref)[2][1], t);
            EXPECT_EQ((*img.bwd_ref)[2][1], 0);
        }
}

TEST(MacroblockMotion, BackwardIndexSwappedAndTheScaledPrediction)
{
    for (int after = 0; after < 2; ++after) {
        MotionHarness m;
        DecoderImage &img = m.dec.img;
        img.num_ref_idx_active_bwd = 2;
        img.ref_poc = 4;
        img.ref_poc_prev = 2;
        img.frame_poc_half = after ? 3 : 1; // count 6 lies after both references, 2 does not
        DecoderMacroblock &mb = m.Mb();
        mb.mb_type = 3; // B value 3: 16x16 in both directions
        h264dec_interpret_mb_b(img, mb);
        h264dec_init_b_macroblock(m.dec);
        BitWriter w;
        w.ue(0); // backward index 0, stored as 1
        w.se(8); // forward difference, prediction (0, 0)
        w.se(-4);
        w.se(1); // backward difference
        w.se(1);
        m.Bits(w);
        h264dec_read_motion_info(m.dec);
        EXPECT_EQ((*img.bwd_ref)[0][0], 1);
        EXPECT_EQ((*img.bwd_ref)[3][3], 1);
        EXPECT_EQ((*img.fwd_mv)[4][0][0], 8);
        // s = (1 + 1) x 256 / (0 + 1) = 512: the forward vector doubled, then the difference.
        EXPECT_EQ((*img.bwd_mv)[4][0][0], after ? 17 : 1);
        EXPECT_EQ((*img.bwd_mv)[4][0][1], after ? -7 : 1);
        EXPECT_EQ(mb.mvd[1][3][3][0], 1);
    }
}

TEST(MacroblockMotion, SpatialDirectFromTheNeighbours)
{
    MotionHarness m(2);
    DecoderImage &img = m.dec.img;
    img.direct_spatial_mv_pred_flag = 1;
    // The left macroblock predicts forward from 0 with (4, 4) and backward from 0 with (-2, 6).
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            (*img.fwd_ref)[y][x] = 0;
            (*img.bwd_ref)[y][x] = 0;
            (*img.fwd_mv)[x + 4][y][0] = (*img.fwd_mv)[x + 4][y][1] = 4;
            (*img.bwd_mv)[x + 4][y][0] = -2;
            (*img.bwd_mv)[x + 4][y][1] = 6;
        }
    (*img.moving_block)[1][5] = 1;
    DecoderMacroblock &mb = m.Mb();
    mb.mb_type = kMb8x8;
    for (int q = 0; q < 4; ++q)
        mb.sub_mode[q] = 0, mb.sub_pred_dir[q] = 2;
    h264dec_init_b_macroblock(m.dec);
    m.Bits(BitWriter{});
    h264dec_read_motion_info(m.dec);
    // Reference 0 and a still co-located block: zero vectors; a moving one takes the prediction.
    EXPECT_EQ((*img.fwd_ref)[0][4], 0);
    EXPECT_EQ((*img.fwd_mv)[4 + 4][0][0], 0);
    EXPECT_EQ((*img.direct_fwd_mv)[5 + 4][1][0], 4);
    EXPECT_EQ((*img.bwd_mv)[5 + 4][1][1], 6);
    EXPECT_EQ((*img.bwd_ref)[1][5], 0);
}

TEST(MacroblockMotion, VectorsBeyondTheRangeEndTheRun)
{
    MotionHarness m;
    DecoderImage &img = m.dec.img;
    img.type = kPictureP;
    DecoderMacroblock &mb = m.Mb();
    mb.mb_type = 1;
    h264dec_interpret_mb_p(img, mb);
    h264dec_init_macroblock(m.dec);
    BitWriter w;
    w.se(8193);
    w.se(0);
    m.Bits(w);
    zn::MessageRecorder recorder;
    EXPECT_THROW(h264dec_read_motion_info(m.dec), zn::RunAborted);
}

} // namespace

} // namespace macroblock_slices_test
