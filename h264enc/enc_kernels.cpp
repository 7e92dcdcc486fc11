// Motion search kernels. The fast SAD works on whole 16-sample rows in vector registers: absolute
// differences as bytes, then per 4x4 block row the processor's byte-sum instruction where there is
// one (SSE2), else four rows added as 16-bit lanes (GCC vector types) and the lanes of each block summed.
#include "h264enc/enc_kernels.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace h264enc {

namespace {

#if !defined(__SSE2__)
typedef uint8_t U8x16 __attribute__((vector_size(16)));
typedef uint16_t U16x8 __attribute__((vector_size(16)));

U8x16 Load16(const uint8_t *p)
{
    U8x16 v;
    std::memcpy(&v, p, 16);
    return v;
}
#endif

void Hadamard1D(int &a, int &b, int &c, int &d)
{
    const int s0 = a + d, s1 = b + c, d0 = a - d, d1 = b - c;
    a = s0 + s1;
    b = d0 + d1;
    c = s0 - s1;
    d = d0 - d1;
}

} // namespace

int satd4x4_reference(int d[16], bool hadamard)
{
    int sum = 0;
    if (!hadamard) {
        for (int i = 0; i < 16; ++i)
            sum += byte_abs(d[i]);
        return sum;
    }
    int m[16];
    // Rows: (d0 + d3) + (d1 + d2), (d0 - d3) + (d1 - d2), (d0 + d3) - (d1 + d2), (d0 - d3) - (d1 - d2).
    for (int y = 0; y < 4; ++y) {
        const int *r = d + 4 * y;
        m[4 * y + 0] = (r[0] + r[3]) + (r[1] + r[2]);
        m[4 * y + 1] = (r[0] - r[3]) + (r[1] - r[2]);
        m[4 * y + 2] = (r[0] + r[3]) - (r[1] + r[2]);
        m[4 * y + 3] = (r[0] - r[3]) - (r[1] - r[2]);
    }
    for (int x = 0; x < 4; ++x) {
        const int a = m[x], b = m[4 + x], c = m[8 + x], e = m[12 + x];
        sum += std::abs((a + e) + (b + c)) + std::abs((a - e) + (b - c)) + std::abs((a + e) - (b + c)) +
               std::abs((a - e) - (b - c));
    }
    return sum >> 1;
}

void hadamard4x4(const int d[16], int out[16])
{
    std::memcpy(out, d, 16 * sizeof(int));
    for (int y = 0; y < 4; ++y)
        Hadamard1D(out[4 * y], out[4 * y + 1], out[4 * y + 2], out[4 * y + 3]);
    for (int x = 0; x < 4; ++x)
        Hadamard1D(out[x], out[4 + x], out[8 + x], out[12 + x]);
}

#if defined(__SSE2__)
namespace {

void Butterfly4(__m128i &a, __m128i &b, __m128i &c, __m128i &d)
{
    const __m128i s0 = _mm_add_epi32(a, d), s1 = _mm_add_epi32(b, c);
    const __m128i d0 = _mm_sub_epi32(a, d), d1 = _mm_sub_epi32(b, c);
    a = _mm_add_epi32(s0, s1);
    b = _mm_add_epi32(d0, d1);
    c = _mm_sub_epi32(s0, s1);
    d = _mm_sub_epi32(d0, d1);
}

__m128i Abs32(__m128i v)
{
    const __m128i sign = _mm_srai_epi32(v, 31);
    return _mm_sub_epi32(_mm_xor_si128(v, sign), sign);
}

// The Hadamard SATD with the four rows in registers: the column transform, a transpose, the row
// transform (the same sum, the transform being separable), and the absolute values added.
int SatdHadamardSse2(const int d[16])
{
    __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d));
    __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d + 4));
    __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d + 8));
    __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d + 12));
    Butterfly4(r0, r1, r2, r3);
    const __m128i a = _mm_unpacklo_epi32(r0, r1), b = _mm_unpacklo_epi32(r2, r3);
    const __m128i c = _mm_unpackhi_epi32(r0, r1), e = _mm_unpackhi_epi32(r2, r3);
    __m128i c0 = _mm_unpacklo_epi64(a, b), c1 = _mm_unpackhi_epi64(a, b);
    __m128i c2 = _mm_unpacklo_epi64(c, e), c3 = _mm_unpackhi_epi64(c, e);
    Butterfly4(c0, c1, c2, c3);
    __m128i sum = _mm_add_epi32(_mm_add_epi32(Abs32(c0), Abs32(c1)), _mm_add_epi32(Abs32(c2), Abs32(c3)));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
    return _mm_cvtsi128_si32(sum) >> 1;
}

} // namespace
#endif

