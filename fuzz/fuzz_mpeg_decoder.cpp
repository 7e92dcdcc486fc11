// Feeds arbitrary bytes to the MPEG-1/2 decoder as an elementary or (bytes 2-3 = 01 BA) system
// stream, with the overlay on and every output mode; every frame goes through what the dialog does
// with it: the image, the vector lines and the 4:2:0 planes of the YUV save. Pictures are capped at
// 2^18 luma samples: a mutated size field would otherwise make every run fill stores of up to 8192 x
// 8192, and the runs per second would drop to a handful. Small seed streams of every kind are in
// seeds/mpeg_decoder/.
#include "image/cdib.h"
#include "mpeg/mpgdec/mpeg_decoder.h"
#include "mpeg/mpgdec/mpgdec_display.h"
#include "platform/messages.h"

#include <cstddef>
#include <cstdint>

namespace {

bool SizeFuzzable(const zn::CMpegDecoder &dec)
{
    return static_cast<int64_t>(dec.horizontal_size) * dec.vertical_size <= (1 << 18);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static zn::MessageRecorder *recorder = new zn::MessageRecorder;
    recorder->Clear();
    zn::MpegMemoryInput input(data, size);
    zn::CMpegDecoder dec;
    dec.system_stream = size >= 4 && data[2] == 0x01 && data[3] == 0xBA;
    dec.mv_overlay = 1;
    dec.output_mode = size ? data[size - 1] % 3 : 0;
    dec.skip_b_frames = size > 1 && (data[size - 2] & 1);
    CDib dib;
    dec.doc_sink = [&](const zn::MpegFrame &f, int, const char *, int kind) {
        if (!zn::FrameToDib(f, kind != 3, &dib))
            return;
        const auto &v = kind == 1   ? dec.mv_i
                        : kind == 2 ? (dec.mv_p_select ? dec.mv_p_b : dec.mv_p_a)
                                    : dec.mv_b;
        zn::DrawMacroblockVectors(v, dec.mb_width, dec.mb_height, dib.GetBits(), f.width, f.height);
        uint8_t *planes[3];
        std::vector<uint8_t> cb, cr;
        zn::FramePlanes420(f, cb, cr, planes);
    };
    try {
        dec.mpgdec_initbits(&input);
        if (!dec.gethdr() || !SizeFuzzable(dec))
            return 0;
        dec.mpgdec_initdecoder();
        for (int pictures = 0; pictures < 64 && SizeFuzzable(dec); ++pictures) {
            dec.mpgdec_getpicture(dec.frame_count);
            if (!dec.second_field)
                ++dec.frame_count;
            if (dec.picture_coding_type == 1)
                dec.ref_picture_type = 1;
            else if (dec.picture_coding_type == 2) {
                dec.ref_picture_type = 2;
                if (!dec.second_field)
                    dec.mv_p_select ^= 1;
            }
            if (!dec.gethdr())
                break;
        }
        if (dec.frame_count)
            dec.mpgdec_lastframe(dec.frame_count);
    } catch (const zn::RunAborted &) {
    }
    return 0;
}
