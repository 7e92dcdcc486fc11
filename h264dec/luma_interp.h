// Quarter-sample luma fetch for inter prediction: the six-tap half samples (1, -5, 20, 20, -5, 1) and
// the quarter samples between them. Quarter averages truncate, (a + b) / 2, as our encoder's reference
// does too. Every sample coordinate is clamped into the plane, so any vector reads the border.
#pragma once

#include "h264dec/decoder_state.h"

#include <cstdint>

// The plane the fetch reads: row pointers, width, and the last row it may read.
struct LumaPlaneView
{
    const Array2D<uint8_t> *plane = nullptr;
    int width = 0;
    int max_y = 0;
};

// The 4x4 block [x][y] whose top-left sample is at (x_pos, y_pos) quarter samples. The reference
// computes every output sample from the definition; the fast one filters a 9x9 window once.
void h264dec_luma_block_reference(const LumaPlaneView &p, int x_pos, int y_pos, int block[4][4]);
void h264dec_luma_block_fast(const LumaPlaneView &p, int x_pos, int y_pos, int block[4][4]);

// Whole-block prediction: the w x h block (w and h 4, 8 or 16) at (x_pos, y_pos) quarter samples, written
// to out[y * stride + x]. The reference assembles it from reference 4x4 blocks; the fast one runs one
// kernel per quarter position over the block, straight from the plane when the filter window lies
// inside it and from a clamped copy of the window at the borders.
void h264dec_luma_pred_reference(const LumaPlaneView &p, int x_pos, int y_pos, int w, int h, uint8_t *out,
                                 int stride);
void h264dec_luma_pred_fast(const LumaPlaneView &p, int x_pos, int y_pos, int w, int h, uint8_t *out,
                            int stride);

// The average of two w x h predictions without weights, (a + b + 1) >> 1, rows `stride` apart in all
// three (w any width up to 16). The fast one averages sixteen, eight or four samples at once.
void h264dec_average_pred_reference(const uint8_t *a, const uint8_t *b, uint8_t *out, int stride, int w,
                                    int h);
void h264dec_average_pred_fast(const uint8_t *a, const uint8_t *b, uint8_t *out, int stride, int w, int h);

// The view of list entry ref of dec.mref (which the caller has checked) that the decoder reads: the
// picture's size, or its field rows for a field macroblock of a frame.
LumaPlaneView h264dec_luma_view(const H264DecoderState &dec, int ref);

// Decoder-facing: from list entry ref of dec.mref (which the caller has checked), clamped to the
// picture, or to its field rows for a field macroblock of a frame.
void h264dec_get_luma_block(H264DecoderState &dec, int ref, int x_pos, int y_pos, int block[4][4]);
