// Fuzzes the whole JPEG2000 decoder: code-stream reader, tile structures, packet heads and bodies,
// block decoding and the row loop, on any bytes. The first byte chooses discarded levels, error
// resilience and the plain decoding passes; the rest is the code-stream (our header layout).
// Pictures are capped at 2^18 samples per component, which keeps runs per second up.
#include "jpeg2000/support/test_codec.h"

#include "platform/errors.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > (1 << 20))
        return 0;
    j2ktest::DecodeOptions o;
    o.discard_levels = data[0] & 3;
    if (data[0] & 4)
        o.args = {"-Cer", "3"};
    if (data[0] & 8)
        o.args.push_back("-Cno_speedup");
    o.max_pixels = 1 << 18;
    o.max_components = 4;
    try {
        j2ktest::DecodeBytes(std::vector<uint8_t>(data + 1, data + size), o);
    } catch (const zn::RunAborted &) {
        // The run ended with its message: the expected outcome for damaged streams.
    }
    return 0;
}
