// Quantisation divides each coefficient by its matrix weight and by the macroblock's quantiser scale.
// Intra AC rounds with a dead zone of about a quarter step (the (3 mquant + 2) / 4 term); non-intra
// truncates, which widens the zero bin where prediction errors gather.
#include "mpeg/mpgenc/mpgenc_quant.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

int ClipLevel(int y, bool mpeg1)
{
    return mpeg1 ? std::min(y, 255) : std::min(y, 2047);
}

} // namespace

int QuantIntra(const int16_t *src, int16_t *dst, int dcPrec, const uint8_t *matrix, int mquant, bool mpeg1)
{
    const int x0 = src[0];
    const int step = 8 >> dcPrec;
    dst[0] = static_cast<int16_t>(x0 >= 0 ? (x0 + step / 2) / step : -((-x0 + step / 2) / step));
    int nz = dst[0] != 0;
    for (int i = 1; i < 64; ++i) {
        const int x = src[i];
        const int w = matrix[i];
        int y = (32 * std::abs(x) + w / 2) / w;
        y = (y + ((3 * mquant + 2) >> 2)) / (2 * mquant);
        y = ClipLevel(y, mpeg1);
        dst[i] = static_cast<int16_t>(x >= 0 ? y : -y);
        nz |= y != 0;
    }
    return nz;
}

int QuantNonIntra(const int16_t *src, int16_t *dst, const uint8_t *matrix, int mquant, bool mpeg1)
{
    int nz = 0;
    for (int i = 0; i < 64; ++i) {
        const int x = src[i];
        const int w = matrix[i];
        int y = ((32 * std::abs(x) + w / 2) / w) / (2 * mquant);
        y = ClipLevel(y, mpeg1);
        dst[i] = static_cast<int16_t>(x >= 0 ? y : -y);
        nz |= y != 0;
    }
    return nz;
}

namespace {

// MPEG-1 keeps reconstructed levels odd so that encoder and decoder IDCTs cannot drift apart on
// the even values where rounding differs; MPEG-2 toggles the last coefficient instead when the sum
// is even (mismatch control).
int Oddify(int v)
{
    if (v != 0 && (v & 1) == 0)
        v += v > 0 ? -1 : 1;
    return v;
}

int Clip2048(int v)
{
    return std::clamp(v, -2048, 2047);
}

// (2 level + sign) x weight x quantiser / 32: the reconstruction sits in the middle of the level's
// interval, away from zero.
int NonIntraLevel(int x, int w, int mquant)
{
    return x == 0 ? 0 : (2 * x + (x > 0 ? 1 : -1)) * w * mquant / 32;
}

void MismatchControl(int16_t *dst)
{
    int sum = 0;
    for (int i = 0; i < 64; ++i)
        sum += dst[i];
    if ((sum & 1) == 0)
        dst[63] = static_cast<int16_t>(dst[63] ^ 1);
}

} // namespace

// MPEG-2 forms (mismatch control); MPEG-1 streams hand over to the forms that oddify instead.
void DequantIntra(const int16_t *src, int16_t *dst, int dcPrec, const uint8_t *matrix, int mquant, bool mpeg1)
{
    if (mpeg1) {
        DequantIntraMpeg1(src, dst, dcPrec, matrix, mquant);
        return;
    }
    dst[0] = static_cast<int16_t>(src[0] * (1 << (3 - dcPrec)));
    for (int i = 1; i < 64; ++i)
        dst[i] = static_cast<int16_t>(Clip2048(src[i] * matrix[i] * mquant / 16));
    MismatchControl(dst);
}

void DequantNonIntra(const int16_t *src, int16_t *dst, const uint8_t *matrix, int mquant, bool mpeg1)
{
    if (mpeg1) {
        DequantNonIntraMpeg1(src, dst, matrix, mquant);
        return;
    }
    for (int i = 0; i < 64; ++i)
        dst[i] = static_cast<int16_t>(Clip2048(NonIntraLevel(src[i], matrix[i], mquant)));
    MismatchControl(dst);
}

