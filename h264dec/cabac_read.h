// The CABAC syntax-element readers: each one turns bins into one element's value, choosing its
// contexts from what the neighbouring macroblocks and blocks already hold. The macroblock, motion
// and residual readers put one of these into a symbol's read_fn and hand the symbol to the
// partition's read_element, which for CABAC is cabac_read_element.
#pragma once

#include "h264dec/bitstream.h"
#include "h264dec/cabac_engine.h"

struct H264DecoderState;
struct DataPartition;

int cabac_read_element(SyntaxSymbol *sym, H264DecoderState &dec, DataPartition *dp);
// end_of_slice_flag (after the lower macroblock of an MBAFF pair only: eos_bit 0 reads nothing).
int cabac_slice_end(H264DecoderState &dec, int eos_bit);

// Element readers. Results in value1 (and value2); selectors come in value2 and context.
void cabac_read_skip_flag(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_field_flag(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_mb_type(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_sub_mb_type(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_intra_mode(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_chroma_mode(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_ref_fwd(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_ref_bwd(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_mvd(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_mvd_b(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_qp_delta(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
void cabac_read_cbp(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
// One (level, run) pair of the block whose type is in context; level 0 ends the block.
void cabac_read_run_level(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);

// Binarisations.
int cabac_unary(CabacDecoder *cabac, CabacContext *ctx, int step);
int cabac_unary_max(CabacDecoder *cabac, CabacContext *ctx, int step, int maximum);
int cabac_level_suffix(CabacDecoder *cabac, CabacContext *ctx);
int cabac_mvd_suffix(CabacDecoder *cabac, CabacContext *ctx);
int cabac_exp_golomb_bypass(CabacDecoder *cabac, int k);

// The skip flag (and, when not skipped, the field flag into sym->value1) of the lower macroblock of
// the current MBAFF pair, read ahead and undone; 1 when it is skipped.
int cabac_peek_next_skip(SyntaxSymbol *sym, H264DecoderState &dec, DataPartition *dp);
