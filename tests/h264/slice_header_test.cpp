// Slice headers in the draft syntax (both parts around the activation, reordering, weights, marking)
// and the picture order count of frames and fields, checked against formulas written here.
#include "h264/support/h264_stream_writer.h"
#include "h264dec/decoder_state.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/slice_header.h"
#include "platform/messages.h"

#include <functional>
#include <gtest/gtest.h>

namespace slice_header_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;
using Bytes = std::vector<uint8_t>;

struct SliceSpec
{
    SliceHeaderFields h;
    bool idr = false;
    int nal_ref_idc = 1;
};

// Decodes SPS, PPS and the slices; after each slice `check` sees the decoder, then the picture ends.
// Returns the boxes shown (one at most: the run ends at the first).
std::vector<std::string> Decode(const SPS &sps, const PPS &pps, const std::vector<SliceSpec> &slices,
                                const std::function<void(H264DecoderState &, size_t)> &check = {},
                                int *exitCode = nullptr)
{
    Bytes stream;
    Append(stream, NalUnit(3, NALU_TYPE_SPS, SpsRbsp(sps)));
    Append(stream, NalUnit(3, NALU_TYPE_PPS, PpsRbsp(pps)));
    for (const SliceSpec &s : slices)
        Append(stream, SliceNal(s.h, sps, pps, s.idr, s.nal_ref_idc));
    zn::MessageRecorder boxes;
    H264DecoderState dec;
    h264dec_open_memory(dec, stream);
    NaluPtr nalu = dec_AllocNALU(1 << 16);
    try {
        for (size_t i = 0; h264dec_next_slice_unit(dec, nalu.get()); ++i) {
            h264dec_read_slice_unit(dec, *nalu);
            if (check)
                check(dec, i);
            h264dec_update_poc_state(dec);
            ++dec.img.number;
        }
    } catch (const H264FatalError &e) {
        if (exitCode)
            *exitCode = e.ExitCode();
    }
    return boxes.Texts();
}

int PictureCode(int slice_type, int num_ref_frames)
{
    static const int codes[4][2] = {{10, 11}, {13, 14}, {12, 12}, {15, 16}};
    return codes[slice_type % 5][num_ref_frames > 1 ? 1 : 0];
}

