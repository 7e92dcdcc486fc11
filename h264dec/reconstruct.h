// Macroblock reconstruction: the luma and chroma prediction of a decoded macroblock (intra, one or
// two reference directions, direct blocks, explicit weights, SP requantisation) plus its residual,
// written into the planes under reconstruction.
#pragma once

#include "h264dec/decoder_state.h"

// 0, or 1 when a 4x4 intra block has an illegal mode (the rest of the macroblock is then left alone).
// A reference that the lists do not hold, or a chroma intra mode that needs a missing neighbour,
// ends the run.
// It also feeds the analysis records: the mode counters, the block-division overlay and intra marks,
// the macroblock's bits, the vectors and the residual plane.
int h264dec_reconstruct_macroblock(H264DecoderState &dec);
// The twin for field macroblocks of MBAFF frames: the same arithmetic in the macroblock's field (its
// planes and lists chosen by h264dec_mbaff_select_planes), with none of the analysis hooks; its bits
// count on into the next frame macroblock's.
int h264dec_reconstruct_mbaff_macroblock(H264DecoderState &dec);

// The list offsets of B pictures: a B picture that follows its latest reference in time reaches past
// it, and the top field of a non-reference B picture past its own first field.
void h264dec_b_list_offsets(const DecoderImage &img, int &fwd_offset, int &bwd_offset);

// Eighth-sample chroma of one sample: position X, Y in eighth samples, clamped to the plane.
int h264dec_chroma_sample(const Array2D<uint8_t> &plane, int width, int height, int X, int Y);

// The chroma intra prediction of one component into pred[x][y] (8x8), in the decoder's numbering
// 0 vertical, 1 horizontal, 2 DC, 3 plane; `above`, `left` hold the neighbour samples (corner at
// above[-1], i.e. the arrays start one before). Returns 0, or the failure: 1 a missing neighbour for
// the mode, 2 an unknown mode.
int h264dec_chroma_intra_kernel(int mode, const int *above, const int *left, bool have_above, bool have_left,
                                int pred[8][8]);
