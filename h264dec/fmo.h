// The slice-group map: the group of every map unit (a macroblock of a frame, or of a field for field
// slices) and the next-macroblock queries that walk a slice through its group. This decoder reads one
// slice group, so the map it builds for each slice is all zeros; the explicit-list, box and evolving
// map types are kept for completeness.
#pragma once

#include "h264dec/h264_shared.h"

struct H264DecoderState;
struct DecoderImage;

// Rebuilds the map for a picture of width x height units; with no list every unit is in group 0.
void h264dec_fmo_init(H264DecoderState &dec, int width_mbs, int height_units, const int *list,
                      int list_length);
int h264dec_last_mb_of_picture(const H264DecoderState &dec, int structure);
int h264dec_next_mb_in_group(const H264DecoderState &dec, int mb, int structure);
int h264dec_last_slice_group(const H264DecoderState &dec);
void h264dec_fmo_free(H264DecoderState &dec);
// Evolving maps (types 4 box-out, 5 raster, 6 wipe): every unit 1, then (cycle + 1) x (rate + 1) units 0.
void h264dec_fmo_generate(const DecoderImage &img, SliceGroupMap &map);

// The units of a width x height picture in box-out order, from the centre outwards; clockwise for
// direction 0, counter-clockwise for 1.
std::vector<int> BoxOutOrder(int width, int height, int direction);
