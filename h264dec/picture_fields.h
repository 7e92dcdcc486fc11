// Frames and their fields: splitting a decoded frame into its two fields, interleaving a decoded field
// pair into its frame, and keeping the co-located motion of direct prediction in both forms.
#pragma once

#include "h264dec/decoder_state.h"

// Even rows are the top field, odd rows the bottom field (luma and both chroma planes).
void dec_split_planes(const DecodedPlanes &frame, DecodedPlanes &top, DecodedPlanes &bottom);
void dec_merge_planes(const DecodedPlanes &top, const DecodedPlanes &bottom, DecodedPlanes &frame);

// The co-located motion of one picture form: vectors [block column + 4][block row][component],
// reference indices and moving flags [block row][block column].
struct ColocatedMotion
{
    Array3D<int> *mv = nullptr;
    Array2D<int> *ref = nullptr;
    Array2D<int> *moving = nullptr;
};

// A block is still when its reference index is 0 and both vector components lie in -1..1.
bool dec_block_is_still(const ColocatedMotion &m, int bx, int by);

// After a frame (from_frame) or a field pair: the other form from the decoded one, with the moving
// flags of all three. block_cols, frame_block_rows: the frame's size in 4x4 blocks.
void dec_save_direct_motion(ColocatedMotion &frame, ColocatedMotion &top, ColocatedMotion &bottom,
                            bool from_frame, int block_cols, int frame_block_rows);

// A reference B picture becomes the co-located picture of later direct prediction: its forward
// vectors and indices are copied into the given form.
void dec_save_b_motion(const Array3D<int> &fwd_mv, const Array2D<int> &fwd_ref, ColocatedMotion &into,
                       int block_cols, int block_rows);
