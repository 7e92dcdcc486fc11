// Transform and quantisation of the encoder: the 4x4 integer transform of a luma block, the 16x16 intra
// coding with the Hadamard transform of its DC terms and the chroma coding with its 2x2 DC transform.
// Each routine quantises, keeps the levels and runs of the non-zero coefficients in scan order for the
// entropy coder, dequantises, inverse transforms and stores the reconstruction, so that the encoder
// predicts from exactly the samples the decoder will have. The coefficient cost lets the callers drop
// blocks whose few isolated ones are not worth their bits.
#pragma once

#include "h264dec/macroblock.h"
#include "h264enc/enc_state.h"

#include <cstdlib>

namespace h264enc {

struct EncoderRun;

// |a| with the sign of b (negative when b < 0).
inline int copy_sign(int a, int b)
{
    return b < 0 ? -std::abs(a) : std::abs(a);
}

// One quantised level: |c| * mf + f, shifted down, with the sign of c.
inline int Quantise(int c, int mf, int f, int bits)
{
    return copy_sign((std::abs(c) * mf + f) >> bits, c);
}

// The coefficient scan of the current block: field scan in field pictures and field macroblocks.
inline const int (*ScanOf(const EncoderImage &img))[2]
{
    return img.field_picture || (img.mbaff && img.mb_field) ? kFieldScan : kFrameScan;
}

// Quantiser multipliers by qp % 6 and position.
extern const int kQuantCoef[6][4][4];
// Cost of a level of magnitude 1 by the run of zeros before it; larger levels cost kLargeLevelCost.
extern const int kCoefCost[16];
constexpr int kLargeLevelCost = 999999;

// Forward 4x4 core transform of in[x][y] into out[i][j] (horizontal, vertical frequency).
void forward4x4(const int in[4][4], int out[4][4]);

// Luma 4x4 block at pixel offset (bx, by) of the macroblock: residual in run.mbw.resid[0..3][0..3],
// prediction in run.mbw.pred at the block. Adds the block's coefficient cost to *cost; returns 1 when
// a level is non-zero. The reconstruction goes into the picture and into resid.
int h264enc_trans_quant_4x4(EncoderRun &run, int bx, int by, int *cost);
// Intra 16x16 coding of the macroblock's luma against candidate `mode` of run.mbw.intra16; returns 15
// when an AC level is non-zero, else 0.
int h264enc_trans_quant_16x16(EncoderRun &run, int mode);
// Chroma component uv (0 U, 1 V): residual in run.mbw.resid[0..7][0..7], prediction in run.mbw.cpred;
// returns the chroma pattern (0 none, 1 DC only, 2 AC) updated from cr_cbp.
int h264enc_trans_quant_chroma(EncoderRun &run, int uv, int cr_cbp);

// Stores the reconstruction of 4x4 chroma block (bx, by) of component uv into the work block and the
// picture.
void store_chroma_block(EncoderRun &run, int uv, int bx, int by, const int recon[4][4]);

// The 2x2 transform of the four chroma DC terms, in the order sum, horizontal, vertical, diagonal.
void chroma_dc_2x2(const int coef[2][2][4][4], int out[4]);

// SP pictures: the same blocks with the prediction transformed as well and the sum quantised at the
// switching quantiser, so that the reconstruction is the decoder's SP requantisation.
int quant_luma_4x4_sp(EncoderRun &run, int bx, int by, int *cost);
int quant_chroma_sp(EncoderRun &run, int uv, int cr_cbp);
// The prediction of a block without coefficients of an SP picture, requantised into the reconstruction.
void requant_prediction_sp(EncoderRun &run, int bx, int by);

} // namespace h264enc
