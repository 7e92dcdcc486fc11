// Fuzzes the analysis views over whole-stream decoding: the same streams as fuzz_h264_decode (valid
// parameter sets chosen by the first byte, then any units), decoded with every view on and the
// overlays painted, so that vectors, glyphs, planes and the composed images meet damaged pictures.
#include "h264/support/mb_writer.h"
#include "h264/support/recording_host.h"
#include "h264dec/decoder_view_sink.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/picture_control.h"
#include "h264dec/picture_output.h"
#include "platform/messages.h"

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zn::SetMessageHandler([](const zn::MessageRequest &) { return zn::MsgAnswer::Ok; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 8192)
        return 0;
    const int sel = data[0];
    const int structure = ((sel >> 3) & 3) % 3;
    h264test::StreamBuilder b(3, 2, (sel & 1) != 0);
    b.sps.num_ref_frames = 1 + ((sel >> 1) & 3);
    b.pps.deblocking_filter_parameters_present_flag = (sel >> 6) & 1;
    if (structure) {
        b.sps.frame_mbs_only_flag = 0;
        b.sps.mb_adaptive_frame_field_flag = structure == 2 ? 1 : 0;
    }
    std::vector<uint8_t> stream;
    h264test::Append(stream, h264test::NalUnit(3, NALU_TYPE_SPS, h264test::SpsRbsp(b.sps)));
    h264test::Append(stream, h264test::NalUnit(3, NALU_TYPE_PPS, h264test::PpsRbsp(b.pps)));
    stream.insert(stream.end(), data + 1, data + size);

    h264test::RecordingHost host;
    H264ViewChoices &c = host.choices;
    c.vectors = c.intra = c.bdiv = c.bits = c.stream = true;
    c.vectors_on_picture = c.bdiv_on_picture = (sel >> 5) & 1;
    c.intra_colored = (sel >> 7) & 1;
    c.bits_mv = (sel >> 2) & 1;
    c.bits_bdiv = !c.bits_mv;
    H264DecoderState dec;
    H264ViewSink sink(&host, nullptr);
    dec.sink = &sink;
    h264dec_open_memory(dec, stream);
    auto choose = [&] {
        dec.analysis.paint = dec.analysis.intra_shown = dec.analysis.vectors_drawn = true;
        dec.analysis.intra_colored = c.intra_colored;
    };
    try {
        choose();
        for (int pictures = 0; pictures < 16 && h264dec_decode_picture(dec, true) == 2; ++pictures) {
            dec_clear_picture_counters(dec);
            choose();
        }
        h264dec_output_stored_picture(dec, dec.analysis.vis_pic_type);
    } catch (const zn::RunAborted &) {
    }
    return 0;
}
