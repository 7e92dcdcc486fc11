// Parameter sets. Against the final standard the draft SPS has no constraint flags, carries level_idc
// and three slice flags before its id and no cropping (the PPS has it), and the draft PPS counts its
// explicit slice-group map by slice_group_id_cnt_minus1. Sets stay in the decoder's tables until a set
// with the same id replaces them; activation then copies what the picture needs.
#include "h264dec/param_sets.h"

#include "h264dec/cabac_read.h"
#include "h264dec/cavlc_read.h"
#include "h264dec/decoder_state.h"
#include "platform/format.h"
#include "platform/log.h"

namespace {

constexpr int kMaxLog2Minus4 = 12;
constexpr int kMaxWidthMbs = 4096 / 16;
constexpr int kMaxHeightMbs = 2304 / 16;

[[noreturn]] void OutOfRange(const char *field, int value, int lo, int hi)
{
    h264_fatal_error(zn::Format("%s %d out of range %d..%d", field, value, lo, hi), kH264StreamErrorCode);
}

void CheckRange(const char *field, int value, int lo, int hi)
{
    if (value < lo || value > hi)
        OutOfRange(field, value, lo, hi);
}

} // namespace

std::string FinalSyntaxMessage(int profile_idc)
{
    return zn::Format(
        "This H.264 stream uses the final standard's syntax (profile_idc %d). Zantho decodes only "
        "the draft syntax of its own encoder.",
        profile_idc);
}

std::unique_ptr<SPS> dec_AllocSPS()
{
    return std::make_unique<SPS>();
}

PpsPtr dec_AllocPPS()
{
    // The slice_group_id array grows to the count the set announces (at most 60000 entries).
    return PpsPtr(new PPS);
}

int h264dec_read_sps(DataPartition *p, SPS *sps)
{
    Bitstream *s = p->bitstream.get();
    s->counters->syntax_bits = 0;

    sps->profile_idc = h264dec_read_u(8, "SPS: profile_idc", s);
    if (sps->profile_idc != 0)
        h264_fatal_error(FinalSyntaxMessage(sps->profile_idc), kH264StreamErrorCode);
    sps->level_idc = h264dec_read_u(8, "SPS: level_idc", s);
    sps->more_than_one_slice_group_allowed_flag =
        h264dec_read_flag("SPS: more_than_one_slice_group_allowed_flag", s);
    sps->arbitrary_slice_order_allowed_flag = h264dec_read_flag("SPS: arbitrary_slice_order_allowed_flag", s);
    sps->redundant_slices_allowed_flag = h264dec_read_flag("SPS: redundant_slices_allowed_flag", s);
    sps->seq_parameter_set_id = h264dec_read_ue("SPS: seq_parameter_set_id", s);
    CheckRange("SPS: seq_parameter_set_id", sps->seq_parameter_set_id, 0, kMaxSps - 1);
    sps->log2_max_frame_num_minus4 = h264dec_read_ue("SPS: log2_max_frame_num_minus4", s);
    CheckRange("SPS: log2_max_frame_num_minus4", sps->log2_max_frame_num_minus4, 0, kMaxLog2Minus4);
    sps->pic_order_cnt_type = h264dec_read_ue("SPS: pic_order_count_type", s);

    if (sps->pic_order_cnt_type == 0) {
        sps->log2_max_pic_order_cnt_lsb_minus4 = h264dec_read_ue("SPS: log2_max_pic_order_cnt_lsb_minus4", s);
        CheckRange("SPS: log2_max_pic_order_cnt_lsb_minus4", sps->log2_max_pic_order_cnt_lsb_minus4, 0,
                   kMaxLog2Minus4);
    } else if (sps->pic_order_cnt_type == 1) {
        sps->delta_pic_order_always_zero_flag = h264dec_read_flag("SPS: delta_pic_order_always_zero_flag", s);
        sps->offset_for_non_ref_pic = h264dec_read_se("SPS: offset_for_non_ref_pic", s);
        sps->offset_for_top_to_bottom_field = h264dec_read_se("SPS: offset_for_top_to_bottom_field", s);
        sps->num_ref_frames_in_pic_order_cnt_cycle =
            h264dec_read_ue("SPS: num_ref_frames_in_pic_order_cnt_cycle", s);
        CheckRange("SPS: num_ref_frames_in_pic_order_cnt_cycle", sps->num_ref_frames_in_pic_order_cnt_cycle,
                   0, kMaxPocCycle);
        for (int i = 0; i < sps->num_ref_frames_in_pic_order_cnt_cycle; ++i)
            sps->offset_for_ref_frame[static_cast<size_t>(i)] =
                h264dec_read_se("SPS: offset_for_ref_frame", s);
    }

    sps->num_ref_frames = h264dec_read_ue("SPS: num_ref_frames", s);
    sps->required_frame_num_update_behaviour_flag =
        h264dec_read_flag("SPS: required_frame_num_update_behaviour_flag", s);
    sps->frame_width_in_mbs_minus1 = h264dec_read_ue("SPS: frame_width_in_mbs_minus1", s);
    sps->frame_height_in_mbs_minus1 = h264dec_read_ue("SPS: frame_height_in_mbs_minus1", s);
    sps->frame_mbs_only_flag = h264dec_read_flag("SPS: frame_mbs_only_flag", s);
    if (!sps->frame_mbs_only_flag)
        sps->mb_adaptive_frame_field_flag = h264dec_read_flag("SPS: mb_adaptive_frame_field_flag", s);
    sps->direct_8x8_inference_flag = h264dec_read_flag("SPS: direct_8x8_inference_flag", s);
    sps->vui_parameters_present_flag = h264dec_read_flag("SPS: vui_parameters_present_flag", s);

    const int heightMbs = sps->frame_height_in_mbs_minus1 + 1;
    if (sps->frame_width_in_mbs_minus1 >= kMaxWidthMbs || sps->frame_height_in_mbs_minus1 >= kMaxHeightMbs) {
        h264_fatal_error(zn::Format("SPS: a picture of %d x %d macroblocks is larger than 4096 x 2304 pixels",
                                    sps->frame_width_in_mbs_minus1 + 1, sps->frame_height_in_mbs_minus1 + 1),
                         kH264StreamErrorCode);
    }
    if (!sps->frame_mbs_only_flag && (heightMbs & 1)) {
        h264_fatal_error(
            zn::Format("SPS: field pictures need an even number of macroblock rows, not %d", heightMbs),
            kH264StreamErrorCode);
    }

    if (sps->vui_parameters_present_flag)
        zn::Log(zn::LogLevel::Info,
                "VUI sequence parameters present but not supported, ignored, proceeding to next NALU\n");
    sps->Valid = 1;
    return s->counters->syntax_bits;
}

