// Test-side writers of macroblock data: CAVLC residual blocks from the code tables (levels with this
// syntax's escape signs), and a walk that runs the decoder's macroblock layer over every slice of a
// stream, as picture control will, without reconstruction.
#pragma once

#include "h264/support/h264_stream_writer.h"
#include "h264dec/decoder_state.h"

#include <vector>

namespace h264test {

// One CAVLC block: coefficients in scan order (max_coeff of them, the first at the block's first
// scan position); nC selects the coeff_token table, -1 for chroma DC. Returns TotalCoeff.
int WriteCavlcBlock(BitWriter &w, const int *coeffs, int max_coeff, int nc);

struct SliceWalkOptions
{
    int max_mbs = 396; // larger pictures are skipped (keeps fuzzing fast)
};

struct SliceWalkResult
{
    int slices = 0;
    int macroblocks = 0;
};

// Every slice of the opened stream through the macroblock layer. Stops at the end of the stream or
// with the decoder's run error. The picture arrays stay in dec for inspection.
SliceWalkResult WalkSlices(H264DecoderState &dec, const SliceWalkOptions &options = {});

// Reads the slice unit at hand (already in the front end) through the macroblock layer.
int ReadSliceMacroblocks(H264DecoderState &dec);

} // namespace h264test
