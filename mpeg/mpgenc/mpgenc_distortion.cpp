// Distortion measures of motion estimation. The plain forms follow the definition one sample at a
// time and stay as the reference the fast ones are tested against. The fast forms build a row of 16
// reference samples for the half-pel case at hand with byte averages (which round exactly as
// (a + b + 1) >> 1; the four-sample mean is corrected in its last bit), then take its absolute differences
// with one sum-of-absolute-differences instruction, or its squared differences with 16-bit
// multiply-adds. The early stop of the full-pel sums is checked after every line, as in the plain form.
#include "mpeg/mpgenc/mpgenc_distortion.h"

#include <cstdlib>

#include "mpeg/mpgdec/mpeg_simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The averaged reference sample of two half-pel references.
inline int MeanSample(const uint8_t *p, const uint8_t *q, int stride, int i, int phx, int phy, int qhx,
                      int qhy)
{
    return (HalfSample(p, stride, i, phx, phy) + HalfSample(q, stride, i, qhx, qhy) + 1) >> 1;
}

} // namespace

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

int SadInterpolatedPlain(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                         int phy, int qhx, int qhy)
{
    int s = 0;
    for (int j = 0; j < h; ++j) {
        const long o = static_cast<long>(j) * stride;
        for (int i = 0; i < 16; ++i)
            s += std::abs(MeanSample(p + o, q + o, stride, i, phx, phy, qhx, qhy) - cur[o + i]);
    }
    return s;
}

int SseInterpolatedPlain(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                         int phy, int qhx, int qhy)
{
    int s = 0;
    for (int j = 0; j < h; ++j) {
        const long o = static_cast<long>(j) * stride;
        for (int i = 0; i < 16; ++i) {
            const int d = MeanSample(p + o, q + o, stride, i, phx, phy, qhx, qhy) - cur[o + i];
            s += d * d;
        }
    }
    return s;
}

int BlockVariance16Plain(const uint8_t *p, int stride)
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

int SadAreaPlain(const uint8_t *ref, int refStride, const uint8_t *cur, int curStride, int w, int h, int best)
{
    int s = 0;
    for (int j = 0; j < h && s <= best; ++j)
        for (int i = 0; i < w; ++i)
            s += std::abs(ref[static_cast<long>(j) * refStride + i] -
                          cur[static_cast<long>(j) * curStride + i]);
    return s;
}

#if defined(__SSE2__)

namespace {

inline __m128i Load16(const uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

using zn::simd::Mean4;

// One row of 16 reference samples at half-pel flags (HX, HY).
template <int HX, int HY> inline __m128i HalfRow(const uint8_t *r, int stride)
{
    if constexpr (HX && HY)
        return Mean4(Load16(r), Load16(r + 1), Load16(r + stride), Load16(r + stride + 1));
    else if constexpr (HX)
        return _mm_avg_epu8(Load16(r), Load16(r + 1));
    else if constexpr (HY)
        return _mm_avg_epu8(Load16(r), Load16(r + stride));
    else
        return Load16(r);
}

inline __m128i HalfRowAny(const uint8_t *r, int stride, int hx, int hy)
{
    if (hx && hy)
        return HalfRow<1, 1>(r, stride);
    if (hx)
        return HalfRow<1, 0>(r, stride);
    if (hy)
        return HalfRow<0, 1>(r, stride);
    return HalfRow<0, 0>(r, stride);
}

// The two 64-bit halves of a sum-of-absolute-differences result, added.
inline int Total(__m128i v)
{
    return _mm_cvtsi128_si32(v) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(v, v));
}

// Squared differences of 16 byte pairs, as four 32-bit partial sums.
inline __m128i SquaredDiffs(__m128i a, __m128i b)
{
    const __m128i z = _mm_setzero_si128();
    const __m128i lo = _mm_sub_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z));
    const __m128i hi = _mm_sub_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z));
    return _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi));
}

inline int Total32(__m128i v)
{
    v = _mm_add_epi32(v, _mm_unpackhi_epi64(v, v));
    return _mm_cvtsi128_si32(_mm_add_epi32(v, _mm_srli_si128(v, 4)));
}

template <int HX, int HY> int SadRows(const uint8_t *ref, const uint8_t *cur, int stride, int h, int limit)
{
    if constexpr (!HX && !HY) {
        int s = 0;
        for (int j = 0; j < h; ++j, ref += stride, cur += stride) {
            s += Total(_mm_sad_epu8(Load16(ref), Load16(cur)));
            if (s >= limit)
                break;
        }
        return s;
    } else {
        __m128i acc = _mm_setzero_si128();
        for (int j = 0; j < h; ++j, ref += stride, cur += stride)
            acc = _mm_add_epi64(acc, _mm_sad_epu8(HalfRow<HX, HY>(ref, stride), Load16(cur)));
        return Total(acc);
    }
}