int h264dec_read_pps(DataPartition *p, PPS *pps)
{
    Bitstream *s = p->bitstream.get();
    s->counters->syntax_bits = 0;

    pps->pic_parameter_set_id = h264dec_read_ue("PPS: pic_parameter_set_id", s);
    CheckRange("PPS: pic_parameter_set_id", pps->pic_parameter_set_id, 0, kMaxPps - 1);
    pps->seq_parameter_set_id = h264dec_read_ue("PPS: seq_parameter_set_id", s);
    CheckRange("PPS: seq_parameter_set_id", pps->seq_parameter_set_id, 0, kMaxSps - 1);
    pps->entropy_coding_mode = h264dec_read_flag("PPS: entropy_coding_mode", s);
    pps->pic_order_present_flag = h264dec_read_flag("PPS: pic_order_present_flag", s);
    pps->num_slice_groups_minus1 = h264dec_read_ue("PPS: num_slice_groups_minus1", s);
    CheckRange("PPS: num_slice_groups_minus1", pps->num_slice_groups_minus1, 0, kMaxSliceGroups - 1);

    if (pps->num_slice_groups_minus1 > 0) {
        pps->mb_slice_group_map_type = h264dec_read_ue("PPS: mb_slice_group_map_type", s);
        switch (pps->mb_slice_group_map_type) {
        case 0:
            for (int i = 0; i < pps->num_slice_groups_minus1; ++i)
                pps->run_length[static_cast<size_t>(i)] = h264dec_read_ue("PPS: run_length", s);
            break;
        case 2:
            for (int i = 0; i < pps->num_slice_groups_minus1; ++i) {
                pps->top_left_mb[static_cast<size_t>(i)] = h264dec_read_ue("PPS: top_left_mb", s);
                pps->bottom_right_mb[static_cast<size_t>(i)] = h264dec_read_ue("PPS: bottom_right_mb", s);
            }
            break;
        case 3:
        case 4:
        case 5:
            pps->slice_group_change_direction_flag =
                h264dec_read_flag("PPS: slice_group_change_direction_flag", s);
            pps->slice_group_change_rate_minus1 = h264dec_read_ue("PPS: slice_group_change_rate_minus1", s);
            break;
        case 6: {
            pps->slice_group_id_cnt_minus1 = h264dec_read_ue("PPS: slice_group_id_cnt_minus1", s);
            CheckRange("PPS: slice_group_id_cnt_minus1", pps->slice_group_id_cnt_minus1, 0,
                       kMaxSliceGroupIds - 1);
            const int bits = SliceGroupIdBits(pps->num_slice_groups_minus1);
            if (static_cast<int>(pps->slice_group_id.size()) < pps->slice_group_id_cnt_minus1 + 1)
                pps->slice_group_id.resize(static_cast<size_t>(pps->slice_group_id_cnt_minus1) + 1);
            for (int i = 0; i <= pps->slice_group_id_cnt_minus1; ++i)
                pps->slice_group_id[static_cast<size_t>(i)] = h264dec_read_u(bits, "PPS: slice_group_id", s);
            break;
        }
        default:
            break;
        }
    }

    pps->num_ref_idx_l0_active_minus1 = h264dec_read_ue("PPS: num_ref_idx_l0_active_minus1", s);
    pps->num_ref_idx_l1_active_minus1 = h264dec_read_ue("PPS: num_ref_idx_l1_active_minus1", s);
    pps->weighted_pred_flag = h264dec_read_flag("PPS: wheighted prediction flag", s);
    pps->weighted_bipred_idc = h264dec_read_u(2, "PPS: weighted_bipred_idc", s);
    pps->pic_init_qp_minus26 = h264dec_read_se("PPS: pic_init_qp_minus26", s);
    pps->pic_init_qs_minus26 = h264dec_read_se("PPS: pic_init_qs_minus26", s);
    pps->chroma_qp_index_offset = h264dec_read_se("PPS: chroma_qp_index_offset", s);
    pps->deblocking_filter_parameters_present_flag =
        h264dec_read_flag("PPS: deblocking_filter_parameters_present_flag", s);
    pps->constrained_intra_pred_flag = h264dec_read_flag("PPS: constrained_intra_pred_flag", s);
    pps->vui_pic_parameters_flag = h264dec_read_flag("PPS: vui_pic_parameters_flag", s);
    pps->frame_cropping_flag = h264dec_read_flag("PPS: frame_cropping_flag", s);
    if (pps->frame_cropping_flag) {
        pps->frame_cropping_rect_left_offset = h264dec_read_ue("PPS: frame_cropping_rect_left_offset", s);
        pps->frame_cropping_rect_right_offset = h264dec_read_ue("PPS: frame_cropping_rect_right_offset", s);
        pps->frame_cropping_rect_top_offset = h264dec_read_ue("PPS: frame_cropping_rect_top_offset", s);
        pps->frame_cropping_rect_bottom_offset = h264dec_read_ue("PPS: frame_cropping_rect_bottom_offset", s);
    }
    pps->Valid = 1;
    return s->counters->syntax_bits;
}

