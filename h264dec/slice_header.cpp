// The slice header in the draft syntax. Against the final standard: num_ref_idx_override_flag and
// the reference marking stand in every slice (and with the flag clear both active counts are 0, the
// PPS defaults unused), redundant_pic_cnt is one bit, and there is no slice_group_change_cycle.
// Reordering commands are read and kept, never applied.
#include "h264dec/slice_header.h"

#include "h264dec/decoder_state.h"
#include "h264dec/ref_buffers.h"
#include "platform/format.h"

namespace {

constexpr int kMaxWeightDenom = 7;
constexpr int kMaxMmcoOps = 64;
constexpr int kMaxQp = 51;
constexpr int kMaxDeblockOffsetDiv2 = 6;

[[noreturn]] void HeaderError(const std::string &text)
{
    h264_fatal_error(text, kH264StreamErrorCode);
}

void CheckHeaderRange(const char *field, long long value, long long lo, long long hi)
{
    if (value < lo || value > hi)
        HeaderError(zn::Format("%s %lld out of range %lld..%lld", field, value, lo, hi));
}

Bitstream *HeaderBitstream(H264DecoderState &dec)
{
    const int part = assignSE2partition[dec.slice.dp_mode][SE_HEADER];
    return dec.slice.partitions[static_cast<size_t>(part)].bitstream.get();
}

bool IsISlice(int type)
{
    return type == kPictureI || type == kPictureSI;
}

// The picture-type code of a slice_type; 4 and 9 (SI) and values above 9 end the run.
int SliceTypeToPictureCode(int slice_type, int num_ref_frames)
{
    const bool multi = num_ref_frames > 1;
    switch (slice_type) {
    case 0:
    case 5:
        return multi ? kPicturePMulti : kPictureP;
    case 1:
    case 6:
        return multi ? kPictureBMulti : kPictureB;
    case 2:
    case 7:
        return kPictureI;
    case 3:
    case 8:
        return multi ? kPictureSPMulti : kPictureSP;
    default:
        h264_fatal_error("Invalid Slice Type", 500);
    }
}

// One list's reordering loop into arrays of the active count's size; the command 3 ends it.
void ReadReorderingLoop(Bitstream *bs, int list, std::vector<int> &idc, std::vector<int> &absDiff,
                        std::vector<int> &longTerm)
{
    const char *idcName = list == 0 ? "SH: remapping_of_pic_nums_idc_l0" : "SH: remapping_of_pic_nums_idc_l1";
    const char *diffName = list == 0 ? "SH: abs_diff_pic_num_minus1_l0" : "SH: abs_diff_pic_num_minus1_l1";
    const char *ltName = list == 0 ? "SH: long_term_pic_idx_l0" : "SH: long_term_pic_idx_l1";
    for (size_t i = 0;; ++i) {
        if (i >= idc.size()) {
            HeaderError(zn::Format("SH: more reordering commands for list %d than its %d active references",
                                   list, static_cast<int>(idc.size())));
        }
        idc[i] = h264dec_read_ue(idcName, bs);
        if (idc[i] == 0 || idc[i] == 1)
            absDiff[i] = h264dec_read_ue(diffName, bs);
        else if (idc[i] == 2)
            longTerm[i] = h264dec_read_ue(ltName, bs);
        if (idc[i] == 3)
            break;
    }
}

// Weights of one list: a luma flag per reference with weight and offset, one chroma flag for both
// chroma components.
void ReadListWeights(DecoderImage &img, Bitstream *bs, int list, int count)
{
    const bool l0 = list == 0;
    for (int i = 0; i < count; ++i) {
        if (h264dec_read_flag(l0 ? "SH: luma_weight_flag_l0" : "SH: luma_weight_flag_l1", bs)) {
            img.wp_weight[list][i][0] = h264dec_read_se(l0 ? "SH: luma_weight_l0" : "SH: luma_weight_l1", bs);
            img.wp_offset[list][i][0] = h264dec_read_se(l0 ? "SH: luma_offset_l0" : "SH: luma_offset_l1", bs);
        } else {
            img.wp_weight[list][i][0] = 1 << img.luma_log_weight_denom;
            img.wp_offset[list][i][0] = 0;
        }
        const int chromaFlag =
            h264dec_read_flag(l0 ? "SH: chroma_weight_flag_l0" : "SH: chroma_weight_flag_l1", bs);
        for (int j = 1; j <= 2; ++j) {
            if (chromaFlag) {
                img.wp_weight[list][i][j] =
                    h264dec_read_se(l0 ? "SH: chroma_weight_l0" : "SH: chroma_weight_l1", bs);
                img.wp_offset[list][i][j] =
                    h264dec_read_se(l0 ? "SH: chroma_offset_l0" : "SH: chroma_offset_l1", bs);
            } else {
                img.wp_weight[list][i][j] = 1 << img.chroma_log_weight_denom;
                img.wp_offset[list][i][j] = 0;
            }
        }
    }
}

} // namespace

