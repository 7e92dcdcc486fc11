// The element reader and end-of-slice test that a CABAC picture parameter set installs.
#pragma once

struct SyntaxSymbol;
struct H264DecoderState;
struct DataPartition;

int cabac_read_element(SyntaxSymbol *sym, H264DecoderState &dec, DataPartition *dp);
int cabac_slice_end(H264DecoderState &dec, int eos_bit);
