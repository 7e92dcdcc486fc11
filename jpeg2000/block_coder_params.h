// What the block coders and the row loops ask of the coding parameters (the encoder's and the
// decoder's parameter objects answer the same questions), and of the region-of-interest objects.
// Tiles, components, levels and bands are walked through these calls only, so the block coders
// never depend on how the parameters were chosen or read.
#pragma once

#include "jpeg2000/ebcot_encoder_records.h"

#include <cstdint>
#include <memory>

namespace zn::j2k {

// Frame (cell) geometry of a level or band: cell height and width, anchor row and column, their
// log2 values, and the vertical and horizontal SSO flags.
struct frame_geometry
{
    int32_t height = 1 << 28, width = 1 << 28;
    int32_t anchor_row = 0, anchor_col = 0;
    int32_t log2_height = 28, log2_width = 28;
    int32_t vertical_sso = 0, horizontal_sso = 0;
};

class block_coder_params
{
public:
    virtual ~block_coder_params() = default;
    // Tile `tile` of `component` (-1: the tile on the reference grid, factors 1). False past the
    // last tile. Every out-pointer may be null.
    virtual bool get_tile_info(int component, int tile, int *column, int *row, enc_rect *rect, int *sub_x,
                               int *sub_y, int *signed_precision) = 0;
    // The current tile's component, widened by its overlaps; returns its number of levels.
    virtual int get_tile_component_info(int component, int *tile, enc_rect *rect, int *reversible,
                                        int *fraction_bits) = 0;
    // reset != 0: back to tile 0 (returns 4); else the next tile: 0 past the last, 2 at the start
    // of a tile row, else 1.
    virtual int next_tile(int reset) = 0;
    virtual void get_level_info(int component, int level, enc_rect *rect, int *hp_descent,
                                frame_geometry *frame) = 0;
    // Returns the band's rows.
    virtual int get_band_info(int component, int level, int band, enc_rect *rect, frame_geometry *frame) = 0;
    // Step, its negated exponent, the distortion weight (encoder only; may be null) and K.
    virtual void get_band_quant_info(int component, int level, int band, float *step, int *negative_exponent,
                                     float *weight, int *K) = 0;
};

// The region-of-interest calls of the block coders.
class roi_block_masks
{
public:
    virtual ~roi_block_masks() = default;
    // The component's boost in the current tile, the level's align flag and the max-shift flag.
    virtual int get_boost(int component, int level, int *align, int *max_shift) = 0;
    // Fills one mask byte per sample of the block at band-relative rows [first_row, first_row + rows)
    // and columns [first_column, ...) (row pointers into it; null rows with max-shift) and gives the
    // block's shift; returns the boost range left in the mask.
    virtual int get_block_mask(int component, int level, int band, int rows, int columns, int first_row,
                               int first_column, int *shift, uint8_t **row_pointers) = 0;
    virtual void next_tile() = 0;
};

class forward_info;
class reverse_info;
class roi_encoder;
class roi_decoder;

// The coding parameter and region objects of both sides, as the block coders see them.
std::unique_ptr<block_coder_params> make_block_coder_params(forward_info &info);
std::unique_ptr<block_coder_params> make_block_coder_params(reverse_info &info);
std::unique_ptr<roi_block_masks> make_roi_block_masks(roi_encoder &roi);
std::unique_ptr<roi_block_masks> make_roi_block_masks(roi_decoder &roi);

} // namespace zn::j2k
