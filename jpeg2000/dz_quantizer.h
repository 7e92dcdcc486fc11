// The dead-zone scalar quantiser. A band sample becomes a 32-bit sign-magnitude word: bit 31 the
// sign, the magnitude the quantisation index with K fractional bits below it, so the block coder
// can code bit-planes below the index and the decoder can reconstruct inside the interval.
#pragma once

#include <cstdint>

namespace zn::j2k {

constexpr uint32_t kSignBit = 0x80000000u;

// Encoder band entry from the band's step, exponent offset E and fractional bits K.
struct dz_band_entry
{
    float scale = 1.0f; // 2^K / step
    int shift = 0;      // E - K
};
dz_band_entry make_dz_band_entry(double step, int exp_offset, int frac_bits);

// Quantise in place; the float row is rewritten as words.
void dz_quantise_float_row(const dz_band_entry &b, float *row, uint32_t *words, int width);
void dz_quantise_int_row(const dz_band_entry &b, const int32_t *row, uint32_t *words, int width);

// Decoder band entry.
struct dz_dequant_entry
{
    float scale = 1.0f; // step / 2^K
    int shift = 0;
    int frac_bits = 0;
};
dz_dequant_entry make_dz_dequant_entry(double step, int exp_offset, int frac_bits);

// "-Q3_8": indices of magnitude at most `limit` are moved from the middle of their interval to 3/8.
void dz_apply_three_eighths(uint32_t *words, int width, int frac_bits, int limit);
void dz_dequantise_float_row(const dz_dequant_entry &b, const uint32_t *words, float *row, int width);
void dz_dequantise_int_row(const dz_dequant_entry &b, const uint32_t *words, int32_t *row, int width);

} // namespace zn::j2k
