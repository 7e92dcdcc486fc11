// Luma intra prediction: the nine 4x4 directions and the four 16x16 modes. The kernels work on the
// neighbour samples alone; the decoder-facing routines gather those neighbours from the picture under
// reconstruction with the availability rules and write the macroblock's prediction buffer.
#pragma once

#include "h264dec/decoder_state.h"

// The 13 samples a 4x4 block is predicted from, after the availability rules have filled the gaps:
// above[0..7] = A..H (E..H repeat D when the above-right block is unusable), left[0..3] = I..L from the
// top, corner = X. Missing groups read 128.
struct Intra4x4Neighbours
{
    int above[8] = {};
    int left[4] = {};
    int corner = 128;
};

// The 16x16 neighbours: the row above, the column to the left and the corner sample, with the flags
// that say whether the DC mode may use each side.
struct Intra16x16Neighbours
{
    int above[16] = {};
    int left[16] = {};
    int corner = 0;
    bool above_ok = false;
    bool left_ok = false;
};

// The predictions [x][y]. Each returns 1 for a mode outside its range and then leaves pred untouched.
// dc_avail: bit 0 above, bit 1 left (the 4x4 DC averages only the sides that exist).
// The kernels the decoder runs read each directional 4x4 sample from a table of edge filters and walk
// the 16x16 plane incrementally; the references compute every sample from its equation. Both give the
// same output for every input.
int h264dec_pred4x4_kernel(int mode, const Intra4x4Neighbours &n, int dc_avail, int pred[4][4]);
int h264dec_pred16x16_kernel(int mode, const Intra16x16Neighbours &n, int pred[16][16]);
int h264dec_pred4x4_reference(int mode, const Intra4x4Neighbours &n, int dc_avail, int pred[4][4]);
int h264dec_pred16x16_reference(int mode, const Intra16x16Neighbours &n, int pred[16][16]);

// Whether the above-right 4x4 block may be used by the block at (x, y) pixels inside its macroblock:
// the blocks whose above-right neighbour is decoded later never may, nor in MBAFF frames the right column.
bool h264dec_above_right_allowed(int x_in_mb, int y_in_mb, bool mbaff);

// Decoder-facing: predict into img.pred_block. Return 0, or 1 for an illegal mode (message shown once
// per run).
int h264dec_intra_pred_4x4(H264DecoderState &dec, int ioff, int joff, int block_x, int block_y);
int h264dec_intra_pred_16x16(H264DecoderState &dec, int mode);