void ExpectHeader(const H264DecoderState &dec, const SliceHeaderFields &h, const SPS &sps, const PPS &pps,
                  bool idr, int trial)
{
    const DecoderImage &img = dec.img;
    const DecoderSlice &slice = dec.slice;
    const bool isP = IsP(h.slice_type) || IsSP(h.slice_type), isB = IsB(h.slice_type);
    EXPECT_EQ(slice.start_mb_nr, h.first_mb_in_slice) << trial;
    EXPECT_EQ(slice.pic_parameter_set_id, h.pic_parameter_set_id) << trial;
    EXPECT_EQ(img.type, PictureCode(h.slice_type, sps.num_ref_frames)) << trial;
    EXPECT_EQ(slice.picture_type, img.type) << trial;
    EXPECT_EQ(img.frame_num, h.frame_num) << trial;
    EXPECT_EQ(img.field_pic_flag, h.field_pic_flag) << trial;
    EXPECT_EQ(img.structure, h.field_pic_flag ? (h.bottom_field_flag ? 2 : 1) : 0) << trial;
    EXPECT_EQ(slice.structure, img.structure) << trial;
    EXPECT_EQ(img.MbaffFrameFlag, sps.mb_adaptive_frame_field_flag && !h.field_pic_flag) << trial;
    if (idr) {
        EXPECT_EQ(img.idr_pic_id, h.idr_pic_id) << trial;
    }
    if (sps.pic_order_cnt_type == 0) {
        EXPECT_EQ(img.pic_order_cnt_lsb, h.pic_order_cnt_lsb) << trial;
        if (pps.pic_order_present_flag && !h.field_pic_flag) {
            EXPECT_EQ(img.delta_pic_order_cnt_bottom, h.delta_pic_order_cnt_bottom) << trial;
        }
    }
    if (sps.pic_order_cnt_type == 1) {
        EXPECT_EQ(img.delta_pic_order_cnt[0], idr ? 0 : h.delta_pic_order_cnt[0]) << trial;
        if (pps.pic_order_present_flag && !h.field_pic_flag) {
            EXPECT_EQ(img.delta_pic_order_cnt[1], h.delta_pic_order_cnt[1]) << trial;
        }
    }
    if (pps.vui_pic_parameters_flag) {
        EXPECT_EQ(img.redundant_pic_cnt, h.redundant_pic_cnt) << trial;
    }
    if (isB) {
        EXPECT_EQ(img.direct_spatial_mv_pred_flag, h.direct_spatial_mv_pred_flag) << trial;
    }
    const int fwd = h.num_ref_idx_override_flag && (isP || isB) ? h.num_ref_pic_active_fwd_minus1 + 1 : 0;
    const int bwd = h.num_ref_idx_override_flag && isB ? h.num_ref_pic_active_bwd_minus1 + 1 : 0;
    EXPECT_EQ(img.num_ref_idx_active_fwd, fwd) << trial;
    EXPECT_EQ(img.num_ref_idx_active_bwd, bwd) << trial;

    const std::vector<int> *idc[2] = {&slice.remapping_of_pic_nums_idc_l0,
                                      &slice.remapping_of_pic_nums_idc_l1};
    const std::vector<int> *diff[2] = {&slice.abs_diff_pic_num_minus1_l0, &slice.abs_diff_pic_num_minus1_l1};
    const std::vector<int> *lt[2] = {&slice.long_term_pic_idx_l0, &slice.long_term_pic_idx_l1};
    for (int list = 0; list < 2; ++list) {
        EXPECT_EQ(idc[list]->size(), static_cast<size_t>(list == 0 ? (IsI(h.slice_type) ? 0 : fwd) : bwd))
            << trial;
        if (!h.reordering_flag[list])
            continue;
        for (size_t i = 0; i < h.reordering[list].size(); ++i) {
            const ReorderCommand &c = h.reordering[list][i];
            ASSERT_LT(i, idc[list]->size());
            EXPECT_EQ((*idc[list])[i], c.idc) << trial;
            if (c.idc <= 1) {
                EXPECT_EQ((*diff[list])[i], c.value) << trial;
            }
            if (c.idc == 2) {
                EXPECT_EQ((*lt[list])[i], c.value) << trial;
            }
        }
    }

    EXPECT_EQ(img.apply_weights, (pps.weighted_pred_flag && isP) || (pps.weighted_bipred_idc > 0 && isB))
        << trial;
    if ((pps.weighted_pred_flag && isP) || (pps.weighted_bipred_idc == 1 && isB)) {
        EXPECT_EQ(img.luma_log_weight_denom, h.luma_log_weight_denom) << trial;
        EXPECT_EQ(img.chroma_log_weight_denom, h.chroma_log_weight_denom) << trial;
        EXPECT_EQ(img.wp_round_luma, h.luma_log_weight_denom ? 1 << (h.luma_log_weight_denom - 1) : 0);
        for (int list = 0; list < (isB ? 2 : 1); ++list)
            for (int i = 0; i < (list == 0 ? fwd : bwd); ++i) {
                const WeightEntry &e = h.weights[list][static_cast<size_t>(i)];
                EXPECT_EQ(img.wp_weight[list][i][0],
                          e.luma_flag ? e.luma_weight : 1 << h.luma_log_weight_denom);
                EXPECT_EQ(img.wp_offset[list][i][0], e.luma_flag ? e.luma_offset : 0);
                for (int j = 0; j < 2; ++j) {
                    EXPECT_EQ(img.wp_weight[list][i][j + 1],
                              e.chroma_flag ? e.chroma_weight[j] : 1 << h.chroma_log_weight_denom);
                    EXPECT_EQ(img.wp_offset[list][i][j + 1], e.chroma_flag ? e.chroma_offset[j] : 0);
                }
            }
    }

    if (idr) {
        EXPECT_EQ(img.no_output_of_prior_pics_flag, h.no_output_of_prior_pics_flag) << trial;
        EXPECT_EQ(img.long_term_reference_flag, h.long_term_reference_flag) << trial;
        EXPECT_TRUE(img.mmco_list.empty()) << trial;
    } else {
        EXPECT_EQ(img.adaptive_ref_pic_buffering_flag, h.adaptive_ref_pic_buffering_flag) << trial;
        ASSERT_EQ(img.mmco_list.size(), h.adaptive_ref_pic_buffering_flag ? h.mmco.size() : 0u) << trial;
        for (size_t i = 0; i < img.mmco_list.size(); ++i) {
            const MmcoCommand &c = h.mmco[i];
            const DecRefPicMarking &m = img.mmco_list[i];
            EXPECT_EQ(m.operation, c.operation);
            EXPECT_EQ(m.difference_of_pic_nums,
                      c.operation == 1 || c.operation == 3 ? c.difference_of_pic_nums_minus1 + 1 : 0);
            EXPECT_EQ(m.long_term_pic_idx,
                      c.operation == 2 || c.operation == 3 || c.operation == 6 ? c.long_term_pic_idx : 0);
            EXPECT_EQ(m.max_long_term_pic_idx_plus1, c.operation == 4 ? c.max_long_term_pic_idx_plus1 : 0);
        }
    }
    EXPECT_EQ(img.model_number, pps.entropy_coding_mode && !IsI(h.slice_type) ? h.cabac_init_idc : 0)
        << trial;
    EXPECT_EQ(img.qp, 26 + pps.pic_init_qp_minus26 + h.slice_qp_delta) << trial;
    EXPECT_EQ(slice.qp, img.qp) << trial;
    if (IsSP(h.slice_type)) {
        EXPECT_EQ(img.sp_switch, h.sp_for_switch_flag) << trial;
        EXPECT_EQ(img.qpsp, 26 + pps.pic_init_qs_minus26 + h.slice_qs_delta) << trial;
    }
    if (pps.deblocking_filter_parameters_present_flag) {
        EXPECT_EQ(slice.disable_deblocking_filter_idc, h.disable_deblocking_filter_idc) << trial;
        if (h.disable_deblocking_filter_idc != 1) {
            EXPECT_EQ(slice.slice_alpha_c0_offset, 2 * h.slice_alpha_c0_offset_div2) << trial;
            EXPECT_EQ(slice.slice_beta_offset, 2 * h.slice_beta_offset_div2) << trial;
        }
    }
    EXPECT_EQ(img.ref_buffer_cycle, 6);
    EXPECT_EQ(img.mb_limit, img.width * img.height * 2 / 256);
}

