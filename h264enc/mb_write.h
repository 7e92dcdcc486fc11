// Macroblock writing: the coded macroblock's record turned into syntax elements in the order the
// decoder reads them (skip run or flag, field flag, type, sub-types, intra modes, chroma mode, reference
// indices, vector differences, coded block pattern, quantiser change, luma and chroma coefficients),
// each handed to the data partition its category selects, with the bits counted by category.
#pragma once

namespace h264enc {

struct EncoderRun;
struct EncoderImage;
struct MacroblockRecord;
struct SyntaxItem;

// Writes the current macroblock. With CABAC, a macroblock that is not the first of its slice first
// codes end_of_slice_flag 0 for the one before it (when not_first is set).
void h264enc_write_macroblock(EncoderRun &run, int not_first);
// The macroblock's intra flags for constrained intra prediction, from its mode: inter macroblocks of P
// and B pictures may not serve as intra neighbours.
void mark_intra_block(EncoderRun &run);

// Skip run or skip flag, field flag, type, sub-types, intra modes and the chroma mode; with rd_mode 0
// an inter macroblock gets chroma mode 2 (DC). Returns the bits.
int write_macroblock_header(EncoderRun &run, int rd_mode);
// The type value of the macroblock in the picture's numbering (before the CAVLC writer takes 1 off
// in P and SP pictures).
int mb_type_code(const EncoderRun &run, const MacroblockRecord &mb);
// The sub-macroblock type of a quarter's sub-mode (0, 4..7) and direction.
int sub_mb_type_code(const EncoderImage &img, int mode, int direction);
// Intra 4x4 modes of the quarter (-1: every intra quarter).
int write_intra_block_modes(EncoderRun &run, int quarter);
int write_chroma_intra_mode(EncoderRun &run);
// Reference indices, then vector differences, forward list first.
int write_macroblock_motion(EncoderRun &run);
// One reference index of the partition starting at 4x4 block (x, y) of the macroblock, written only
// when the list has more than one active reference (exactly when the decoder reads one).
int write_ref_idx(EncoderRun &run, int mode, int x, int y, int forward, int value);
// The vector differences of the sub-blocks of one partition block.
int write_mvd(EncoderRun &run, int x0, int y0, int width, int height, int list, int sub_mode);
int write_cbp_qp_luma(EncoderRun &run);
int write_luma_quarter(EncoderRun &run, int quarter, int intra);
int write_luma_block_cabac(EncoderRun &run, int quarter, int block, int intra);
int write_chroma_blocks(EncoderRun &run);
// CABAC: the end-of-slice bin into the partition of the macroblock-type elements.
void write_end_of_slice_flag(EncoderRun &run, int bit);
// 1 when every 4x4 block of the macroblock has reference index 0 in the P map.
int all_refs_zero(const EncoderImage &img);
// Macroblock-adaptive frames: the field-flag neighbours (left pair, pair above) of the current
// macroblock, in the same slice.
void set_cabac_neighbours_mbaff(EncoderImage &img);

// Hands an element to the partition its category selects and counts it in the macroblock. CAVLC
// items without a mapping are written as ue(v).
int write_syntax_element(EncoderRun &run, SyntaxItem &item);

} // namespace h264enc
