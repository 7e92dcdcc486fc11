// Drawing a still image: the in-place grey conversion of a palette image on its first draw, and the
// bilinear scaler that fits the picture to its window in 8.8 fixed point. The scaler reads only the
// first (blue) byte of each pixel: every drawn still image is grey by then.
#pragma once

#include <cstdint>
#include <vector>

class CDib;

namespace zn {

// Length of one 24-bit row of w pixels, padded to 4 bytes.
inline int Grey24RowBytes(int w)
{
    return (3 * w + 3) & ~3;
}

// Scales a bottom-up 24-bit image w0 x h0 to w x h (rows of Grey24RowBytes, bottom-up, each output
// pixel three equal bytes). Sizes below 1 give an empty result.
std::vector<uint8_t> ScaleGreyBilinear(const uint8_t *src, int w0, int h0, int w, int h);

// Turns an 8-bit palette image into a 24-bit grey one in place; other images are left alone.
// Returns true when it converted.
bool PaletteToGrey24(CDib &dib);

} // namespace zn