TEST(SliceHeader, RandomHeadersReadBackEqual)
{
    std::mt19937 rng(142);
    int checked = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const SPS sps = RandomSps(rng);
        const PPS pps = RandomPps(rng, sps.seq_parameter_set_id);
        const bool idr = rng() % 3 == 0;
        const SliceHeaderFields h = RandomSliceHeader(rng, sps, pps, idr);
        BitWriter w;
        WriteSliceHeader(w, h, sps, pps, idr);
        int bits = -1;
        const auto boxes = Decode(sps, pps, {{h, idr, 1}}, [&](H264DecoderState &dec, size_t) {
            ExpectHeader(dec, h, sps, pps, idr, trial);
            bits = dec.counters.syntax_bits;
            ++checked;
        });
        EXPECT_TRUE(boxes.empty()) << trial << ": " << (boxes.empty() ? "" : boxes[0]);
        EXPECT_EQ(bits, w.BitCount()) << trial;
    }
    EXPECT_EQ(checked, 400);
}

SliceHeaderFields PSlice()
{
    SliceHeaderFields h;
    h.slice_type = 5;
    return h;
}

TEST(SliceHeader, WithoutOverrideBothCountsAreZeroAndNoWeightsAreRead)
{
    SPS sps = DefaultSps();
    PPS pps;
    pps.weighted_pred_flag = 1;
    pps.num_ref_idx_l0_active_minus1 = 4; // the PPS default is never used
    SliceHeaderFields h = PSlice();
    h.luma_log_weight_denom = 3;
    BitWriter w;
    WriteSliceHeader(w, h, sps, pps, false);
    Decode(sps, pps, {{h}}, [&](H264DecoderState &dec, size_t) {
        EXPECT_EQ(dec.img.num_ref_idx_active_fwd, 0);
        EXPECT_EQ(dec.img.num_ref_idx_active_bwd, 0);
        EXPECT_TRUE(dec.slice.remapping_of_pic_nums_idc_l0.empty());
        EXPECT_EQ(dec.img.apply_weights, 1);
        EXPECT_EQ(dec.img.luma_log_weight_denom, 3);
        EXPECT_EQ(dec.counters.syntax_bits, w.BitCount());
    });
}