int h264dec_read_slice_header_first(H264DecoderState &dec)
{
    DecoderSlice &slice = dec.slice;
    Bitstream *bs = HeaderBitstream(dec);
    dec.counters.syntax_bits = bs->bit_offset;
    slice.start_mb_nr = h264dec_read_ue("SH: first_mb_in_slice", bs);
    slice.picture_type = h264dec_read_ue("SH: slice_type", bs);
    slice.pic_parameter_set_id = h264dec_read_ue("SH: pic_parameter_set_id", bs);
    return dec.counters.syntax_bits;
}

int h264dec_read_slice_header_rest(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    DecoderSlice &slice = dec.slice;
    const SPS &sps = *dec.active_sps;
    const PPS &pps = *dec.active_pps;
    Bitstream *bs = HeaderBitstream(dec);

    img.type = slice.picture_type = SliceTypeToPictureCode(slice.picture_type, sps.num_ref_frames);
    const bool isB = IsBPicture(img.type);
    const bool isP = IsPPicture(img.type) || IsSPPicture(img.type);

    img.frame_num = h264dec_read_u(sps.log2_max_frame_num_minus4 + 4, "SH: frame_num", bs);

    if (sps.frame_mbs_only_flag) {
        img.structure = kFrame;
        img.field_pic_flag = 0;
    } else {
        img.field_pic_flag = h264dec_read_flag("SH: field_pic_flag", bs);
        if (img.field_pic_flag) {
            img.bottom_field_flag = h264dec_read_flag("SH: bottom_field_flag", bs);
            img.structure = img.bottom_field_flag ? kBottomField : kTopField;
        } else {
            img.structure = kFrame;
            img.bottom_field_flag = 0;
        }
    }
    slice.structure = img.structure;
    const int widthMbs = sps.frame_width_in_mbs_minus1 + 1;
    const int heightUnits = (sps.frame_height_in_mbs_minus1 + 1) / (img.field_pic_flag ? 2 : 1);
    CheckHeaderRange("SH: first_mb_in_slice", slice.start_mb_nr, 0,
               static_cast<long long>(widthMbs) * heightUnits - 1);

    img.MbaffFrameFlag = sps.mb_adaptive_frame_field_flag && !img.field_pic_flag ? 1 : 0;

    if (img.idr_flag)
        img.idr_pic_id = h264dec_read_ue("SH: idr_pic_id", bs);

    if (img.pic_order_cnt_type == 0) {
        img.pic_order_cnt_lsb =
            h264dec_read_u(sps.log2_max_pic_order_cnt_lsb_minus4 + 4, "SH: pic_order_cnt_lsb", bs);
        if (img.pic_order_present_flag == 1 && !img.field_pic_flag)
            img.delta_pic_order_cnt_bottom = h264dec_read_se("SH: delta_pic_order_cnt_bottom", bs);
    }
    if (img.pic_order_cnt_type == 1 && !img.delta_pic_order_always_zero_flag) {
        img.delta_pic_order_cnt[0] = h264dec_read_se("SH: delta_pic_order_cnt[0]", bs);
        if (img.pic_order_present_flag == 1 && !img.field_pic_flag)
            img.delta_pic_order_cnt[1] = h264dec_read_se("SH: delta_pic_order_cnt[1]", bs);
    }

    // The PPS bit that gates redundant_pic_cnt is the one after constrained_intra_pred_flag.
    if (pps.vui_pic_parameters_flag)
        img.redundant_pic_cnt = h264dec_read_u(1, "SH: redundant_pic_cnt", bs);

    if (isB)
        img.direct_spatial_mv_pred_flag = h264dec_read_flag("SH: direct_spatial_mv_pred_flag", bs);

    img.num_ref_idx_active_fwd = 0;
    img.num_ref_idx_active_bwd = 0;
    if (h264dec_read_flag("SH: num_ref_idx_override_flag", bs) && (isP || isB)) {
        const int fwd = h264dec_read_ue("SH: num_ref_pic_active_fwd_minus1", bs);
        CheckHeaderRange("SH: num_ref_pic_active_fwd_minus1", fwd, 0, kMaxRefIdx - 1);
        img.num_ref_idx_active_fwd = fwd + 1;
        if (isB) {
            const int bwd = h264dec_read_ue("SH: num_ref_pic_active_bwd_minus1", bs);
            CheckHeaderRange("SH: num_ref_pic_active_bwd_minus1", bwd, 0, kMaxRefIdx - 1);
            img.num_ref_idx_active_bwd = bwd + 1;
        }
    }

    h264dec_read_reordering(dec, bs);

    img.apply_weights = ((img.weighted_pred_flag && isP) || (img.weighted_bipred_idc > 0 && isB)) ? 1 : 0;
    if ((img.weighted_pred_flag && isP) || (img.weighted_bipred_idc == 1 && isB))
        h264dec_read_pred_weights(dec, bs);

    h264dec_read_ref_marking(dec, bs);

    if (pps.entropy_coding_mode == 1 && !IsISlice(img.type)) {
        img.model_number = h264dec_read_ue("SH: cabac_init_idc", bs);
        CheckHeaderRange("SH: cabac_init_idc", img.model_number, 0, 2);
    } else {
        img.model_number = 0;
    }

    const long long qp = 26LL + pps.pic_init_qp_minus26 + h264dec_read_se("SH: slice_qp_delta", bs);
    CheckHeaderRange("SH: slice QP", qp, 0, kMaxQp);
    img.qp = slice.qp = static_cast<int>(qp);

    if (IsSPPicture(img.type) || img.type == kPictureSI) {
        if (IsSPPicture(img.type))
            img.sp_switch = h264dec_read_flag("SH: sp_for_switch_flag", bs);
        const long long qpsp = 26LL + pps.pic_init_qs_minus26 + h264dec_read_se("SH: slice_qs_delta", bs);
        CheckHeaderRange("SH: slice SP QP", qpsp, 0, kMaxQp);
        img.qpsp = static_cast<int>(qpsp);
    }

    if (pps.deblocking_filter_parameters_present_flag) {
        slice.disable_deblocking_filter_idc = h264dec_read_ue("SH: disable_deblocking_filter_idc", bs);
        if (slice.disable_deblocking_filter_idc != 1) {
            const int alpha = h264dec_read_se("SH: slice_alpha_c0_offset_div2", bs);
            CheckHeaderRange("SH: slice_alpha_c0_offset_div2", alpha, -kMaxDeblockOffsetDiv2,
                       kMaxDeblockOffsetDiv2);
            const int beta = h264dec_read_se("SH: slice_beta_offset_div2", bs);
            CheckHeaderRange("SH: slice_beta_offset_div2", beta, -kMaxDeblockOffsetDiv2, kMaxDeblockOffsetDiv2);
            slice.slice_alpha_c0_offset = 2 * alpha;
            slice.slice_beta_offset = 2 * beta;
        }
    }

    img.ref_buffer_cycle = dec.input.ref_frames + 1;
    const int number = img.structure == kBottomField ? img.number / 2 : img.number;
    img.buffer_slot = number % img.ref_buffer_cycle;
    img.mb_limit = img.height * img.width * 2 / 256;

    h264dec_decode_poc(dec);
    return dec.counters.syntax_bits;
}

