// The slice loop of picture decoding: each macroblock is read and at once reconstructed into the
// planes of the picture under decoding, so that the next macroblock predicts from finished samples.
#pragma once

#include "h264dec/decoder_state.h"

// The frame planes and the two field planes of the decoded picture, for a frame of width x height.
void dec_alloc_picture_planes(H264DecoderState &dec, int width, int height);
// The planes being decoded: the frame (kFrame) or one field.
void dec_select_planes(H264DecoderState &dec, int structure);

// Decodes the macroblocks of the slice whose header has just been read (frame and field slices).
// The first slice of a picture (first macroblock 0) resets the picture's arrays. Returns the number of
// macroblocks decoded.
int h264dec_decode_slice(H264DecoderState &dec);
