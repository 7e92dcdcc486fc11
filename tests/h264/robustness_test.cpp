// Damaged header streams: a stream of parameter sets, SEI and slice headers with every kind of
// reference marking, cut at every byte and with every bit flipped, must end cleanly each time: read
// to its end, or the run ends with one message box. The sanitizer build runs the same tests.
#include "h264/support/h264_stream_writer.h"
#include "h264/support/header_walk.h"
#include "h264dec/nal_dispatch.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

namespace robustness_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;
using Bytes = std::vector<uint8_t>;

Bytes HeaderStream()
{
    SPS sps = DefaultSps(2, 2);
    sps.frame_mbs_only_flag = 0;
    sps.num_ref_frames = 3;
    PPS pps;
    pps.weighted_pred_flag = 1;
    pps.weighted_bipred_idc = 1;
    pps.deblocking_filter_parameters_present_flag = 1;
    pps.vui_pic_parameters_flag = 1;
    pps.pic_order_present_flag = 1;
    PPS cabac = pps;
    cabac.pic_parameter_set_id = 1;
    cabac.entropy_coding_mode = 1;
    cabac.num_slice_groups_minus1 = 2;
    cabac.mb_slice_group_map_type = 6;
    cabac.slice_group_id_cnt_minus1 = 3;
    cabac.slice_group_id = {0, 1, 2, 1};

    Bytes s;
    Append(s, NalUnit(3, NALU_TYPE_SPS, SpsRbsp(sps)));
    Append(s, NalUnit(3, NALU_TYPE_PPS, PpsRbsp(pps)));
    Append(s, NalUnit(3, NALU_TYPE_PPS, PpsRbsp(cabac)));

    BitWriter timing, marking, spare, chars;
    timing.flag(1);
    timing.u(3, 3);
    for (int i = 0; i < 2; ++i) {
        timing.flag(1);
        timing.u(2, 1);
        timing.flag(0);
        timing.u(5, 4);
        timing.flag(i);
        timing.flag(0);
        timing.flag(0);
        timing.u(8, 12);
        if (i) {
            timing.u(6, 1);
            timing.u(6, 2);
            timing.u(5, 3);
        } else {
            timing.flag(1);
            timing.u(6, 9);
            timing.flag(0);
        }
    }
    marking.flag(0);
    marking.ue(3);
    marking.flag(1);
    marking.ue(1);
    marking.ue(0);
    marking.ue(0);
    spare.ue(1);
    spare.ue(1);
    spare.ue(0);
    spare.ue(2);
    for (int r : {3, 0, 5, 2})
        spare.ue(static_cast<uint32_t>(r));
    spare.ue(1);
    spare.ue(1);
    for (int k = 0; k < 16; ++k)
        spare.flag(k & 1);
    chars.ue(1);
    chars.ue(2);
    chars.flag(1);
    chars.u(32, 77);
    chars.flag(0);
    chars.ue(2);
    for (int k = 0; k < 2; ++k) {
        chars.ue(0);
        chars.ue(1);
        chars.flag(1);
    }
    Append(s, NalUnit(0, NALU_TYPE_SEI,
                      SeiRbsp({{6, {0x80}},
                               {1, Payload(timing)},
                               {7, Payload(marking)},
                               {8, Payload(spare)},
                               {12, Payload(chars)},
                               {3, Bytes(20, 0xFF)}})));

    SliceHeaderFields idr;
    idr.pic_order_cnt_lsb = 0;
    Append(s, SliceNal(idr, sps, pps, true, 3));

    const auto p = [](int frame, int lsb) {
        SliceHeaderFields h;
        h.slice_type = 5;
        h.frame_num = frame;
        h.pic_order_cnt_lsb = lsb;
        h.delta_pic_order_cnt_bottom = 1;
        return h;
    };
    SliceHeaderFields p1 = p(1, 4);
    p1.adaptive_ref_pic_buffering_flag = 1;
    p1.mmco = {{4, 0, 0, 3}, {0}};
    Append(s, SliceNal(p1, sps, pps, false));
    SliceHeaderFields p2 = p(2, 8);
    p2.num_ref_idx_override_flag = 1;
    p2.num_ref_pic_active_fwd_minus1 = 1;
    p2.weights[0] = {WeightEntry{1, 3, 4, 0}, WeightEntry{0, 0, 0, 1, {5, 6}, {7, 8}}};
    p2.luma_log_weight_denom = 2;
    p2.reordering_flag[0] = 1;
    p2.reordering[0] = {{0, 0}, {3, 0}};
    p2.adaptive_ref_pic_buffering_flag = 1;
    p2.mmco = {{3, 0, 1, 0}, {3, 1, 0, 0}, {0}};
    Append(s, SliceNal(p2, sps, pps, false));
    SliceHeaderFields top = p(3, 12), bottom = p(3, 12);
    top.field_pic_flag = 1;
    bottom.field_pic_flag = 1;
    bottom.bottom_field_flag = 1;
    top.adaptive_ref_pic_buffering_flag = 1;
    top.mmco = {{1, 1, 0, 0}, {2, 0, 1, 0}, {6, 0, 2, 0}, {0}};
    Append(s, SliceNal(top, sps, pps, false));
    Append(s, SliceNal(bottom, sps, pps, false));
    SliceHeaderFields b = p(4, 10);
    b.slice_type = 6;
    b.pic_parameter_set_id = 1;
    b.cabac_init_idc = 2;
    b.num_ref_idx_override_flag = 1;
    b.weights[0] = {WeightEntry{}};
    b.weights[1] = {WeightEntry{1, 9, 9, 0}};
    b.disable_deblocking_filter_idc = 1;
    Append(s, SliceNal(b, sps, cabac, false, 0));
    SliceHeaderFields p5 = p(5, 16);
    p5.adaptive_ref_pic_buffering_flag = 1;
    p5.mmco = {{5}, {0}};
    Append(s, SliceNal(p5, sps, pps, false));
    SliceHeaderFields sp = p(6, 20);
    sp.slice_type = 8;
    sp.slice_qs_delta = -2;
    Append(s, SliceNal(sp, sps, pps, false));
    return s;
}

