// Inverse transform: a fast integer 8x8 inverse DCT (a factorisation with 11-bit cosine constants),
// rows first, then columns. The row pass keeps 8 extra fraction bits for the column pass; both
// passes skip the multiplications when only the DC term of a line is non-zero, which is the common
// case after quantisation. The plain form works a line at a time; the fast form runs the same
// integer steps on eight lines at once, so both give the same bits.
#include "mpeg/mpgdec/mpeg_decoder.h"
#include "mpeg/mpgdec/mpeg_kernels.h"

#include <algorithm>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace zn {

namespace {

// 2048 * sqrt(2) * cos(k * pi / 16)
constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// 181/256 = 1/sqrt(2); 64-bit so that damaged coefficients cannot overflow.
inline int Rotate(int v)
{
    return static_cast<int>((181LL * v + 128) >> 8);
}

inline short ClipSample(int v)
{
    return static_cast<short>(std::clamp(v, -256, 255));
}

void Row(short *blk)
{
    int x1 = blk[4] * 2048, x2 = blk[6], x3 = blk[2], x4 = blk[1], x5 = blk[7], x6 = blk[5], x7 = blk[3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        short dc = static_cast<short>(blk[0] * 8);
        std::fill(blk, blk + 8, dc);
        return;
    }
    int x0 = blk[0] * 2048 + 128;
    int x8 = W7 * (x4 + x5);
    x4 = x8 + (W1 - W7) * x4;
    x5 = x8 - (W1 + W7) * x5;
    x8 = W3 * (x6 + x7);
    x6 = x8 - (W3 - W5) * x6;
    x7 = x8 - (W3 + W5) * x7;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2);
    x2 = x1 - (W2 + W6) * x2;
    x3 = x1 + (W2 - W6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = Rotate(x4 + x5);
    x4 = Rotate(x4 - x5);
    blk[0] = static_cast<short>((x7 + x1) >> 8);
    blk[1] = static_cast<short>((x3 + x2) >> 8);
    blk[2] = static_cast<short>((x0 + x4) >> 8);
    blk[3] = static_cast<short>((x8 + x6) >> 8);
    blk[4] = static_cast<short>((x8 - x6) >> 8);
    blk[5] = static_cast<short>((x0 - x4) >> 8);
    blk[6] = static_cast<short>((x3 - x2) >> 8);
    blk[7] = static_cast<short>((x7 - x1) >> 8);
}

void Column(short *blk)
{
    int x1 = blk[8 * 4] * 256, x2 = blk[8 * 6], x3 = blk[8 * 2], x4 = blk[8 * 1], x5 = blk[8 * 7],
        x6 = blk[8 * 5], x7 = blk[8 * 3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        short v = ClipSample((blk[0] + 32) >> 6);
        for (int i = 0; i < 8; ++i)
            blk[8 * i] = v;
        return;
    }
    int x0 = blk[0] * 256 + 8192;
    int x8 = W7 * (x4 + x5) + 4;
    x4 = (x8 + (W1 - W7) * x4) >> 3;
    x5 = (x8 - (W1 + W7) * x5) >> 3;
    x8 = W3 * (x6 + x7) + 4;
    x6 = (x8 - (W3 - W5) * x6) >> 3;
    x7 = (x8 - (W3 + W5) * x7) >> 3;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2) + 4;
    x2 = (x1 - (W2 + W6) * x2) >> 3;
    x3 = (x1 + (W2 - W6) * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = Rotate(x4 + x5);
    x4 = Rotate(x4 - x5);
    blk[8 * 0] = ClipSample((x7 + x1) >> 14);
    blk[8 * 1] = ClipSample((x3 + x2) >> 14);
    blk[8 * 2] = ClipSample((x0 + x4) >> 14);
    blk[8 * 3] = ClipSample((x8 + x6) >> 14);
    blk[8 * 4] = ClipSample((x8 - x6) >> 14);
    blk[8 * 5] = ClipSample((x0 - x4) >> 14);
    blk[8 * 6] = ClipSample((x3 - x2) >> 14);
    blk[8 * 7] = ClipSample((x7 - x1) >> 14);
}

} // namespace

