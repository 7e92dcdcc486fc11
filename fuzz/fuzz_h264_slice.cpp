// Fuzzes the H.264 decoder's macroblock layer: valid parameter sets and a slice header chosen by the
// first byte (CAVLC or CABAC; I, P or B; frame, field or MBAFF), then the rest as slice data.
#include "h264/support/mb_writer.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const std::vector<uint8_t> stream = h264test::SliceStreamFromBytes(data, size);
    if (stream.empty())
        return 0;
    h264test::DecodeStream(stream);
    return 0;
}
