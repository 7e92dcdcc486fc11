// The decoder's own work on coefficient blocks, used when output smoothing is on: the AC prediction
// from neighbouring DC values, and the accurate integer inverse DCT that turns the blocks back into
// pixels. Blocks hold 64 dequantised coefficients in natural (row-major) order.
#pragma once

#include <cstdint>

// Smooths one row of n blocks: out receives the row, with the five lowest AC coefficients of each
// inner block replaced by their predictions where those lie within half a quantisation step of the
// decoded value. above and below are the neighbouring block rows, null at the picture's top and
// bottom (the row is then copied unchanged). steps are the 64 quantisation steps, natural order.
void smooth_block_row(const int32_t *above, const int32_t *row, const int32_t *below, int32_t *out, int n,
                      const uint16_t *steps);

// The prediction rounding: x / 256, halves away from zero.
int64_t JpegDivRound256(int64_t x);

// Inverse DCT of one block of dequantised coefficients into 8 rows of 8 grey levels (0..255) at
// out, out + stride, ... The arithmetic is the library's accurate integer method, so blocks the
// library would decode come out the same; it runs in 64 bits, so any coefficient a damaged stream can
// carry is transformed without overflow, and results outside 0..255 are limited to it.
void JpegIdctIslow(const int32_t *coef, uint8_t *out, int stride);
