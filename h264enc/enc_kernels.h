// The hot kernels of motion search: the 4x4 SAD table of a macroblock over a search window, and the
// 4x4 SATD (Hadamard-transformed difference). Each fast version sits beside its plain reference; a test
// requires equal output on random and extreme inputs.
#pragma once

#include <cstdint>

namespace h264enc {

// The magnitude of a difference of two samples (-256 < d < 256), the unit every SAD adds up.
constexpr int byte_abs(int d)
{
    return d < 0 ? -d : d;
}

// Sum of absolute values of the 16 differences, or with hadamard the sum of the absolute values of
// their unnormalised 4x4 Hadamard transform, halved (truncating). d is row-major and may be overwritten.
int satd4x4(int d[16], bool hadamard);
int satd4x4_reference(int d[16], bool hadamard);

// The unnormalised 4x4 Hadamard transform of d (row-major) into out (row-major, out[0] the DC term).
void hadamard4x4(const int d[16], int out[16]);

// SADs of the sixteen 4x4 blocks of a 16x16 source block (row-major, stride 16) against the reference
// window `win` (stride win_stride) at every offset (dx, dy), 0 <= dx, dy < side: the block starts at
// win + dy x win_stride + dx. out[(dy x side + dx) x 16 + b] receives the SAD of block b (raster order).
void sad4x4_window(const uint8_t *src, const uint8_t *win, int win_stride, int side, int *out);
void sad4x4_window_reference(const uint8_t *src, const uint8_t *win, int win_stride, int side, int *out);

} // namespace h264enc
