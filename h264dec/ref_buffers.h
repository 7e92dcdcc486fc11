// Reference picture stores: a frame store and a field store, each with a short-term part kept as a
// sliding window (newest first) and a long-term part that only memory-management operations fill.
// Their slots are numbered by the decoder's own picture counter (buffer_slot), not by frame_num, and
// the stores always hold ref_frames + 1 pictures whatever the stream's SPS says.
#pragma once

#include "h264dec/dec_memory.h"

#include <memory>
#include <vector>

struct H264DecoderState;
struct DecoderParams;
struct DecoderImage;
struct DecoderSlice;

// One slot of a store.
struct RefPicture
{
    int picture_number = -1; // short-term number it was stored under, -1 when empty
    int long_term_id = -1;
    Array2D<uint8_t> luma;
    Array3D<uint8_t> chroma; // two planes
};

struct FrameStore
{
    std::vector<std::unique_ptr<RefPicture>> picbuf_short; // used ones first, most recent first
    std::vector<std::unique_ptr<RefPicture>> picbuf_long;  // used ones first, ascending long-term id
    int short_size = 0, long_size = 0, short_used = 0, long_used = 0;
};

// The reference lists the prediction reads: plane pointers, null for an empty entry.
using LumaRefList = std::vector<Array2D<uint8_t> *>;
using ChromaRefList = std::vector<Array3D<uint8_t> *>;

void dec_init_frame_buffers(H264DecoderState &dec);
void dec_free_frame_buffers(H264DecoderState &dec);
void dec_alloc_mref(H264DecoderState &dec);
// Refills the default lists, then frees the slice's reordering commands (they are never applied).
void dec_init_ref_lists(H264DecoderState &dec);
void dec_fill_ref_lists(H264DecoderState &dec);
// Stores the decoded picture (cur_pic_y, cur_pic_uv) as the newest short-term picture of dec_fb, then
// executes and clears the slice's memory-management operations.
void dec_store_picture(H264DecoderState &dec);

void dec_remove_short_term(H264DecoderState &dec, int number);
void dec_remove_long_term(H264DecoderState &dec, int long_term_id);
void dec_assign_long_term(H264DecoderState &dec, int number, int long_term_id);
void dec_init_long_term_buffer(H264DecoderState &dec, int size);
void dec_unmark_all_refs(H264DecoderState &dec);
int dec_pic_num_from_diff(const H264DecoderState &dec, int difference);

// The reordering command arrays of a slice: num_ref_idx_active_fwd entries for list 0 (none for I
// and SI slices), num_ref_idx_active_bwd for list 1.
void dec_alloc_ref_pic_list_reordering_buffer(H264DecoderState &dec, DecoderSlice &slice);
void dec_free_ref_pic_list_reordering_buffer(DecoderSlice &slice);
