// Eighth-sample chroma prediction of whole blocks.
#include "h264dec/chroma_interp.h"

#include "h264dec/reconstruct.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void h264dec_chroma_pred_reference(const Array2D<uint8_t> &plane, int width, int height, int X, int Y, int w,
                                   int h, uint8_t *out, int stride)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out[y * stride + x] =
                static_cast<uint8_t>(h264dec_chroma_sample(plane, width, height, X + 8 * x, Y + 8 * y));
}

namespace {

// A row of W samples as one vector of 8-bit lanes and one of 16-bit lanes: every weighted sum fits
// 16 bits (64 x 255 + 32), so a whole row is mixed at once.
template <int W> struct Lanes;
template <> struct Lanes<8>
{
    typedef uint8_t U8 __attribute__((vector_size(8)));
    typedef uint16_t U16 __attribute__((vector_size(16)));
};
template <> struct Lanes<4>
{
    typedef uint8_t U8 __attribute__((vector_size(4)));
    typedef uint16_t U16 __attribute__((vector_size(8)));
};
template <> struct Lanes<2>
{
    typedef uint8_t U8 __attribute__((vector_size(2)));
    typedef uint16_t U16 __attribute__((vector_size(4)));
};

// All weights are non-negative, so the division by 64 of the definition is a shift.
template <int W>
void ChromaKernel(const uint8_t *s, ptrdiff_t ss, int h, int fx, int fy, uint8_t *out, int os)
{
    using U8 = typename Lanes<W>::U8;
    using U16 = typename Lanes<W>::U16;
    const uint16_t a = static_cast<uint16_t>((8 - fx) * (8 - fy)), b = static_cast<uint16_t>(fx * (8 - fy));
    const uint16_t c = static_cast<uint16_t>((8 - fx) * fy), d = static_cast<uint16_t>(fx * fy);
    auto load = [](const uint8_t *p) {
        U8 v;
        std::memcpy(&v, p, sizeof v);
        return __builtin_convertvector(v, U16);
    };
    for (int y = 0; y < h; ++y) {
        const uint8_t *r0 = s + y * ss, *r1 = r0 + ss;
        const U16 v = (a * load(r0) + b * load(r0 + 1) + c * load(r1) + d * load(r1 + 1) + 32) >> 6;
        const U8 o = __builtin_convertvector(v, U8);
        std::memcpy(out + y * os, &o, sizeof o);
    }
}

#if defined(__SSE2__)
// The same mix with SSE2 on x86: eight or four samples widened to 16 bits by one unpack each.
template <int W>
void ChromaKernelSse2(const uint8_t *s, ptrdiff_t ss, int h, int fx, int fy, uint8_t *out, int os)
{
    const __m128i a = _mm_set1_epi16(static_cast<short>((8 - fx) * (8 - fy)));
    const __m128i b = _mm_set1_epi16(static_cast<short>(fx * (8 - fy)));
    const __m128i c = _mm_set1_epi16(static_cast<short>((8 - fx) * fy));
    const __m128i d = _mm_set1_epi16(static_cast<short>(fx * fy));
    const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi16(32);
    auto load = [&](const uint8_t *p) {
        if constexpr (W == 8)
            return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero);
        int32_t v;
        std::memcpy(&v, p, sizeof v);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero);
    };
    for (int y = 0; y < h; ++y) {
        const uint8_t *r0 = s + y * ss, *r1 = r0 + ss;
        __m128i v = _mm_add_epi16(_mm_mullo_epi16(a, load(r0)), _mm_mullo_epi16(b, load(r0 + 1)));
        v = _mm_add_epi16(v, _mm_add_epi16(_mm_mullo_epi16(c, load(r1)), _mm_mullo_epi16(d, load(r1 + 1))));
        v = _mm_srli_epi16(_mm_add_epi16(v, round), 6);
        const __m128i packed = _mm_packus_epi16(v, v);
        if constexpr (W == 8) {
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out + y * os), packed);
        } else {
            const int32_t o = _mm_cvtsi128_si32(packed);
            std::memcpy(out + y * os, &o, sizeof o);
        }
    }
}
#endif

void ChromaKernelAny(const uint8_t *s, ptrdiff_t ss, int w, int h, int fx, int fy, uint8_t *out, int os)
{
#if defined(__SSE2__)
    if (w == 8)
        ChromaKernelSse2<8>(s, ss, h, fx, fy, out, os);
    else if (w == 4)
        ChromaKernelSse2<4>(s, ss, h, fx, fy, out, os);
#else
    if (w == 8)
        ChromaKernel<8>(s, ss, h, fx, fy, out, os);
    else if (w == 4)
        ChromaKernel<4>(s, ss, h, fx, fy, out, os);
#endif
    else
        ChromaKernel<2>(s, ss, h, fx, fy, out, os);
}

} // namespace

void h264dec_chroma_pred_fast(const Array2D<uint8_t> &plane, int width, int height, int X, int Y, int w,
                              int h, uint8_t *out, int stride)
{
    const int fx = X & 7, fy = Y & 7;
    const int x0 = X >> 3, y0 = Y >> 3;
    if (x0 >= 0 && x0 + w < width && y0 >= 0 && y0 + h < height) {
        const ptrdiff_t ss = plane.Cols();
        ChromaKernelAny(plane[0] + y0 * ss + x0, ss, w, h, fx, fy, out, stride);
        return;
    }
    // At a border: the (w + 1) x (h + 1) neighbourhood, clamped into a copy. A sample with fx = 0
    // (fy = 0) gives its right (lower) neighbour weight 0, so the extra column (row) is never seen.
    constexpr int kStride = 9;
    uint8_t win[9 * kStride];
    int cols[9];
    for (int c = 0; c <= w; ++c)
        cols[c] = std::clamp(x0 + c, 0, width - 1);
    for (int r = 0; r <= h; ++r) {
        const uint8_t *row = plane[std::clamp(y0 + r, 0, height - 1)];
        for (int c = 0; c <= w; ++c)
            win[r * kStride + c] = row[cols[c]];
    }
    ChromaKernelAny(win, kStride, w, h, fx, fy, out, stride);
}