int satd4x4(int d[16], bool hadamard)
{
#if defined(__SSE2__)
    if (hadamard)
        return SatdHadamardSse2(d);
#endif
    if (!hadamard) {
        int sum = 0;
        for (int i = 0; i < 16; ++i)
            sum += d[i] < 0 ? -d[i] : d[i];
        return sum;
    }
    for (int y = 0; y < 4; ++y)
        Hadamard1D(d[4 * y], d[4 * y + 1], d[4 * y + 2], d[4 * y + 3]);
    int sum = 0;
    for (int x = 0; x < 4; ++x) {
        Hadamard1D(d[x], d[4 + x], d[8 + x], d[12 + x]);
        sum += std::abs(d[x]) + std::abs(d[4 + x]) + std::abs(d[8 + x]) + std::abs(d[12 + x]);
    }
    return sum >> 1;
}

void sad4x4_window_reference(const uint8_t *src, const uint8_t *win, int win_stride, int side, int *out)
{
    for (int dy = 0; dy < side; ++dy)
        for (int dx = 0; dx < side; ++dx) {
            int *o = out + (dy * side + dx) * 16;
            for (int b = 0; b < 16; ++b) {
                const int x0 = 4 * (b % 4), y0 = 4 * (b / 4);
                int sad = 0;
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 4; ++x)
                        sad += byte_abs(src[(y0 + y) * 16 + x0 + x] -
                                        win[(dy + y0 + y) * win_stride + dx + x0 + x]);
                o[b] = sad;
            }
        }
}

void sad4x4_window(const uint8_t *src, const uint8_t *win, int win_stride, int side, int *out)
{
#if defined(__SSE2__)
    // The sum-of-absolute-differences instruction adds 8 bytes; keeping bytes 0-3 of each half (blocks
    // 0 and 2) or moving bytes 4-7 down (blocks 1 and 3) makes it add one 4x4 block row.
    __m128i rows[16];
    for (int y = 0; y < 16; ++y)
        rows[y] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 16 * y));
    const __m128i low = _mm_set_epi32(0, -1, 0, -1), zero = _mm_setzero_si128();
    for (int dy = 0; dy < side; ++dy)
        for (int dx = 0; dx < side; ++dx) {
            const uint8_t *r = win + dy * win_stride + dx;
            int *o = out + (dy * side + dx) * 16;
            for (int by = 0; by < 4; ++by) {
                __m128i even = zero, odd = zero;
                for (int y = 4 * by; y < 4 * by + 4; ++y) {
                    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(r + y * win_stride));
                    const __m128i ad = _mm_or_si128(_mm_subs_epu8(rows[y], b), _mm_subs_epu8(b, rows[y]));
                    even = _mm_add_epi64(even, _mm_sad_epu8(_mm_and_si128(ad, low), zero));
                    odd = _mm_add_epi64(odd, _mm_sad_epu8(_mm_srli_epi64(ad, 32), zero));
                }
                o[4 * by + 0] = _mm_cvtsi128_si32(even);
                o[4 * by + 1] = _mm_cvtsi128_si32(odd);
                o[4 * by + 2] = _mm_extract_epi16(even, 4);
                o[4 * by + 3] = _mm_extract_epi16(odd, 4);
            }
        }
#else
    U8x16 rows[16];
    for (int y = 0; y < 16; ++y)
        rows[y] = Load16(src + 16 * y);
    for (int dy = 0; dy < side; ++dy)
        for (int dx = 0; dx < side; ++dx) {
            const uint8_t *r = win + dy * win_stride + dx;
            int *o = out + (dy * side + dx) * 16;
            for (int by = 0; by < 4; ++by) {
                U16x8 lo = {}, hi = {};
                for (int y = 4 * by; y < 4 * by + 4; ++y) {
                    const U8x16 a = rows[y], b = Load16(r + y * win_stride);
                    const U8x16 ad = (a > b) ? a - b : b - a;
                    lo += __builtin_convertvector(__builtin_shufflevector(ad, ad, 0, 1, 2, 3, 4, 5, 6, 7),
                                                  U16x8);
                    hi += __builtin_convertvector(
                        __builtin_shufflevector(ad, ad, 8, 9, 10, 11, 12, 13, 14, 15), U16x8);
                }
                o[4 * by + 0] = lo[0] + lo[1] + lo[2] + lo[3];
                o[4 * by + 1] = lo[4] + lo[5] + lo[6] + lo[7];
                o[4 * by + 2] = hi[0] + hi[1] + hi[2] + hi[3];
                o[4 * by + 3] = hi[4] + hi[5] + hi[6] + hi[7];
            }
        }
#endif
}

} // namespace h264enc
