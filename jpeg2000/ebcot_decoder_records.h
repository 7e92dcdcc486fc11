// The decoder's picture of a tile, rebuilt from the code-stream's parameters: the same components,
// levels, bands, code-blocks and precincts the encoder had, plus what the packets have said so far
// of each block.
#pragma once

#include "jpeg2000/block_decode_driver.h"
#include "jpeg2000/ebcot_encoder_records.h"
#include "jpeg2000/tag_tree.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zn::j2k {

struct dec_band
{
    int32_t component = 0, level = 0, index = 0;
    int32_t orientation = 0;
    enc_rect rect;
    int32_t cell_height = 0, cell_width = 0;
    int32_t grid_y = 0, grid_x = 0;
    int32_t block_height = 0, block_width = 0;
    int32_t K = 0;
    decoder_pass_function passes[3] = {};
    int32_t roi_boost = 0;
    bool roi_max_shift = true;
    bool roi_active = false;
    int32_t pass_capacity = 0;
    int32_t blocks_across = 0, blocks_down = 0;
    std::vector<dec_block> blocks;
    std::vector<dec_pass_record> pass_storage;
    // Delivery: buffers of the current block row and the rows delivered from it.
    std::vector<int32_t *> block_buffers;
    int32_t current_block_row = 0, row_in_block_row = 0;
    bool started = false;
};

struct dec_precinct_band
{
    int32_t rows = 0, columns = 0;
    int32_t band_columns = 0;
    int32_t first_block = 0;
    dec_band *band = nullptr;
    tag_tree inclusion, zero_planes;

    int blocks() const { return rows * columns; }
    dec_block &block(int i)
    {
        return band->blocks[size_t(first_block + (i / columns) * band_columns + i % columns)];
    }
};

struct dec_precinct
{
    int32_t component = 0, level = 0, index = 0;
    int32_t y = 0, x = 0;
    std::vector<dec_precinct_band> bands;
    int32_t layers_read = 0;
    std::vector<int32_t> layer_bytes;
    bool no_more_data = false;
    int32_t last_packet = -1;
    int32_t placed = 0; // packets placed while the sequence is built
};

struct dec_level
{
    int32_t level = 0;
    enc_rect rect;
    int32_t splits = 0;
    int32_t precinct_y = 0, precinct_x = 0;
    int32_t first_band = 0, last_band = -1;
    std::vector<dec_band> bands;
    int32_t ppx = 15, ppy = 15;
    int32_t precincts_across = 0, precincts_down = 0;
    std::vector<dec_precinct> precincts;
};

struct dec_component
{
    int32_t component = 0;
    enc_rect rect;
    int32_t sub_y = 1, sub_x = 1;
    int32_t levels = 0, kept_levels = 0;
    std::vector<dec_level> level_records;
    int32_t nominal_height = 64, nominal_width = 64;
    coder_modes modes;
    bool respect_cells = false;
    int32_t confidence_bits = 0;
    std::unique_ptr<block_decoder_work> work;
};

struct dec_tile
{
    int32_t index = 0;
    enc_rect rect;
    bool built = false;
    bool overlap = false;
    std::vector<dec_component> components;
    int32_t components_to_decode = 0;
    int32_t layers = 1;
    int32_t packets = 0, packets_read = 0;
    std::vector<packet_entry> sequence;
    int32_t order = 0;
    std::vector<progression_change> changes;
    std::vector<dec_precinct *> precincts;
};

} // namespace zn::j2k
