// Fuzzes the SPIHT stream decoder: the stream coder's start ('o' or 'S' with its symbol limit), the
// arithmetic-coded header, the sorting and refinement passes on any code, and the inverse transform.
// The first byte picks the decoding rate; the rest is the stream. Pictures are kept small.
#include "image/znimage.h"
#include "modules/spiht/spiht_coder.h"
#include "platform/errors.h"

#include <cmath>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const float rate = static_cast<float>(data[0]) / 32.0f; // 0 decodes at 8 bpp
    try {
        ZnImage out, display;
        Spiht_Image_Decoder decoder;
        decoder.SetMaxPixels(256L * 256L);
        decoder.recover(&out, &display, std::span<const uint8_t>(data + 1, size - 1), rate);
        for (long i = 0; i < static_cast<long>(out.Rows()) * out.Cols(); ++i)
            if (std::isnan(out.Data()[i]))
                __builtin_trap();
    } catch (const zn::RunAborted &) {
    }
    return 0;
}
