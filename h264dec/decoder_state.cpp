// Creation of the decoder object: the slice record with its three data partitions, the picture
// state's starting values and an empty picture-order ring.
#include "h264dec/decoder_state.h"

#include "h264dec/slice_header.h"

#include <new>

H264DecoderState::H264DecoderState()
{
    // The stream buffers grow to the first unit loaded into them.
    slice.partitions = AllocPartitions(*this, 3, 0);
    slice.motion_contexts.reset(dec_create_contexts_MotionInfo());
    slice.texture_contexts.reset(dec_create_contexts_TextureInfo());
    slice.max_part_nr = 3;
    img.current_slice = &slice;
    img.number = 0;
    img.type = kPictureI;
    img.ref_poc = img.ref_poc_prev = 0;
    img.ref_buffer_cycle = input.ref_frames + 1;
    dec_reset_poc_history(*this);
}

DataPartition AllocPartition(H264DecoderState &dec, int bytes)
{
    DataPartition dp;
    try {
        dp.bitstream = std::make_unique<Bitstream>();
        dp.bitstream->counters = &dec.counters;
        dp.bitstream->AllocBuffer(bytes);
    } catch (const std::bad_alloc &) {
        h264_fatal_error("AllocPartition: Memory allocation for streamBuffer failed", 100);
    }
    return dp;
}

std::vector<DataPartition> AllocPartitions(H264DecoderState &dec, int n, int bytes)
{
    std::vector<DataPartition> parts;
    for (int i = 0; i < n; ++i)
        parts.push_back(AllocPartition(dec, bytes));
    return parts;
}
