// The in-loop deblocking filter of the encoder: after a picture's slices are coded, its reconstruction is
// filtered exactly as the decoder filters what it decodes, so that reference pictures and the reported
// quality are the decoder's. The rules, tables and the line filter are the decoder's; the boundary
// strengths read the encoder's macroblock records and motion maps.
#pragma once

#include "h264enc/enc_memory.h"

#include <cstdint>

namespace h264enc {

struct EncoderImage;
struct MacroblockRecord;

// Filters every macroblock in raster order: the luma plane and, when given, both chroma planes (U, V).
void deblock_picture(const EncoderImage &img, Array2D<uint8_t> &luma, Array3D<uint8_t> *chroma);
// The same with the decoder's sample-by-sample line filter: the reference of deblock_picture.
void deblock_picture_reference(const EncoderImage &img, Array2D<uint8_t> &luma, Array3D<uint8_t> *chroma);
void deblock_macroblock(const EncoderImage &img, Array2D<uint8_t> &luma, Array3D<uint8_t> *chroma, int mb_row,
                        int mb_col);

// The four boundary strengths of edge `edge` (0..3) in direction dir (0 vertical, 1 horizontal) of
// macroblock q, whose neighbour across the edge is p (q itself inside). (blk4_y, blk4_x) is q's top-left
// 4x4 block in the picture.
void edge_strength(int strength[4], const EncoderImage &img, const MacroblockRecord &p,
                   const MacroblockRecord &q, int dir, int edge, int blk4_y, int blk4_x);

// One edge of 16 luma or 8 chroma lines: the decoder's filter (first = the first sample on the q side).
void edge_filter(uint8_t *first, const int strength[4], int qp, int alpha_offset, int beta_offset, int dir,
                 int width, bool chroma);

} // namespace h264enc