int h264dec_store_sps(H264DecoderState &dec, int id, const SPS *sps)
{
    dec.sps_table[static_cast<size_t>(id)] = *sps;
    return id;
}

void MakePPSavailable(H264DecoderState &dec, int id, PPS *pps)
{
    PPS &entry = dec.pps_table[static_cast<size_t>(id)];
    // The entry keeps only the map entries the set announces; the record's own array is not copied.
    const size_t count = static_cast<size_t>(pps->slice_group_id_cnt_minus1) + 1;
    std::vector<int> ids(pps->slice_group_id.begin(),
                         pps->slice_group_id.begin() +
                             static_cast<long>(std::min(count, pps->slice_group_id.size())));
    ids.resize(count, 0);
    std::vector<int> parsed;
    parsed.swap(pps->slice_group_id);
    entry = *pps;
    parsed.swap(pps->slice_group_id);
    entry.slice_group_id = std::move(ids);
}

void h264dec_process_sps(H264DecoderState &dec, const NALU &nalu)
{
    std::vector<DataPartition> parts = AllocPartition(dec, 1, 0);
    h264dec_load_unit(parts[0].bitstream.get(), nalu);
    std::unique_ptr<SPS> sps = dec_AllocSPS();
    h264dec_read_sps(&parts[0], sps.get());
    h264dec_store_sps(dec, sps->seq_parameter_set_id, sps.get());
    dec_release_partitions(parts, 1);
}

