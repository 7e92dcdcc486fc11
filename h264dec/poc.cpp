// Picture order count. Type 0 sends the count's low bits and recovers the high part from the jumps of
// the low bits; type 1 derives it from frame_num with a cycle of expected increments; type 2 doubles
// frame_num. The arithmetic wraps at 32 bits, as the counters of the stream do, rather than overflow.
#include "h264dec/decoder_state.h"
#include "h264dec/slice_header.h"

#include <algorithm>

namespace {

constexpr int kPocHistoryEmpty = 1 << 29;

int Wrap32(long long v)
{
    return static_cast<int>(static_cast<unsigned int>(static_cast<unsigned long long>(v)));
}

void PocType0(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    if (img.idr_flag)
        img.PrevPicOrderCntMsb = 0;
    const long long maxLsb = 1LL << (dec.active_sps->log2_max_pic_order_cnt_lsb_minus4 + 4);
    const long long lsb = img.pic_order_cnt_lsb;
    const long long prevLsb = img.PrevPicOrderCntLsb;
    long long msb = img.PrevPicOrderCntMsb;
    if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2)
        msb += maxLsb;
    else if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2)
        msb -= maxLsb;
    img.PicOrderCntMsb = Wrap32(msb);
    img.TopFieldOrderCnt = Wrap32(msb + lsb);
    if (img.structure == kBottomField)
        img.BottomFieldOrderCnt = img.TopFieldOrderCnt;
    else
        img.BottomFieldOrderCnt =
            Wrap32(static_cast<long long>(img.TopFieldOrderCnt) + img.delta_pic_order_cnt_bottom);
    img.frame_poc = img.this_poc = std::min(img.TopFieldOrderCnt, img.BottomFieldOrderCnt);
}

// AbsFrameNum, FrameNumOffset and the expected count of types 1 and 2.
void FrameNumOffset(DecoderImage &img)
{
    if (img.idr_flag) {
        img.FrameNumOffset = 0;
        if (img.frame_num != 0)
            h264_fatal_error("frame_num != 0 in idr pix", -1020);
    } else if (img.frame_num < img.PreviousFrameNum) {
        img.FrameNumOffset = Wrap32(static_cast<long long>(img.FrameNumOffset) + img.MaxFrameNum);
    }
}

void PocType1(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    if (img.idr_flag) {
        img.idr_bottom_field_flag = img.bottom_field_flag;
        img.delta_pic_order_cnt[0] = 0;
    }
    FrameNumOffset(img);
    const int cycle = img.num_ref_frames_in_pic_order_cnt_cycle;
    long long absFrameNum = cycle != 0 ? static_cast<long long>(img.FrameNumOffset) + img.frame_num : 0;
    if (img.non_reference && absFrameNum > 0)
        --absFrameNum;
    img.AbsFrameNum = Wrap32(absFrameNum);

    long long expectedDelta = 0;
    for (int i = 0; i < cycle; ++i)
        expectedDelta += img.offset_for_ref_frame[static_cast<size_t>(i)];
    img.ExpectedDeltaPerPicOrderCntCycle = Wrap32(expectedDelta);

    long long expected = 0;
    if (img.AbsFrameNum != 0 && cycle > 0) {
        img.PicOrderCntCycleCnt = Wrap32((static_cast<long long>(img.AbsFrameNum) - 1) / cycle);
        img.FrameNumInPicOrderCntCycle = Wrap32((static_cast<long long>(img.AbsFrameNum) - 1) % cycle);
        expected = static_cast<long long>(img.PicOrderCntCycleCnt) * img.ExpectedDeltaPerPicOrderCntCycle;
        for (int i = 0; i <= img.FrameNumInPicOrderCntCycle && i < cycle; ++i)
            expected += img.offset_for_ref_frame[static_cast<size_t>(i)];
    }
    if (img.non_reference)
        expected += img.offset_for_non_ref_pic;
    img.ExpectedPicOrderCnt = Wrap32(expected);

    const long long exp = img.ExpectedPicOrderCnt;
    const int reference = img.non_reference ? 0 : 1;
    // Every slice computes the count, but a picture enters the history once: its first slice pushes
    // it, and a reference picture pushed again would push an older reference out of place.
    const bool later = img.current_slice_nr != 0;
    if (img.structure == kFrame) {
        img.TopFieldOrderCnt = Wrap32(exp + img.delta_pic_order_cnt[0]);
        img.BottomFieldOrderCnt = Wrap32(static_cast<long long>(img.TopFieldOrderCnt) +
                                         img.offset_for_top_to_bottom_field + img.delta_pic_order_cnt[1]);
        img.frame_poc = img.this_poc = std::min(img.TopFieldOrderCnt, img.BottomFieldOrderCnt);
        if (img.this_poc != img.PreviousPOC && !later)
            dec_push_poc_history(dec, img.TopFieldOrderCnt, img.BottomFieldOrderCnt, reference);
    } else if (img.structure == kBottomField) {
        img.TopFieldOrderCnt = 0;
        img.BottomFieldOrderCnt =
            Wrap32(exp + img.offset_for_top_to_bottom_field + img.delta_pic_order_cnt[0]);
        img.this_poc = img.BottomFieldOrderCnt;
        if (img.this_poc == img.PreviousPOC || img.idr_bottom_field_flag != 1 || later)
            dec.poc_history.bottom[0] = img.BottomFieldOrderCnt;
        else
            dec_push_poc_history(dec, 0, img.BottomFieldOrderCnt, reference);
    } else {
        img.BottomFieldOrderCnt = 0;
        img.TopFieldOrderCnt = Wrap32(exp + img.delta_pic_order_cnt[0]);
        img.this_poc = img.TopFieldOrderCnt;
        if (img.this_poc == img.PreviousPOC || img.idr_bottom_field_flag != 0 || later)
            dec.poc_history.top[0] = img.TopFieldOrderCnt;
        else
            dec_push_poc_history(dec, img.TopFieldOrderCnt, 0, reference);
    }
}