void InverseDctPlain(short *block)
{
    for (int i = 0; i < 8; ++i)
        Row(block + 8 * i);
    for (int i = 0; i < 8; ++i)
        Column(block + i);
}

#if defined(__SSE2__)

namespace {

// Two 16-bit constants per 32-bit lane, for _mm_madd_epi16: a * first + b * second of each pair.
inline __m128i Pair(int first, int second)
{
    return _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(second) << 16) | (first & 0xFFFF)));
}

// 181 v for |v| below 2^23, with shifts: SSE2 has no 32-bit multiply.
inline __m128i Times181(__m128i v)
{
    const __m128i v4 = _mm_slli_epi32(v, 2), v16 = _mm_slli_epi32(v, 4);
    return _mm_add_epi32(_mm_add_epi32(v, v4),
                         _mm_add_epi32(_mm_add_epi32(v16, _mm_slli_epi32(v, 5)), _mm_slli_epi32(v, 7)));
}

// (181 v + 128) >> 8 exactly, for any 32-bit v whose product would overflow 32 bits: with v = 256 h + l
// (0 <= l < 256) it is 181 h + ((181 l + 128) >> 8), since 256 * 181 h drops out of the shift whole.
inline __m128i Rotate4(__m128i v)
{
    const __m128i h = _mm_srai_epi32(v, 8), l = _mm_and_si128(v, _mm_set1_epi32(255));
    const __m128i low =
        _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(l, Pair(181, 0)), _mm_set1_epi32(128)), 8);
    return _mm_add_epi32(Times181(h), low);
}

inline void Transpose8(__m128i r[8])
{
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// One pass over eight lines at once: in[k] holds coefficient k of every line (a lane per line). The
// butterfly of Row and Column, each pair of products in one multiply-add (W1 c1 + W7 c7 is the
// plain form's W7 (c1 + c7) + (W1 - W7) c1), all in 32 bits as there.
template <bool ColumnPass> inline void Pass(__m128i v[8])
{
    constexpr int scale = ColumnPass ? 256 : 2048, round = ColumnPass ? 8192 : 128;
    __m128i out[2][8];
    for (int half = 0; half < 2; ++half) {
        auto pair = [&](__m128i a, __m128i b) {
            return half ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b);
        };
        const __m128i m17 = pair(v[1], v[7]), m53 = pair(v[5], v[3]), m26 = pair(v[2], v[6]),
                      m04 = pair(v[0], v[4]);
        __m128i x4 = _mm_madd_epi16(m17, Pair(W1, W7)), x5 = _mm_madd_epi16(m17, Pair(W7, -W1));
        __m128i x6 = _mm_madd_epi16(m53, Pair(W5, W3)), x7 = _mm_madd_epi16(m53, Pair(W3, -W5));
        __m128i x3 = _mm_madd_epi16(m26, Pair(W2, W6)), x2 = _mm_madd_epi16(m26, Pair(W6, -W2));
        if (ColumnPass) {
            const __m128i four = _mm_set1_epi32(4);
            x4 = _mm_srai_epi32(_mm_add_epi32(x4, four), 3);
            x5 = _mm_srai_epi32(_mm_add_epi32(x5, four), 3);
            x6 = _mm_srai_epi32(_mm_add_epi32(x6, four), 3);
            x7 = _mm_srai_epi32(_mm_add_epi32(x7, four), 3);
            x2 = _mm_srai_epi32(_mm_add_epi32(x2, four), 3);
            x3 = _mm_srai_epi32(_mm_add_epi32(x3, four), 3);
        }
        const __m128i r = _mm_set1_epi32(round);
        const __m128i x8 = _mm_add_epi32(_mm_madd_epi16(m04, Pair(scale, scale)), r);
        const __m128i x0 = _mm_add_epi32(_mm_madd_epi16(m04, Pair(scale, -scale)), r);
        const __m128i a1 = _mm_add_epi32(x4, x6), b4 = _mm_sub_epi32(x4, x6);
        const __m128i a6 = _mm_add_epi32(x5, x7), b5 = _mm_sub_epi32(x5, x7);
        const __m128i a7 = _mm_add_epi32(x8, x3), b8 = _mm_sub_epi32(x8, x3);
        const __m128i a3 = _mm_add_epi32(x0, x2), b0 = _mm_sub_epi32(x0, x2);
        const __m128i r2 = Rotate4(_mm_add_epi32(b4, b5)), r4 = Rotate4(_mm_sub_epi32(b4, b5));
        const __m128i o[8] = {_mm_add_epi32(a7, a1), _mm_add_epi32(a3, r2), _mm_add_epi32(b0, r4),
                              _mm_add_epi32(b8, a6), _mm_sub_epi32(b8, a6), _mm_sub_epi32(b0, r4),
                              _mm_sub_epi32(a3, r2), _mm_sub_epi32(a7, a1)};
        for (int k = 0; k < 8; ++k) {
            if (ColumnPass) {
                out[half][k] = _mm_srai_epi32(o[k], 14);
            } else {
                // Keep the low 16 bits, as the plain form's store into a short does.
                out[half][k] = _mm_srai_epi32(_mm_slli_epi32(_mm_srai_epi32(o[k], 8), 16), 16);
            }
        }
    }
    for (int k = 0; k < 8; ++k) {
        v[k] = _mm_packs_epi32(out[0][k], out[1][k]);
        if (ColumnPass) // the clip table: -256..255 (saturation above keeps the order)
            v[k] = _mm_max_epi16(_mm_min_epi16(v[k], _mm_set1_epi16(255)), _mm_set1_epi16(-256));
    }
}