void h264dec_process_pps(H264DecoderState &dec, const NALU &nalu)
{
    std::vector<DataPartition> parts = AllocPartition(dec, 1, 0);
    h264dec_load_unit(parts[0].bitstream.get(), nalu);
    PpsPtr pps = dec_AllocPPS();
    h264dec_read_pps(&parts[0], pps.get());
    MakePPSavailable(dec, pps->pic_parameter_set_id, pps.get());
    dec_release_partitions(parts, 1);
}

void h264dec_activate_param_sets(H264DecoderState &dec, int pps_id)
{
    DecoderImage &img = dec.img;
    // A set that never arrived would decode as zeros; the run ends instead.
    if (pps_id < 0 || pps_id >= kMaxPps || dec.pps_table[static_cast<size_t>(pps_id)].Valid != 1) {
        h264_fatal_error(
            zn::Format("Trying to use an invalid (uninitialized) Picture Parameter Set with ID %d, "
                       "expect the unexpected...",
                       pps_id),
            kH264StreamErrorCode);
    }
    dec.active_pps = &dec.pps_table[static_cast<size_t>(pps_id)];
    const int sps_id = dec.active_pps->seq_parameter_set_id;
    if (dec.sps_table[static_cast<size_t>(sps_id)].Valid != 1) {
        h264_fatal_error(
            zn::Format("PicParset %d references an invalid (uninitialized) Sequence Parameter Set "
                       "with ID %d, expect the unexpected...",
                       pps_id, sps_id),
            kH264StreamErrorCode);
    }
    dec.active_sps = &dec.sps_table[static_cast<size_t>(sps_id)];
    const SPS &sps = *dec.active_sps;
    const PPS &pps = *dec.active_pps;

    img.MaxFrameNum = 1 << (sps.log2_max_frame_num_minus4 + 4);
    img.pic_order_cnt_type = sps.pic_order_cnt_type;
    if (img.pic_order_cnt_type > 2) {
        zn::LogF(zn::LogLevel::Info, "sps->pic_order_cnt_type %d, expected 1, expect the unexpected...\n",
                 sps.pic_order_cnt_type);
        h264_fatal_error("pic_order_cnt_type != 1", -1000);
    }
    if (img.pic_order_cnt_type == 1) {
        img.num_ref_frames_in_pic_order_cnt_cycle = sps.num_ref_frames_in_pic_order_cnt_cycle;
        if (img.num_ref_frames_in_pic_order_cnt_cycle != 1)
            h264_fatal_error("num_ref_frames_in_pic_order_cnt_cycle != 1", -1001);
        img.delta_pic_order_always_zero_flag = sps.delta_pic_order_always_zero_flag;
        if (img.delta_pic_order_always_zero_flag != 0)
            h264_fatal_error("delta_pic_order_always_zero_flag != 0", -1002);
        img.offset_for_non_ref_pic = sps.offset_for_non_ref_pic;
        img.offset_for_top_to_bottom_field = sps.offset_for_top_to_bottom_field;
        img.offset_for_ref_frame = sps.offset_for_ref_frame;
    }

    img.width = (sps.frame_width_in_mbs_minus1 + 1) * 16;
    img.height = (sps.frame_height_in_mbs_minus1 + 1) * 16;
    img.width_cr = img.width / 2;
    img.height_cr = img.height / 2;

    img.weighted_pred_flag = pps.weighted_pred_flag;
    img.weighted_bipred_idc = pps.weighted_bipred_idc;
    img.pic_order_present_flag = pps.pic_order_present_flag;
    img.constrained_intra_pred_flag = pps.constrained_intra_pred_flag;

    const bool cabac = pps.entropy_coding_mode == 1;
    dec.slice_end_test = cabac ? cabac_slice_end : h264dec_slice_end_cavlc;
    for (DataPartition &dp : dec.slice.partitions)
        dp.read_element = cabac ? cabac_read_element : h264dec_read_element_cavlc;
}
