// Slice header writer. The header goes out in the draft's field order, which this program's decoder
// reads; where the two sides could disagree (the backward reordering flag of stored B pictures, the
// switching flag of SP slices, redundant_pic_cnt) the decoder's reading decides what is written.
#include "h264enc/slice_header_write.h"

#include "h264dec/h264_shared.h"
#include "h264enc/enc_run.h"

namespace h264enc {

namespace {

// One list's weights: a luma flag per reference with its weight and offset, and one chroma flag for
// both chroma components.
int WriteListWeights(const EncoderImage &img, SlicePartition *part, int list, int count)
{
    const bool l0 = list == 0;
    int bits = 0;
    for (int i = 0; i < count && i < kMaxWeightRefs; ++i) {
        const int *w = img.wp_weight[list][i];
        const int *o = img.wp_offset[list][i];
        const int lumaFlag = w[0] != (1 << img.luma_log_weight_denom) || o[0] != 0 ? 1 : 0;
        bits += write_u_1(l0 ? "SH: luma_weight_flag_l0" : "SH: luma_weight_flag_l1", lumaFlag, part);
        if (lumaFlag) {
            bits += write_se_v(l0 ? "SH: luma_weight_l0" : "SH: luma_weight_l1", w[0], part);
            bits += write_se_v(l0 ? "SH: luma_offset_l0" : "SH: luma_offset_l1", o[0], part);
        }
        int chromaFlag = 0;
        for (int j = 1; j <= 2; ++j)
            chromaFlag |= w[j] != (1 << img.chroma_log_weight_denom) || o[j] != 0 ? 1 : 0;
        bits += write_u_1(l0 ? "chroma_weight_flag_l0" : "chroma_weight_flag_l1", chromaFlag, part);
        if (chromaFlag)
            for (int j = 1; j <= 2; ++j) {
                bits += write_se_v(l0 ? "chroma_weight_l0" : "chroma_weight_l1", w[j], part);
                bits += write_se_v(l0 ? "chroma_offset_l0" : "chroma_offset_l1", o[j], part);
            }
    }
    return bits;
}

int WriteReorderingCommands(const std::vector<ReorderCommand> &commands, SlicePartition *part, int list)
{
    const bool l0 = list == 0;
    int bits = 0;
    for (const ReorderCommand &c : commands) {
        bits += write_ue_v(l0 ? "SH: remapping_of_pic_num_idc_l0" : "SH: remapping_of_pic_num_idc_l1", c.kind,
                           part);
        if (c.kind == 0 || c.kind == 1)
            bits += write_ue_v(l0 ? "SH: abs_diff_pic_num_minus1_l0" : "SH: abs_diff_pic_num_minus1_l1",
                               c.value - 1, part);
        else
            bits += write_ue_v(l0 ? "SH: long_term_pic_idx_l0" : "SH: long_term_pic_idx_l1", c.value, part);
    }
    return bits +
           write_ue_v(l0 ? "SH: remapping_of_pic_num_idc_l0" : "SH: remapping_of_pic_num_idc_l1", 3, part);
}

} // namespace

int h264enc_slice_type_code(const EncoderImage &img)
{
    if (img.sp_mode == kSpMode)
        return 8;
    switch (img.type) {
    case kTypeI:
        return 7;
    case kTypeP:
        return 5;
    case kTypeB:
    case kTypeStoredB:
        return 6;
    case kTypeSP:
        return 8;
    default:
        h264_fatal_error("Picture Type not supported!", 1);
    }
}

int h264enc_write_slice_header(EncoderRun &run)
{
    EncoderImage &img = run.img;
    const EncoderParams &input = run.input;
    Slice &slice = *img.current_slice;
    SlicePartition *part = &slice.partArr[0];
    const int sliceType = h264enc_slice_type_code(img);
    const bool isB = sliceType == 6, isP = sliceType == 5 || sliceType == 8;
    int bits = 0;
    // Macroblock-adaptive frames count the slice's start in macroblock pairs.
    const int w = img.WidthMbs();
    const int firstMb = img.mbaff && w > 0 ? (img.mb_index / (2 * w)) * w + img.mb_index % w : img.mb_index;
    bits += write_ue_v("SH: first_mb_in_slice", firstMb, part);
    bits += write_ue_v("SH: slice_type", sliceType, part);
    bits += write_ue_v("SH: pic_parameter_set_id", 0, part);
    bits += write_u_v(8, "SH: frame_num", img.frame_in_gop & 0xFF, part);
    if (input.InterlaceCodingOption != 0) {
        bits += write_u_1("SH: field_pic_flag", img.field_picture ? 1 : 0, part);
        if (img.field_picture)
            bits += write_u_1("SH: bottom_field_flag", img.bottom_field ? 1 : 0, part);
    }
    if (img.idr_flag)
        bits += write_ue_v("SH: idr_pic_id", 0, part);
    if (img.poc_type == 0) {
        img.pic_order_cnt_lsb = (img.field_picture && img.bottom_field ? img.bottompoc : img.toppoc) & 0xFF;
        bits += write_u_v(8, "SH: pic_order_cnt_lsb", img.pic_order_cnt_lsb, part);
        if (img.pic_order_present_flag && !img.field_picture)
            bits += write_se_v("SH: delta_pic_order_cnt_bottom", img.bottompoc - img.toppoc, part);
    }
    if (img.poc_type == 1 && !img.delta_pic_order_always_zero_flag) {
        bits += write_se_v("SH: delta_pic_order_cnt[0]", img.delta_poc, part);
        if (img.pic_order_present_flag && !img.field_picture)
            bits += write_se_v("SH: delta_pic_order_cnt[1]", img.delta_poc_bottom, part);
    }
    // redundant_pic_cnt is never written: the decoder reads it only under a PPS flag this encoder
    // never sets, and UseRedundantSlice only announces redundant slices in the SPS.
    if (isB)
        bits += write_u_1("SH: direct_spatial_mv_pred_flag", input.DirectModeType ? 1 : 0, part);
    bits += write_u_1("SH: num_ref_idx_active_override_flag", 1, part);
    if (isP || isB) {
        bits += write_ue_v("SH: num_ref_pic_active_fwd_minus1", img.num_ref_minus1, part);
        if (isB)
            bits += write_ue_v("SH: num_ref_pic_active_bwd_minus1", img.stored_b_ref, part);
    }
    bits += h264enc_write_reordering(run, part);
    if ((isP && input.WeightedPrediction) || (isB && input.WeightedBiprediction == 1))
        bits += h264enc_write_weight_table(img, part);
    bits += h264enc_write_ref_marking(img, part);
    if (input.SymbolMode != 0 && sliceType != 7)
        bits += write_ue_v("SH: cabac_init_idc", img.cabac_model, part);
    bits += write_se_v("SH: slice_qp_delta", img.qp - 26, part);
    if (sliceType == 8) {
        bits += write_u_1("SH: sp_for_switch_flag", 0, part);
        bits += write_se_v("SH: slice_qs_delta", img.qpsp - 26, part);
    }
    if (input.LoopFilterParametersFlag) {
        bits += write_ue_v("SH: disable_deblocking_filter_idc", img.lf_disable, part);
        if (img.lf_disable != 1) {
            // The picture keeps the offsets in table units, twice the values sent.
            bits += write_se_v("SH: slice_alpha_c0_offset_div2", img.lf_alpha_offset / 2, part);
            bits += write_se_v("SH: slice_beta_offset_div2", img.lf_beta_offset / 2, part);
        }
    }
    return bits;
}

int h264enc_write_reordering(EncoderRun &run, SlicePartition *part)
{
    EncoderImage &img = run.img;
    Slice &slice = *img.current_slice;
    int bits = 0;
    if (img.type != kTypeI) {
        bits += write_u_1("SH: ref_pic_list_reordering_flag_l0", slice.ref_pic_list_reordering_flag_l0, part);
        if (slice.ref_pic_list_reordering_flag_l0)
            bits += WriteReorderingCommands(slice.reorder_l0, part, 0);
    }
    if (IsB(img)) {
        bits += write_u_1("SH: ref_pic_list_reordering_flag_l1", slice.ref_pic_list_reordering_flag_l1, part);
        if (slice.ref_pic_list_reordering_flag_l1)
            bits += WriteReorderingCommands(slice.reorder_l1, part, 1);
    }
    if (run.refs.fb)
        remap_reference_frames(run.refs, img.frame_in_gop,
                               slice.ref_pic_list_reordering_flag_l0 ? slice.reorder_l0
                                                                     : std::vector<ReorderCommand>());
    return bits;
}

int h264enc_write_ref_marking(const EncoderImage &img, SlicePartition *part)
{
    if (img.idr_flag) {
        int bits = write_u_1("SH: no_output_of_prior_pics_flag", img.no_output_of_prior_pics_flag, part);
        return bits + write_u_1("SH: long_term_reference_flag", img.long_term_reference_flag, part);
    }
    const int adaptive = img.mmco.empty() ? 0 : 1;
    int bits = write_u_1("SH: adaptive_ref_pic_buffering_flag", adaptive, part);
    if (!adaptive)
        return bits;
    if (img.mmco.back().operation != 0)
        h264_fatal_error("Error encoding MMCO commands", 500);
    for (const MmcoCommand &c : img.mmco) {
        bits += write_ue_v("SH: memory_management_control_operation", c.operation, part);
        if (c.operation == 1 || c.operation == 3)
            bits += write_ue_v("SH: difference_of_pic_nums_minus1", c.difference_of_pic_nums_minus1, part);
        if (c.operation == 2 || c.operation == 3 || c.operation == 6)
            bits += write_ue_v("SH: long_term_pic_idx", c.long_term_pic_idx, part);
        if (c.operation == 4)
            bits += write_ue_v("SH: max_long_term_pic_idx_plus1", c.max_long_term_pic_idx_plus1, part);
        if (c.operation == 0)
            break;
    }
    return bits;
}

int h264enc_write_weight_table(const EncoderImage &img, SlicePartition *part)
{
    int bits = write_ue_v("SH: luma_log_weight_denom", img.luma_log_weight_denom, part);
    bits += write_ue_v("SH: chroma_log_weight_denom", img.chroma_log_weight_denom, part);
    bits += WriteListWeights(img, part, 0, img.num_ref_minus1 + 1);
    if (IsB(img))
        bits += WriteListWeights(img, part, 1, img.stored_b_ref + 1);
    return bits;
}

int h264enc_write_partition_header(EncoderRun &run, int partition)
{
    Slice &slice = *run.img.current_slice;
    SlicePartition *part = &slice.partArr[static_cast<size_t>(partition)];
    int bits = write_ue_v("DPB/DPC: slice_id", slice.picture_id, part);
    return bits + write_ue_v("DPB/DPC: slice_number", run.img.current_slice_nr, part);
}

} // namespace h264enc
