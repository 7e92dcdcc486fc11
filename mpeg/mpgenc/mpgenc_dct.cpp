// Forward DCT in doubles from a cosine table, rounded with 0.499999 so that exact halves round down,
// as a plain reference, as a form in two-lane vectors and, where the processor has AVX, in four-lane
// ones; the inverse DCT is the decoder's integer one.
#include "mpeg/mpgenc/mpgenc_dct.h"

#include "mpeg/mpgdec/mpeg_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

struct DctTable
{
    double c[8][8];  // c[k][n]: basis function k at sample n
    double ct[8][8]; // the same transposed, so the fast pass runs along contiguous rows
    DctTable()
    {
        for (int k = 0; k < 8; ++k) {
            const double s = k == 0 ? std::sqrt(0.125) : 0.5;
            for (int n = 0; n < 8; ++n)
                c[k][n] = ct[n][k] = s * std::cos((n + 0.5) * k * 0.39269908169872414);
        }
    }
};

const DctTable &Table()
{
    static const DctTable t;
    return t;
}

} // namespace

void ForwardDctPlain(int16_t *block)
{
    const DctTable &t = Table();
    double tmp[64];
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 8; ++k) {
            double s = 0.0;
            for (int n = 0; n < 8; ++n)
                s += t.c[k][n] * block[8 * i + n];
            tmp[8 * i + k] = s;
        }
    for (int j = 0; j < 8; ++j)
        for (int k = 0; k < 8; ++k) {
            double s = 0.0;
            for (int i = 0; i < 8; ++i)
                s += t.c[k][i] * tmp[8 * i + j];
            block[8 * k + j] = static_cast<int16_t>(std::floor(s + 0.499999));
        }
}

// Two outputs per vector (the width every x86-64 processor has), four vectors per row or column:
// each output is still summed over the same terms in the same order as in the plain transform, so
// the doubles and their rounding agree to the last bit.
typedef double Vec2 __attribute__((vector_size(16)));

namespace {

inline Vec2 Load2(const double *p)
{
    Vec2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

#if defined(__x86_64__) || defined(__i386__)

namespace {

// Four outputs per vector where the processor has AVX: again each output summed over the same terms
// in the same order, multiplications and additions apart (no fused multiply-add).
__attribute__((target("avx"))) void ForwardDctAvx(int16_t *block)
{
    const DctTable &t = Table();
    alignas(32) double tmp[64];
    for (int i = 0; i < 8; ++i) {
        __m256d a0 = _mm256_setzero_pd(), a1 = _mm256_setzero_pd();
        for (int n = 0; n < 8; ++n) {
            const __m256d v = _mm256_set1_pd(block[8 * i + n]);
            a0 = _mm256_add_pd(a0, _mm256_mul_pd(_mm256_loadu_pd(t.ct[n]), v));
            a1 = _mm256_add_pd(a1, _mm256_mul_pd(_mm256_loadu_pd(t.ct[n] + 4), v));
        }
        _mm256_store_pd(tmp + 8 * i, a0);
        _mm256_store_pd(tmp + 8 * i + 4, a1);
    }
    const __m256d half = _mm256_set1_pd(0.499999);
    for (int k = 0; k < 8; ++k) {
        __m256d a0 = _mm256_setzero_pd(), a1 = _mm256_setzero_pd();
        for (int i = 0; i < 8; ++i) {
            const __m256d ck = _mm256_set1_pd(t.c[k][i]);
            a0 = _mm256_add_pd(a0, _mm256_mul_pd(_mm256_load_pd(tmp + 8 * i), ck));
            a1 = _mm256_add_pd(a1, _mm256_mul_pd(_mm256_load_pd(tmp + 8 * i + 4), ck));
        }
        // floor(v + 0.499999), then the low 16 bits of the integer, as the conversion to int16_t keeps.
        const __m128i r0 = _mm256_cvttpd_epi32(_mm256_floor_pd(_mm256_add_pd(a0, half)));
        const __m128i r1 = _mm256_cvttpd_epi32(_mm256_floor_pd(_mm256_add_pd(a1, half)));
        const __m128i lo = _mm_srai_epi32(_mm_slli_epi32(r0, 16), 16),
                      hi = _mm_srai_epi32(_mm_slli_epi32(r1, 16), 16);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(block + 8 * k), _mm_packs_epi32(lo, hi));
    }
}

bool HaveAvx()
{
    static const bool have = __builtin_cpu_supports("avx");
    return have;
}

} // namespace

#endif

void ForwardDct(int16_t *block)
{
#if defined(__x86_64__) || defined(__i386__)
    if (HaveAvx()) {
        ForwardDctAvx(block);
        return;
    }
#endif
    ForwardDctTwoLanes(block);
}

void ForwardDctTwoLanes(int16_t *block)
{
    const DctTable &t = Table();
    alignas(16) double tmp[64];
    for (int i = 0; i < 8; ++i) {
        Vec2 a0 = {}, a1 = {}, a2 = {}, a3 = {};
        for (int n = 0; n < 8; ++n) {
            const double v = block[8 * i + n];
            const double *c = t.ct[n];
            a0 += Load2(c) * v;
            a1 += Load2(c + 2) * v;
            a2 += Load2(c + 4) * v;
            a3 += Load2(c + 6) * v;
        }
        const Vec2 acc[4] = {a0, a1, a2, a3};
        std::memcpy(&tmp[8 * i], acc, sizeof acc);
    }
    for (int k = 0; k < 8; ++k) {
        Vec2 a0 = {}, a1 = {}, a2 = {}, a3 = {};
        for (int i = 0; i < 8; ++i) {
            const double ck = t.c[k][i];
            const double *r = &tmp[8 * i];
            a0 += Load2(r) * ck;
            a1 += Load2(r + 2) * ck;
            a2 += Load2(r + 4) * ck;
            a3 += Load2(r + 6) * ck;
        }
        const Vec2 acc[4] = {a0, a1, a2, a3};
        double out[8];
        std::memcpy(out, acc, sizeof acc);
        // floor by truncation and a step down for negatives: the same integers as std::floor for
        // every value a block can give, without a library call per coefficient.
        for (int j = 0; j < 8; ++j) {
            const double v = out[j] + 0.499999;
            const int r = static_cast<int>(v);
            block[8 * k + j] = static_cast<int16_t>(r - (v < r ? 1 : 0));
        }
    }
}

// The decoder's inverse transform: the encoder's reconstruction is then the decoder's, to the bit.
void Idct(int16_t *block)
{
    zn::CMpegDecoder::InverseDct(block);
}

bool UncodedBlockIsZero()
{
    static const bool zero = [] {
        int16_t b[64] = {};
        b[63] = 1;
        Idct(b);
        return std::all_of(b, b + 64, [](int16_t v) { return v == 0; });
    }();
    return zero;
}