// The same pass with all eight lines in one 256-bit register, where the processor has AVX2.
#define ZN_AVX2 __attribute__((target("avx2")))

ZN_AVX2 inline __m256i Pair8(__m128i a, __m128i b)
{
    return _mm256_set_m128i(_mm_unpackhi_epi16(a, b), _mm_unpacklo_epi16(a, b));
}

ZN_AVX2 inline __m256i Const8(int first, int second)
{
    return _mm256_set1_epi32(static_cast<int>((static_cast<uint32_t>(second) << 16) | (first & 0xFFFF)));
}

ZN_AVX2 inline __m256i Times181x8(__m256i v)
{
    const __m256i v4 = _mm256_slli_epi32(v, 2), v16 = _mm256_slli_epi32(v, 4);
    return _mm256_add_epi32(
        _mm256_add_epi32(v, v4),
        _mm256_add_epi32(_mm256_add_epi32(v16, _mm256_slli_epi32(v, 5)), _mm256_slli_epi32(v, 7)));
}

ZN_AVX2 inline __m256i Rotate8(__m256i v)
{
    const __m256i h = _mm256_srai_epi32(v, 8), l = _mm256_and_si256(v, _mm256_set1_epi32(255));
    const __m256i low =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(l, Const8(181, 0)), _mm256_set1_epi32(128)), 8);
    return _mm256_add_epi32(Times181x8(h), low);
}