void DequantIntraMpeg1(const int16_t *src, int16_t *dst, int dcPrec, const uint8_t *matrix, int mquant)
{
    dst[0] = static_cast<int16_t>(src[0] * (1 << (3 - dcPrec)));
    for (int i = 1; i < 64; ++i)
        dst[i] = static_cast<int16_t>(Clip2048(Oddify(src[i] * matrix[i] * mquant / 16)));
}

void DequantNonIntraMpeg1(const int16_t *src, int16_t *dst, const uint8_t *matrix, int mquant)
{
    for (int i = 0; i < 64; ++i)
        dst[i] = static_cast<int16_t>(Clip2048(Oddify(NonIntraLevel(src[i], matrix[i], mquant))));
}

ExactDivisor::ExactDivisor(uint32_t d)
{
    int l = 0;
    while ((1u << l) < d)
        ++l;
    shift = 22 + l;
    m = (uint64_t{1} << shift) / d + 1;
}

FastQuantiser::FastQuantiser(const uint8_t *matrix)
{
    for (int i = 0; i < 64; ++i) {
        m_matrix[i] = matrix[i];
        m_weight[i] = ExactDivisor(matrix[i] ? matrix[i] : 1);
    }
}

// A level is at least 1 exactly when 32 |x| + w / 2 reaches c w, with c = 2 mquant for non-intra and
// 2 mquant - (3 mquant + 2) / 4 for intra coefficients (the rounding term joins the first quotient):
// that is |x| >= ceil((c w - w / 2) / 32).
void FastQuantiser::Prepare(int mquant, bool intra)
{
    if (mquant == m_mquant && intra == m_intra)
        return;
    m_mquant = mquant;
    m_intra = intra;
    m_step = ExactDivisor(static_cast<uint32_t>(2 * mquant));
    const int c = intra ? 2 * mquant - ((3 * mquant + 2) >> 2) : 2 * mquant;
    for (int i = 0; i < 64; ++i) {
        const int w = m_matrix[i];
        m_least[i] = static_cast<int16_t>(std::min((c * w - w / 2 + 31) >> 5, 32767));
    }
}

namespace {

// Bit i set for each coefficient i from `from` on with |x| >= least[i].
uint64_t CandidateMask(const int16_t *src, const int16_t *least, int from)
{
    uint64_t mask = 0;
#if defined(__SSE2__)
    const __m128i z = _mm_setzero_si128();
    for (int g = 0; g < 8; ++g) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 8 * g));
        // |x| saturated: -32768 reads as 32767, which passes every threshold as 32768 would.
        const __m128i a = _mm_max_epi16(x, _mm_subs_epi16(z, x));
        const __m128i t = _mm_load_si128(reinterpret_cast<const __m128i *>(least + 8 * g));
        const __m128i pass = _mm_cmpgt_epi16(t, a); // below the threshold: a zero level
        const int bits = ~_mm_movemask_epi8(_mm_packs_epi16(pass, pass)) & 0xFF;
        mask |= static_cast<uint64_t>(bits) << (8 * g);
    }
#else
    for (int i = 0; i < 64; ++i)
        if (std::abs(static_cast<int>(src[i])) >= least[i])
            mask |= uint64_t{1} << i;
#endif
    return from ? mask & ~((uint64_t{1} << from) - 1) : mask;
}

} // namespace

