// Context-adaptive variable-length coding of residual blocks: coeff_token (by a table chosen from the
// neighbours' coefficient counts), trailing-one signs, levels with a growing suffix, total_zeros and
// run_before. The code tables are the decoder's; the writer only inverts them.
#pragma once

#include "h264enc/bit_writer.h"
#include "h264enc/enc_params.h"
#include "h264enc/enc_state.h"

namespace h264enc {

enum CavlcBlockType { kLuma = 0, kLum16DC = 1, kLum16AC = 2, kChrDC = 6, kChrAC = 7 };

// Coefficients a block of the type can hold (16, 15 or 4); 0 for an unknown type.
int CavlcMaxCoeff(int block_type);

// Largest level magnitude the escape code can carry at a suffix length (0..6). The first level of a
// block is coded one smaller when fewer than three trailing ones precede it.
int CavlcMaxLevel(int suffix_length);

// Writes one block from its (level, run) pairs, ended by a level of 0, into bs. nC selects the
// coeff_token table (ignored for chroma DC). Returns the bits written; *total_coeff receives the
// block's coefficient count. A block the syntax cannot carry (too many coefficients, a level beyond
// the escape code) ends the run with a message (code -1) before anything is written.
int write_cavlc_block(Bitstream &bs, int block_type, const int *level, const int *run, int nC,
                      int *total_coeff);

// The same, one element at a time with its own bit loop: the plain reference of write_cavlc_block.
int write_cavlc_block_reference(Bitstream &bs, int block_type, const int *level, const int *run, int nC,
                                int *total_coeff);

// nC of block (i, j) of the current macroblock (j 4 and 5: chroma AC rows) from the counts of the
// neighbouring blocks in the same slice: their integer average, 0 when none is available.
int PredictNc(EncoderImage &img, int width_mbs, int i, int j);

// Writes one block of the current macroblock of img: the pairs from the coefficient arrays, nC from the
// neighbours, into the partition the element category selects, storing the block's count. b8/b4 name
// the 8x8 and 4x4 block (luma; chroma AC: b8 4 + plane); position is the chroma DC plane (0 U, 1 V) or,
// for chroma AC, the block's place (low 4 bits row 4..5, next bits column 0..3). Another block type
// ends the run ("writeCoeff4x4_CAVLC: Invalid block type", code 600).
int writeCoeff4x4_CAVLC(const EncoderParams &input, EncoderImage &img, int block_type, int b8, int b4,
                        int position);

} // namespace h264enc
