// The arithmetic-coded macroblock layer is not part of this library yet: a CABAC slice ends the run
// with a message when its data is read, instead of decoding garbage.
#include "h264dec/cabac_read.h"

#include "h264dec/h264_shared.h"

int cabac_read_element(SyntaxSymbol *, H264DecoderState &, DataPartition *)
{
    h264_fatal_error("cabac_read_element: CABAC slice data cannot be decoded yet", kH264StreamErrorCode);
}

int cabac_slice_end(H264DecoderState &, int)
{
    h264_fatal_error("cabac_slice_end: CABAC slice data cannot be decoded yet", kH264StreamErrorCode);
}