void h264dec_read_reordering(H264DecoderState &dec, Bitstream *bs)
{
    DecoderImage &img = dec.img;
    DecoderSlice &slice = dec.slice;
    dec_alloc_ref_pic_list_reordering_buffer(dec, slice);
    if (!IsISlice(img.type)) {
        slice.ref_pic_list_reordering_flag_l0 = h264dec_read_flag("SH: ref_pic_list_reordering_flag_l0", bs);
        if (slice.ref_pic_list_reordering_flag_l0)
            ReadReorderingLoop(bs, 0, slice.remapping_of_pic_nums_idc_l0, slice.abs_diff_pic_num_minus1_l0,
                               slice.long_term_pic_idx_l0);
    }
    if (IsBPicture(img.type)) {
        slice.ref_pic_list_reordering_flag_l1 = h264dec_read_flag("SH: ref_pic_list_reordering_flag_l1", bs);
        if (slice.ref_pic_list_reordering_flag_l1)
            ReadReorderingLoop(bs, 1, slice.remapping_of_pic_nums_idc_l1, slice.abs_diff_pic_num_minus1_l1,
                               slice.long_term_pic_idx_l1);
    }
}

void h264dec_read_pred_weights(H264DecoderState &dec, Bitstream *bs)
{
    DecoderImage &img = dec.img;
    img.luma_log_weight_denom = h264dec_read_ue("SH: luma_log_weight_denom", bs);
    CheckHeaderRange("SH: luma_log_weight_denom", img.luma_log_weight_denom, 0, kMaxWeightDenom);
    // A denominator of 0 has no rounding term.
    img.wp_round_luma = img.luma_log_weight_denom > 0 ? 1 << (img.luma_log_weight_denom - 1) : 0;
    img.chroma_log_weight_denom = h264dec_read_ue("SH: chroma_log_weight_denom", bs);
    CheckHeaderRange("SH: chroma_log_weight_denom", img.chroma_log_weight_denom, 0, kMaxWeightDenom);
    img.wp_round_chroma = img.chroma_log_weight_denom > 0 ? 1 << (img.chroma_log_weight_denom - 1) : 0;

    dec_default_weights(dec);
    ReadListWeights(img, bs, 0, img.num_ref_idx_active_fwd);
    if (IsBPicture(img.type) && img.weighted_bipred_idc == 1)
        ReadListWeights(img, bs, 1, img.num_ref_idx_active_bwd);
}

