#include "jpeg2000/dz_quantizer.h"

#include <cmath>
#include <cstdlib>

namespace zn::j2k {

namespace {
uint32_t Magnitude(int64_t v, int shift)
{
    uint64_t mag = uint64_t(v < 0 ? -v : v);
    // A shift that would leave the 31 magnitude bits keeps nothing (right) or saturates (left).
    if (shift < 0)
        mag = -shift >= 31 ? (mag ? 0x7FFFFFFFu : 0) : std::min<uint64_t>(mag << -shift, 0x7FFFFFFFu);
    else if (shift > 0)
        mag = shift >= 31 ? 0 : mag >> shift;
    return uint32_t(std::min<uint64_t>(mag, 0x7FFFFFFFu));
}

bool HasIndex(uint32_t w, int k)
{
    if (k <= 0)
        return (w & 0x7FFFFFFFu) != 0 || (w & kSignBit);
    if (k >= 32)
        return false;
    return (w >> k) != 0;
}
} // namespace

dz_band_entry make_dz_band_entry(double step, int exp_offset, int frac_bits)
{
    dz_band_entry b;
    b.scale =
        float(frac_bits >= 0 ? std::ldexp(1.0, frac_bits) / step : 1.0 / (std::ldexp(1.0, frac_bits) * step));
    b.shift = exp_offset - frac_bits;
    return b;
}

void dz_quantise_float_row(const dz_band_entry &b, float *row, uint32_t *words, int width)
{
    for (int i = 0; i < width; ++i) {
        double q = std::trunc(double(b.scale) * double(row[i]));
        double mag = std::min(std::fabs(q), double(0x7FFFFFFF));
        words[i] = uint32_t(mag) | (q < 0 ? kSignBit : 0u);
    }
}

void dz_quantise_int_row(const dz_band_entry &b, const int32_t *row, uint32_t *words, int width)
{
    for (int i = 0; i < width; ++i)
        words[i] = Magnitude(row[i], b.shift) | (row[i] < 0 ? kSignBit : 0u);
}

dz_dequant_entry make_dz_dequant_entry(double step, int exp_offset, int frac_bits)
{
    dz_dequant_entry d;
    d.scale = float(step * std::ldexp(1.0, -frac_bits));
    d.shift = exp_offset - frac_bits;
    d.frac_bits = frac_bits;
    return d;
}

void dz_apply_three_eighths(uint32_t *words, int width, int frac_bits, int limit)
{
    if (limit <= 0)
        return;
    for (int i = 0; i < width; ++i) {
        uint32_t w = words[i], mag = w & 0x7FFFFFFFu;
        if (mag == 0 || !HasIndex(w, frac_bits))
            continue;
        int g = 1 + __builtin_ctz(mag);
        if (g < 31 && (mag >> g) <= uint32_t(limit))
            words[i] = w - ((1u << g) >> 3);
    }
}

void dz_dequantise_float_row(const dz_dequant_entry &b, const uint32_t *words, float *row, int width)
{
    for (int i = 0; i < width; ++i) {
        uint32_t w = words[i];
        if (!HasIndex(w, b.frac_bits)) {
            row[i] = 0.0f;
            continue;
        }
        double v = double(w & 0x7FFFFFFFu) * b.scale;
        row[i] = float((w & kSignBit) ? -v : v);
    }
}

void dz_dequantise_int_row(const dz_dequant_entry &b, const uint32_t *words, int32_t *row, int width)
{
    for (int i = 0; i < width; ++i) {
        uint32_t w = words[i];
        if (!HasIndex(w, b.frac_bits)) {
            row[i] = 0;
            continue;
        }
        int64_t mag = w & 0x7FFFFFFFu;
        if (b.shift < 0)
            mag = -b.shift >= 31 ? 0 : mag >> -b.shift;
        else if (b.shift > 0)
            mag = b.shift >= 31 ? 0x7FFFFFFF : std::min<int64_t>(mag << b.shift, 0x7FFFFFFF);
        row[i] = int32_t((w & kSignBit) ? -mag : mag);
    }
}

} // namespace zn::j2k
