// Fuzzes H.264 decoding with reconstruction: valid parameter sets and a slice header chosen by the
// first byte, the rest as slice data, every slice read and rebuilt into the picture planes.
#include "h264/support/mb_writer.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/picture_decode.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const std::vector<uint8_t> stream = h264test::SliceStreamFromBytes(data, size);
    if (stream.empty())
        return 0;
    H264DecoderState dec;
    h264dec_open_memory(dec, stream);
    NaluPtr nalu = dec_AllocNALU(1 << 16);
    try {
        while (h264dec_next_slice_unit(dec, nalu.get())) {
            h264dec_read_slice_unit(dec, *nalu);
            if (dec.img.width * dec.img.height / 256 > 396)
                continue;
            h264dec_decode_slice(dec);
        }
    } catch (const zn::RunAborted &) {
    }
    return 0;
}
