// Motion search. Once per run the tables (spiral order of search positions, the bit lengths of vector
// differences and reference numbers) are built; per macroblock and reference the SADs of every 4x4
// block at every position of the window are computed once, and all block shapes are found from them
// by additions. Each block then takes its best integer vector (SAD plus lambda times the vector bits),
// is refined to half and quarter samples by SATD, and in P pictures competes with the P-skip vector.
// The vector prediction, the bidirectional, skip and direct costs of B pictures belong here too.
#pragma once

#include "h264enc/enc_memory.h"

#include <cstdint>

namespace h264enc {

struct EncoderRun;

// Block types of motion search: 1 16x16, 2 16x8, 3 8x16, 4 8x8, 5 8x4, 6 4x8, 7 4x4.
constexpr int kBlockWidth[8] = {16, 16, 16, 8, 8, 8, 4, 4};
constexpr int kBlockHeight[8] = {16, 16, 8, 16, 8, 4, 8, 4};
constexpr int kMaxCost = 1 << 20;

// Tables of a run (SearchRange, the number of reference slots) and the fast integer search's state.
void Init_Motion_Search_Module(EncoderRun &run);
// Releases the fast search's SAD tables, then the tables of the run.
void free_motion_search_module(EncoderRun &run);
void free_fast_integer_search(EncoderRun &run);
void free_motion_search_tables(EncoderRun &run);
// Called at every macroblock start: the SAD tables are rebuilt on first use.
void reset_fast_integer_search(EncoderRun &run);
// The SAD tables of reference r (-1 the backward reference) for the current macroblock.
void setup_fast_integer_search(EncoderRun &run, int r);
// Best integer vector of a block: (bx, by) its offset in the macroblock, type its block type, (px, py)
// the predicted vector in quarter samples. Returns the cost; *vx, *vy the vector in whole samples.
int integer_pel_search(EncoderRun &run, int r, int bx, int by, int type, int px, int py, int range, int start,
                       int *vx, int *vy);
// The list index of reference r: r, or the last list for the backward reference.
int search_list_index(const EncoderRun &run, int r);

// The length of the signed Exp-Golomb code of a vector difference (quarter samples).
int mv_bits(const EncoderRun &run, int d);

// ---------------------------------------------------------------------------------------------
// Block motion

// Vector prediction of a block at (bx, by) samples in the macroblock, w x h, for reference r, over the
// reference and vector maps of `list` (0 the P or forward maps, 1 the backward maps).
void predict_block_vector(const EncoderRun &run, int list, int r, int bx, int by, int w, int h, int *px,
                          int *py);
// Searches one block for reference r (-1 backward): stores the vector and its prediction; returns the
// cost. (x, y) the block's position in the picture.
int search_block_motion(EncoderRun &run, int r, int x, int y, int type, int range);
// Fills the partition costs of block `block` of block type `type` for every reference.
void search_partition_motion(EncoderRun &run, int type, int block);
// Cost of predicting the block from both directions with forward reference f.
int bidir_block_cost(EncoderRun &run, int type, int block, int f);
// A stored B picture follows both of its references, and there the backward vector of a two-direction
// block is predicted from its forward one, scaled by the ratio of the reference indices plus one (the
// decoder's rule): replaces the backward predictions of such blocks in the macroblock record.
void scale_backward_predictions(EncoderRun &run);
// The P-skip vector of the macroblock (into the searched vectors at reference 0, type 0) and its cost.
void p_skip_vector(EncoderRun &run);
int p_skip_cost(EncoderRun &run);
// Direct mode of B pictures: the vectors and references of the macroblock, and the costs.
void compute_direct_vectors(EncoderRun &run);
int direct_cost_8x8(EncoderRun &run, int quarter);
int direct_cost_16x16(EncoderRun &run);
// The 4x4 block of a quarter-sample plane whose top-left sample is at quarter-sample position (x4, y4),
// its samples 4 positions (one whole sample) apart, row by row; positions outside read the margin as
// get_pel_quarter_clamped does. The reference reads every sample through that clamp.
void quarter_block4x4(const Array2D<uint8_t> &plane, int y4, int x4, uint8_t out[16]);
void quarter_block4x4_reference(const Array2D<uint8_t> &plane, int y4, int x4, uint8_t out[16]);
// Refines an integer vector (quarter samples, in/out) of a block to half, then quarter samples.
int refine_sub_pel(EncoderRun &run, int r, int x, int y, int type, int px, int py, int *mvx, int *mvy,
                   int start);

} // namespace h264enc
