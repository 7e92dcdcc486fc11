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

// Decoder-facing: from list entry ref of dec.mref (which the caller has checked), clamped to the
// picture, or to its field rows for a field macroblock of a frame.
void h264dec_get_luma_block(H264DecoderState &dec, int ref, int x_pos, int y_pos, int block[4][4]);