void PocType2(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    if (img.idr_flag) {
        FrameNumOffset(img);
        img.AbsFrameNum = 0;
        img.this_poc = img.TopFieldOrderCnt = img.BottomFieldOrderCnt = img.frame_poc = 0;
        return;
    }
    FrameNumOffset(img);
    img.AbsFrameNum = Wrap32(static_cast<long long>(img.FrameNumOffset) + img.frame_num);
    img.this_poc = Wrap32(2LL * img.AbsFrameNum - (img.non_reference ? 1 : 0));
    if (img.structure == kFrame)
        img.TopFieldOrderCnt = img.BottomFieldOrderCnt = img.this_poc;
    else if (img.structure == kBottomField)
        img.BottomFieldOrderCnt = img.this_poc;
    else
        img.TopFieldOrderCnt = img.this_poc;
    img.frame_poc = img.this_poc;
}

} // namespace

void h264dec_decode_poc(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    switch (img.pic_order_cnt_type) {
    case 0:
        PocType0(dec);
        break;
    case 1:
        PocType1(dec);
        break;
    default:
        PocType2(dec);
        break;
    }

    if (img.structure == kFrame) {
        img.frame_poc_half = img.this_poc / 2;
        img.tr = img.TopFieldOrderCnt / 2;
    } else {
        img.field_poc = img.this_poc;
        img.tr = img.structure == kBottomField ? img.BottomFieldOrderCnt : img.TopFieldOrderCnt;
    }
    dec.slice.picture_id = img.tr;

    if (img.current_slice_nr == 0 && !NonReferenceB(img)) {
        img.ref_structure = img.structure;
        if (img.structure == kTopField) {
            img.ref_poc_prev = img.ref_poc;
            img.ref_poc = img.field_poc;
        } else if (img.structure == kFrame) {
            img.ref_poc_prev = img.ref_poc;
            img.ref_poc = Wrap32(2LL * img.frame_poc_half);
        }
    }
}

void h264dec_update_poc_state(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    switch (img.pic_order_cnt_type) {
    case 0:
        if (!img.non_reference) {
            img.PrevPicOrderCntLsb = img.pic_order_cnt_lsb;
            img.PrevPicOrderCntMsb = img.PicOrderCntMsb;
        }
        break;
    case 1:
        img.PreviousFrameNum = img.frame_num;
        img.PreviousFieldPicFlag = img.field_pic_flag;
        img.PreviousBottomFieldFlag = img.bottom_field_flag;
        img.PreviousIdrFlag = img.idr_flag;
        img.PreviousDeltaPicOrderCnt[0] = img.delta_pic_order_cnt[0];
        img.PreviousDeltaPicOrderCnt[1] = img.delta_pic_order_cnt[1];
        img.PreviousPOC = img.this_poc;
        break;
    default:
        if (!img.non_reference)
            img.PreviousFrameNum = img.frame_num;
        break;
    }
}

void dec_reset_poc_history(H264DecoderState &dec)
{
    std::fill(std::begin(dec.poc_history.top), std::end(dec.poc_history.top), kPocHistoryEmpty);
    std::fill(std::begin(dec.poc_history.bottom), std::end(dec.poc_history.bottom), kPocHistoryEmpty);
    dec.poc_history.ref_mark = 0;
}

void dec_push_poc_history(H264DecoderState &dec, int top, int bottom, int reference)
{
    PocHistory &h = dec.poc_history;
    // A non-reference picture's entry is replaced by the next push rather than kept.
    if (h.ref_mark) {
        std::copy_backward(h.top, h.top + 9, h.top + 10);
        std::copy_backward(h.bottom, h.bottom + 9, h.bottom + 10);
    }
    h.top[0] = top;
    h.bottom[0] = bottom;
    h.ref_mark = reference;
}

int h264dec_poc_compare(const H264DecoderState &dec, int a, int b)
{
    const int ia = std::clamp(a + 1, 0, 9);
    const int ib = std::clamp(b + 1, 0, 9);
    return Wrap32(static_cast<long long>(dec.poc_history.top[ib]) - dec.poc_history.top[ia]);
}