void h264dec_read_ref_marking(H264DecoderState &dec, Bitstream *bs)
{
    DecoderImage &img = dec.img;
    img.mmco_list.clear();
    if (img.idr_flag) {
        img.no_output_of_prior_pics_flag = h264dec_read_flag("SH: no_output_of_prior_pics_flag", bs);
        img.long_term_reference_flag = h264dec_read_flag("SH: long_term_reference_flag", bs);
        return;
    }
    img.adaptive_ref_pic_buffering_flag = h264dec_read_flag("SH: adaptive_ref_pic_buffering_flag", bs);
    if (!img.adaptive_ref_pic_buffering_flag)
        return;
    for (;;) {
        if (static_cast<int>(img.mmco_list.size()) >= kMaxMmcoOps)
            HeaderError(
                zn::Format("SH: more than %d memory_management_control_operation commands", kMaxMmcoOps));
        DecRefPicMarking op;
        op.operation = h264dec_read_ue("SH: memory_management_control_operation", bs);
        if (op.operation == 1 || op.operation == 3)
            op.difference_of_pic_nums = h264dec_read_ue("SH: difference_of_pic_nums_minus1", bs) + 1;
        if (op.operation == 2 || op.operation == 3 || op.operation == 6)
            op.long_term_pic_idx = h264dec_read_ue("SH: long_term_pic_idx", bs);
        if (op.operation == 4)
            op.max_long_term_pic_idx_plus1 = h264dec_read_ue("SH: max_long_term_pic_idx_plus1", bs);
        img.mmco_list.push_back(op);
        if (op.operation == 0)
            break;
    }
}

void dec_default_weights(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    for (int list = 0; list < 2; ++list)
        for (int i = 0; i < kMaxRefIdx; ++i)
            for (int c = 0; c < 3; ++c) {
                img.wp_weight[list][i][c] =
                    1 << (c == 0 ? img.luma_log_weight_denom : img.chroma_log_weight_denom);
                img.wp_offset[list][i][c] = 0;
            }
}
