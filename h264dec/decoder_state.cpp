// Creation of the decoder object: the slice record with its three data partitions, the picture
// state's starting values with its square table, and an empty picture-order ring.
#include "h264dec/decoder_state.h"

#include "h264dec/slice_header.h"
#include "platform/format.h"

#include <algorithm>
#include <new>

H264DecoderState::H264DecoderState() : slice_record(dec_create_slice(*this)), slice(*slice_record)
{
    img.current_slice = &slice;
    img.number = 0;
    img.type = kPictureI;
    img.ref_poc = img.ref_poc_prev = 0;
    img.ref_buffer_cycle = input.ref_frames + 1;
    dec_init_square_table(img);
    dec_reset_poc_history(*this);
}

void SliceRelease::operator()(DecoderSlice *slice) const
{
    dec_release_slice(slice);
}

SlicePtr dec_create_slice(H264DecoderState &dec)
{
    SlicePtr slice;
    try {
        slice.reset(new DecoderSlice);
    } catch (const std::bad_alloc &) {
        h264_fatal_error(
            zn::Format("Memory allocation for Slice datastruct in NAL-mode %d failed", dec.input.FileFormat),
            100);
    }
    slice->motion_contexts.reset(dec_create_contexts_MotionInfo());
    slice->texture_contexts.reset(dec_create_contexts_TextureInfo());
    slice->max_part_nr = 3;
    slice->partitions = AllocPartition(dec, slice->max_part_nr, 0);
    return slice;
}

void dec_release_slice(DecoderSlice *slice)
{
    if (!slice)
        return;
    dec_release_partitions(slice->partitions, slice->max_part_nr);
    slice->motion_contexts.reset();
    slice->texture_contexts.reset();
    delete slice;
}

std::vector<DataPartition> AllocPartition(H264DecoderState &dec, int n, int bytes)
{
    // Sizes beyond what one decoder array may take are refused before they are tried, as for the
    // picture arrays.
    const char *const partitionFailed = "AllocPartition: Memory allocation for Data Partition failed";
    const char *const bufferFailed = "AllocPartition: Memory allocation for streamBuffer failed";
    if (n < 0 ||
        static_cast<int64_t>(n) * static_cast<int64_t>(sizeof(DataPartition)) > kMaxDecoderArrayBytes)
        h264_fatal_error(partitionFailed, 100);
    std::vector<DataPartition> parts;
    try {
        parts.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc &) {
        h264_fatal_error(partitionFailed, 100);
    }
    for (DataPartition &dp : parts) {
        try {
            dp.bitstream = std::make_unique<Bitstream>();
        } catch (const std::bad_alloc &) {
            h264_fatal_error("AllocPartition: Memory allocation for Bitstream failed", 100);
        }
        dp.bitstream->counters = &dec.counters;
        if (bytes > kMaxDecoderArrayBytes)
            h264_fatal_error(bufferFailed, 100);
        try {
            dp.bitstream->AllocBuffer(bytes);
        } catch (const std::bad_alloc &) {
            h264_fatal_error(bufferFailed, 100);
        }
    }
    return parts;
}

void dec_release_partitions(std::vector<DataPartition> &partitions, int n)
{
    const size_t count = std::min(partitions.size(), static_cast<size_t>(std::max(n, 0)));
    for (size_t i = 0; i < count; ++i)
        partitions[i].bitstream.reset();
    std::vector<DataPartition>().swap(partitions);
}

void dec_init_square_table(DecoderImage &img)
{
    for (int i = 0; i < 256; ++i)
        img.quad[i] = i * i;
}
