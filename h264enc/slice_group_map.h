// The encoder's macroblock-to-slice-group map: which slice group each macroblock belongs to, and the
// order in which a slice visits the macroblocks of its group. Static maps (dispersed, box) are made
// once per run; the evolving maps (box-out, raster, wipe) grow group 0 by a fixed number of
// macroblocks with each I or P picture. Field pictures and macroblock-adaptive frames read the first
// half of the map: a field's macroblocks, or a frame's macroblock pairs, in raster order.
#pragma once

#include "h264dec/h264_shared.h"

#include <array>
#include <vector>

namespace h264enc {

struct FmoSettings
{
    int num_slice_groups_minus1 = 0;
    int type = 0;
    int top_left_mb = 0, bottom_right_mb = 0;  // type 3
    int change_direction = 0, change_rate = 0; // types 4 to 6
};

struct EncoderFmo
{
    SliceGroupMap map; // MBAmap with its geometry; read through slice_group_of_mb
    std::array<int, kMaxSliceGroups> next_start{};
    FmoSettings settings;
    bool field_picture = false; // only the first half of the map counts
    // Macroblock-adaptive frames: a unit is a macroblock pair (pair p = map entry p, in the first half),
    // so that a slice, which starts at a pair, holds both macroblocks of each of its pairs.
    bool pair_units = false;
    // Evolving maps.
    int cycle = 0;
    bool map_complete = false;
};

// Builds the map for a picture of width x height macroblocks. One group: all zeros. Map types 0 and 2
// are not generated, and types above 6 do not exist: each ends the run (code -1).
void h264enc_fmo_init(EncoderFmo &fmo, int width_mbs, int height_mbs, const FmoSettings &settings);
void h264enc_fmo_free(EncoderFmo &fmo);
void h264enc_fmo_start_picture(EncoderFmo &fmo);
int slice_group_picture_done();
// The first and the last unit of a group in the picture being coded (the first half of the map in a
// field picture or a macroblock-adaptive frame), -1 when the group has none there.
int h264enc_fmo_first_mb(const EncoderFmo &fmo, int group);
int h264enc_fmo_last_mb(const EncoderFmo &fmo, int group);
int h264enc_fmo_next_mb(const EncoderFmo &fmo, int n);
int h264enc_fmo_slice_start(const EncoderFmo &fmo, int group);
int h264enc_fmo_group_done(const EncoderFmo &fmo, int group);
int h264enc_fmo_set_slice_end(EncoderFmo &fmo, int n);
// Advances an evolving map (types 4 to 6) by one picture: change_rate + 1 more macroblocks join group 0;
// once the whole map is covered, the next call starts over.
void h264enc_fmo_update(EncoderFmo &fmo);

} // namespace h264enc
