// Output checksum and whole-stream decoding shared by the pinned-picture test and the speed benchmark.
#include "h264/support/picture_hash.h"

#include "h264dec/decoder_state.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/picture_control.h"
#include "h264dec/picture_output.h"

namespace h264test {

void PictureHashSink::PictureOutput(H264DecoderState &, const H264PictureRef &p)
{
    const size_t luma = static_cast<size_t>(p.width) * static_cast<size_t>(p.height);
    Add(p.y, luma);
    Add(p.u, luma / 4);
    Add(p.v, luma / 4);
    ++pictures;
}

void PictureHashSink::Add(const uint8_t *d, size_t n)
{
    for (size_t k = 0; k < n; ++k)
        hash = (hash ^ d[k]) * 1099511628211ull;
}

int DecodeWholeStream(const std::vector<uint8_t> &stream, H264PictureSink *sink)
{
    H264DecoderState dec;
    dec.sink = sink;
    h264dec_open_memory(dec, stream);
    int frames = 0;
    while (h264dec_decode_picture(dec, false) == 2) {
        ++frames;
        dec_clear_picture_counters(dec);
    }
    // The last reference picture waits for a successor that never comes: the end of the run puts it out.
    h264dec_output_stored_picture(dec, dec.analysis.vis_pic_type);
    return frames;
}

} // namespace h264test