struct Outcome
{
    bool ended = false; // the run ended with an error
    size_t boxes = 0;
    WalkResult result;
};

Outcome Walk(const Bytes &stream)
{
    zn::MessageRecorder recorder;
    Outcome o;
    H264DecoderState dec;
    h264dec_open_memory(dec, stream);
    WalkOptions options;
    options.nalu_capacity = 4096;
    options.max_store_mbs = 4; // the stream's own size; damaged sizes skip the stores
    try {
        o.result = WalkHeaders(dec, options);
    } catch (const zn::RunAborted &) {
        o.ended = true;
    }
    o.boxes = recorder.Count();
    return o;
}

TEST(Robustness, TheHeaderStreamReadsCleanly)
{
    const Outcome o = Walk(HeaderStream());
    EXPECT_FALSE(o.ended);
    EXPECT_EQ(o.boxes, 0u);
    EXPECT_EQ(o.result.slices, 8);
    EXPECT_EQ(o.result.stores, 7); // all but the non-reference B picture
}

TEST(Robustness, EveryTruncationEndsCleanly)
{
    const Bytes stream = HeaderStream();
    for (size_t n = 0; n <= stream.size(); ++n) {
        const Outcome o = Walk(Bytes(stream.begin(), stream.begin() + static_cast<long>(n)));
        EXPECT_LE(o.boxes, 1u) << "cut at " << n;
        EXPECT_EQ(o.boxes, o.ended ? 1u : 0u) << "cut at " << n;
    }
}

TEST(Robustness, EveryBitFlipEndsCleanly)
{
    const Bytes stream = HeaderStream();
    int ended = 0;
    for (size_t byte = 0; byte < stream.size(); ++byte)
        for (int bit = 0; bit < 8; ++bit) {
            Bytes damaged = stream;
            damaged[byte] ^= static_cast<uint8_t>(1 << bit);
            const Outcome o = Walk(damaged);
            EXPECT_EQ(o.boxes, o.ended ? 1u : 0u) << "byte " << byte << " bit " << bit;
            ended += o.ended;
        }
    EXPECT_GT(ended, 0);
}

TEST(Robustness, RandomBytesEndCleanly)
{
    std::mt19937 rng(9);
    for (int trial = 0; trial < 400; ++trial) {
        Bytes s = {0, 0, 1};
        const int n = static_cast<int>(rng() % 200);
        for (int i = 0; i < n; ++i)
            s.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng()));
        const Outcome o = Walk(s);
        EXPECT_EQ(o.boxes, o.ended ? 1u : 0u) << "trial " << trial;
    }
}

} // namespace

} // namespace robustness_test
