// The slice loop of picture decoding: each macroblock is read and at once reconstructed into the
// planes of the picture under decoding, so that the next macroblock predicts from finished samples.
#pragma once

#include "h264dec/decoder_state.h"

// The frame planes and the two field planes of the decoded picture, for a frame of width x height.
void dec_alloc_picture_planes(H264DecoderState &dec, int width, int height);
// The planes being decoded: the frame (kFrame) or one field.
void dec_select_planes(H264DecoderState &dec, int structure);

// The macroblock loop of the slice whose header read_new_slice has just read, into the picture that
// picture control has prepared. Returns the number of macroblocks decoded.
int h264dec_decode_slice(H264DecoderState &dec);

// MBAFF frames. Before each macroblock: a field macroblock works in the field lists and its field's
// planes, a frame macroblock in the frame's. After it: the pair's rows in the other form follow, and
// the frame is current again.
void h264dec_mbaff_select_planes(H264DecoderState &dec);
void h264dec_mbaff_copy_pair(H264DecoderState &dec);
// A skipped top frame macroblock of a P pair: its co-located 16x16 of the top field from field
// reference 0, unmoved (the pair copy overwrites it again once the pair is complete).
void h264dec_mbaff_skip_top_field(H264DecoderState &dec);
// Frame macroblocks with one forward reference: index 0 into the frame and field forms of every
// forward partition that is not direct.
void h264dec_mbaff_zero_fwd_refs(H264DecoderState &dec);