TEST(SliceHeader, DeblockingOffsetsKeepTheirValuesWhenNotRead)
{
    SPS sps = DefaultSps();
    PPS pps;
    pps.deblocking_filter_parameters_present_flag = 1;
    SliceHeaderFields first = PSlice(), second = PSlice();
    first.slice_alpha_c0_offset_div2 = 2;
    first.slice_beta_offset_div2 = -3;
    second.disable_deblocking_filter_idc = 1;
    second.slice_alpha_c0_offset_div2 = 6; // not written
    Decode(sps, pps, {{first}, {second}}, [&](H264DecoderState &dec, size_t i) {
        EXPECT_EQ(dec.slice.disable_deblocking_filter_idc, i == 0 ? 0 : 1);
        EXPECT_EQ(dec.slice.slice_alpha_c0_offset, 4);
        EXPECT_EQ(dec.slice.slice_beta_offset, -6);
    });
}

TEST(SliceHeader, WeightedBipredictionKinds)
{
    SPS sps = DefaultSps();
    SliceHeaderFields b;
    b.slice_type = 6;
    b.num_ref_idx_override_flag = 1;
    b.num_ref_pic_active_fwd_minus1 = 1;
    b.num_ref_pic_active_bwd_minus1 = 0;
    b.luma_log_weight_denom = 5;
    b.weights[0] = {WeightEntry{1, 40, -3}, WeightEntry{}};
    b.weights[1] = {WeightEntry{0, 0, 0, 1, {20, 21}, {1, 2}}};
    for (int idc : {1, 2}) {
        PPS pps;
        pps.weighted_bipred_idc = idc;
        BitWriter w;
        WriteSliceHeader(w, b, sps, pps, false);
        Decode(sps, pps, {{b}}, [&](H264DecoderState &dec, size_t) {
            EXPECT_EQ(dec.img.apply_weights, 1);
            EXPECT_EQ(dec.counters.syntax_bits, w.BitCount());
            if (idc == 1) {
                EXPECT_EQ(dec.img.wp_weight[0][0][0], 40);
                EXPECT_EQ(dec.img.wp_offset[0][0][0], -3);
                EXPECT_EQ(dec.img.wp_weight[0][1][0], 32);
                EXPECT_EQ(dec.img.wp_weight[1][0][1], 20);
                EXPECT_EQ(dec.img.wp_offset[1][0][2], 2);
            } else {
                EXPECT_EQ(dec.img.luma_log_weight_denom, 0); // no table read
            }
        });
    }
}

TEST(SliceHeader, RedundantPicCntFollowsThePpsBitAfterConstrainedIntraPrediction)
{
    SPS sps = DefaultSps();
    SliceHeaderFields h = PSlice();
    h.redundant_pic_cnt = 1;
    h.slice_qp_delta = 3;
    for (int flag : {0, 1}) {
        PPS pps;
        pps.vui_pic_parameters_flag = flag;
        Decode(sps, pps, {{h}}, [&](H264DecoderState &dec, size_t) {
            EXPECT_EQ(dec.img.redundant_pic_cnt, flag);
            EXPECT_EQ(dec.img.qp, 29);
        });
    }
}