template <int HX, int HY> int SseRows(const uint8_t *ref, const uint8_t *cur, int stride, int h)
{
    __m128i acc = _mm_setzero_si128();
    for (int j = 0; j < h; ++j, ref += stride, cur += stride)
        acc = _mm_add_epi32(acc, SquaredDiffs(HalfRow<HX, HY>(ref, stride), Load16(cur)));
    return Total32(acc);
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

int SadInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy)
{
    __m128i acc = _mm_setzero_si128();
    for (int j = 0; j < h; ++j, p += stride, q += stride, cur += stride) {
        const __m128i mean = _mm_avg_epu8(HalfRowAny(p, stride, phx, phy), HalfRowAny(q, stride, qhx, qhy));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(mean, Load16(cur)));
    }
    return Total(acc);
}

int SseInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy)
{
    __m128i acc = _mm_setzero_si128();
    for (int j = 0; j < h; ++j, p += stride, q += stride, cur += stride) {
        const __m128i mean = _mm_avg_epu8(HalfRowAny(p, stride, phx, phy), HalfRowAny(q, stride, qhx, qhy));
        acc = _mm_add_epi32(acc, SquaredDiffs(mean, Load16(cur)));
    }
    return Total32(acc);
}

int BlockVariance16(const uint8_t *p, int stride)
{
    const __m128i z = _mm_setzero_si128();
    __m128i sum = z, squares = z;
    for (int j = 0; j < 16; ++j, p += stride) {
        const __m128i v = Load16(p);
        sum = _mm_add_epi64(sum, _mm_sad_epu8(v, z));
        const __m128i lo = _mm_unpacklo_epi8(v, z), hi = _mm_unpackhi_epi8(v, z);
        squares = _mm_add_epi32(squares, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
    }
    const int s = Total(sum), s2 = Total32(squares);
    return static_cast<int>(s2 - (static_cast<long long>(s) * s) / 256);
}

namespace {

// Rows of a w-wide area (w = 16 or 8), a line at a time with the early stop of the plain form.
template <int W>
int SadAreaRows(const uint8_t *ref, int refStride, const uint8_t *cur, int curStride, int h, int best)
{
    int s = 0;
    for (int j = 0; j < h && s <= best; ++j, ref += refStride, cur += curStride) {
        const __m128i r = W == 16 ? Load16(ref) : _mm_loadl_epi64(reinterpret_cast<const __m128i *>(ref));
        const __m128i c = W == 16 ? Load16(cur) : _mm_loadl_epi64(reinterpret_cast<const __m128i *>(cur));
        s += W == 16 ? Total(_mm_sad_epu8(r, c)) : _mm_cvtsi128_si32(_mm_sad_epu8(r, c));
    }
    return s;
}

inline __m128i Load4(const uint8_t *p)
{
    int v;
    __builtin_memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

// A 4-wide area (the quarter-size level): two lines per instruction, each in its own half, and the
// early stop then applied line by line to the sums, as the plain form would meet them.
int SadArea4(const uint8_t *ref, int refStride, const uint8_t *cur, int curStride, int h, int best)
{
    int s = 0;
    int j = 0;
    for (; j + 1 < h && s <= best; j += 2) {
        const __m128i r = _mm_unpacklo_epi64(Load4(ref + static_cast<long>(j) * refStride),
                                             Load4(ref + static_cast<long>(j + 1) * refStride));
        const __m128i c = _mm_unpacklo_epi64(Load4(cur + static_cast<long>(j) * curStride),
                                             Load4(cur + static_cast<long>(j + 1) * curStride));
        const __m128i d = _mm_sad_epu8(r, c);
        s += _mm_cvtsi128_si32(d);
        if (s > best)
            return s;
        s += _mm_cvtsi128_si32(_mm_unpackhi_epi64(d, d));
    }
    if (j < h && s <= best)
        s += _mm_cvtsi128_si32(_mm_sad_epu8(Load4(ref + static_cast<long>(j) * refStride),
                                            Load4(cur + static_cast<long>(j) * curStride)));
    return s;
}

} // namespace

int SadArea(const uint8_t *ref, int refStride, const uint8_t *cur, int curStride, int w, int h, int best)
{
    // The pyramid's three block widths.
    switch (w) {
    case 16:
        return SadAreaRows<16>(ref, refStride, cur, curStride, h, best);
    case 8:
        return SadAreaRows<8>(ref, refStride, cur, curStride, h, best);
    case 4:
        return SadArea4(ref, refStride, cur, curStride, h, best);
    default:
        return SadAreaPlain(ref, refStride, cur, curStride, w, h, best);
    }
}

#else

int SadBlock(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy, int limit)
{
    return SadBlockPlain(ref, cur, stride, h, hx, hy, limit);
}

int SseBlock(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy)
{
    return SseBlockPlain(ref, cur, stride, h, hx, hy);
}

int SadInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy)
{
    return SadInterpolatedPlain(p, q, cur, stride, h, phx, phy, qhx, qhy);
}

int SseInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy)
{
    return SseInterpolatedPlain(p, q, cur, stride, h, phx, phy, qhx, qhy);
}

int BlockVariance16(const uint8_t *p, int stride)
{
    return BlockVariance16Plain(p, stride);
}

int SadArea(const uint8_t *ref, int refStride, const uint8_t *cur, int curStride, int w, int h, int best)
{
    return SadAreaPlain(ref, refStride, cur, curStride, w, h, best);
}

#endif
