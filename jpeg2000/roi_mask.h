// Region-of-interest masks. Regions are drawn on a component's canvas, but the block coders need, for
// every subband sample, the largest boost of the regions it contributes to: a subband sample belongs
// to a region when any image sample its synthesis filters reconstruct lies in the region. The mask
// follows the wavelet tree down from the tile-component, widening by the synthesis filters' supports
// at every split. The generic path does this on mask planes for any region shape; the fast path, for
// rectangles only, maps each rectangle straight into every subband.
#pragma once

#include "jpeg2000/coding_info.h"

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace zn::j2k {

inline constexpr char kRoiMemory[] = "ROI OBJECT MEMORY";

// A region on the component's canvas (inclusive bounds); a circle's bounds are its bounding box.
struct roi_region
{
    int boost = 0;
    int kind = 1; // 1 rectangle, 0 circle
    int first_row = 0, first_col = 0, last_col = 0, last_row = 0;
    int centre_row = 0, centre_col = 0;
    int radius = 0;
    double radius_sq = 0;
};

// The mask of one subband: one byte per sample, the largest boost covering it, 0 outside regions.
struct roi_band_mask
{
    region_rect rect; // absolute, at the band's resolution
    std::vector<uint8_t> bytes;
    std::vector<roi_region> rectangles; // the fast path's mapped rectangles, absolute band coordinates
};

class roi_mask_tree
{
public:
    // Builds every band's mask of the current tile's component. Levels above `highest_used` keep only
    // their low-low path (the decoder's discarded levels). `fast` maps rectangles instead of planes.
    void build(const coding_info &info, int component, const std::vector<roi_region> &regions,
               const region_rect &tile_component, int highest_used, bool fast);
    // Fills `out` (rows x cols, row-major) with the band's mask for the block at band-relative rows
    // [first_row, first_row + rows) and columns [first_col, first_col + cols). False without the band.
    bool block_mask(int level, int band, int rows, int cols, int first_row, int first_col,
                    uint8_t *out) const;
    const roi_band_mask *band(int level, int band) const;

private:
    struct Supports
    {
        int low_neg, low_pos, high_neg, high_pos;
    };
    void Node(const coding_info &info, int component, int level, int d, int band, const region_rect &rect,
              std::vector<uint8_t> plane, std::vector<roi_region> regions);
    std::map<std::pair<int, int>, roi_band_mask> m_bands;
    int m_highest_used = 0;
    bool m_fast = false;
};

// The generic root mask: the regions drawn on a tile-component rectangle.
std::vector<uint8_t> rasterise_regions(const std::vector<roi_region> &regions, const region_rect &rect);

} // namespace zn::j2k
