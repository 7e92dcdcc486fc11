// YUV to blue-green-red with integer coefficients in units of 1/256: blue = Y + 1.371 u,
// green = Y - 0.336 v - 0.695 u, red = Y + 1.73 v (u taking 351 and 178, v 86 and 443). The
// arithmetic shift rounds toward minus infinity, so small negative terms pull one level down.
#include "image/yuv_convert.h"

#include <algorithm>
#include <vector>

namespace {

inline uint8_t Clip255(int x)
{
    return static_cast<uint8_t>(std::clamp(x, 0, 255));
}

} // namespace

void YuvToBgr(int y, int u, int v, uint8_t bgr[3])
{
    bgr[0] = Clip255(y + ((351 * u) >> 8));
    bgr[1] = Clip255(y - ((86 * v + 178 * u) >> 8));
    bgr[2] = Clip255(y + ((443 * v) >> 8));
}

YuvPlanes UnpaddedYuvPlanes(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, int height,
                            int cShift)
{
    YuvPlanes p;
    p.y = y;
    p.u = u;
    p.v = v;
    p.yStride = width;
    p.cStride = p.cCols = width / (1 << cShift);
    p.cRows = height / (1 << cShift);
    p.cShift = cShift;
    return p;
}

void YuvToDib24(const YuvPlanes &p, int width, int height, uint8_t *bits, int rowBytes)
{
    if (!p.y || !p.u || !p.v || !bits || width <= 0 || height <= 0 || p.cCols <= 0 || p.cRows <= 0)
        return;
    // The chroma terms of one chroma row are computed once and shared by the pixels they cover.
    std::vector<int16_t> blue(p.cCols), green(p.cCols), red(p.cCols);
    int cachedRow = -1;
    for (int r = 0; r < height; ++r) {
        const int cr = std::min(r >> p.cShift, p.cRows - 1);
        if (cr != cachedRow) {
            const uint8_t *u = p.u + static_cast<size_t>(cr) * p.cStride;
            const uint8_t *v = p.v + static_cast<size_t>(cr) * p.cStride;
            for (int c = 0; c < p.cCols; ++c) {
                const int uc = u[c] - 128, vc = v[c] - 128;
                blue[c] = static_cast<int16_t>((351 * uc) >> 8);
                green[c] = static_cast<int16_t>((86 * vc + 178 * uc) >> 8);
                red[c] = static_cast<int16_t>((443 * vc) >> 8);
            }
            cachedRow = cr;
        }
        const uint8_t *y = p.y + static_cast<size_t>(r) * p.yStride;
        uint8_t *out = bits + static_cast<size_t>(height - 1 - r) * rowBytes;
        for (int c = 0; c < width; ++c, out += 3) {
            const int cc = std::min(c >> p.cShift, p.cCols - 1);
            out[0] = Clip255(y[c] + blue[cc]);
            out[1] = Clip255(y[c] - green[cc]);
            out[2] = Clip255(y[c] + red[cc]);
        }
    }
}

void LumaToDib24(const uint8_t *y, int yStride, int width, int height, uint8_t *bits, int rowBytes)
{
    if (!y || !bits)
        return;
    for (int r = 0; r < height; ++r) {
        const uint8_t *src = y + static_cast<size_t>(r) * yStride;
        uint8_t *out = bits + static_cast<size_t>(height - 1 - r) * rowBytes;
        for (int c = 0; c < width; ++c, out += 3)
            out[0] = out[1] = out[2] = src[c];
    }
}
