// Fuzzes the JPEG decoder: the stream through the library, with and without smoothing (our own
// coefficient path and inverse DCT), sometimes through the noisy channel. The first four bytes pick
// the document image's size, the channel and its seed; the rest is the stream file.
#include "fuzz_image_file.h"
#include "image/znimage.h"
#include "modules/jpeg/jpeg_coder.h"
#include "platform/random.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const int cols = 1 + data[0] % 128, rows = 1 + data[1] % 128;
    const float p = (data[2] & 1) ? 0.002f * static_cast<float>(data[2] >> 1) / 127.0f : 0.0f;
    const std::string &path = FuzzInputPath(".jpg");
    if (!WriteFuzzInput(path, data + 4, size - 4))
        return 0;
    zn::PinRandSeed(data[3]);
    for (bool smoothing : {false, true}) {
        ZnImage image;
        image.Alloc(rows, cols);
        JpegDecodeStats stats;
        const int flips = JpegDecoder(&image, smoothing, p, path, &stats);
        if (flips < 0 || flips > 8 * stats.bytesRead || stats.rowsStored > rows * cols)
            __builtin_trap();
        for (long i = 0; i < static_cast<long>(rows) * cols; ++i)
            if (!(image.Data()[i] >= 0.0f && image.Data()[i] <= 255.0f))
                __builtin_trap();
    }
    return 0;
}
