// Distortion measures of motion estimation. The fast forms build one row of 16 reference samples for
// the half-pel case at hand, then sum its differences with the current row: branch-free inner loops
// of fixed length that the compiler turns into vector code. The plain forms follow the definition
// one sample at a time and stay as the reference the fast ones are tested against.
#include "mpeg/mpgenc/mpgenc_distortion.h"

#include <cstdlib>

namespace {

inline int HalfSample(const uint8_t *p, int stride, int i, bool xh, bool yh)
{
    if (xh && yh)
        return (p[i] + p[i + 1] + p[i + stride] + p[i + stride + 1] + 2) >> 2;
    if (xh)
        return (p[i] + p[i + 1] + 1) >> 1;
    if (yh)
        return (p[i] + p[i + stride] + 1) >> 1;
    return p[i];
}

// One row of 16 reference samples at half-pel flags (HX, HY).
template <int HX, int HY> inline void HalfRow(const uint8_t *r, int stride, uint8_t *out)
{
    const uint8_t *b = r + stride;
    for (int i = 0; i < 16; ++i) {
        if constexpr (HX && HY)
            out[i] = static_cast<uint8_t>((r[i] + r[i + 1] + b[i] + b[i + 1] + 2) >> 2);
        else if constexpr (HX)
            out[i] = static_cast<uint8_t>((r[i] + r[i + 1] + 1) >> 1);
        else if constexpr (HY)
            out[i] = static_cast<uint8_t>((r[i] + b[i] + 1) >> 1);
        else
            out[i] = r[i];
    }
}

inline int RowSad16(const uint8_t *a, const uint8_t *b)
{
    int s = 0;
    for (int i = 0; i < 16; ++i)
        s += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    return s;
}

inline int RowSse16(const uint8_t *a, const uint8_t *b)
{
    int s = 0;
    for (int i = 0; i < 16; ++i) {
        const int d = static_cast<int>(a[i]) - static_cast<int>(b[i]);
        s += d * d;
    }
    return s;
}

template <int HX, int HY> int SadRows(const uint8_t *ref, const uint8_t *cur, int stride, int h, int limit)
{
    int s = 0;
    uint8_t row[16];
    for (int j = 0; j < h; ++j) {
        const long o = static_cast<long>(j) * stride;
        HalfRow<HX, HY>(ref + o, stride, row);
        s += RowSad16(row, cur + o);
        if constexpr (!HX && !HY)
            if (s >= limit)
                break;
    }
    return s;
}

template <int HX, int HY> int SseRows(const uint8_t *ref, const uint8_t *cur, int stride, int h)
{
    int s = 0;
    uint8_t row[16];
    for (int j = 0; j < h; ++j) {
        const long o = static_cast<long>(j) * stride;
        HalfRow<HX, HY>(ref + o, stride, row);
        s += RowSse16(row, cur + o);
    }
    return s;
}

void HalfRowAny(const uint8_t *r, int stride, int hx, int hy, uint8_t *out)
{
    if (hx && hy)
        HalfRow<1, 1>(r, stride, out);
    else if (hx)
        HalfRow<1, 0>(r, stride, out);
    else if (hy)
        HalfRow<0, 1>(r, stride, out);
    else
        HalfRow<0, 0>(r, stride, out);
}

// The averaged reference row of two half-pel references.
inline void MeanRow(const uint8_t *p, const uint8_t *q, int stride, int phx, int phy, int qhx, int qhy,
                    uint8_t *out)
{
    uint8_t a[16], b[16];
    HalfRowAny(p, stride, phx, phy, a);
    HalfRowAny(q, stride, qhx, qhy, b);
    for (int i = 0; i < 16; ++i)
        out[i] = static_cast<uint8_t>((a[i] + b[i] + 1) >> 1);
}

} // namespace

int SadBlock(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy, int limit)
{
    if (hx && hy)
        return SadRows<1, 1>(ref, cur, stride, h, limit);
    if (hx)
        return SadRows<1, 0>(ref, cur, stride, h, limit);
    if (hy)
        return SadRows<0, 1>(ref, cur, stride, h, limit);
    return SadRows<0, 0>(ref, cur, stride, h, limit);
}

