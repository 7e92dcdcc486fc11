// Fuzzes the fractal code reader and decoder. The input is a code file: it is read twice, once for
// an image of the header's own size and once for a fixed 64 x 64 image (the file is shared by every
// document, so the decoder meets codes of other sizes), and every code it accepts is decoded.
#include "modules/fractal/fic_codec.h"

#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    FicCode code;
    if (FicParseCode(bytes, -1, -1, &code).empty()) {
        // Large pictures decode correctly but slowly; the reading above covers them.
        if (static_cast<long>(code.header.rows) * code.header.cols <= 256L * 256)
            FicDecodeImage(code, 2);
    }
    if (FicParseCode(bytes, 64, 64, &code).empty())
        FicDecodeImage(code, 3);
    return 0;
}
