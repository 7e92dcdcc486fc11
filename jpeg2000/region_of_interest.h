// Region-of-interest coding by scaling. Samples of a code-block that belong to a region are shifted up
// by the region's boost (bit-planes), so the block coder codes them before the background. The encoder
// object reads the regions from "-Rrgn" (rectangles and circles with boosts, per component and tile),
// signals them in the code-stream, and gives the block coder each block's mask of boosts and shift;
// the decoder object reads the regions back and gives the same masks. With the max-shift method no
// geometry travels: the decoder tells region samples by their magnitude.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/roi_mask.h"

#include <memory>
#include <vector>

namespace zn::j2k {

class command_line;
class forward_info;
class reverse_info;
class stream_in;
class stream_out;

// A boost is a shift of a 32-bit sample word, so it stays below 32.
constexpr int kMaxRoiBoost = 31;

// What both sides keep per component and tile.
struct roi_tile_record
{
    int tile = 0;
    region_rect rect;                // the tile-component
    std::vector<roi_region> regions; // list order: the last specified first
    int max_shift = 0;
    int boost = 0; // the largest
    int rectangles_only = 1;
    int own_specification = 0;
};

struct roi_component
{
    int levels = 0;
    roi_mask_tree masks;
    int boost = 0;
    int max_shift = 0;
    int rectangles_only = 1;
    std::vector<uint8_t> scratch;
    std::vector<uint8_t *> rows;
    int height = 0, width = 0, first_row = 0, first_col = 0; // the component on the canvas
    std::vector<roi_tile_record> tiles;
};

// Masks of a component's current tile for the block coders of both sides.
class roi_masks
{
public:
    virtual ~roi_masks() = default;
    // The mask of the block at band-relative rows [first_row, first_row + rows) and columns
    // [first_col, first_col + cols): `row_pointers` get one pointer per block row into it. Returns the
    // range of boosts left in the mask after `shift`, the boost every sample gets, is taken out.
    virtual int get_block_mask(int component, int level, int band, int rows, int cols, int first_row,
                               int first_col, int *shift, uint8_t **row_pointers) = 0;
    virtual int next_tile() = 0;
};

class roi_encoder : public roi_masks
{
public:
    void initialize(int num_components, forward_info *info, stream_out *out, command_line *args);
    usage_table get_usage();
    // The component's largest boost in the current tile, with the level's align flag and the
    // component's max-shift flag.
    int get_boost(int component, int level, int ignored, int *align, int *max_shift) const;
    int get_block_mask(int component, int level, int band, int rows, int cols, int first_row, int first_col,
                       int *shift, uint8_t **row_pointers) override;
    int next_tile() override;
    void terminate();

    const roi_component &component(int c) const { return m_components[size_t(c)]; }

private:
    void ParseRegions(int tile, const char *const *params, int count, bool own);
    void ParseMaxShift(int tile, const char *const *params, int count, bool own);
    void DeclareElements(int scope, const roi_tile_record &record, int component, stream_out *out);
    void PrepareTile();

    forward_info *m_info = nullptr;
    int m_num_components = 0;
    int m_align = 0;
    int m_generic = 0;
    int m_tile = 0;
    std::vector<roi_component> m_components;
};

class roi_decoder : public roi_masks
{
public:
    void initialize(int discarded, int num_components, reverse_info *info, stream_in *in, command_line *args);
    usage_table get_usage();
    int get_boost(int component, int ignored, int ignored2, int *max_shift) const;
    // With the max-shift method the row pointers are null and the boost is returned.
    int get_block_mask(int component, int level, int band, int rows, int cols, int first_row, int first_col,
                       int *shift, uint8_t **row_pointers) override;
    int next_tile() override;
    void terminate();

    const roi_component &component(int c) const { return m_components[size_t(c)]; }

private:
    void PrepareTile();

    reverse_info *m_info = nullptr;
    stream_in *m_in = nullptr;
    int m_num_components = 0;
    int m_discarded = 0;
    int m_generic = 0;
    int m_tile = 0;
    std::vector<roi_component> m_components;
};

std::unique_ptr<roi_encoder> create_roi_encoder();
std::unique_ptr<roi_decoder> create_roi_decoder();

} // namespace zn::j2k
