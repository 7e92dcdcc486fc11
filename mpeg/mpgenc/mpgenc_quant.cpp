// Quantisation divides each coefficient by its matrix weight and by the macroblock's quantiser scale.
// Intra AC rounds with a dead zone of about a quarter step (the (3 mquant + 2) / 4 term); non-intra
// truncates, which widens the zero bin where prediction errors gather.
#include "mpeg/mpgenc/mpgenc_quant.h"

#include <algorithm>
#include <cstdlib>

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
