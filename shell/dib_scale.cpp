// Grey conversion and bilinear scaling of still images for display.
#include "shell/dib_scale.h"

#include "image/cdib.h"

#include <algorithm>
#include <cstring>

namespace zn {

std::vector<uint8_t> ScaleGreyBilinear(const uint8_t *src, int w0, int h0, int w, int h)
{
    if (!src || w0 < 1 || h0 < 1 || w < 1 || h < 1)
        return {};
    const int srcRow = Grey24RowBytes(w0);
    const int dstRow = Grey24RowBytes(w);
    std::vector<uint8_t> out(static_cast<size_t>(dstRow) * h);
    // Steps in 1/256 pixel: y = i * ys stays below h0 * 256, so y0 and x0 never leave the image.
    const int xs = (w0 * 256) / w;
    const int ys = (h0 * 256) / h;
    for (int i = 0; i < h; ++i) {
        const int y = i * ys;
        const int y0 = y >> 8;
        const int fy = y - (y0 << 8);
        const int y1 = std::min(y0 + 1, h0 - 1);
        const uint8_t *r0 = src + static_cast<size_t>(y0) * srcRow;
        const uint8_t *r1 = src + static_cast<size_t>(y1) * srcRow;
        uint8_t *dst = out.data() + static_cast<size_t>(i) * dstRow;
        for (int j = 0; j < w; ++j) {
            const int x = j * xs;
            const int x0 = x >> 8;
            const int fx = x - (x0 << 8);
            const int x1 = std::min(x0 + 1, w0 - 1);
            const unsigned v = (r0[3 * x0] * (256 - fx) * (256 - fy) + r0[3 * x1] * fx * (256 - fy) +
                                r1[3 * x0] * (256 - fx) * fy + r1[3 * x1] * fx * fy) >>
                               16;
            dst[3 * j] = dst[3 * j + 1] = dst[3 * j + 2] = static_cast<uint8_t>(v);
        }
    }
    return out;
}

bool PaletteToGrey24(CDib &dib)
{
    if (!dib.IsValid() || dib.GetInfoHeader()->biBitCount != 8 || dib.GetNumColors() == 0)
        return false;
    const int w = dib.GetWidth();
    const int h = dib.GetHeight();
    const int numColors = dib.GetNumColors();
    std::vector<RGBQUAD> palette(dib.GetPalette(), dib.GetPalette() + numColors);
    std::vector<uint8_t> index(static_cast<size_t>(dib.RowBytes()) * h);
    std::memcpy(index.data(), dib.GetBits(), index.size());
    const int srcRow = dib.RowBytes();
    // The luminance weights of the float conversion, so the view shows what the modules will code.
    // The weights sum to one, yet a single-precision sum lands just below the integer for some
    // greys (121 gives 120.99999) and truncation then darkens them. This runs on the document
    // image itself, so the sum is taken in double: every grey entry keeps its level and colour
    // entries keep the truncated weighted sum.
    constexpr double kR = 0.3008f, kG = 0.5859f, kB = 0.1133f;
    std::vector<uint8_t> grey(256);
    for (int k = 0; k < 256; ++k) {
        const RGBQUAD q = k < numColors ? palette[k] : RGBQUAD{};
        const double g = kR * q.rgbRed + kG * q.rgbGreen + kB * q.rgbBlue;
        grey[k] = static_cast<uint8_t>(std::clamp(g, 0.0, 255.0));
    }
    if (!dib.Create24(w, h))
        return false;
    for (int k = 0; k < h; ++k) {
        const uint8_t *s = index.data() + static_cast<size_t>(k) * srcRow;
        uint8_t *d = dib.StoredRow(k);
        for (int j = 0; j < w; ++j)
            d[3 * j] = d[3 * j + 1] = d[3 * j + 2] = grey[s[j]];
    }
    // The header's size field counts pixels by this program's convention.
    dib.GetInfoHeader()->biSizeImage = static_cast<uint32_t>(Grey24RowBytes(w)) * h / 3;
    return true;
}

} // namespace zn
