// Subband display: each band is scaled by its own peak magnitude so that 0 is mid-grey and the band's
// extreme reaches black or white; small high bands would otherwise vanish next to the low band. The
// block view interleaves the bands so each block shows its own coefficients, as a block DCT lays
// them out.
#include "modules/sbc/disp_subb.h"

#include "image/znimage.h"
#include "modules/sbc/subb.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

void DrawLineByte(int x0, int y0, int x1, int y1, uint8_t value, uint8_t *raster, int stride)
{
    if (x0 > x1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    if (x0 == x1) {
        if (y0 > y1)
            std::swap(y0, y1);
        for (int y = y0; y < y1; ++y)
            raster[static_cast<long>(y) * stride + x0] = value;
        return;
    }
    const int dx = x1 - x0, dy = y1 - y0;
    int e = 2 * dy - dx;
    for (int x = x0, y = y0; x <= x1; ++x) {
        raster[static_cast<long>(y) * stride + x] = value;
        if (e > 0) {
            ++y;
            e += 2 * (dy - dx);
        } else {
            e += 2 * dy;
        }
    }
}

void ZnImage::DispSubb(const Subb *sb, int factor)
{
    if (!sb || !sb->plane[0]) {
        zn::ShowMessage("DispSubb-Data pointer is NULL");
        return;
    }
    const int rows = sb->rows, cols = sb->cols;
    Alloc(rows, cols);
    const long n = static_cast<long>(rows) * cols;
    std::vector<uint8_t> raster(n, 0); // cleared: samples no band covers show black
    const bool knownRep = sb->rep == IMG_REP_BYTE || sb->rep == IMG_REP_INT || sb->rep == IMG_REP_FLOAT;
    const SubbComponent *comp = sb->comp.empty() ? nullptr : &sb->comp[0];
    const int count = comp ? std::min<int>(comp->count, SUBB_MAX_BANDS) : 0;
    // A band must lie inside the plane to be shown or framed.
    auto inside = [&](int i) {
        const long f = comp->first[i];
        const int r0 = cols ? f / cols : 0, c0 = cols ? f % cols : 0;
        return f >= 0 && comp->bandRows[i] >= 1 && comp->bandCols[i] >= 1 && r0 + comp->bandRows[i] <= rows &&
               c0 + comp->bandCols[i] <= cols;
    };
    // Each band scaled by its peak; the samples read as their own type, the arithmetic in the
    // doubles and floats of the display rule.
    const auto showBand = [&](const auto *plane, int i) {
        const long f = comp->first[i];
        const int br = comp->bandRows[i], bc = comp->bandCols[i];
        double lo = 10000, hi = -10000;
        for (int r = 0; r < br; ++r)
            for (int c = 0; c < bc; ++c) {
                const double v = plane[f + static_cast<long>(r) * cols + c];
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        const double m = std::max(std::fabs(lo), std::fabs(hi));
        const float gain = m < 0.01 ? 1.0f : static_cast<float>(127.5 / m);
        for (int r = 0; r < br; ++r)
            for (int c = 0; c < bc; ++c) {
                const long k = f + static_cast<long>(r) * cols + c;
                const double v = plane[k];
                const double g = gain * static_cast<float>(v) + 127.5; // float product
                raster[k] = std::isnan(g) ? 255 : static_cast<uint8_t>(g < 0 ? 0 : (g > 255 ? 255 : g));
            }
    };
    for (int i = 0; i < count; ++i) {
        if (!inside(i) || !knownRep)
            continue;
        switch (sb->rep) {
        case IMG_REP_BYTE:
            showBand(static_cast<const uint8_t *>(sb->plane[0]), i);
            break;
        case IMG_REP_INT:
            showBand(static_cast<const int32_t *>(sb->plane[0]), i);
            break;
        default:
            showBand(static_cast<const float *>(sb->plane[0]), i);
            break;
        }
    }
    float *out = Data();
    if (!out)
        return;
    if (factor <= 0) {
        for (int i = 0; i < count; ++i) {
            if (!inside(i))
                continue;
            const int t = comp->first[i] / cols, l = comp->first[i] % cols;
            const int bottom = t + comp->bandRows[i] - 1, right = l + comp->bandCols[i] - 1;
            DrawLineByte(l, bottom, right, bottom, 0, raster.data(), cols);
            DrawLineByte(right, t, right, bottom, 0, raster.data(), cols);
        }
        for (long k = 0; k < n; ++k)
            out[k] = raster[k];
        return;
    }
    for (long k = 0; k < n; ++k)
        out[k] = raster[k];
    const int R = rows / factor, C = cols / factor;
    for (int j = 0; j < factor; ++j)
        for (int l = 0; l < factor; ++l)
            for (int k = 0; k < R; ++k)
                for (int m = 0; m < C; ++m)
                    out[static_cast<long>(j + k * factor) * cols + l + m * factor] =
                        raster[static_cast<long>(j * R + k) * cols + l * C + m];
}
