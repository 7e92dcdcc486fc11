// Pixel kernels of prediction and reconstruction. Half-pel prediction is a bilinear average rounded
// up: the byte average instruction computes exactly (a + b + 1) >> 1, so the two-tap cases and the
// averaging of two predictions need no widening, and the four-tap case is three averages and a
// correction of the last bit (mpeg_simd.h).
// Reconstruction adds the transformed block in 16 bits with saturation and packs to bytes with
// saturation, which is the clip to 0..255 of the plain forms for every input.
#include "mpeg/mpgdec/mpeg_kernels.h"

#include <algorithm>
#include <cstddef>

#include "mpeg/mpgdec/mpeg_simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zn {

void PredictRowsPlain(const uint8_t *src, int ss, uint8_t *dst, int ds, int w, int h, int hx, int hy,
                      bool average)
{
    for (int j = 0; j < h; ++j) {
        const uint8_t *a = src + static_cast<ptrdiff_t>(j) * ss, *b = a + ss;
        uint8_t *d = dst + static_cast<ptrdiff_t>(j) * ds;
        for (int i = 0; i < w; ++i) {
            int v;
            if (hx && hy)
                v = (a[i] + a[i + 1] + b[i] + b[i + 1] + 2) >> 2;
            else if (hx)
                v = (a[i] + a[i + 1] + 1) >> 1;
            else if (hy)
                v = (a[i] + b[i] + 1) >> 1;
            else
                v = a[i];
            d[i] = static_cast<uint8_t>(average ? (d[i] + v + 1) >> 1 : v);
        }
    }
}

void AddBlockPlain(const short *blk, const uint8_t *pred, uint8_t *dst, int stride)
{
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
            const ptrdiff_t at = static_cast<ptrdiff_t>(j) * stride + i;
            dst[at] = static_cast<uint8_t>(std::clamp(blk[8 * j + i] + pred[at], 0, 255));
        }
}

void PutBlockPlain(const short *blk, uint8_t *dst, int stride)
{
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i)
            dst[static_cast<ptrdiff_t>(j) * stride + i] =
                static_cast<uint8_t>(std::clamp(blk[8 * j + i] + 128, 0, 255));
}

#if defined(__SSE2__)

namespace {

template <int W> inline __m128i Load(const uint8_t *p)
{
    if constexpr (W == 16)
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    else
        return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
}

template <int W> inline void Store(uint8_t *p, __m128i v)
{
    if constexpr (W == 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
    else
        _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v);
}

using zn::simd::Mean4;

template <int W, int HX, int HY, bool Average>
void PredictRowsSse2(const uint8_t *src, int ss, uint8_t *dst, int ds, int h)
{
    for (int j = 0; j < h; ++j, src += ss, dst += ds) {
        __m128i v;
        if constexpr (HX && HY)
            v = Mean4(Load<W>(src), Load<W>(src + 1), Load<W>(src + ss), Load<W>(src + ss + 1));
        else if constexpr (HX)
            v = _mm_avg_epu8(Load<W>(src), Load<W>(src + 1));
        else if constexpr (HY)
            v = _mm_avg_epu8(Load<W>(src), Load<W>(src + ss));
        else
            v = Load<W>(src);
        if constexpr (Average)
            v = _mm_avg_epu8(Load<W>(dst), v);
        Store<W>(dst, v);
    }
}

template <int W, bool Average>
void PredictRowsWidth(const uint8_t *src, int ss, uint8_t *dst, int ds, int h, int hx, int hy)
{
    if (hx && hy)
        PredictRowsSse2<W, 1, 1, Average>(src, ss, dst, ds, h);
    else if (hx)
        PredictRowsSse2<W, 1, 0, Average>(src, ss, dst, ds, h);
    else if (hy)
        PredictRowsSse2<W, 0, 1, Average>(src, ss, dst, ds, h);
    else
        PredictRowsSse2<W, 0, 0, Average>(src, ss, dst, ds, h);
}

} // namespace

void PredictRowsFast(const uint8_t *src, int ss, uint8_t *dst, int ds, int w, int h, int hx, int hy,
                     bool average)
{
    // Blocks are 16 or 8 samples wide (luma, chroma); anything else takes the plain loop.
    if (w == 16)
        average ? PredictRowsWidth<16, true>(src, ss, dst, ds, h, hx, hy)
                : PredictRowsWidth<16, false>(src, ss, dst, ds, h, hx, hy);
    else if (w == 8)
        average ? PredictRowsWidth<8, true>(src, ss, dst, ds, h, hx, hy)
                : PredictRowsWidth<8, false>(src, ss, dst, ds, h, hx, hy);
    else
        PredictRowsPlain(src, ss, dst, ds, w, h, hx, hy, average);
}

void AddBlockFast(const short *blk, const uint8_t *pred, uint8_t *dst, int stride)
{
    const __m128i z = _mm_setzero_si128();
    for (int j = 0; j < 8; ++j, pred += stride, dst += stride) {
        const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(pred)), z);
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(blk + 8 * j));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm_packus_epi16(_mm_adds_epi16(p, b), z));
    }
}

void PutBlockFast(const short *blk, uint8_t *dst, int stride)
{
    const __m128i grey = _mm_set1_epi16(128);
    for (int j = 0; j < 8; j += 2, dst += 2 * stride) {
        const __m128i a =
            _mm_adds_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(blk + 8 * j)), grey);
        const __m128i b =
            _mm_adds_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(blk + 8 * j + 8)), grey);
        const __m128i v = _mm_packus_epi16(a, b);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), v);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + stride), _mm_unpackhi_epi64(v, v));
    }
}

#else

void PredictRowsFast(const uint8_t *src, int ss, uint8_t *dst, int ds, int w, int h, int hx, int hy,
                     bool average)
{
    PredictRowsPlain(src, ss, dst, ds, w, h, hx, hy, average);
}

void AddBlockFast(const short *blk, const uint8_t *pred, uint8_t *dst, int stride)
{
    AddBlockPlain(blk, pred, dst, stride);
}

void PutBlockFast(const short *blk, uint8_t *dst, int stride)
{
    PutBlockPlain(blk, dst, stride);
}

#endif

} // namespace zn