TEST(SliceHeader, OutOfRangeValuesEndTheRun)
{
    const SPS sps = DefaultSps();
    struct Case
    {
        std::function<void(SliceHeaderFields &, PPS &, bool &)> change;
        const char *box;
        int code;
    };
    const Case cases[] = {
        {[](SliceHeaderFields &h, PPS &, bool &) { h.slice_type = 4; }, "Invalid Slice Type", 500},
        {[](SliceHeaderFields &h, PPS &, bool &) { h.slice_type = 9; }, "Invalid Slice Type", 500},
        {[](SliceHeaderFields &h, PPS &, bool &) { h.slice_type = 10; }, "Invalid Slice Type", 500},
        {[](SliceHeaderFields &h, PPS &, bool &) { h.first_mb_in_slice = 99; },
         "SH: first_mb_in_slice 99 out of range 0..98", -1},
        {[](SliceHeaderFields &h, PPS &, bool &) { h.slice_qp_delta = 26; },
         "SH: slice QP 52 out of range 0..51", -1},
        {[](SliceHeaderFields &h, PPS &p, bool &) {
             p.pic_init_qp_minus26 = -10;
             h.slice_qp_delta = -17;
         },
         "SH: slice QP -1 out of range 0..51", -1},
        {[](SliceHeaderFields &h, PPS &, bool &) {
             h.slice_type = 8;
             h.slice_qs_delta = 30;
         },
         "SH: slice SP QP 56 out of range 0..51", -1},
        {[](SliceHeaderFields &h, PPS &, bool &) {
             h.num_ref_idx_override_flag = 1;
             h.num_ref_pic_active_fwd_minus1 = 15;
         },
         "SH: num_ref_pic_active_fwd_minus1 15 out of range 0..14", -1},
        {[](SliceHeaderFields &h, PPS &, bool &) {
             h.slice_type = 6;
             h.num_ref_idx_override_flag = 1;
             h.num_ref_pic_active_bwd_minus1 = 20;
         },
         "SH: num_ref_pic_active_bwd_minus1 20 out of range 0..14", -1},
        {[](SliceHeaderFields &h, PPS &, bool &) {
             // One active reference: the reordering loop may hold one command, its closing 3 included.
             h.num_ref_idx_override_flag = 1;
             h.reordering_flag[0] = 1;
             h.reordering[0] = {{0, 1}, {3, 0}};
         },
         "SH: more reordering commands for list 0 than its 1 active references", -1},
        {[](SliceHeaderFields &h, PPS &, bool &) {
             h.reordering_flag[0] = 1; // no active reference at all
             h.reordering[0] = {{3, 0}};
         },
         "SH: more reordering commands for list 0 than its 0 active references", -1},
        {[](SliceHeaderFields &h, PPS &p, bool &) {
             p.weighted_pred_flag = 1;
             h.luma_log_weight_denom = 8;
         },
         "SH: luma_log_weight_denom 8 out of range 0..7", -1},
        {[](SliceHeaderFields &h, PPS &p, bool &) {
             p.weighted_pred_flag = 1;
             h.chroma_log_weight_denom = 9;
         },
         "SH: chroma_log_weight_denom 9 out of range 0..7", -1},
        {[](SliceHeaderFields &h, PPS &, bool &) {
             h.adaptive_ref_pic_buffering_flag = 1;
             h.mmco.assign(70, MmcoCommand{6, 0, 1, 0});
             h.mmco.push_back({});
         },
         "SH: more than 64 memory_management_control_operation commands", -1},
        {[](SliceHeaderFields &h, PPS &p, bool &) {
             p.entropy_coding_mode = 1;
             h.cabac_init_idc = 3;
         },
         "SH: cabac_init_idc 3 out of range 0..2", -1},
        {[](SliceHeaderFields &h, PPS &p, bool &) {
             p.deblocking_filter_parameters_present_flag = 1;
             h.slice_beta_offset_div2 = -7;
         },
         "SH: slice_beta_offset_div2 -7 out of range -6..6", -1},
    };
    for (const Case &c : cases) {
        SliceHeaderFields h = PSlice();
        PPS pps;
        bool idr = false;
        c.change(h, pps, idr);
        int code = 0;
        EXPECT_EQ(Decode(sps, pps, {{h, idr}}, {}, &code), std::vector<std::string>{c.box});
        EXPECT_EQ(code, c.code) << c.box;
    }
}

// ---------------------------------------------------------------------------------------------
// Picture order count

struct PocPicture
{
    int structure = 0; // 0 frame, 1 top field, 2 bottom field
    bool idr = false;
    bool ref = true;
    int frame_num = 0;
    int lsb = 0;
    int delta_bottom = 0;
    int delta0 = 0, delta1 = 0;
};

struct PocExpected
{
    int top, bottom, this_poc, tr;
};

// The counts of type 0: the high part follows the jumps of the low bits of the reference pictures.
std::vector<PocExpected> Type0(const std::vector<PocPicture> &pics, int maxLsb, bool deltaSent)
{
    std::vector<PocExpected> out;
    int prevMsb = 0, prevLsb = 0, lastDelta = 0;
    for (const PocPicture &p : pics) {
        if (p.idr)
            prevMsb = 0;
        int msb = prevMsb;
        if (p.lsb < prevLsb && prevLsb - p.lsb >= maxLsb / 2)
            msb += maxLsb;
        else if (p.lsb > prevLsb && p.lsb - prevLsb > maxLsb / 2)
            msb -= maxLsb;
        if (deltaSent && p.structure == 0)
            lastDelta = p.delta_bottom;
        const int top = msb + p.lsb;
        const int bottom = p.structure == 2 ? top : top + lastDelta;
        const int poc = std::min(top, bottom);
        out.push_back({top, bottom, poc, p.structure == 0 ? top / 2 : (p.structure == 2 ? bottom : top)});
        if (p.ref) {
            prevMsb = msb;
            prevLsb = p.lsb;
        }
    }
    return out;
}