int FastQuantiser::Intra(const int16_t *src, int16_t *dst, int dcPrec, int mquant, bool mpeg1)
{
    if (mquant < 1 || mquant > 1023)
        return QuantIntra(src, dst, dcPrec, m_matrix, mquant, mpeg1);
    Prepare(mquant, true);
    alignas(16) int16_t out[64] = {};
    const int x0 = src[0];
    const int step = 8 >> dcPrec;
    out[0] = static_cast<int16_t>(x0 >= 0 ? (x0 + step / 2) / step : -((-x0 + step / 2) / step));
    int nz = out[0] != 0;
    const int rounding = (3 * mquant + 2) >> 2;
    for (uint64_t mask = CandidateMask(src, m_least, 1); mask; mask &= mask - 1) {
        const int i = __builtin_ctzll(mask);
        const int x = src[i];
        const uint32_t a = static_cast<uint32_t>(std::abs(x));
        int y = static_cast<int>(m_step.Divide(m_weight[i].Divide(32 * a + m_matrix[i] / 2) + rounding));
        y = ClipLevel(y, mpeg1);
        out[i] = static_cast<int16_t>(x >= 0 ? y : -y);
        nz = 1;
    }
    std::memcpy(dst, out, sizeof out);
    return nz;
}

int FastQuantiser::NonIntra(const int16_t *src, int16_t *dst, int mquant, bool mpeg1)
{
    if (mquant < 1 || mquant > 1023)
        return QuantNonIntra(src, dst, m_matrix, mquant, mpeg1);
    Prepare(mquant, false);
    alignas(16) int16_t out[64] = {};
    int nz = 0;
    for (uint64_t mask = CandidateMask(src, m_least, 0); mask; mask &= mask - 1) {
        const int i = __builtin_ctzll(mask);
        const int x = src[i];
        const uint32_t a = static_cast<uint32_t>(std::abs(x));
        int y = static_cast<int>(m_step.Divide(m_weight[i].Divide(32 * a + m_matrix[i] / 2)));
        y = ClipLevel(y, mpeg1);
        out[i] = static_cast<int16_t>(x >= 0 ? y : -y);
        nz = 1;
    }
    std::memcpy(dst, out, sizeof out);
    return nz;
}

namespace {

// Bit i set for each non-zero src[i].
uint64_t NonZeroMask(const int16_t *src)
{
    uint64_t mask = 0;
#if defined(__SSE2__)
    const __m128i z = _mm_setzero_si128();
    for (int g = 0; g < 8; ++g) {
        const __m128i zero =
            _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 8 * g)), z);
        mask |= static_cast<uint64_t>(~_mm_movemask_epi8(_mm_packs_epi16(zero, zero)) & 0xFF) << (8 * g);
    }
#else
    for (int i = 0; i < 64; ++i)
        if (src[i])
            mask |= uint64_t{1} << i;
#endif
    return mask;
}

} // namespace

void DequantIntraFast(const int16_t *src, int16_t *dst, int dcPrec, const uint8_t *matrix, int mquant,
                      bool mpeg1)
{
    alignas(16) int16_t out[64] = {};
    out[0] = static_cast<int16_t>(src[0] * (1 << (3 - dcPrec)));
    int sum = out[0];
    for (uint64_t mask = NonZeroMask(src) & ~uint64_t{1}; mask; mask &= mask - 1) {
        const int i = __builtin_ctzll(mask);
        const int v = src[i] * matrix[i] * mquant / 16;
        out[i] = static_cast<int16_t>(Clip2048(mpeg1 ? Oddify(v) : v));
        sum += out[i];
    }
    if (!mpeg1 && (sum & 1) == 0)
        out[63] = static_cast<int16_t>(out[63] ^ 1);
    std::memcpy(dst, out, sizeof out);
}

void DequantNonIntraFast(const int16_t *src, int16_t *dst, const uint8_t *matrix, int mquant, bool mpeg1)
{
    alignas(16) int16_t out[64] = {};
    int sum = 0;
    for (uint64_t mask = NonZeroMask(src); mask; mask &= mask - 1) {
        const int i = __builtin_ctzll(mask);
        const int v = NonIntraLevel(src[i], matrix[i], mquant);
        out[i] = static_cast<int16_t>(Clip2048(mpeg1 ? Oddify(v) : v));
        sum += out[i];
    }
    if (!mpeg1 && (sum & 1) == 0)
        out[63] = static_cast<int16_t>(out[63] ^ 1);
    std::memcpy(dst, out, sizeof out);
}
