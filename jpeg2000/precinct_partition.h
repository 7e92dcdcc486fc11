// The partitions of one resolution level: precincts on a grid of 2^PPX x 2^PPY level samples, and
// in each of the level's bands code-blocks on a grid of their own, never larger than a precinct's
// share of the band. Encoder and decoder build the same partition from the same parameters, so a
// packet names the same blocks on both sides.
#pragma once

#include "jpeg2000/ebcot_encoder_records.h"

#include <vector>

namespace zn::j2k {

struct partition_band_input
{
    int32_t index = 0; // band index within the level's decomposition
    enc_rect rect;     // absolute band coordinates
    int32_t grid_y = 0, grid_x = 0;
};

struct partition_level_input
{
    int32_t level = 0, levels = 0; // r and L
    int32_t splits = 0;            // s
    enc_rect rect;
    int32_t origin_y = 0, origin_x = 0; // precinct grid origin in level coordinates
    int32_t ppx = 15, ppy = 15;
    int32_t sub_y = 1, sub_x = 1;
    int32_t nominal_height = 64, nominal_width = 64;
    int32_t cell_height = 0, cell_width = 0; // the first band's cell; 0: code-blocks ignore cells
    std::vector<partition_band_input> bands;
};

struct partition_precinct_band
{
    int32_t first_block = 0;
    int32_t rows = 0, columns = 0;
};

struct partition_band
{
    int32_t blocks_across = 0, blocks_down = 0;
    std::vector<enc_rect> blocks;                   // offsets within the band, raster order
    std::vector<partition_precinct_band> precincts; // one per precinct of the level, raster order
};

struct partition_level
{
    int32_t precincts_across = 0, precincts_down = 0;
    std::vector<int32_t> precinct_y, precinct_x; // reference-grid corners
    int32_t block_height = 0, block_width = 0;   // effective code-block size of the level's bands
    std::vector<partition_band> bands;
};

// False when the precincts leave no whole sample for a code-block in some band (block size 0).
bool build_level_partition(const partition_level_input &in, partition_level &out);

// The first and last band index of a level with `splits` splits (level 0: band 0).
inline void level_band_range(int level, int splits, int *first, int *last)
{
    if (level == 0) {
        *first = *last = 0;
    } else if (splits <= 0) {
        *first = 0;
        *last = -1;
    } else {
        *first = 1 << (2 * (splits - 1));
        *last = (1 << (2 * splits)) - 1;
    }
}

// Orientation of band `band` at a level with `splits` splits: 0 low-pass, 1 horizontally
// high-pass, 2 vertically high-pass, 3 both.
inline int band_orientation(int band, int splits)
{
    return splits <= 1 ? band : band >> (2 * splits - 2);
}

} // namespace zn::j2k
