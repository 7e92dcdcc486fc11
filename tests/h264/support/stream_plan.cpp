// Multi-picture stream plans (see the header).
#include "h264/support/stream_plan.h"

#include <random>

namespace h264test {

PicturePlan MakePicture(int slice_type, int frame_num, int poc_lsb, std::vector<MbSpec> mbs, int structure,
                        int nal_ref_idc)
{
    PicturePlan p;
    p.slice_type = slice_type;
    p.frame_num = frame_num;
    p.poc_lsb = poc_lsb;
    p.idr = frame_num == 0 && poc_lsb == 0 && IsI(slice_type);
    p.structure = structure;
    p.nal_ref_idc = nal_ref_idc;
    p.mbs = std::move(mbs);
    return p;
}

std::vector<MbSpec> TexturedIntra(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<MbSpec> mbs;
    for (int k = 0; k < n; ++k) {
        MbSpec m;
        m.kind = MbKind::I4;
        for (int &b : m.block_dc)
            b = static_cast<int>(rng() % 41) - 20;
        m.chroma_dc[0] = static_cast<int>(rng() % 21) - 10;
        m.chroma_dc[1] = static_cast<int>(rng() % 21) - 10;
        mbs.push_back(m);
    }
    return mbs;
}

std::vector<uint8_t> StreamPlan::Write(bool cabac) const
{
    StreamBuilder b(width_mbs, height_mbs, cabac);
    b.sps.num_ref_frames = num_ref_frames;
    b.sps.frame_mbs_only_flag = frames_only ? 1 : 0;
    b.sps.mb_adaptive_frame_field_flag = mbaff ? 1 : 0;
    b.pps.deblocking_filter_parameters_present_flag = 1;
    if (sets)
        sets(b.sps, b.pps);
    for (const PicturePlan &p : pictures) {
        const bool field = p.structure != 0;
        const int pictureMbs = width_mbs * height_mbs / (field ? 2 : 1);
        const bool pairs = mbaff && !field;
        for (size_t s = 0; s < p.slice_starts.size(); ++s) {
            SliceOfPicture sl;
            SliceHeaderFields &h = sl.header;
            h.first_mb_in_slice = p.slice_starts[s];
            h.slice_type = p.slice_type;
            h.frame_num = p.frame_num;
            h.pic_order_cnt_lsb = p.poc_lsb;
            h.field_pic_flag = field ? 1 : 0;
            h.bottom_field_flag = p.structure == 2 ? 1 : 0;
            h.slice_qp_delta = p.qp - 26 - b.pps.pic_init_qp_minus26;
            h.disable_deblocking_filter_idc = 1;
            if (!IsI(p.slice_type)) {
                h.num_ref_idx_override_flag = 1;
                h.num_ref_pic_active_fwd_minus1 = 0;
                h.num_ref_pic_active_bwd_minus1 = 0;
            }
            if (p.header)
                p.header(h);
            sl.idr = p.idr;
            sl.nal_ref_idc = p.nal_ref_idc;
            const int unit = pairs ? 2 : 1;
            const size_t from = static_cast<size_t>(unit * p.slice_starts[s]);
            const size_t to = s + 1 < p.slice_starts.size()
                                  ? static_cast<size_t>(unit * p.slice_starts[s + 1])
                                  : p.mbs.size();
            sl.mbs.assign(p.mbs.begin() + static_cast<std::ptrdiff_t>(from),
                          p.mbs.begin() + static_cast<std::ptrdiff_t>(to));
            WriteSlice(b, sl, pictureMbs);
        }
    }
    return b.stream;
}

} // namespace h264test
