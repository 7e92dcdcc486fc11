// A P macroblock over one flat reference frame (luma 100, chroma 128) whose source is flat likewise:
// every vector predicts the same samples, so motion and mode costs differ by their bits alone.
#pragma once

#include "h264enc/enc_run.h"

namespace enctest {

// Stores the flat reference for run (picture geometry, type, quantiser and macroblock position already
// set, input settings as the test wants them), makes the motion buffers as the run's set-up leaves them,
// and begins the current macroblock.
void PrepareFlatReferenceMacroblock(h264enc::EncoderRun &run);

} // namespace enctest