// Type 1 with a one-frame cycle: the expected count grows by the cycle's offset per reference frame.
std::vector<PocExpected> Type1(const std::vector<PocPicture> &pics, int maxFrameNum, int refOffset,
                               int nonRefOffset, int topToBottom)
{
    std::vector<PocExpected> out;
    int offset = 0, prevFrameNum = 0;
    for (const PocPicture &p : pics) {
        if (p.idr)
            offset = 0;
        else if (p.frame_num < prevFrameNum)
            offset += maxFrameNum;
        int abs = offset + p.frame_num;
        if (!p.ref && abs > 0)
            --abs;
        int expected = abs * refOffset;
        if (!p.ref)
            expected += nonRefOffset;
        const int d0 = p.idr ? 0 : p.delta0;
        PocExpected e{};
        if (p.structure == 0) {
            e.top = expected + d0;
            e.bottom = e.top + topToBottom + p.delta1;
            e.this_poc = std::min(e.top, e.bottom);
            e.tr = e.top / 2;
        } else if (p.structure == 1) {
            e.top = expected + d0;
            e.bottom = 0;
            e.this_poc = e.tr = e.top;
        } else {
            e.top = 0;
            e.bottom = expected + topToBottom + d0;
            e.this_poc = e.tr = e.bottom;
        }
        out.push_back(e);
        prevFrameNum = p.frame_num;
    }
    return out;
}

// Type 2: twice the frame number, one less for a non-reference picture.
std::vector<PocExpected> Type2(const std::vector<PocPicture> &pics, int maxFrameNum)
{
    std::vector<PocExpected> out;
    int offset = 0, prevFrameNum = 0;
    for (const PocPicture &p : pics) {
        int poc = 0;
        if (p.idr) {
            offset = 0;
        } else {
            if (p.frame_num < prevFrameNum)
                offset += maxFrameNum;
            poc = 2 * (offset + p.frame_num) - (p.ref ? 0 : 1);
        }
        PocExpected e{poc, poc, poc, p.structure == 0 ? poc / 2 : poc};
        out.push_back(e);
        if (p.ref)
            prevFrameNum = p.frame_num;
    }
    return out;
}

// A random sequence: frame_num steps forward and wraps, lsb follows twice the picture count with
// small jitter, some pictures are fields, some non-reference.
std::vector<PocPicture> RandomSequence(std::mt19937 &rng, int n, bool fields, int maxFrameNum, int maxLsb)
{
    std::vector<PocPicture> pics;
    int frameNum = 0, count = 0;
    for (int i = 0; i < n; ++i) {
        PocPicture p;
        p.idr = i == 0 || rng() % 25 == 0;
        if (p.idr) {
            frameNum = 0;
            count = 0;
        } else {
            frameNum = (frameNum + 1 + static_cast<int>(rng() % 3)) % maxFrameNum;
            count += 2 + static_cast<int>(rng() % 4);
        }
        p.frame_num = frameNum;
        p.ref = p.idr || rng() % 4 != 0;
        p.structure = fields ? static_cast<int>(rng() % 3) : 0;
        p.lsb = count % maxLsb;
        p.delta_bottom = static_cast<int>(rng() % 7) - 3;
        p.delta0 = static_cast<int>(rng() % 9) - 4;
        p.delta1 = static_cast<int>(rng() % 9) - 4;
        pics.push_back(p);
    }
    return pics;
}

