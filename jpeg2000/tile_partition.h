// The tile partition of the reference grid. The image occupies [top, top + height) x [left, left +
// width) on the grid; tiles of a nominal size are laid from a reference point at or above and left
// of the image, and clipped to it, so the first and last tiles of a row or column may be smaller.
#pragma once

#include "jpeg2000/wavelet_transform.h"

#include <vector>

namespace zn::j2k {

struct canvas_tiling
{
    int top = 0, left = 0;               // image offset on the grid ("-Fref")
    int height = 0, width = 0;           // image size on the grid
    int tile_height = 0, tile_width = 0; // 0: one tile covering the image ("-Ftiles")
    int ref_row = 0, ref_col = 0;        // tiling reference point ("-Ftile_ref")
};

struct tile_info
{
    int index = 0, column = 0, row = 0;
    int height = 0, width = 0, y0 = 0, x0 = 0;
};

struct tile_partition
{
    int rows = 0, columns = 0;
    std::vector<tile_info> tiles; // raster order
};

// Checks the geometry (errors end the run) and lays out the tiles.
tile_partition build_tile_partition(const canvas_tiling &c);

// The region of resolution `level` of a `levels`-level decomposition: edges divided by
// 2^(levels - level), rounding up.
region_rect level_region(const region_rect &full, int levels, int level);

} // namespace zn::j2k
