// Region-of-interest masks. Regions are drawn on a component's canvas, but the block coders need, for
// every subband sample, the largest boost of the regions it contributes to: a subband sample belongs
// to a region when any image sample its synthesis filters reconstruct lies in the region. A tree of
// mask stages mirrors the wavelet tree: each split widens its parent's mask rows by the synthesis
// filters' supports, one row at a time, and each stage keeps only the rows its children still need.
// For rectangles only, a fast path maps each rectangle straight into every subband.
#pragma once

#include "jpeg2000/coding_info.h"

#include <cstdint>
#include <map>
#include <memory>
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

// The rows a mask stage has made and not yet recycled: rows [first, first + held) with the number
// of readers each still has. A row whose count has reached 0 is reused for the next row.
struct roi_row_cache
{
    int initial_count = 0; // children of the stage; for a band, its width (blocks take columns)
    int held = 0;
    int first = 0;
    int capacity = 0;
    std::vector<int> counts;
    std::vector<std::vector<uint8_t>> rows;
    int total_rows = 0, width = 0;
    int first_row = 0, first_col = 0; // absolute, at the stage's resolution
};

// One node of a mask tree: a vertical split, a horizontal split or a band.
class roi_mask_stage
{
public:
    roi_mask_stage(int kind, const int supports[4]);
    virtual ~roi_mask_stage();
    roi_mask_stage(const roi_mask_stage &) = delete;
    roi_mask_stage &operator=(const roi_mask_stage &) = delete;

    // Records the stage's rectangle and starts its children on their shares of it.
    virtual void start_mask(const region_rect &rect);
    // The next mask row of child `asking`, `length` bytes.
    virtual void get_mask_row(roi_mask_stage *asking, uint8_t *out, int length);
    // The regions of child `asking`, mapped from this stage's own (made on first use).
    virtual std::vector<roi_region> make_child_regions(roi_mask_stage *asking);
    virtual void terminate();

    // This stage's regions: the tile's at the root, else mapped down by the parent.
    const std::vector<roi_region> &Regions();

    int kind; // INFO__VERTICAL, INFO__HORIZONTAL, or 0 for a band
    std::unique_ptr<roi_mask_stage> low, high;
    int supports[4]; // negative and positive supports of the low-pass, then the high-pass synthesis filter
    roi_mask_stage *parent = nullptr;
    std::vector<roi_region> regions;
    bool regions_made = false;
    roi_row_cache cache;
    int next_row[2] = {0, 0}; // per child, its next row
    int released[2] = {0, 0}; // per child, the rows it has let go of

protected:
    // Rows [a, a + n) of the stage (null outside its rectangle), made as needed.
    void GetRows(int a, int n, const uint8_t **out);
    void ReleaseRows(int a, int n, int k);
    int ChildIndex(const roi_mask_stage *child) const { return child == high.get() ? 1 : 0; }
    // Starts the children on their shares of the rectangle, split along rows or columns.
    void StartChildren(const region_rect &rect, bool vertical);

private:
    void MakeRow();
};

class roi_mask_vert_stage : public roi_mask_stage
{
public:
    using roi_mask_stage::roi_mask_stage;
    void start_mask(const region_rect &rect) override;
    void get_mask_row(roi_mask_stage *asking, uint8_t *out, int length) override;
    std::vector<roi_region> make_child_regions(roi_mask_stage *asking) override;

private:
    std::vector<const uint8_t *> m_window;
};

class roi_mask_hor_stage : public roi_mask_stage
{
public:
    using roi_mask_stage::roi_mask_stage;
    void start_mask(const region_rect &rect) override;
    void get_mask_row(roi_mask_stage *asking, uint8_t *out, int length) override;
    std::vector<roi_region> make_child_regions(roi_mask_stage *asking) override;
};

class roi_mask_band : public roi_mask_stage
{
public:
    roi_mask_band();
    void start_mask(const region_rect &rect) override;
    // The mask of the block at band-relative rows [first_row, first_row + rows) and columns
    // [first_col, first_col + cols), row by row into `out` (rows x cols).
    void block_mask(int rows, int cols, int first_row, int first_col, bool fast, uint8_t *out);
};

// The mask tree of one tile-component and its band leaves.
class roi_mask_tree
{
public:
    // Builds and starts the tree of the current tile's component. Levels above `highest_used` keep
    // only their low-low path (the decoder's discarded levels). `fast` maps rectangles instead of rows.
    void build(const coding_info &info, int component, const std::vector<roi_region> &regions,
               const region_rect &tile_component, int highest_used, bool fast);
    // Fills `out` (rows x cols, row-major) with the band's mask for the block at band-relative rows
    // [first_row, first_row + rows) and columns [first_col, first_col + cols). False without the band.
    bool block_mask(int level, int band, int rows, int cols, int first_row, int first_col, uint8_t *out);
    void clear();
    // Mask rows held by all the tree's stages now (line-based: a few per stage).
    int cached_rows() const;

private:
    std::unique_ptr<roi_mask_stage> Node(const coding_info &info, int component, int level, int d, int band);
    std::unique_ptr<roi_mask_stage> m_root;
    std::map<std::pair<int, int>, roi_mask_band *> m_bands;
    int m_highest_used = 0;
    bool m_fast = false;
};

// The regions drawn on row y (absolute) of a rectangle starting at column `first_col`, `width` wide:
// each byte the largest boost covering it.
void rasterise_region_row(const std::vector<roi_region> &regions, int64_t y, int first_col, int width,
                          uint8_t *row);
// The same over a whole rectangle.
std::vector<uint8_t> rasterise_regions(const std::vector<roi_region> &regions, const region_rect &rect);

} // namespace zn::j2k
