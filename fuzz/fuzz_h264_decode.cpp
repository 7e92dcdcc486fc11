// Fuzzes whole-stream decoding through the decoder object: valid parameter sets chosen by the first
// byte (CAVLC or CABAC, frames, fields or MBAFF), then the rest as a byte stream of further units
// (slice headers, slice data, parameter sets, anything), decoded picture by picture as a run does.
#include "h264/support/mb_writer.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/picture_control.h"
#include "h264dec/picture_output.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 8192)
        return 0;
    const int sel = data[0];
    const int structure = ((sel >> 3) & 3) % 3;
    h264test::StreamBuilder b(3, 2, (sel & 1) != 0);
    b.sps.num_ref_frames = 1 + ((sel >> 1) & 3);
    b.sps.pic_order_cnt_type = (sel >> 5) & 1 ? 2 : 0;
    b.pps.deblocking_filter_parameters_present_flag = (sel >> 6) & 1;
    b.pps.weighted_pred_flag = (sel >> 7) & 1;
    b.pps.weighted_bipred_idc = (sel >> 7) & 1 ? 1 + ((sel >> 2) & 1) : 0;
    if (structure) {
        b.sps.frame_mbs_only_flag = 0;
        b.sps.mb_adaptive_frame_field_flag = structure == 2 ? 1 : 0;
    }
    std::vector<uint8_t> stream;
    h264test::Append(stream, h264test::NalUnit(3, NALU_TYPE_SPS, h264test::SpsRbsp(b.sps)));
    h264test::Append(stream, h264test::NalUnit(3, NALU_TYPE_PPS, h264test::PpsRbsp(b.pps)));
    stream.insert(stream.end(), data + 1, data + size);
    H264DecoderState dec;
    h264dec_open_memory(dec, stream);
    try {
        for (int pictures = 0; pictures < 16 && h264dec_decode_picture(dec, true) == 2; ++pictures)
            dec_clear_picture_counters(dec);
        h264dec_output_stored_picture(dec, 0);
    } catch (const zn::RunAborted &) {
    }
    return 0;
}
