// The in-loop deblocking filter: per macroblock, its vertical edges left to right, then its horizontal
// edges top to bottom, each split into four segments with their own boundary strength (4 at intra
// macroblock edges, 3 inside intra macroblocks, 2 beside coded residual, 1 where motion differs).
#pragma once

#include "h264dec/decoder_state.h"

#include <cstdint>

extern const uint8_t kDeblockAlpha[52];
extern const uint8_t kDeblockBeta[52];
extern const uint8_t kDeblockClip[52][5];

// Strengths of the four segments of edge `edge` (0..3) in direction dir (0 vertical, 1 horizontal) of
// macroblock q, whose neighbour across the edge is macroblock p (q itself for inner edges). The block
// coordinates are those of q's top-left 4x4 block in the picture.
void dec_edge_strength(int strength[4], const DecoderImage &img, const DecoderMacroblock &p,
                       const DecoderMacroblock &q, int dir, int edge, int block_y, int block_x);

// The strengths of every edge of macroblock (mb_x, mb_y) at once, [dir][edge][segment], equal to
// dec_edge_strength with the left or upper neighbour for edge 0. The motion of the macroblock's blocks
// and of the blocks beside it is gathered once; edges on the picture's border are left out (0).
void dec_macroblock_strengths(int strength[2][4][4], const DecoderImage &img, int mb_y, int mb_x);

// Filters one edge: first = its first sample on the Q side, width = the plane's row stride. 16 samples
// for luma, 8 for chroma (one strength per two samples). The reference is written sample by sample
// from the definition; the one the decoder runs hoists the per-segment values.
void dec_edge_filter(uint8_t *first, const int strength[4], int qp, int alpha_offset, int beta_offset,
                     int dir, int width, bool chroma);
void dec_edge_filter_reference(uint8_t *first, const int strength[4], int qp, int alpha_offset,
                               int beta_offset, int dir, int width, bool chroma);

// The whole picture in img (frame or field): luma plane y and chroma planes uv (null when none).
void dec_deblock_macroblock(const DecoderImage &img, Array2D<uint8_t> &y, Array3D<uint8_t> *uv, int mb_y,
                            int mb_x);
void dec_deblock_picture(const DecoderImage &img, Array2D<uint8_t> &y, Array3D<uint8_t> *uv);
