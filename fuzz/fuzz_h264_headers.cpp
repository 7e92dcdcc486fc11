// Fuzzes the H.264 decoder's stream front end: NAL unit splitting, parameter sets, SEI, slice
// headers and the reference stores driven by the slice headers' marking operations.
#include "h264/support/header_walk.h"
#include "h264dec/nal_dispatch.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    H264DecoderState dec;
    h264dec_open_memory(dec, std::vector<uint8_t>(data, data + size));
    h264test::WalkOptions options;
    options.nalu_capacity = 1 << 16;
    try {
        h264test::WalkHeaders(dec, options);
    } catch (const zn::RunAborted &) {
        // The run ended with its message: the expected outcome for damaged streams.
    }
    return 0;
}
