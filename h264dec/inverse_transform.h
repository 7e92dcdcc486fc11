// Inverse transforms: the 4x4 integer transform that adds the prediction, the Hadamard of the luma DC
// levels of 16x16 intra macroblocks, and the requantisation of SP blocks, which moves the prediction
// into the transform domain and quantises prediction plus residual again at the switching quantiser.
#pragma once

#include "h264dec/decoder_state.h"

// The transform kernel: coefficients [horizontal][vertical] frequency, prediction and outputs
// [x][y]. recon = clip((r + 64 pred + 32) >> 6); resid = clip((r + 32) >> 6), so a negative
// residual shows as 0. Either output may be null.
// The kernel the decoder runs skips the butterflies of blocks without AC coefficients; the reference
// is the plain two-pass transform. Both give the same output for every input.
void h264dec_itrans4x4_kernel(const int coef[4][4], const int pred[4][4], int recon[4][4], int resid[4][4]);
void h264dec_itrans4x4_reference(const int coef[4][4], const int pred[4][4], int recon[4][4],
                                 int resid[4][4]);
// The kernel the reconstruction runs: the same recon output, from a prediction and into a block of
// sample rows (pred[y * pred_stride + x], dst[y * dst_stride + x]); dst may be the prediction itself.
// A block without coefficients copies its prediction; one with only a DC adds one value to it.
void h264dec_itrans4x4_add(const int coef[4][4], const uint8_t *pred, int pred_stride, uint8_t *dst,
                           int dst_stride);
// The forward core transform of a 4x4 sample block ([x][y] in, [i][j] out).
void h264dec_forward4x4_kernel(const int in[4][4], int out[4][4]);
// |a| when b > 0, otherwise -|a|.
int h264dec_sign(int a, int b);

// Block (i0, j0) of img.coef with prediction img.pred_block[ioff..][joff..]: reconstruction into
// img.resid_block[0..3][0..3], residual into img.work_block[0..3][0..3].
void h264dec_itrans_4x4(DecoderImage &img, int ioff, int joff, int i0, int j0);
// The 16 luma DC levels of a 16x16 intra macroblock, transformed and scaled in place at img.qp.
void h264dec_itrans_luma_dc(DecoderImage &img);
// SP luma block: reconstruction into img.resid_block[0..3][0..3]; the residual block is left as is.
void h264dec_itrans_sp(DecoderImage &img, int ioff, int joff, int i0, int j0);
// SP chroma component (uv2 = 0 or 2): requantises its coefficients against the 8x8 prediction held
// in img.pred_block[0..7][0..7], which it clears; h264dec_itrans_4x4 then finishes each block.
void h264dec_itrans_sp_chroma(DecoderImage &img, int uv2);
