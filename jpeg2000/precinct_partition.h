// The partitions of one resolution level: precincts on a grid of 2^PPX x 2^PPY level samples, and
// in each of the level's bands code-blocks on a grid of their own, never larger than a precinct's
// share of the band. Encoder and decoder build the same partition from the same parameters, so a
// packet names the same blocks on both sides.
#pragma once

#include "jpeg2000/block_coder_params.h"
#include "jpeg2000/ebcot_encoder_records.h"
#include "jpeg2000/tag_tree.h"

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

// The partition input of a level of an encoder's or a decoder's tile-component (their records
// share these fields).
template <class Component, class Level>
partition_level_input make_partition_input(const Component &comp, const Level &lv)
{
    partition_level_input in;
    in.level = lv.level;
    in.levels = comp.levels;
    in.splits = lv.splits;
    in.rect = lv.rect;
    in.origin_y = lv.precinct_y;
    in.origin_x = lv.precinct_x;
    in.ppx = lv.ppx;
    in.ppy = lv.ppy;
    in.sub_y = comp.sub_y;
    in.sub_x = comp.sub_x;
    in.nominal_height = comp.nominal_height;
    in.nominal_width = comp.nominal_width;
    if (comp.respect_cells && !lv.bands.empty()) {
        in.cell_height = lv.bands[0].cell_height;
        in.cell_width = lv.bands[0].cell_width;
    }
    for (const auto &b : lv.bands)
        in.bands.push_back(partition_band_input{b.index, b.rect, b.grid_y, b.grid_x});
    return in;
}

// Gives the level's bands their code-blocks and the level its precinct counts.
template <class Level> void apply_band_partition(Level &lv, const partition_level &out)
{
    lv.precincts_across = out.precincts_across;
    lv.precincts_down = out.precincts_down;
    for (size_t k = 0; k < lv.bands.size(); ++k) {
        auto &band = lv.bands[k];
        const partition_band &pb = out.bands[k];
        band.block_height = out.block_height;
        band.block_width = out.block_width;
        band.blocks_across = pb.blocks_across;
        band.blocks_down = pb.blocks_down;
        band.blocks.resize(pb.blocks.size());
        for (size_t i = 0; i < pb.blocks.size(); ++i) {
            band.blocks[i].y = pb.blocks[i].y0;
            band.blocks[i].x = pb.blocks[i].x0;
            band.blocks[i].height = pb.blocks[i].height;
            band.blocks[i].width = pb.blocks[i].width;
        }
    }
}

// Gives the level its precinct records: corners and, per band, the blocks each one holds, with
// empty tag trees over them.
template <class Level> void apply_precinct_partition(Level &lv, const partition_level &out, int component)
{
    lv.precincts.resize(size_t(out.precincts_across) * size_t(out.precincts_down));
    for (size_t p = 0; p < lv.precincts.size(); ++p) {
        auto &P = lv.precincts[p];
        P.component = component;
        P.level = lv.level;
        P.index = static_cast<int32_t>(p);
        P.y = out.precinct_y[p];
        P.x = out.precinct_x[p];
        P.bands.resize(lv.bands.size());
        for (size_t k = 0; k < lv.bands.size(); ++k) {
            const partition_precinct_band &src = out.bands[k].precincts[p];
            auto &pb = P.bands[k];
            pb.rows = src.rows;
            pb.columns = src.columns;
            pb.band_columns = lv.bands[k].blocks_across;
            pb.first_block = src.first_block;
            pb.band = &lv.bands[k];
            pb.inclusion = tag_tree_create(pb.rows, pb.columns);
            pb.zero_planes = tag_tree_create(pb.rows, pb.columns);
        }
    }
}

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

// A band record of an encoder's or a decoder's level: its place, orientation, rectangle and the
// cell grid it lies on.
template <class Band>
void set_band_geometry(Band &band, block_coder_params &info, int component, int level, int index, int splits)
{
    band.component = component;
    band.level = level;
    band.index = index;
    band.orientation = band_orientation(index, splits);
    frame_geometry bf;
    info.get_band_info(component, level, index, &band.rect, &bf);
    band.cell_height = bf.height;
    band.cell_width = bf.width;
    band.grid_y = bf.anchor_row;
    band.grid_x = bf.anchor_col;
}

} // namespace zn::j2k
