// The CAVLC readers of residual blocks (coeff_token, level, total_zeros, run_before) and the element
// readers and end-of-slice test that a CAVLC picture parameter set installs.
#pragma once

#include "h264dec/decoder_records.h"

// The CAVLC read_element of the partitions, and the same reader for direct calls: an Exp-Golomb code
// word through the symbol's map_fn.
int h264dec_read_element_cavlc(SyntaxSymbol *sym, H264DecoderState &dec, DataPartition *dp);
int h264dec_read_element_vlc(SyntaxSymbol *sym, H264DecoderState &dec, DataPartition *dp);

// Table lookup: the first entry (rows in order, then columns) whose code matches the next bits.
// Sets value1 = column, value2 = row and length, advances; 0 on success, -1 when nothing matches.
int h264dec_code_from_table(SyntaxSymbol *sym, Bitstream *bs, const uint8_t *lentab, const uint8_t *codtab,
                            int rows, int cols, int stride);

// Each returns 1, or -1 when a fixed-length part runs past the data (nothing advanced). A code word
// that is in no table ends the run with the reader's message.
// value1 in: table class 0..3; out: value1 TotalCoeff, value2 TrailingOnes.
int h264dec_read_coeff_token(SyntaxSymbol *sym, DataPartition *dp);
int h264dec_read_coeff_token_cdc(SyntaxSymbol *sym, DataPartition *dp);
// Level into info (signed), with suffix length 0 or 1..6.
int h264dec_read_level_vlc0(SyntaxSymbol *sym, DataPartition *dp);
int h264dec_read_level_vlcn(SyntaxSymbol *sym, int vlc, DataPartition *dp);
// value1 in: TotalCoeff - 1; out: total_zeros.
int h264dec_read_total_zeros(SyntaxSymbol *sym, DataPartition *dp);
int h264dec_read_total_zeros_cdc(SyntaxSymbol *sym, DataPartition *dp);
// value1 in: min(zerosLeft, 7) - 1; out: run_before.
int h264dec_read_run_before(SyntaxSymbol *sym, DataPartition *dp);

// 1 when the partition that carries macroblock types holds no more data (the end flag is CABAC's).
int h264dec_slice_end_cavlc(H264DecoderState &dec, int eos_bit);
