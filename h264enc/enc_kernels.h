// The hot kernels of motion search: the 4x4 SAD tables of a macroblock over a search window, the scan
// for a block's least cost over them, and the 4x4 SATD (Hadamard-transformed difference) of source
// against a quarter-sample plane. Each fast version sits beside its plain reference; a test requires
// equal output on random and extreme inputs. The fast versions use SSE4.1 where the processor has it.
#pragma once

#include <cstddef>
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
// win + dy x win_stride + dx. Block b's (raster order) SAD goes to out[b x plane + dy x out_stride + dx],
// 16 bits wide (a 4x4 SAD is at most 4080, a 16x16 one 65280). out_stride is at least side rounded up to
// 8; the window is read up to column out_stride + 15 of row side + 14, and columns side .. out_stride - 1
// of out receive values of no meaning.
void sad4x4_window(const uint8_t *src, const uint8_t *win, int win_stride, int side, uint16_t *out,
                   int out_stride, size_t plane);
void sad4x4_window_reference(const uint8_t *src, const uint8_t *win, int win_stride, int side, uint16_t *out,
                             int out_stride, size_t plane);

// The scan of a block's integer search over an n x n square of positions: the cost of the position in
// row v, column u is sad[v x sad_stride + u] + (lambda x (xbits[u] + ybits[v])) >> 16, and the position
// with the least cost wins, of equal costs the one of least rank[v x rank_stride + u] (the spiral order).
// Returns the cost and the position. sad rows and xbits are read up to column n rounded up to 8.
struct PositionScan
{
    const uint16_t *sad = nullptr;
    int sad_stride = 0;
    int n = 0;
    const uint16_t *xbits = nullptr;
    const int *ybits = nullptr;
    const int *rank = nullptr;
    int rank_stride = 0;
    int lambda = 0;
};
int least_cost_position(const PositionScan &s, int *row, int *col);
int least_cost_position_reference(const PositionScan &s, int *row, int *col);

// satd4x4 of the differences source - reference of the two 4x4 blocks of an 8x4 strip (wide), or of
// its left block alone (out[1] then 0), against a quarter-sample plane: source sample (u, v) is
// src[v x src_stride + u], its reference sample ref[4v x ref_stride + 4u] (the plane's samples of one
// phase lie 4 apart). The plane is read up to column 4 x width - 1 of row 12.
void quarter_strip_satd(const uint8_t *src, int src_stride, const uint8_t *ref, int ref_stride, bool wide,
                        bool hadamard, int out[2]);
void quarter_strip_satd_reference(const uint8_t *src, int src_stride, const uint8_t *ref, int ref_stride,
                                  bool wide, bool hadamard, int out[2]);

// The 4x4 block of a quarter-sample plane whose sample (u, v) is ref[4v x ref_stride + 4u], row-major.
void gather_quarter4x4(const uint8_t *ref, int ref_stride, uint8_t out[16]);

} // namespace h264enc
