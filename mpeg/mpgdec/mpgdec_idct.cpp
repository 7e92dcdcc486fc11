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

// 32-bit lanes for the butterfly, which is written once for four lanes (SSE2) and for eight (AVX2):
// the compiler turns the operators into the instructions of whichever processor the caller targets.
typedef int32_t Lanes4 __attribute__((vector_size(16)));
typedef int32_t Lanes8 __attribute__((vector_size(32)));

// One pass over eight lines at once, coefficient k of every line in lanes: the butterfly of Row and
// Column, each pair of products in one multiply-add (W1 c1 + W7 c7 is the plain form's
// W7 (c1 + c7) + (W1 - W7) c1), all in 32 bits as there. madd(x, i, j, a, b) sets x to a c_i + b c_j per
// lane; the outputs are left >> 8 and kept to 16 bits (rows, as the plain form's store into a short does) or
// >> 14 (columns).
template <bool ColumnPass, typename V, typename Madd>
[[gnu::always_inline]] inline void PassLanes(Madd madd, V o[8])
{
    constexpr int scale = ColumnPass ? 256 : 2048, round = ColumnPass ? 8192 : 128;
    V x4, x5, x6, x7, x3, x2, m04, n04;
    madd(x4, 1, 7, W1, W7);
    madd(x5, 1, 7, W7, -W1);
    madd(x6, 5, 3, W5, W3);
    madd(x7, 5, 3, W3, -W5);
    madd(x3, 2, 6, W2, W6);
    madd(x2, 2, 6, W6, -W2);
    madd(m04, 0, 4, scale, scale);
    madd(n04, 0, 4, scale, -scale);
    if constexpr (ColumnPass) {
        x4 = (x4 + 4) >> 3;
        x5 = (x5 + 4) >> 3;
        x6 = (x6 + 4) >> 3;
        x7 = (x7 + 4) >> 3;
        x2 = (x2 + 4) >> 3;
        x3 = (x3 + 4) >> 3;
    }
    const V x8 = m04 + round, x0 = n04 + round;
    const V a1 = x4 + x6, b4 = x4 - x6, a6 = x5 + x7, b5 = x5 - x7;
    const V a7 = x8 + x3, b8 = x8 - x3, a3 = x0 + x2, b0 = x0 - x2;
    // (181 t + 128) >> 8 exactly, for any 32-bit t whose product would overflow 32 bits: with
    // t = 256 h + l (0 <= l < 256) it is 181 h + ((181 l + 128) >> 8), since 256 * 181 h drops out of
    // the shift whole.
    const V t2 = b4 + b5, t4 = b4 - b5;
    const V h2 = t2 >> 8, l2 = t2 & 255, h4 = t4 >> 8, l4 = t4 & 255;
    const V r2 = h2 + (h2 << 2) + (h2 << 4) + (h2 << 5) + (h2 << 7) +
                 ((l2 + (l2 << 2) + (l2 << 4) + (l2 << 5) + (l2 << 7) + 128) >> 8);
    const V r4 = h4 + (h4 << 2) + (h4 << 4) + (h4 << 5) + (h4 << 7) +
                 ((l4 + (l4 << 2) + (l4 << 4) + (l4 << 5) + (l4 << 7) + 128) >> 8);
    const V sums[8] = {a7 + a1, a3 + r2, b0 + r4, b8 + a6, b8 - a6, b0 - r4, a3 - r2, a7 - a1};
    for (int k = 0; k < 8; ++k)
        o[k] = ColumnPass ? sums[k] >> 14 : ((sums[k] >> 8) << 16) >> 16;
}

// Eight 16-bit results from their 32-bit lanes; columns through the clip table (-256..255: the
// saturation of the packing keeps the order).
template <bool ColumnPass> inline __m128i Finish(__m128i low, __m128i high)
{
    const __m128i v = _mm_packs_epi32(low, high);
    return ColumnPass ? _mm_max_epi16(_mm_min_epi16(v, _mm_set1_epi16(255)), _mm_set1_epi16(-256)) : v;
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

template <bool ColumnPass> inline void Pass(__m128i v[8])
{
    Lanes4 o[2][8];
    for (int half = 0; half < 2; ++half) {
        auto madd = [&](Lanes4 &x, int i, int j, int a, int b) {
            const __m128i m = half ? _mm_unpackhi_epi16(v[i], v[j]) : _mm_unpacklo_epi16(v[i], v[j]);
            x = reinterpret_cast<Lanes4>(_mm_madd_epi16(m, Pair(a, b)));
        };
        PassLanes<ColumnPass, Lanes4>(madd, o[half]);
    }
    for (int k = 0; k < 8; ++k)
        v[k] = Finish<ColumnPass>(reinterpret_cast<__m128i>(o[0][k]), reinterpret_cast<__m128i>(o[1][k]));
}

// The same pass with all eight lines in one 256-bit register, where the processor has AVX2.
#define ZN_AVX2 __attribute__((target("avx2")))

struct Madd8
{
    const __m128i *v;
    ZN_AVX2 void operator()(Lanes8 &x, int i, int j, int a, int b) const
    {
        const __m256i m = _mm256_set_m128i(_mm_unpackhi_epi16(v[i], v[j]), _mm_unpacklo_epi16(v[i], v[j]));
        const __m256i c =
            _mm256_set1_epi32(static_cast<int>((static_cast<uint32_t>(b) << 16) | (a & 0xFFFF)));
        x = reinterpret_cast<Lanes8>(_mm256_madd_epi16(m, c));
    }
};

template <bool ColumnPass> [[gnu::always_inline]] ZN_AVX2 inline void PassAvx2(__m128i v[8])
{
    Lanes8 o[8];
    PassLanes<ColumnPass, Lanes8>(Madd8{v}, o);
    for (int k = 0; k < 8; ++k) {
        const __m256i w = reinterpret_cast<__m256i>(o[k]);
        v[k] = Finish<ColumnPass>(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
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