void RunPoc(const SPS &sps, const PPS &pps, const std::vector<PocPicture> &pics,
            const std::vector<PocExpected> &expected)
{
    std::vector<SliceSpec> slices;
    for (const PocPicture &p : pics) {
        SliceSpec s;
        s.idr = p.idr;
        s.nal_ref_idc = p.ref ? 1 : 0;
        s.h.slice_type = p.idr ? 7 : 5;
        s.h.frame_num = p.frame_num;
        s.h.field_pic_flag = p.structure != 0;
        s.h.bottom_field_flag = p.structure == 2;
        s.h.pic_order_cnt_lsb = p.lsb;
        s.h.delta_pic_order_cnt_bottom = p.delta_bottom;
        s.h.delta_pic_order_cnt[0] = p.delta0;
        s.h.delta_pic_order_cnt[1] = p.delta1;
        slices.push_back(s);
    }
    const auto boxes = Decode(sps, pps, slices, [&](H264DecoderState &dec, size_t i) {
        const DecoderImage &img = dec.img;
        const PocExpected &e = expected[i];
        if (pics[i].structure != 2) {
            EXPECT_EQ(img.TopFieldOrderCnt, e.top) << "picture " << i;
        }
        if (pics[i].structure != 1) {
            EXPECT_EQ(img.BottomFieldOrderCnt, e.bottom) << "picture " << i;
        }
        EXPECT_EQ(img.this_poc, e.this_poc) << "picture " << i;
        EXPECT_EQ(img.tr, e.tr) << "picture " << i;
        EXPECT_EQ(dec.slice.picture_id, e.tr) << "picture " << i;
        if (pics[i].structure == 0) {
            EXPECT_EQ(img.frame_poc_half, e.this_poc / 2);
        } else {
            EXPECT_EQ(img.field_poc, e.this_poc);
        }
    });
    EXPECT_TRUE(boxes.empty());
}

TEST(Poc, Type0SequencesOfFramesAndFields)
{
    std::mt19937 rng(1420);
    for (bool fields : {false, true}) {
        for (int present : {0, 1}) {
            SPS sps = DefaultSps(11, 10);
            sps.frame_mbs_only_flag = fields ? 0 : 1;
            sps.log2_max_pic_order_cnt_lsb_minus4 = 0; // MaxLsb 16: frequent wraps
            PPS pps;
            pps.pic_order_present_flag = present;
            const auto pics = RandomSequence(rng, 80, fields, 256, 16);
            RunPoc(sps, pps, pics, Type0(pics, 16, present));
        }
    }
}

TEST(Poc, Type1SequencesOfFramesAndFields)
{
    std::mt19937 rng(1421);
    for (bool fields : {false, true}) {
        for (int present : {0, 1}) {
            SPS sps = DefaultSps(11, 10);
            sps.frame_mbs_only_flag = fields ? 0 : 1;
            sps.log2_max_frame_num_minus4 = 0; // MaxFrameNum 16: frequent wraps
            sps.pic_order_cnt_type = 1;
            sps.num_ref_frames_in_pic_order_cnt_cycle = 1;
            sps.offset_for_ref_frame[0] = 6;
            sps.offset_for_non_ref_pic = -3;
            sps.offset_for_top_to_bottom_field = 1;
            PPS pps;
            pps.pic_order_present_flag = present;
            auto pics = RandomSequence(rng, 80, fields, 16, 256);
            if (!present)
                for (PocPicture &p : pics)
                    p.delta1 = 0;
            RunPoc(sps, pps, pics, Type1(pics, 16, 6, -3, 1));
        }
    }
}

TEST(Poc, Type2SequencesOfFramesAndFields)
{
    std::mt19937 rng(1422);
    for (bool fields : {false, true}) {
        SPS sps = DefaultSps(11, 10);
        sps.frame_mbs_only_flag = fields ? 0 : 1;
        sps.log2_max_frame_num_minus4 = 0;
        sps.pic_order_cnt_type = 2;
        const auto pics = RandomSequence(rng, 80, fields, 16, 256);
        RunPoc(sps, PPS{}, pics, Type2(pics, 16));
    }
}

TEST(Poc, TheLowBitsWrapAndABottomDeltaCarriesIntoAField)
{
    SPS sps = DefaultSps(11, 10);
    sps.frame_mbs_only_flag = 0;
    sps.log2_max_pic_order_cnt_lsb_minus4 = 0;
    PPS pps;
    pps.pic_order_present_flag = 1;
    const auto picture = [](int frame, int lsb, int field, int delta) {
        SliceSpec s;
        s.idr = frame == 0;
        s.h.slice_type = frame == 0 ? 7 : 5;
        s.h.frame_num = frame;
        s.h.pic_order_cnt_lsb = lsb;
        s.h.field_pic_flag = field;
        s.h.delta_pic_order_cnt_bottom = delta;
        return s;
    };
    // lsb 0, 6, 14 (MaxLsb - 2), then 1: the high part grows by MaxLsb. Then a top field.
    Decode(sps, pps,
           {picture(0, 0, 0, 0), picture(1, 6, 0, 0), picture(2, 14, 0, 0), picture(3, 1, 0, 5),
            picture(4, 3, 1, 0)},
           [&](H264DecoderState &dec, size_t i) {
               if (i == 2) {
                   EXPECT_EQ(dec.img.PicOrderCntMsb, 0);
                   EXPECT_EQ(dec.img.TopFieldOrderCnt, 14);
               }
               if (i == 3) {
                   EXPECT_EQ(dec.img.PicOrderCntMsb, 16);
                   EXPECT_EQ(dec.img.TopFieldOrderCnt, 17);
                   EXPECT_EQ(dec.img.BottomFieldOrderCnt, 22);
               }
               if (i == 4) { // a top field after a frame whose delta was 5
                   EXPECT_EQ(dec.img.TopFieldOrderCnt, 19);
                   EXPECT_EQ(dec.img.BottomFieldOrderCnt, 24);
                   EXPECT_EQ(dec.img.frame_poc, 19);
               }
           });
}