template <bool ColumnPass> ZN_AVX2 void PassAvx2(__m128i v[8])
{
    constexpr int scale = ColumnPass ? 256 : 2048, round = ColumnPass ? 8192 : 128;
    const __m256i m17 = Pair8(v[1], v[7]), m53 = Pair8(v[5], v[3]), m26 = Pair8(v[2], v[6]),
                  m04 = Pair8(v[0], v[4]);
    __m256i x4 = _mm256_madd_epi16(m17, Const8(W1, W7)), x5 = _mm256_madd_epi16(m17, Const8(W7, -W1));
    __m256i x6 = _mm256_madd_epi16(m53, Const8(W5, W3)), x7 = _mm256_madd_epi16(m53, Const8(W3, -W5));
    __m256i x3 = _mm256_madd_epi16(m26, Const8(W2, W6)), x2 = _mm256_madd_epi16(m26, Const8(W6, -W2));
    if (ColumnPass) {
        const __m256i four = _mm256_set1_epi32(4);
        x4 = _mm256_srai_epi32(_mm256_add_epi32(x4, four), 3);
        x5 = _mm256_srai_epi32(_mm256_add_epi32(x5, four), 3);
        x6 = _mm256_srai_epi32(_mm256_add_epi32(x6, four), 3);
        x7 = _mm256_srai_epi32(_mm256_add_epi32(x7, four), 3);
        x2 = _mm256_srai_epi32(_mm256_add_epi32(x2, four), 3);
        x3 = _mm256_srai_epi32(_mm256_add_epi32(x3, four), 3);
    }
    const __m256i r = _mm256_set1_epi32(round);
    const __m256i x8 = _mm256_add_epi32(_mm256_madd_epi16(m04, Const8(scale, scale)), r);
    const __m256i x0 = _mm256_add_epi32(_mm256_madd_epi16(m04, Const8(scale, -scale)), r);
    const __m256i a1 = _mm256_add_epi32(x4, x6), b4 = _mm256_sub_epi32(x4, x6);
    const __m256i a6 = _mm256_add_epi32(x5, x7), b5 = _mm256_sub_epi32(x5, x7);
    const __m256i a7 = _mm256_add_epi32(x8, x3), b8 = _mm256_sub_epi32(x8, x3);
    const __m256i a3 = _mm256_add_epi32(x0, x2), b0 = _mm256_sub_epi32(x0, x2);
    const __m256i r2 = Rotate8(_mm256_add_epi32(b4, b5)), r4 = Rotate8(_mm256_sub_epi32(b4, b5));
    const __m256i o[8] = {_mm256_add_epi32(a7, a1), _mm256_add_epi32(a3, r2), _mm256_add_epi32(b0, r4),
                          _mm256_add_epi32(b8, a6), _mm256_sub_epi32(b8, a6), _mm256_sub_epi32(b0, r4),
                          _mm256_sub_epi32(a3, r2), _mm256_sub_epi32(a7, a1)};
    for (int k = 0; k < 8; ++k) {
        const __m256i w = ColumnPass
                              ? _mm256_srai_epi32(o[k], 14)
                              : _mm256_srai_epi32(_mm256_slli_epi32(_mm256_srai_epi32(o[k], 8), 16), 16);
        v[k] = _mm_packs_epi32(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
        if (ColumnPass)
            v[k] = _mm_max_epi16(_mm_min_epi16(v[k], _mm_set1_epi16(255)), _mm_set1_epi16(-256));
    }
}

ZN_AVX2 void TransformAvx2(__m128i v[8])
{
    Transpose8(v);
    PassAvx2<false>(v);
    Transpose8(v);
    PassAvx2<true>(v);
}

void TransformSse2(__m128i v[8])
{
    Transpose8(v);
    Pass<false>(v);
    Transpose8(v);
    Pass<true>(v);
}

bool HaveAvx2()
{
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

// Both transforms of eight lines, with the DC-only case of the plain form taken first.
void InverseDctVectors(short *block, void (*transform)(__m128i v[8]))
{
    __m128i v[8];
    for (int k = 0; k < 8; ++k)
        v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * k));
    // Only a DC term, the common case after quantisation: both passes reduce to one value.
    __m128i ac = _mm_insert_epi16(v[0], 0, 0);
    for (int k = 1; k < 8; ++k)
        ac = _mm_or_si128(ac, v[k]);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(ac, _mm_setzero_si128())) == 0xFFFF) {
        const short rowDc = static_cast<short>(block[0] * 8);
        const __m128i all = _mm_set1_epi16(ClipSample((rowDc + 32) >> 6));
        for (int k = 0; k < 8; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(block + 8 * k), all);
        return;
    }
    transform(v);
    for (int k = 0; k < 8; ++k)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(block + 8 * k), v[k]);
}

} // namespace

void InverseDctSse2(short *block)
{
    InverseDctVectors(block, TransformSse2);
}

void InverseDctFast(short *block)
{
    InverseDctVectors(block, HaveAvx2() ? TransformAvx2 : TransformSse2);
}

#else

void InverseDctSse2(short *block)
{
    InverseDctPlain(block);
}

void InverseDctFast(short *block)
{
    InverseDctPlain(block);
}

#endif

void CMpegDecoder::InverseDct(short *block)
{
    InverseDctFast(block);
}

} // namespace zn
