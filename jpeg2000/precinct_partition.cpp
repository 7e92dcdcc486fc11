// Precinct and code-block partitions. A precinct boundary at level coordinate X lies at X / 2^s in
// a band s splits down, so in each band the precincts form a grid of (2^PPX >> s) samples whose
// origin is the level's origin carried down the band's branches; a block belongs to the precinct
// holding its first sample.
#include "jpeg2000/precinct_partition.h"

#include <algorithm>

namespace zn::j2k {

namespace {
int64_t FloorDiv(int64_t a, int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Carries a level coordinate down the band's branches: low-pass rounds up, high-pass down.
int32_t CarryDown(int32_t v, int band, int splits, bool vertical)
{
    for (int digit = splits - 1; digit >= 0; --digit) {
        int d = (band >> (2 * digit)) & 3;
        bool high = vertical ? (d & 2) != 0 : (d & 1) != 0;
        v = high ? v >> 1 : (v + 1) >> 1;
    }
    return v;
}

struct Axis
{
    int32_t start, length; // band extent
    int32_t grid, block;   // code-block grid origin and size
    int32_t origin, cell;  // precinct grid origin and size in the band
    int64_t first_cell;    // the level's first precinct cell
};

// Block starts and lengths along one axis, and each block's precinct (relative to the level's first).
void CutAxis(const Axis &a, std::vector<int32_t> &starts, std::vector<int32_t> &lengths,
             std::vector<int32_t> &cells)
{
    starts.clear();
    lengths.clear();
    cells.clear();
    if (a.length <= 0)
        return;
    int64_t at = a.start;
    const int64_t end = int64_t(a.start) + a.length;
    while (at < end) {
        int64_t next = a.grid + (FloorDiv(at - a.grid, a.block) + 1) * a.block;
        next = std::min(next, end);
        starts.push_back(static_cast<int32_t>(at - a.start));
        lengths.push_back(static_cast<int32_t>(next - at));
        cells.push_back(static_cast<int32_t>(FloorDiv(at - a.origin, a.cell) - a.first_cell));
        at = next;
    }
}
} // namespace

bool build_level_partition(const partition_level_input &in, partition_level &out)
{
    const int64_t pw = int64_t(1) << in.ppx, ph = int64_t(1) << in.ppy;
    const int64_t ex = FloorDiv(int64_t(in.rect.x0) - in.origin_x, pw) * pw;
    const int64_t ey = FloorDiv(int64_t(in.rect.y0) - in.origin_y, ph) * ph;
    const int64_t offset_x = int64_t(in.rect.x0) - in.origin_x - ex; // into the first cell
    const int64_t offset_y = int64_t(in.rect.y0) - in.origin_y - ey;
    out.precincts_across =
        static_cast<int32_t>(std::max<int64_t>(1, (in.rect.width + offset_x + pw - 1) / pw));
    out.precincts_down =
        static_cast<int32_t>(std::max<int64_t>(1, (in.rect.height + offset_y + ph - 1) / ph));
    const int64_t scale_x = int64_t(in.sub_x) << (in.levels - in.level);
    const int64_t scale_y = int64_t(in.sub_y) << (in.levels - in.level);
    out.precinct_x.clear();
    out.precinct_y.clear();
    for (int py = 0; py < out.precincts_down; ++py)
        for (int px = 0; px < out.precincts_across; ++px) {
            int64_t x = px == 0 ? in.rect.x0 : in.origin_x + ex + px * pw;
            int64_t y = py == 0 ? in.rect.y0 : in.origin_y + ey + py * ph;
            out.precinct_x.push_back(static_cast<int32_t>(x * scale_x));
            out.precinct_y.push_back(static_cast<int32_t>(y * scale_y));
        }

    const int s = in.level == 0 ? 0 : in.splits;
    const int64_t band_cell_w = pw >> std::min(s, in.ppx), band_cell_h = ph >> std::min(s, in.ppy);
    out.block_width = static_cast<int32_t>(std::min<int64_t>(in.nominal_width, s > in.ppx ? 0 : band_cell_w));
    out.block_height =
        static_cast<int32_t>(std::min<int64_t>(in.nominal_height, s > in.ppy ? 0 : band_cell_h));
    if (out.block_width == 0 || out.block_height == 0)
        return false;
    if (in.cell_width > 0)
        out.block_width = std::min(out.block_width, in.cell_width);
    if (in.cell_height > 0)
        out.block_height = std::min(out.block_height, in.cell_height);

    out.bands.assign(in.bands.size(), partition_band{});
    std::vector<int32_t> xs, ws, cx, ys, hs, cy;
    for (size_t k = 0; k < in.bands.size(); ++k) {
        const partition_band_input &b = in.bands[k];
        partition_band &pb = out.bands[k];
        const int32_t oxb = CarryDown(in.origin_x, b.index, s, false);
        const int32_t oyb = CarryDown(in.origin_y, b.index, s, true);
        const int64_t level_first_x = FloorDiv(int64_t(in.rect.x0) - in.origin_x, pw);
        const int64_t level_first_y = FloorDiv(int64_t(in.rect.y0) - in.origin_y, ph);
        CutAxis(Axis{b.rect.x0, b.rect.width, b.grid_x, out.block_width, oxb,
                     static_cast<int32_t>(band_cell_w), level_first_x},
                xs, ws, cx);
        CutAxis(Axis{b.rect.y0, b.rect.height, b.grid_y, out.block_height, oyb,
                     static_cast<int32_t>(band_cell_h), level_first_y},
                ys, hs, cy);
        pb.blocks_across = static_cast<int32_t>(xs.size());
        pb.blocks_down = static_cast<int32_t>(ys.size());
        for (size_t r = 0; r < ys.size(); ++r)
            for (size_t c = 0; c < xs.size(); ++c)
                pb.blocks.push_back(enc_rect{hs[r], ws[c], ys[r], xs[c]});
        pb.precincts.assign(size_t(out.precincts_across) * size_t(out.precincts_down),
                            partition_precinct_band{});
        // Blocks of precinct (py, px): the block columns whose cell is px and rows whose cell is py.
        for (int py = 0; py < out.precincts_down; ++py) {
            int r0 = 0;
            while (r0 < pb.blocks_down && cy[size_t(r0)] < py)
                ++r0;
            int r1 = r0;
            while (r1 < pb.blocks_down && cy[size_t(r1)] == py)
                ++r1;
            for (int px = 0; px < out.precincts_across; ++px) {
                int c0 = 0;
                while (c0 < pb.blocks_across && cx[size_t(c0)] < px)
                    ++c0;
                int c1 = c0;
                while (c1 < pb.blocks_across && cx[size_t(c1)] == px)
                    ++c1;
                partition_precinct_band &p = pb.precincts[size_t(py * out.precincts_across + px)];
                p.rows = r1 - r0;
                p.columns = c1 - c0;
                p.first_block = p.rows > 0 && p.columns > 0 ? r0 * pb.blocks_across + c0 : 0;
                if (p.rows == 0 || p.columns == 0)
                    p.rows = p.columns = 0;
            }
        }
    }
    return true;
}

} // namespace zn::j2k