int SadBlockPlain(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy, int limit)
{
    int s = 0;
    for (int j = 0; j < h; ++j) {
        const uint8_t *r = ref + static_cast<long>(j) * stride;
        const uint8_t *c = cur + static_cast<long>(j) * stride;
        for (int i = 0; i < 16; ++i)
            s += std::abs(HalfSample(r, stride, i, hx, hy) - c[i]);
        if (!hx && !hy && s >= limit)
            break;
    }
    return s;
}

int SseBlock(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy)
{
    if (hx && hy)
        return SseRows<1, 1>(ref, cur, stride, h);
    if (hx)
        return SseRows<1, 0>(ref, cur, stride, h);
    if (hy)
        return SseRows<0, 1>(ref, cur, stride, h);
    return SseRows<0, 0>(ref, cur, stride, h);
}

int SseBlockPlain(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy)
{
    int s = 0;
    for (int j = 0; j < h; ++j) {
        const uint8_t *r = ref + static_cast<long>(j) * stride;
        const uint8_t *c = cur + static_cast<long>(j) * stride;
        for (int i = 0; i < 16; ++i) {
            const int d = HalfSample(r, stride, i, hx, hy) - c[i];
            s += d * d;
        }
    }
    return s;
}

namespace {

// The summed row measure of the averaged reference against the current block.
template <int (*Row)(const uint8_t *, const uint8_t *)>
int InterpolatedSum(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy)
{
    int s = 0;
    uint8_t row[16];
    for (int j = 0; j < h; ++j) {
        const long o = static_cast<long>(j) * stride;
        MeanRow(p + o, q + o, stride, phx, phy, qhx, qhy, row);
        s += Row(row, cur + o);
    }
    return s;
}

} // namespace

int SadInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy)
{
    return InterpolatedSum<RowSad16>(p, q, cur, stride, h, phx, phy, qhx, qhy);
}

int SseInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy)
{
    return InterpolatedSum<RowSse16>(p, q, cur, stride, h, phx, phy, qhx, qhy);
}

int BlockVariance16(const uint8_t *p, int stride)
{
    int s = 0, s2 = 0;
    for (int j = 0; j < 16; ++j)
        for (int i = 0; i < 16; ++i) {
            const int v = p[static_cast<long>(j) * stride + i];
            s += v;
            s2 += v * v;
        }
    // The squared sum reaches 65280^2, beyond 32 bits; the variance itself fits.
    return static_cast<int>(s2 - (static_cast<long long>(s) * s) / 256);
}

namespace {

template <int W>
int SadAreaRows(const uint8_t *ref, int refStride, const uint8_t *cur, int curStride, int h, int best)
{
    int s = 0;
    for (int j = 0; j < h && s <= best; ++j) {
        const uint8_t *r = ref + static_cast<long>(j) * refStride,
                      *c = cur + static_cast<long>(j) * curStride;
        int row = 0;
        for (int i = 0; i < W; ++i)
            row += std::abs(static_cast<int>(r[i]) - static_cast<int>(c[i]));
        s += row;
    }
    return s;
}

} // namespace

int SadArea(const uint8_t *ref, int refStride, const uint8_t *cur, int curStride, int w, int h, int best)
{
    // The pyramid's three block widths get loops of fixed length.
    switch (w) {
    case 16:
        return SadAreaRows<16>(ref, refStride, cur, curStride, h, best);
    case 8:
        return SadAreaRows<8>(ref, refStride, cur, curStride, h, best);
    case 4:
        return SadAreaRows<4>(ref, refStride, cur, curStride, h, best);
    default:
        return SadAreaPlain(ref, refStride, cur, curStride, w, h, best);
    }
}

int SadAreaPlain(const uint8_t *ref, int refStride, const uint8_t *cur, int curStride, int w, int h, int best)
{
    int s = 0;
    for (int j = 0; j < h && s <= best; ++j)
        for (int i = 0; i < w; ++i)
            s += std::abs(ref[static_cast<long>(j) * refStride + i] -
                          cur[static_cast<long>(j) * curStride + i]);
    return s;
}
