// CABAC syntax-element writers: each turns one element's value into bins (its binarisation) and codes
// them with contexts chosen from the current macroblock's neighbourhood, so that the decoder, choosing
// the same contexts from what it has already read, decodes the same bins. The syntax is the draft's:
// the skip flag is 1 for a coded macroblock, there is no PCM bin, the sign of a vector difference
// follows its first bin, and coefficient blocks have eight kinds with their own context rows.
#pragma once

#include "h264enc/bit_writer.h"

namespace h264enc {

struct EncoderImage;

// The partition's element writer in CABAC slices: calls the item's writer and returns the bits it
// took (the coder's bit count before and after); any category but SE_HEADER marks the partition as
// holding content.
int cabac_write_element(SyntaxItem *item, EncoderImage &img, SlicePartition *part);

// ---------------------------------------------------------------------------------------------
// Element writers. The caller fills value and second_value, the block kind in context for
// coefficients, and for block elements the 4x4 block of img (subblock_x, subblock_y; chroma AC 0..1)
// and the chroma plane.

void cabac_write_field_flag(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
// value: macroblock type value (0 skipped); second_value: coded block pattern (B pictures).
void cabac_write_skip_flag(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
// value: type in the I, P or B numbering of the picture. A negative P value ends the run.
void writeMB_typeInfo2Buffer_CABAC(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
// value: P 0..3 or B 0..12; others write nothing.
void cabac_write_sub_type(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
// value: -1 the predicted mode, else the remaining mode 0..7.
void cabac_write_intra_mode(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
void cabac_write_chroma_mode(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
// value: reference index of the block at (subblock_x, subblock_y); second_value: 1 for sub-modes
// 4..7 (trace only).
void cabac_write_ref_fwd(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
void cabac_write_ref_bwd(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
// value: the difference; second_value: component (P) or 2 x component + list (B).
void cabac_write_mvd(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
void cabac_write_mvd_bi(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
void cabac_write_dquant(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
void cabac_write_cbp(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
// One (level, run) pair of a coefficient block of kind `context`; level 0 closes the block and codes
// it: coded-block flag, significance map, levels.
void cabac_write_run_level(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);

// ---------------------------------------------------------------------------------------------
// Binarisations

void cabac_write_unary(CabacEncEnv *env, int n, CabacEncContext *ctx, int offset);
void cabac_write_unary_max(CabacEncEnv *env, int n, CabacEncContext *ctx, int offset, int max);
void cabac_write_exp_golomb(CabacEncEnv *env, int n, int k);
void cabac_write_level_suffix(CabacEncEnv *env, int n, CabacEncContext *ctx);
void cabac_write_mvd_suffix(CabacEncEnv *env, int n, CabacEncContext *ctx);

// ---------------------------------------------------------------------------------------------
// Coefficient block kinds

enum CabacBlockKind {
    kKindLuma16DC = 0,
    kKindLuma16AC = 1,
    kKindLuma8x8 = 2,
    kKindLuma8x4 = 3,
    kKindLuma4x8 = 4,
    kKindLuma4x4 = 5,
    kKindChromaDC = 6,
    kKindChromaAC = 7,
};

struct CabacBlockKindInfo
{
    int positions; // scan positions of the block
    int dc_first;  // 1 when the first position is the DC one (0), else the first is position 1
    int flag_row;  // coded-block flag row
    int map_row;   // significance and last rows
    int level_row; // greater-than-one and level rows
    int map_shape; // position maps: 0 4x4, 1 8x8, 2 8x4 (kinds 3 and 4)
};
extern const CabacBlockKindInfo kCabacBlockKinds[8];

// Context index within a significance or last row by scan position. The 4x4 maps are min(p, 14) and p;
// kinds 2 to 4 have their own, and other significance maps in field coding.
int cabac_sig_position(int kind, int position, bool field);
int cabac_last_position(int kind, int position);

} // namespace h264enc
