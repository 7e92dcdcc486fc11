// Macroblock coding once the modes are chosen: the neighbour availability marks of intra prediction,
// the luma and chroma prediction of each 4x4 block from one or two references (direct and skip blocks
// included), the residual coded quarter by quarter with the cost rule that drops lonely coefficients,
// and the chroma coding. Also the intra prediction pieces the mode decision calls: the 4x4 and 16x16
// luma predictions, the chroma intra predictions with their choice, the 16x16 cost.
#pragma once

#include <cstdint>

namespace h264enc {

struct EncoderRun;
struct EncoderImage;
struct RefFrame;

// Marks the intra mode map entries of neighbours that intra prediction may not use (another slice, or
// not intra under constrained intra prediction).
void mark_neighbour_availability(EncoderRun &run);

// The stored picture that reference r of the current picture names: entry r in P and stored B pictures,
// entry r + 1 for a forward reference of a B picture, entry 0 for its backward reference (r = -1).
RefFrame *reference_frame(EncoderRun &run, int r);
// Entry `entry` of the current reference list itself.
RefFrame *reference_entry(EncoderRun &run, int entry);
// The stored picture of backward reference index s of a B or stored B picture: entry s.
RefFrame *backward_frame(EncoderRun &run, int s);

// Where one 4x4 block's prediction comes from.
struct BlockSource
{
    bool use[2] = {false, false}; // forward, backward
    RefFrame *frame[2] = {nullptr, nullptr};
    int ref[2] = {0, 0}; // reference index of each direction (the weights' index)
    int mv[2][2] = {};
};
// The source of 4x4 block (bx4, by4) of the macroblock for the modes and references of its quarter:
// skip (both modes 0 in a P picture) takes the P-skip vector, direct (both 0 in a B picture) the direct
// vectors, other modes the searched vectors.
BlockSource block_source(EncoderRun &run, int bx4, int by4, int fw_mode, int bw_mode, int fw_ref, int bw_ref);
// Luma prediction of the 4x4 block into run.mbw.pred.
void predict_luma_4x4(EncoderRun &run, int bx4, int by4, int fw_mode, int bw_mode, int fw_ref, int bw_ref);
void predict_luma_block(EncoderRun &run, int bx4, int by4, const BlockSource &s);
// Quarter-sample luma sample of a reference (positions outside read the border).
int luma_sample(const RefFrame &f, int y4, int x4);
// The modes and references of quarter q of the current macroblock as its record and the maps hold them.
void quarter_modes_and_refs(EncoderRun &run, int q, int *fw_mode, int *bw_mode, int *fw_ref, int *bw_ref);
// Codes the luma of quarter q; returns its coefficient cost (0 when its coefficients were dropped).
int code_luma_quarter(EncoderRun &run, int *cbp, int *cbp_blk, int q, int fw_mode, int bw_mode, int fw_ref,
                      int bw_ref);
// Codes the luma of an inter macroblock from its quarters.
void code_luma_macroblock(EncoderRun &run);
// Codes both chroma components of the macroblock; adds the chroma pattern to coded_pattern.
void code_chroma_macroblock(EncoderRun &run);

// Intra predictions.
void h264enc_intra_pred_4x4(EncoderRun &run, int x, int y);

// Block b of quarter q of the current macroblock, about to choose its 4x4 intra mode: its offset in
// the macroblock, its position in the picture, the most probable mode its neighbours give, and the
// code of a chosen mode (-1 for the most probable one). Making it predicts the block in all modes.
struct Intra4x4Block
{
    int ox, oy, x, y, bx, by;
    int most_probable;
    int Code(int mode) const { return mode == most_probable ? -1 : mode < most_probable ? mode : mode - 1; }
};
Intra4x4Block start_intra4x4_block(EncoderRun &run, int q, int b);
void h264enc_intra_pred_16x16(EncoderRun &run);
// Whether 8x8 quadrant (0..3, raster) of macroblock mb may serve intra prediction under constrained
// intra prediction (macroblocks outside the picture's records count as usable).
bool quadrant_intra(const EncoderRun &run, int mb, int quadrant);
// 16x16 neighbours usable (same slice, and intra under constrained intra prediction).
void intra_mb_neighbours(const EncoderRun &run, bool *up, bool *left);
// The four chroma intra predictions and, without rate-distortion decisions, the chosen chroma mode.
void decide_chroma_intra_mode(EncoderRun &run, bool *up, bool *left);
// The least-cost 16x16 intra mode; returns its cost.
int intra16x16_cost(EncoderRun &run, int *mode);

} // namespace h264enc
