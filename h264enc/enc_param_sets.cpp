// Parameter set writers. Values the program never varies (profile, level, frame_num and POC lsb sizes)
// are fixed here; everything else comes from the settings.
#include "h264enc/enc_param_sets.h"

#include "h264enc/enc_memory.h"
#include "h264enc/enc_run.h"
#include "h264enc/nal_unit.h"
#include "platform/format.h"
#include "platform/log.h"

#include <new>

namespace h264enc {

std::unique_ptr<SPS> AllocSPS()
{
    try {
        return std::make_unique<SPS>();
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("AllocSPS: SPS");
    }
}

PpsPtr AllocPPS()
{
    try {
        return PpsPtr(new PPS);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("AllocPPS: PPS");
    }
}

void fill_parameter_sets(const EncoderParams &input, const EncoderImage &img, const EncoderFmo &fmo, SPS *sps,
                         PPS *pps)
{
    *sps = SPS();
    sps->profile_idc = 0;
    sps->level_idc = 0;
    sps->more_than_one_slice_group_allowed_flag = input.FmoType != 0 ? 1 : 0;
    sps->arbitrary_slice_order_allowed_flag = 0;
    sps->redundant_slices_allowed_flag = input.UseRedundantSlice;
    sps->seq_parameter_set_id = 0;
    sps->log2_max_frame_num_minus4 = 4;
    sps->log2_max_pic_order_cnt_lsb_minus4 = 4;
    sps->pic_order_cnt_type = img.poc_type;
    sps->delta_pic_order_always_zero_flag = img.delta_pic_order_always_zero_flag;
    sps->offset_for_non_ref_pic = img.poc_b_offset;
    sps->offset_for_top_to_bottom_field = img.bottom_field_flag;
    sps->num_ref_frames_in_pic_order_cnt_cycle = img.num_ref_frames_in_poc_cycle;
    sps->offset_for_ref_frame[0] = img.poc_step;
    sps->num_ref_frames = input.NumberReferenceFrames;
    sps->required_frame_num_update_behaviour_flag = 0;
    sps->frame_width_in_mbs_minus1 = input.SourceWidth / 16 - 1;
    sps->frame_height_in_mbs_minus1 = input.SourceHeight / 16 - 1;
    sps->frame_mbs_only_flag = input.InterlaceCodingOption == 0 ? 1 : 0;
    sps->mb_adaptive_frame_field_flag = input.InterlaceCodingOption == 3 ? 1 : 0;
    sps->direct_8x8_inference_flag = 0;
    sps->vui_parameters_present_flag = 0;

    *pps = PPS();
    pps->pic_parameter_set_id = 0;
    pps->seq_parameter_set_id = 0;
    pps->entropy_coding_mode = input.SymbolMode != 0 ? 1 : 0;
    pps->pic_order_present_flag = img.pic_order_present_flag;
    pps->num_slice_groups_minus1 = input.num_slice_groups_minus1;
    if (pps->num_slice_groups_minus1 > 0) {
        int type = input.mb_allocation_map_type;
        // The decoder cannot rebuild the static maps from their parameters: they go out as explicit lists.
        if (type == 0 || type == 1 || type == 3) {
            zn::LogF(zn::LogLevel::Info, "Param: FMO type %d not yet signalled, using 6 instead\n", type);
            type = 6;
        }
        pps->mb_slice_group_map_type = type;
        switch (type) {
        case 2:
            for (int i = 0; i < pps->num_slice_groups_minus1 && i < kMaxSliceGroups; ++i) {
                pps->top_left_mb[static_cast<size_t>(i)] = input.FmoTopLeftMB;
                pps->bottom_right_mb[static_cast<size_t>(i)] = input.FmoBottomRightMB;
            }
            break;
        case 4:
        case 5:
            pps->slice_group_change_direction_flag = input.FmoChangeDirection;
            pps->slice_group_change_rate_minus1 = input.FmoChangeRate;
            break;
        case 6: {
            const int units = fmo.map.units;
            if (units > kMaxSliceGroupIds)
                h264_fatal_error(zn::Format("Param: a slice-group map of %d macroblocks is too large for an "
                                            "explicit list (at most %d)",
                                            units, kMaxSliceGroupIds),
                                 kH264StreamErrorCode);
            pps->slice_group_id_cnt_minus1 = units - 1;
            pps->slice_group_id.resize(static_cast<size_t>(units));
            for (int i = 0; i < units; ++i)
                pps->slice_group_id[static_cast<size_t>(i)] = slice_group_of_mb(fmo.map, i);
            break;
        }
        default:
            zn::Log(zn::LogLevel::Info, "Param: FMO type invalid, default\n");
            pps->mb_slice_group_map_type = 0;
            break;
        }
    }
    pps->num_ref_idx_l0_active_minus1 = img.num_ref_idx_l0_active_minus1;
    pps->num_ref_idx_l1_active_minus1 = img.num_ref_idx_l1_active_minus1;
    pps->weighted_pred_flag = input.WeightedPrediction;
    pps->weighted_bipred_idc = input.WeightedBiprediction;
    pps->pic_init_qp_minus26 = 0;
    pps->pic_init_qs_minus26 = 0;
    pps->chroma_qp_index_offset = 0;
    pps->deblocking_filter_parameters_present_flag = input.LoopFilterParametersFlag;
    pps->constrained_intra_pred_flag = input.UseConstrainedIntraPred;
    // The bit after constrained_intra_pred_flag: redundant_pic_cnt_present_flag here, the decoder's
    // vui_pic_parameters_flag; always 0, so the bytes agree.
    pps->vui_pic_parameters_flag = 0;
    pps->frame_cropping_flag = 0;
}

int SeqParameterSet(const SPS &sps, std::vector<uint8_t> &buffer)
{
    SlicePartition part;
    SlicePartition *p = &part;
    write_u_v(8, "SPS: profile_idc", sps.profile_idc, p);
    write_u_v(8, "SPS: level_idc", sps.level_idc, p);
    write_u_1("SPS: more_than_one_slice_group_allowed_flag", sps.more_than_one_slice_group_allowed_flag, p);
    write_u_1("SPS: arbitrary_slice_order_allowed_flag", sps.arbitrary_slice_order_allowed_flag, p);
    write_u_1("SPS: redundant_slices_allowed_flag", sps.redundant_slices_allowed_flag, p);
    write_ue_v("SPS: seq_parameter_set_id", sps.seq_parameter_set_id, p);
    write_ue_v("SPS: log2_max_frame_num_minus4", sps.log2_max_frame_num_minus4, p);
    write_ue_v("SPS: pic_order_cnt_type", sps.pic_order_cnt_type, p);
    if (sps.pic_order_cnt_type == 0) {
        write_ue_v("SPS: log2_max_pic_order_cnt_lsb_minus4", sps.log2_max_pic_order_cnt_lsb_minus4, p);
    } else if (sps.pic_order_cnt_type == 1) {
        write_u_1("SPS: delta_pic_order_always_zero_flag", sps.delta_pic_order_always_zero_flag, p);
        write_se_v("SPS: offset_for_non_ref_pic", sps.offset_for_non_ref_pic, p);
        write_se_v("SPS: offset_for_top_to_bottom_field", sps.offset_for_top_to_bottom_field, p);
        write_ue_v("SPS: num_ref_frames_in_pic_order_cnt_cycle", sps.num_ref_frames_in_pic_order_cnt_cycle,
                   p);
        for (int i = 0; i < sps.num_ref_frames_in_pic_order_cnt_cycle && i < kMaxPocCycle; ++i)
            write_se_v("SPS: offset_for_ref_frame", sps.offset_for_ref_frame[static_cast<size_t>(i)], p);
    }
    write_ue_v("SPS: num_ref_frames", sps.num_ref_frames, p);
    write_u_1("SPS: required_frame_num_update_behaviour_flag", sps.required_frame_num_update_behaviour_flag,
              p);
    write_ue_v("SPS: frame_width_in_mbs_minus1", sps.frame_width_in_mbs_minus1, p);
    write_ue_v("SPS: frame_height_in_mbs_minus1", sps.frame_height_in_mbs_minus1, p);
    write_u_1("SPS: frame_mbs_only_flag", sps.frame_mbs_only_flag, p);
    if (!sps.frame_mbs_only_flag)
        write_u_1("SPS: mb_adaptive_frame_field_flag", sps.mb_adaptive_frame_field_flag, p);
    write_u_1("SPS: direct_8x8_inference_flag", sps.direct_8x8_inference_flag, p);
    write_u_1("SPS: vui_parameters_present_flag", sps.vui_parameters_present_flag, p);
    if (sps.vui_parameters_present_flag)
        h264_fatal_error("Sequence Parameter VUI not yet implemented, this should never happen, exit\n",
                         kH264StreamErrorCode);
    write_rbsp_trailing_bits(part.bitstream);
    const Bitstream &bs = part.bitstream;
    buffer.insert(buffer.end(), bs.StreamBuffer.begin(), bs.StreamBuffer.begin() + bs.byte_count);
    return bs.byte_count;
}

int PicParameterSet(const PPS &pps, std::vector<uint8_t> &buffer)
{
    SlicePartition part;
    SlicePartition *p = &part;
    write_ue_v("PPS: pic_parameter_set_id", pps.pic_parameter_set_id, p);
    write_ue_v("PPS: seq_parameter_set_id", pps.seq_parameter_set_id, p);
    write_u_1("PPS: entropy_coding_mode", pps.entropy_coding_mode, p);
    write_u_1("PPS: pic_order_present_flag", pps.pic_order_present_flag, p);
    write_ue_v("PPS: num_slice_groups_minus1", pps.num_slice_groups_minus1, p);
    if (pps.num_slice_groups_minus1 > 0) {
        write_ue_v("PPS: mb_slice_group_map_type", pps.mb_slice_group_map_type, p);
        const int groups = std::min(pps.num_slice_groups_minus1, kMaxSliceGroups);
        switch (pps.mb_slice_group_map_type) {
        case 0:
            for (int i = 0; i < groups; ++i)
                write_ue_v("PPS: run_length", pps.run_length[static_cast<size_t>(i)], p);
            break;
        case 2:
            for (int i = 0; i < groups; ++i) {
                write_ue_v("PPS: top_left_mb", pps.top_left_mb[static_cast<size_t>(i)], p);
                write_ue_v("PPS: bottom_right_mb", pps.bottom_right_mb[static_cast<size_t>(i)], p);
            }
            break;
        case 3:
        case 4:
        case 5:
            write_u_1("PPS: slice_group_change_direction_flag", pps.slice_group_change_direction_flag, p);
            write_ue_v("PPS: slice_group_change_rate_minus1", pps.slice_group_change_rate_minus1, p);
            break;
        case 6: {
            write_ue_v("PPS: slice_group_id_cnt_minus1", pps.slice_group_id_cnt_minus1, p);
            const int bits = SliceGroupIdBits(pps.num_slice_groups_minus1);
            for (int i = 0;
                 i <= pps.slice_group_id_cnt_minus1 && i < static_cast<int>(pps.slice_group_id.size()); ++i)
                write_u_v(bits, "PPS: slice_group_id", pps.slice_group_id[static_cast<size_t>(i)], p);
            break;
        }
        default:
            break;
        }
    }
    write_ue_v("PPS: num_ref_idx_l0_active_minus1", pps.num_ref_idx_l0_active_minus1, p);
    write_ue_v("PPS: num_ref_idx_l1_active_minus1", pps.num_ref_idx_l1_active_minus1, p);
    write_u_1("PPS: weighted prediction flag", pps.weighted_pred_flag, p);
    write_u_v(2, "PPS: weighted_bipred_idc", pps.weighted_bipred_idc, p);
    write_se_v("PPS: pic_init_qp_minus26", pps.pic_init_qp_minus26, p);
    write_se_v("PPS: pic_init_qs_minus26", pps.pic_init_qs_minus26, p);
    write_se_v("PPS: chroma_qp_index_offset", pps.chroma_qp_index_offset, p);
    write_u_1("PPS: deblocking_filter_parameters_present_flag", pps.deblocking_filter_parameters_present_flag,
              p);
    write_u_1("PPS: constrained_intra_pred_flag", pps.constrained_intra_pred_flag, p);
    write_u_1("PPS: redundant_pic_cnt_present_flag", pps.vui_pic_parameters_flag, p);
    write_u_1("PPS: frame_cropping_flag", pps.frame_cropping_flag, p);
    if (pps.frame_cropping_flag) {
        write_ue_v("PPS: frame_cropping_rect_left_offset", pps.frame_cropping_rect_left_offset, p);
        write_ue_v("PPS: frame_cropping_rect_right_offset", pps.frame_cropping_rect_right_offset, p);
        write_ue_v("PPS: frame_cropping_rect_top_offset", pps.frame_cropping_rect_top_offset, p);
        write_ue_v("PPS: frame_cropping_rect_bottom_offset", pps.frame_cropping_rect_bottom_offset, p);
    }
    write_rbsp_trailing_bits(part.bitstream);
    const Bitstream &bs = part.bitstream;
    buffer.insert(buffer.end(), bs.StreamBuffer.begin(), bs.StreamBuffer.begin() + bs.byte_count);
    return bs.byte_count;
}

namespace {
NaluPtr PackSet(const std::vector<uint8_t> &rbsp, int type)
{
    NaluPtr n = AllocNALU(64000);
    pack_rbsp_into_nalu(rbsp.data(), n.get(), static_cast<int>(rbsp.size()), type, 3, 0, 1);
    return n;
}
} // namespace

NaluPtr make_sps_nalu(const EncoderRun &run)
{
    auto sps = AllocSPS();
    PpsPtr pps = AllocPPS();
    fill_parameter_sets(run.input, run.img, run.fmo, sps.get(), pps.get());
    std::vector<uint8_t> rbsp;
    SeqParameterSet(*sps, rbsp);
    return PackSet(rbsp, NALU_TYPE_SPS);
}

NaluPtr make_pps_nalu(const EncoderRun &run)
{
    auto sps = AllocSPS();
    PpsPtr pps = AllocPPS();
    fill_parameter_sets(run.input, run.img, run.fmo, sps.get(), pps.get());
    std::vector<uint8_t> rbsp;
    PicParameterSet(*pps, rbsp);
    return PackSet(rbsp, NALU_TYPE_PPS);
}

} // namespace h264enc
