#include "jpeg2000/tile_partition.h"

#include "jpeg2000/local_services.h"

#include <algorithm>

namespace zn::j2k {

tile_partition build_tile_partition(const canvas_tiling &in)
{
    canvas_tiling c = in;
    if (c.top < 0 || c.left < 0)
        local_error(
            "The `-Fref' argument requires non-negative row and column indices for the top-left pixel "
            "relative to the origin of the canvas.");
    if (c.height <= 0 || c.width <= 0)
        local_error("The image has no samples (%d rows, %d columns).", c.height, c.width);
    if (c.tile_height == 0 && c.tile_width == 0) {
        c.tile_height = c.top + c.height;
        c.tile_width = c.left + c.width;
    }
    if (c.tile_height < 1 || c.tile_width < 1)
        local_error("The `-Ftiles' argument requires positive hi-res tile dimensions as its parameters.");
    if (c.ref_row < 0 || c.ref_col < 0)
        local_error("The `-Ftile_ref' argument requires a row and a column index for the tile partitioning "
                    "reference point, both of which must be non-negative.");
    if (c.ref_col > c.left || c.ref_row > c.top)
        local_error(
            "The tiling reference point must lie between the origin of the canvas (0,0) and the upper left "
            "hand corner of the image on the canvas (%d,%d).",
            c.top, c.left);
    if (int64_t(c.top) >= int64_t(c.ref_row) + c.tile_height ||
        int64_t(c.left) >= int64_t(c.ref_col) + c.tile_width)
        local_error(
            "The upper left hand corner of the image has been displaced so far from the origin of the canvas "
            "coordinate system that the first tile of the image is completely empty.  Supply different "
            "coordinates to the `-Fref' argument!");
    tile_partition p;
    int64_t bottom = int64_t(c.top) + c.height, right = int64_t(c.left) + c.width;
    p.rows = int((bottom - c.ref_row + c.tile_height - 1) / c.tile_height);
    p.columns = int((right - c.ref_col + c.tile_width - 1) / c.tile_width);
    if (int64_t(p.rows) * p.columns > 65535)
        local_error("Too many tiles (%d x %d); at most 65535 can be coded.", p.rows, p.columns);
    for (int i = 0; i < p.rows; ++i)
        for (int j = 0; j < p.columns; ++j) {
            tile_info t;
            t.index = i * p.columns + j;
            t.row = i;
            t.column = j;
            int64_t y0 = std::max<int64_t>(c.ref_row + int64_t(i) * c.tile_height, c.top);
            int64_t y1 = std::min<int64_t>(c.ref_row + int64_t(i + 1) * c.tile_height, bottom);
            int64_t x0 = std::max<int64_t>(c.ref_col + int64_t(j) * c.tile_width, c.left);
            int64_t x1 = std::min<int64_t>(c.ref_col + int64_t(j + 1) * c.tile_width, right);
            t.y0 = int(y0);
            t.x0 = int(x0);
            t.height = int(y1 - y0);
            t.width = int(x1 - x0);
            p.tiles.push_back(t);
        }
    return p;
}

namespace {
int CeilShift(int v, int s)
{
    return int(-((-int64_t(v)) >> s));
}
} // namespace

region_rect level_region(const region_rect &full, int levels, int level)
{
    int s = levels - level;
    if (s < 0 || s > 32)
        local_error("Level %d does not exist in a %d-level decomposition.", level, levels);
    if (s == 32)
        s = 31; // every edge of a 32-bit grid divides to 0 or 1 here
    region_rect r;
    r.first_row = CeilShift(full.first_row, s);
    r.first_col = CeilShift(full.first_col, s);
    r.rows = CeilShift(full.first_row + full.rows, s) - r.first_row;
    r.cols = CeilShift(full.first_col + full.cols, s) - r.first_col;
    return r;
}

} // namespace zn::j2k
