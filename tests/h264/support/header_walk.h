// Runs the decoder's stream front end over a whole stream, as picture control will: units up to each
// slice, the slice header with its parameter sets, and (for pictures small enough) the reference
// stores with the slice's memory-management operations. Used by the robustness tests and the fuzz
// target; it stops only at the end of the stream or with the decoder's run error.
#pragma once

#include "h264dec/decoder_state.h"

namespace h264test {

struct WalkOptions
{
    bool store_pictures = true;
    int max_store_mbs = 396; // pictures above this size are not stored (keeps fuzzing fast)
    int nalu_capacity = kNaluCapacity;
};

struct WalkResult
{
    int slices = 0;
    int stores = 0;
};

WalkResult WalkHeaders(H264DecoderState &dec, const WalkOptions &options = {});

} // namespace h264test
