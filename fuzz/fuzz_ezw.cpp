// Fuzzes the EZW stream decoder: header checks, the passes on any code, the end-symbol search and
// the reconstruction. The first byte picks the decoding rate; the rest is the stream. Pictures are
// kept small so a run explores the passes rather than the arithmetic of huge arrays.
#include "image/znimage.h"
#include "modules/ezw/ezw_coder.h"
#include "platform/errors.h"

#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const float rate = 0.05f + static_cast<float>(data[0]) / 32.0f;
    try {
        ZnImage out, display;
        EzwDecodeBytes(std::span<const uint8_t>(data + 1, size - 1), &out, &display, rate, nullptr,
                       256L * 256L);
        for (long i = 0; i < static_cast<long>(out.Rows()) * out.Cols(); ++i)
            if (!(out.Data()[i] >= 0.0f && out.Data()[i] <= 255.0f))
                __builtin_trap();
    } catch (const zn::RunAborted &) {
    }
    return 0;
}
