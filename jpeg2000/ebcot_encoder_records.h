// The encoder's picture of a tile: components, resolution levels, bands cut into code-blocks, and
// precincts, which gather the blocks of a level's bands over one area into a packet per layer.
// Block coding fills the blocks; tier 2 reads them band by band within each precinct.
#pragma once

#include "jpeg2000/block_encode_driver.h"
#include "jpeg2000/tag_tree.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zn::j2k {

struct enc_rect
{
    int32_t height = 0, width = 0, y0 = 0, x0 = 0;
};

struct enc_block
{
    int32_t y = 0, x = 0, height = 0, width = 0; // within the band
    block_code code;
    // Tier 2: passes included up to the current layer, the count before it, and the length
    // indicator, with copies to undo a trial.
    int32_t included = 0, saved_included = 0;
    int32_t lblock = 3, saved_lblock = 3;
};

struct enc_band
{
    int32_t component = 0, level = 0, index = 0;
    int32_t orientation = 0;
    enc_rect rect;
    int32_t cell_height = 0, cell_width = 0;   // the band's frame
    int32_t grid_y = 0, grid_x = 0;            // code-block grid origin
    int32_t block_height = 0, block_width = 0; // effective code-block size
    band_code_state code;                      // K, weight, chunk chain, pass functions
    float visual_weight = -1.0f;               // progressive weight; negative: none
    int32_t blocks_across = 0, blocks_down = 0;
    std::vector<enc_block> blocks;
    std::vector<pass_record> pass_storage; // pass_capacity per block
    // Rows arriving for the current block row, and its buffers (one per block column).
    int32_t rows_received = 0, current_block_row = 0;
    std::vector<int32_t *> block_buffers;
    // Region of interest.
    int32_t roi_boost = 0;
    int32_t roi_mask_mode = 0;
    bool roi_active = false;
    // Scan buffer: rows received in the current element and the element height.
    int32_t scan_rows = 0, scan_element_height = 0;
};

struct enc_precinct_band
{
    int32_t rows = 0, columns = 0; // blocks of the precinct in this band
    int32_t band_columns = 0;      // the band's blocks across: the block array's row pitch
    int32_t first_block = 0;       // index into the band's blocks
    enc_band *band = nullptr;
    tag_tree inclusion, zero_planes, saved_inclusion, saved_zero_planes;

    int blocks() const { return rows * columns; }
    enc_block &block(int i)
    {
        return band->blocks[size_t(first_block + (i / columns) * band_columns + i % columns)];
    }
};

struct enc_precinct
{
    int32_t component = 0, level = 0, index = 0;
    int32_t y = 0, x = 0; // top-left corner on the reference grid
    std::vector<enc_precinct_band> bands;
    int32_t placed = 0;               // packets placed in the sequence so far
    std::vector<int32_t> layer_bytes; // packet bytes per layer
};

struct enc_level
{
    int32_t level = 0;
    enc_rect rect;
    int32_t splits = 0;
    int32_t precinct_y = 0, precinct_x = 0; // precinct partition origin
    int32_t first_band = 0, last_band = -1;
    std::vector<enc_band> bands;
    int32_t ppx = 15, ppy = 15;
    int32_t precincts_across = 0, precincts_down = 0;
    std::vector<enc_precinct> precincts;
    int32_t cursor = 0;
};

struct enc_component
{
    int32_t component = 0;
    enc_rect rect;
    int32_t sub_y = 1, sub_x = 1;
    int32_t levels = 0;
    std::vector<enc_level> level_records; // 0..L
    int32_t nominal_height = 64, nominal_width = 64;
    coder_modes modes;
    bool respect_cells = false;
    bool masking = false;
    float masking_exponent = 0.0f;
    bool no_truncation = false;
    std::unique_ptr<block_coder_work> work;
};

struct progression_change
{
    int32_t min_level = 0, min_component = 0;
    int32_t layer_limit = 0, level_limit = 0, component_limit = 0;
    int32_t order = 0; // the order for the packets after this box
};

struct packet_entry
{
    int32_t layer = 0;
    int32_t precinct = 0; // index into the tile's flat precinct list
};

struct enc_tile
{
    int32_t index = 0;
    enc_rect rect;
    bool overlap = false;
    std::vector<enc_component> components;
    int32_t layers = 1;
    int32_t packets = 0;
    std::vector<packet_entry> sequence;
    int32_t order = 0;
    std::vector<progression_change> changes;
    int32_t length = 0;
    std::vector<enc_precinct *> precincts; // every precinct of the tile, component by component
};

} // namespace zn::j2k