TEST(Poc, AnIdrPictureWithAFrameNumberEndsTheRun)
{
    for (int type : {1, 2}) {
        SPS sps = DefaultSps();
        sps.pic_order_cnt_type = type;
        sps.num_ref_frames_in_pic_order_cnt_cycle = 1;
        SliceHeaderFields h;
        h.frame_num = 3;
        int code = 0;
        EXPECT_EQ(Decode(sps, PPS{}, {{h, true}}, {}, &code),
                  std::vector<std::string>{"frame_num != 0 in idr pix"});
        EXPECT_EQ(code, -1020);
    }
}

TEST(Poc, ReferenceCountsMoveOnWithReferencePictures)
{
    SPS sps = DefaultSps();
    sps.num_ref_frames = 2;
    std::vector<SliceSpec> slices(3);
    slices[0].idr = true;
    slices[0].h.pic_order_cnt_lsb = 0;
    slices[1].h = PSlice();
    slices[1].h.frame_num = 1;
    slices[1].h.pic_order_cnt_lsb = 6;
    slices[2].h.slice_type = 6; // a non-reference B picture leaves them
    slices[2].h.frame_num = 2;
    slices[2].h.pic_order_cnt_lsb = 2;
    slices[2].nal_ref_idc = 0;
    std::vector<std::pair<int, int>> seen;
    Decode(sps, PPS{}, slices,
           [&](H264DecoderState &dec, size_t) { seen.emplace_back(dec.img.ref_poc, dec.img.ref_poc_prev); });
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 0}, {6, 0}, {6, 0}}));
}

TEST(Poc, TheOrderRingKeepsReferencePicturesAndReplacesOthers)
{
    H264DecoderState dec;
    EXPECT_EQ(dec.poc_history.top[9], 1 << 29);
    dec_push_poc_history(dec, 10, 11, 1);
    dec_push_poc_history(dec, 20, 21, 0);
    dec_push_poc_history(dec, 30, 31, 1); // replaces the non-reference entry
    dec_push_poc_history(dec, 40, 41, 1);
    EXPECT_EQ(dec.poc_history.top[0], 40);
    EXPECT_EQ(dec.poc_history.top[1], 30);
    EXPECT_EQ(dec.poc_history.top[2], 10);
    EXPECT_EQ(dec.poc_history.bottom[1], 31);
    EXPECT_EQ(h264dec_poc_compare(dec, -1, 0), -10);
    EXPECT_EQ(h264dec_poc_compare(dec, 1, -1), 30);
}

// Type 1: every slice of a picture computes the count, but the picture enters the order ring once;
// a reference picture pushed again per slice would shift the older references one place too far.
TEST(Poc, APictureOfSeveralSlicesEntersTheOrderRingOnce)
{
    for (const int structure : {kFrame, kTopField}) {
        H264DecoderState dec;
        dec_push_poc_history(dec, 0, 0, 1); // the IDR picture before
        DecoderImage &img = dec.img;
        img.pic_order_cnt_type = 1;
        img.structure = structure;
        img.num_ref_frames_in_pic_order_cnt_cycle = 1;
        img.offset_for_ref_frame[0] = 2;
        img.frame_num = 1;
        for (img.current_slice_nr = 0; img.current_slice_nr < 3; ++img.current_slice_nr)
            h264dec_decode_poc(dec);
        EXPECT_EQ(dec.poc_history.top[0], 2) << structure;
        EXPECT_EQ(dec.poc_history.top[1], 0) << structure;
        EXPECT_EQ(dec.poc_history.top[2], 1 << 29) << structure;
    }
}

} // namespace

} // namespace slice_header_test
