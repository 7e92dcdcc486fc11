// Test-side writer of draft-syntax H.264 streams (see the header).
#include "h264/support/h264_stream_writer.h"

#include <stdexcept>

namespace h264test {

void BitWriter::u(int bits, uint32_t value)
{
    for (int i = bits - 1; i >= 0; --i) {
        if (m_bits % 8 == 0)
            m_bytes.push_back(0);
        if ((value >> i) & 1u)
            m_bytes.back() |= static_cast<uint8_t>(0x80u >> (m_bits % 8));
        ++m_bits;
    }
}

void BitWriter::ue(uint32_t value)
{
    if (value > 0x7ffffffeu)
        throw std::invalid_argument("ue value too large");
    const uint32_t v = value + 1;
    int len = 0;
    while ((v >> (len + 1)) != 0)
        ++len;
    u(len, 0);
    u(len + 1, v);
}

void BitWriter::se(int32_t value)
{
    const uint32_t k =
        value > 0 ? 2u * static_cast<uint32_t>(value) - 1u : 2u * static_cast<uint32_t>(-value);
    ue(k);
}

void BitWriter::trailing()
{
    u(1, 1);
    while (m_bits % 8)
        u(1, 0);
}

std::vector<uint8_t> EscapeRbsp(const std::vector<uint8_t> &rbsp)
{
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros == 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

std::vector<uint8_t> NalUnit(int nal_ref_idc, int nal_unit_type, const std::vector<uint8_t> &rbsp,
                             int start_code_length)
{
    std::vector<uint8_t> out(static_cast<size_t>(start_code_length - 1), 0);
    out.push_back(1);
    out.push_back(static_cast<uint8_t>((nal_ref_idc << 5) | nal_unit_type));
    const std::vector<uint8_t> escaped = EscapeRbsp(rbsp);
    out.insert(out.end(), escaped.begin(), escaped.end());
    return out;
}

void WriteSps(BitWriter &w, const SPS &sps)
{
    w.u(8, static_cast<uint32_t>(sps.profile_idc));
    w.u(8, static_cast<uint32_t>(sps.level_idc));
    w.flag(sps.more_than_one_slice_group_allowed_flag);
    w.flag(sps.arbitrary_slice_order_allowed_flag);
    w.flag(sps.redundant_slices_allowed_flag);
    w.ue(static_cast<uint32_t>(sps.seq_parameter_set_id));
    w.ue(static_cast<uint32_t>(sps.log2_max_frame_num_minus4));
    w.ue(static_cast<uint32_t>(sps.pic_order_cnt_type));
    if (sps.pic_order_cnt_type == 0) {
        w.ue(static_cast<uint32_t>(sps.log2_max_pic_order_cnt_lsb_minus4));
    } else if (sps.pic_order_cnt_type == 1) {
        w.flag(sps.delta_pic_order_always_zero_flag);
        w.se(sps.offset_for_non_ref_pic);
        w.se(sps.offset_for_top_to_bottom_field);
        w.ue(static_cast<uint32_t>(sps.num_ref_frames_in_pic_order_cnt_cycle));
        for (int i = 0; i < sps.num_ref_frames_in_pic_order_cnt_cycle; ++i)
            w.se(sps.offset_for_ref_frame[static_cast<size_t>(i)]);
    }
    w.ue(static_cast<uint32_t>(sps.num_ref_frames));
    w.flag(sps.required_frame_num_update_behaviour_flag);
    w.ue(static_cast<uint32_t>(sps.frame_width_in_mbs_minus1));
    w.ue(static_cast<uint32_t>(sps.frame_height_in_mbs_minus1));
    w.flag(sps.frame_mbs_only_flag);
    if (!sps.frame_mbs_only_flag)
        w.flag(sps.mb_adaptive_frame_field_flag);
    w.flag(sps.direct_8x8_inference_flag);
    w.flag(sps.vui_parameters_present_flag);
}

void WritePps(BitWriter &w, const PPS &pps)
{
    w.ue(static_cast<uint32_t>(pps.pic_parameter_set_id));
    w.ue(static_cast<uint32_t>(pps.seq_parameter_set_id));
    w.flag(pps.entropy_coding_mode);
    w.flag(pps.pic_order_present_flag);
    w.ue(static_cast<uint32_t>(pps.num_slice_groups_minus1));
    if (pps.num_slice_groups_minus1 > 0) {
        w.ue(static_cast<uint32_t>(pps.mb_slice_group_map_type));
        const int groups = pps.num_slice_groups_minus1;
        switch (pps.mb_slice_group_map_type) {
        case 0:
            for (int i = 0; i < groups; ++i)
                w.ue(static_cast<uint32_t>(pps.run_length[static_cast<size_t>(i)]));
            break;
        case 2:
            for (int i = 0; i < groups; ++i) {
                w.ue(static_cast<uint32_t>(pps.top_left_mb[static_cast<size_t>(i)]));
                w.ue(static_cast<uint32_t>(pps.bottom_right_mb[static_cast<size_t>(i)]));
            }
            break;
        case 3:
        case 4:
        case 5:
            w.flag(pps.slice_group_change_direction_flag);
            w.ue(static_cast<uint32_t>(pps.slice_group_change_rate_minus1));
            break;
        case 6: {
            w.ue(static_cast<uint32_t>(pps.slice_group_id_cnt_minus1));
            const int bits = groups >= 4 ? 3 : groups >= 2 ? 2 : 1;
            for (int i = 0; i <= pps.slice_group_id_cnt_minus1; ++i)
                w.u(bits, static_cast<uint32_t>(pps.slice_group_id[static_cast<size_t>(i)]));
            break;
        }
        default:
            break;
        }
    }
    w.ue(static_cast<uint32_t>(pps.num_ref_idx_l0_active_minus1));
    w.ue(static_cast<uint32_t>(pps.num_ref_idx_l1_active_minus1));
    w.flag(pps.weighted_pred_flag);
    w.u(2, static_cast<uint32_t>(pps.weighted_bipred_idc));
    w.se(pps.pic_init_qp_minus26);
    w.se(pps.pic_init_qs_minus26);
    w.se(pps.chroma_qp_index_offset);
    w.flag(pps.deblocking_filter_parameters_present_flag);
    w.flag(pps.constrained_intra_pred_flag);
    w.flag(pps.vui_pic_parameters_flag);
    w.flag(pps.frame_cropping_flag);
    if (pps.frame_cropping_flag) {
        w.ue(static_cast<uint32_t>(pps.frame_cropping_rect_left_offset));
        w.ue(static_cast<uint32_t>(pps.frame_cropping_rect_right_offset));
        w.ue(static_cast<uint32_t>(pps.frame_cropping_rect_top_offset));
        w.ue(static_cast<uint32_t>(pps.frame_cropping_rect_bottom_offset));
    }
}

std::vector<uint8_t> SpsRbsp(const SPS &sps)
{
    BitWriter w;
    WriteSps(w, sps);
    w.trailing();
    return w.Bytes();
}

std::vector<uint8_t> PpsRbsp(const PPS &pps)
{
    BitWriter w;
    WritePps(w, pps);
    w.trailing();
    return w.Bytes();
}

SPS DefaultSps(int width_mbs, int height_mbs)
{
    SPS sps;
    sps.log2_max_frame_num_minus4 = 4;
    sps.pic_order_cnt_type = 0;
    sps.log2_max_pic_order_cnt_lsb_minus4 = 4;
    sps.num_ref_frames = 1;
    sps.frame_width_in_mbs_minus1 = width_mbs - 1;
    sps.frame_height_in_mbs_minus1 = height_mbs - 1;
    sps.frame_mbs_only_flag = 1;
    return sps;
}

PPS DefaultPps()
{
    return PPS{};
}

std::vector<uint8_t> SeiRbsp(const std::vector<SeiMessage> &messages)
{
    std::vector<uint8_t> out;
    const auto ffCoded = [&out](size_t v) {
        while (v >= 255) {
            out.push_back(0xFF);
            v -= 255;
        }
        out.push_back(static_cast<uint8_t>(v));
    };
    for (const SeiMessage &m : messages) {
        ffCoded(static_cast<size_t>(m.type));
        ffCoded(m.payload.size());
        out.insert(out.end(), m.payload.begin(), m.payload.end());
    }
    out.push_back(0x80);
    return out;
}

void WriteSliceHeader(BitWriter &w, const SliceHeaderFields &h, const SPS &sps, const PPS &pps, bool idr)
{
    const bool isP = IsP(h.slice_type) || IsSP(h.slice_type);
    const bool isB = IsB(h.slice_type);
    w.ue(static_cast<uint32_t>(h.first_mb_in_slice));
    w.ue(static_cast<uint32_t>(h.slice_type));
    w.ue(static_cast<uint32_t>(h.pic_parameter_set_id));
    w.u(sps.log2_max_frame_num_minus4 + 4, static_cast<uint32_t>(h.frame_num));
    if (!sps.frame_mbs_only_flag) {
        w.flag(h.field_pic_flag);
        if (h.field_pic_flag)
            w.flag(h.bottom_field_flag);
    }
    if (idr)
        w.ue(static_cast<uint32_t>(h.idr_pic_id));
    if (sps.pic_order_cnt_type == 0) {
        w.u(sps.log2_max_pic_order_cnt_lsb_minus4 + 4, static_cast<uint32_t>(h.pic_order_cnt_lsb));
        if (pps.pic_order_present_flag && !h.field_pic_flag)
            w.se(h.delta_pic_order_cnt_bottom);
    }
    if (sps.pic_order_cnt_type == 1 && !sps.delta_pic_order_always_zero_flag) {
        w.se(h.delta_pic_order_cnt[0]);
        if (pps.pic_order_present_flag && !h.field_pic_flag)
            w.se(h.delta_pic_order_cnt[1]);
    }
    if (pps.vui_pic_parameters_flag) // the redundant_pic_cnt_present bit of the draft PPS
        w.u(1, static_cast<uint32_t>(h.redundant_pic_cnt));
    if (isB)
        w.flag(h.direct_spatial_mv_pred_flag);
    w.flag(h.num_ref_idx_override_flag);
    if (h.num_ref_idx_override_flag && (isP || isB)) {
        w.ue(static_cast<uint32_t>(h.num_ref_pic_active_fwd_minus1));
        if (isB)
            w.ue(static_cast<uint32_t>(h.num_ref_pic_active_bwd_minus1));
    }
    for (int list = 0; list < 2; ++list) {
        if ((list == 0 && IsI(h.slice_type)) || (list == 1 && !isB))
            continue;
        w.flag(h.reordering_flag[list]);
        if (!h.reordering_flag[list])
            continue;
        for (const ReorderCommand &c : h.reordering[list]) {
            w.ue(static_cast<uint32_t>(c.idc));
            if (c.idc <= 2)
                w.ue(static_cast<uint32_t>(c.value));
        }
    }
    const int fwd = h.num_ref_idx_override_flag && (isP || isB) ? h.num_ref_pic_active_fwd_minus1 + 1 : 0;
    const int bwd = h.num_ref_idx_override_flag && isB ? h.num_ref_pic_active_bwd_minus1 + 1 : 0;
    if ((pps.weighted_pred_flag && isP) || (pps.weighted_bipred_idc == 1 && isB)) {
        w.ue(static_cast<uint32_t>(h.luma_log_weight_denom));
        w.ue(static_cast<uint32_t>(h.chroma_log_weight_denom));
        for (int list = 0; list < (isB ? 2 : 1); ++list) {
            const int count = list == 0 ? fwd : bwd;
            for (int i = 0; i < count; ++i) {
                const WeightEntry &e = h.weights[list][static_cast<size_t>(i)];
                w.flag(e.luma_flag);
                if (e.luma_flag) {
                    w.se(e.luma_weight);
                    w.se(e.luma_offset);
                }
                w.flag(e.chroma_flag);
                if (e.chroma_flag)
                    for (int j = 0; j < 2; ++j) {
                        w.se(e.chroma_weight[j]);
                        w.se(e.chroma_offset[j]);
                    }
            }
        }
    }
    if (idr) {
        w.flag(h.no_output_of_prior_pics_flag);
        w.flag(h.long_term_reference_flag);
    } else {
        w.flag(h.adaptive_ref_pic_buffering_flag);
        if (h.adaptive_ref_pic_buffering_flag)
            for (const MmcoCommand &c : h.mmco) {
                w.ue(static_cast<uint32_t>(c.operation));
                if (c.operation == 1 || c.operation == 3)
                    w.ue(static_cast<uint32_t>(c.difference_of_pic_nums_minus1));
                if (c.operation == 2 || c.operation == 3 || c.operation == 6)
                    w.ue(static_cast<uint32_t>(c.long_term_pic_idx));
                if (c.operation == 4)
                    w.ue(static_cast<uint32_t>(c.max_long_term_pic_idx_plus1));
            }
    }
    if (pps.entropy_coding_mode && !IsI(h.slice_type))
        w.ue(static_cast<uint32_t>(h.cabac_init_idc));
    w.se(h.slice_qp_delta);
    if (IsSP(h.slice_type)) {
        w.flag(h.sp_for_switch_flag);
        w.se(h.slice_qs_delta);
    }
    if (pps.deblocking_filter_parameters_present_flag) {
        w.ue(static_cast<uint32_t>(h.disable_deblocking_filter_idc));
        if (h.disable_deblocking_filter_idc != 1) {
            w.se(h.slice_alpha_c0_offset_div2);
            w.se(h.slice_beta_offset_div2);
        }
    }
}

std::vector<uint8_t> SliceRbsp(const SliceHeaderFields &h, const SPS &sps, const PPS &pps, bool idr)
{
    BitWriter w;
    WriteSliceHeader(w, h, sps, pps, idr);
    w.trailing();
    return w.Bytes();
}

std::vector<uint8_t> SliceNal(const SliceHeaderFields &h, const SPS &sps, const PPS &pps, bool idr,
                              int nal_ref_idc)
{
    return NalUnit(nal_ref_idc, idr ? NALU_TYPE_IDR : NALU_TYPE_SLICE, SliceRbsp(h, sps, pps, idr));
}

namespace {

int Rand(std::mt19937 &rng, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

} // namespace

SPS RandomSps(std::mt19937 &rng)
{
    SPS s;
    s.level_idc = Rand(rng, 0, 255);
    s.more_than_one_slice_group_allowed_flag = Rand(rng, 0, 1);
    s.arbitrary_slice_order_allowed_flag = Rand(rng, 0, 1);
    s.redundant_slices_allowed_flag = Rand(rng, 0, 1);
    s.seq_parameter_set_id = Rand(rng, 0, 31);
    s.log2_max_frame_num_minus4 = Rand(rng, 0, 12);
    s.pic_order_cnt_type = Rand(rng, 0, 2);
    if (s.pic_order_cnt_type == 0) {
        s.log2_max_pic_order_cnt_lsb_minus4 = Rand(rng, 0, 12);
    } else if (s.pic_order_cnt_type == 1) {
        // What the decoder can activate: one frame in the cycle, deltas sent.
        s.delta_pic_order_always_zero_flag = 0;
        s.offset_for_non_ref_pic = Rand(rng, -1000, 1000);
        s.offset_for_top_to_bottom_field = Rand(rng, -1000, 1000);
        s.num_ref_frames_in_pic_order_cnt_cycle = 1;
        s.offset_for_ref_frame[0] = Rand(rng, -1000, 1000);
    }
    s.num_ref_frames = Rand(rng, 0, 16);
    s.required_frame_num_update_behaviour_flag = Rand(rng, 0, 1);
    s.frame_mbs_only_flag = Rand(rng, 0, 1);
    if (!s.frame_mbs_only_flag)
        s.mb_adaptive_frame_field_flag = Rand(rng, 0, 1);
    s.frame_width_in_mbs_minus1 = Rand(rng, 0, 255);
    s.frame_height_in_mbs_minus1 = s.frame_mbs_only_flag ? Rand(rng, 0, 143) : 2 * Rand(rng, 0, 71) + 1;
    s.direct_8x8_inference_flag = Rand(rng, 0, 1);
    s.vui_parameters_present_flag = 0;
    return s;
}

PPS RandomPps(std::mt19937 &rng, int sps_id)
{
    PPS p;
    p.pic_parameter_set_id = Rand(rng, 0, 127);
    p.seq_parameter_set_id = sps_id;
    p.entropy_coding_mode = Rand(rng, 0, 1);
    p.pic_order_present_flag = Rand(rng, 0, 1);
    p.num_slice_groups_minus1 = Rand(rng, 0, 3) == 0 ? Rand(rng, 1, 7) : 0;
    if (p.num_slice_groups_minus1 > 0) {
        p.mb_slice_group_map_type = Rand(rng, 0, 7);
        const int groups = p.num_slice_groups_minus1;
        for (int i = 0; i < groups; ++i) {
            p.run_length[static_cast<size_t>(i)] = Rand(rng, 0, 5000);
            p.top_left_mb[static_cast<size_t>(i)] = Rand(rng, 0, 5000);
            p.bottom_right_mb[static_cast<size_t>(i)] = Rand(rng, 0, 5000);
        }
        if (p.mb_slice_group_map_type == 0 || p.mb_slice_group_map_type == 2) {
            // Only the fields the type carries survive a round trip.
            for (int i = groups; i < kMaxSliceGroups; ++i)
                p.run_length[static_cast<size_t>(i)] = p.top_left_mb[static_cast<size_t>(i)] =
                    p.bottom_right_mb[static_cast<size_t>(i)] = 0;
        }
        if (p.mb_slice_group_map_type != 0)
            p.run_length.fill(0);
        if (p.mb_slice_group_map_type != 2) {
            p.top_left_mb.fill(0);
            p.bottom_right_mb.fill(0);
        }
        if (p.mb_slice_group_map_type >= 3 && p.mb_slice_group_map_type <= 5) {
            p.slice_group_change_direction_flag = Rand(rng, 0, 1);
            p.slice_group_change_rate_minus1 = Rand(rng, 0, 1000);
        }
        if (p.mb_slice_group_map_type == 6) {
            p.slice_group_id_cnt_minus1 = Rand(rng, 0, 300);
            p.slice_group_id.resize(static_cast<size_t>(p.slice_group_id_cnt_minus1) + 1);
            for (int &id : p.slice_group_id)
                id = Rand(rng, 0, p.num_slice_groups_minus1);
        }
    }
    if (p.slice_group_id.empty())
        p.slice_group_id.assign(1, 0);
    p.num_ref_idx_l0_active_minus1 = Rand(rng, 0, 31);
    p.num_ref_idx_l1_active_minus1 = Rand(rng, 0, 31);
    p.weighted_pred_flag = Rand(rng, 0, 1);
    p.weighted_bipred_idc = Rand(rng, 0, 2);
    p.pic_init_qp_minus26 = Rand(rng, -26, 25);
    p.pic_init_qs_minus26 = Rand(rng, -26, 25);
    p.chroma_qp_index_offset = Rand(rng, -12, 12);
    p.deblocking_filter_parameters_present_flag = Rand(rng, 0, 1);
    p.constrained_intra_pred_flag = Rand(rng, 0, 1);
    p.vui_pic_parameters_flag = Rand(rng, 0, 1);
    p.frame_cropping_flag = Rand(rng, 0, 1);
    if (p.frame_cropping_flag) {
        p.frame_cropping_rect_left_offset = Rand(rng, 0, 100);
        p.frame_cropping_rect_right_offset = Rand(rng, 0, 100);
        p.frame_cropping_rect_top_offset = Rand(rng, 0, 100);
        p.frame_cropping_rect_bottom_offset = Rand(rng, 0, 100);
    }
    return p;
}

SliceHeaderFields RandomSliceHeader(std::mt19937 &rng, const SPS &sps, const PPS &pps, bool idr)
{
    static const int kTypes[] = {0, 1, 2, 3, 5, 6, 7, 8};
    SliceHeaderFields h;
    h.slice_type = kTypes[Rand(rng, 0, 7)];
    h.pic_parameter_set_id = pps.pic_parameter_set_id;
    if (!sps.frame_mbs_only_flag) {
        h.field_pic_flag = Rand(rng, 0, 1);
        if (h.field_pic_flag)
            h.bottom_field_flag = Rand(rng, 0, 1);
    }
    const int mbs = (sps.frame_width_in_mbs_minus1 + 1) * (sps.frame_height_in_mbs_minus1 + 1) /
                    (h.field_pic_flag ? 2 : 1);
    h.first_mb_in_slice = Rand(rng, 0, mbs - 1);
    h.frame_num = idr ? 0 : Rand(rng, 0, (1 << (sps.log2_max_frame_num_minus4 + 4)) - 1);
    h.idr_pic_id = Rand(rng, 0, 65535);
    h.pic_order_cnt_lsb = Rand(rng, 0, (1 << (sps.log2_max_pic_order_cnt_lsb_minus4 + 4)) - 1);
    h.delta_pic_order_cnt_bottom = Rand(rng, -1000, 1000);
    h.delta_pic_order_cnt[0] = Rand(rng, -1000, 1000);
    h.delta_pic_order_cnt[1] = Rand(rng, -1000, 1000);
    h.redundant_pic_cnt = Rand(rng, 0, 1);
    h.direct_spatial_mv_pred_flag = Rand(rng, 0, 1);
    const bool isP = IsP(h.slice_type) || IsSP(h.slice_type), isB = IsB(h.slice_type);
    h.num_ref_idx_override_flag = Rand(rng, 0, 1);
    h.num_ref_pic_active_fwd_minus1 = Rand(rng, 0, 14);
    h.num_ref_pic_active_bwd_minus1 = Rand(rng, 0, 14);
    const int fwd = h.num_ref_idx_override_flag && (isP || isB) ? h.num_ref_pic_active_fwd_minus1 + 1 : 0;
    const int bwd = h.num_ref_idx_override_flag && isB ? h.num_ref_pic_active_bwd_minus1 + 1 : 0;
    for (int list = 0; list < 2; ++list) {
        const int room = list == 0 ? fwd : bwd;
        if (room == 0 || Rand(rng, 0, 1) == 0)
            continue;
        h.reordering_flag[list] = 1;
        const int n = Rand(rng, 0, room - 1);
        for (int i = 0; i < n; ++i)
            h.reordering[list].push_back({Rand(rng, 0, 2), Rand(rng, 0, 100)});
        h.reordering[list].push_back({3, 0});
    }
    h.luma_log_weight_denom = Rand(rng, 0, 7);
    h.chroma_log_weight_denom = Rand(rng, 0, 7);
    for (int list = 0; list < 2; ++list)
        for (int i = 0; i < (list == 0 ? fwd : bwd); ++i) {
            WeightEntry e;
            e.luma_flag = Rand(rng, 0, 1);
            e.luma_weight = e.luma_flag ? Rand(rng, -128, 127) : 0;
            e.luma_offset = e.luma_flag ? Rand(rng, -128, 127) : 0;
            e.chroma_flag = Rand(rng, 0, 1);
            for (int j = 0; j < 2; ++j) {
                e.chroma_weight[j] = e.chroma_flag ? Rand(rng, -128, 127) : 0;
                e.chroma_offset[j] = e.chroma_flag ? Rand(rng, -128, 127) : 0;
            }
            h.weights[list].push_back(e);
        }
    h.no_output_of_prior_pics_flag = Rand(rng, 0, 1);
    h.long_term_reference_flag = Rand(rng, 0, 1);
    h.adaptive_ref_pic_buffering_flag = Rand(rng, 0, 1);
    if (h.adaptive_ref_pic_buffering_flag) {
        const int n = Rand(rng, 0, 6);
        for (int i = 0; i < n; ++i) {
            MmcoCommand c;
            c.operation = Rand(rng, 1, 6);
            c.difference_of_pic_nums_minus1 = Rand(rng, 0, 10);
            c.long_term_pic_idx = Rand(rng, 0, 5);
            c.max_long_term_pic_idx_plus1 = Rand(rng, 1, 4);
            h.mmco.push_back(c);
        }
        h.mmco.push_back(MmcoCommand{});
    }
    h.cabac_init_idc = Rand(rng, 0, 2);
    h.slice_qp_delta = Rand(rng, -26 - pps.pic_init_qp_minus26, 25 - pps.pic_init_qp_minus26);
    h.sp_for_switch_flag = Rand(rng, 0, 1);
    h.slice_qs_delta = Rand(rng, -26 - pps.pic_init_qs_minus26, 25 - pps.pic_init_qs_minus26);
    h.disable_deblocking_filter_idc = Rand(rng, 0, 2);
    h.slice_alpha_c0_offset_div2 = Rand(rng, -6, 6);
    h.slice_beta_offset_div2 = Rand(rng, -6, 6);
    return h;
}

} // namespace h264test
