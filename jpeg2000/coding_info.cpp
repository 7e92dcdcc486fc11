// The accessors common to forward_info and reverse_info: tile and tile-component rectangles, level
// and band rectangles with their SSO-DWT frames, and the kernels of every level and direction.
#include "jpeg2000/coding_info.h"

#include "jpeg2000/local_services.h"

namespace zn::j2k {

namespace {

// ceil(v / 2^s) for any sign of v; s may reach 32.
int64_t CeilShift(int64_t v, int s)
{
    return -((-v) >> s);
}

int64_t CeilDiv(int64_t v, int64_t d)
{
    return v >= 0 ? (v + d - 1) / d : -((-v) / d);
}

const char *FunctionName(int which)
{
    static const char *const names[] = {"get_kernel_type", "get_convolution_taps", "get_float_steps",
                                        "get_int_steps"};
    return names[which];
}

void CheckDirection(int direction, int which)
{
    if (direction != INFO__HORIZONTAL && direction != INFO__VERTICAL)
        local_error("Illegal kernel direction supplied to function, `%s'!!  Must be one of INFO__VERTICAL or "
                    "INFO__HORIZONTAL.",
                    FunctionName(which));
}

// Band edges and frame of one direction, moved down the branches of the band's digits.
struct Edges
{
    int64_t first, last; // [first, last)
    int anchor, size, log2;
};

void Descend(Edges &e, int high)
{
    if (high) {
        e.first >>= 1;
        e.last >>= 1;
        e.anchor >>= 1;
    } else {
        e.first = (e.first + 1) >> 1;
        e.last = (e.last + 1) >> 1;
        e.anchor = (e.anchor + 1) >> 1;
    }
    e.size >>= 1;
    e.log2 -= 1;
}

} // namespace

void coding_info::BuildTiles(const canvas_tiling &c)
{
    tile_partition p = build_tile_partition(c);
    m_canvas = c;
    if (m_canvas.tile_height == 0 && m_canvas.tile_width == 0) {
        m_canvas.tile_height = c.top + c.height;
        m_canvas.tile_width = c.left + c.width;
    }
    m_tile_rows = p.rows;
    m_tile_columns = p.columns;
    m_tiles.clear();
    for (const tile_info &t : p.tiles) {
        tile_record r;
        static_cast<tile_info &>(r) = t;
        m_tiles.push_back(r);
    }
    m_current_tile = 0;
}

void coding_info::build_level_records(component_info &ci, int kernel_type)
{
    ci.level.assign(size_t(ci.levels) + 1, level_info{});
    int next = 0;
    for (int i = ci.levels; i >= 0; --i) {
        level_info &li = ci.level[size_t(i)];
        if (i > 0) {
            li.hp_descent = ci.hp_descent[next];
            if (next + 1 < kMaxDescentValues && ci.hp_descent[next + 1] != 0)
                ++next;
        }
        int depth = ci.levels - i;
        frame_info &f = li.frame;
        f.log2_height = ci.log2_frame_height - depth;
        f.log2_width = ci.log2_frame_width - depth;
        if (li.hp_descent > f.log2_height || li.hp_descent > f.log2_width || f.log2_height < 0 ||
            f.log2_width < 0)
            local_error("Frame dimensions are too small for the number of resolution levels in some image "
                        "component.  Each frame must have at least one sample in each resolution level!");
        f.height = 1 << f.log2_height;
        f.width = 1 << f.log2_width;
        f.anchor_row = ci.anchor_row;
        f.anchor_col = ci.anchor_col;
        f.vert_sso = ci.vert_sso_levels >= i ? 1 : 0;
        f.hor_sso = ci.hor_sso_levels >= i ? 1 : 0;
        if (i == 0) {
            li.first_band = li.last_band = 0;
        } else if (li.hp_descent == 0) {
            li.first_band = 0;
            li.last_band = -1;
        } else {
            li.first_band = 1 << (2 * (li.hp_descent - 1));
            li.last_band = (1 << (2 * li.hp_descent)) - 1;
        }
        li.bands.assign(size_t(li.last_band + 1), band_info{});
        li.hor.type = li.vert.type = kernel_type;
    }
}

int coding_info::KernelTypeFor(const component_info &ci) const
{
    if (ci.reversible)
        return kKernelIntLifting;
    return m_convolution ? kKernelConvolution : kKernelFloatLifting;
}

const component_array &coding_info::TileArray(int tile) const
{
    int array = (tile >= 0 && tile < int(m_tiles.size())) ? m_tiles[size_t(tile)].array : 0;
    return m_arrays[size_t(array)];
}

const component_info &coding_info::Component(int tile, int component) const
{
    if (component < 0 || component >= m_num_components)
        local_error("Image component %d does not exist; the image has %d components!", component,
                    m_num_components);
    return TileArray(tile)[size_t(component)];
}

void coding_info::CheckCurrentTile() const
{
    if (m_current_tile < 0 || m_current_tile >= int(m_tiles.size()))
        local_error("Attempting to access level information beyond the last image tile!");
}

const component_info &coding_info::tile_component(int component) const
{
    CheckCurrentTile();
    return Component(m_current_tile, component);
}

const level_info &coding_info::Level(int component, int level) const
{
    const component_info &ci = tile_component(component);
    if (level < 0 || level > ci.levels)
        local_error("Resolution level %d does not exist in image component %d, which has %d levels!", level,
                    component, ci.levels);
    return ci.level[size_t(level)];
}

const level_info &coding_info::level_record(int component, int level) const
{
    return Level(component, level);
}

const band_info &coding_info::band_record(int component, int level, int band) const
{
    const level_info &li = Level(component, level);
    if (band < li.first_band || band > li.last_band)
        local_error("Band %d does not exist at resolution level %d of image component %d!", band, level,
                    component);
    return li.bands[size_t(band)];
}

std::vector<int> coding_info::level_bands(const level_info &level)
{
    std::vector<int> bands;
    for (int b = level.first_band; b <= level.last_band; ++b)
        bands.push_back(b);
    return bands;
}

int coding_info::get_tile_info(int component, int tile, int *column, int *row, canvas_rect *rect,
                               int *hor_factor, int *vert_factor, int *signed_precision) const
{
    if (tile < 0 || tile >= int(m_tiles.size()))
        return 0;
    const tile_record &t = m_tiles[size_t(tile)];
    if (column)
        *column = t.column;
    if (row)
        *row = t.row;
    int fx = 1, fy = 1;
    if (component >= 0) {
        const component_info &ci = Component(tile, component);
        fx = ci.hor_factor;
        fy = ci.vert_factor;
        if (signed_precision)
            *signed_precision = ci.is_signed ? -ci.precision : ci.precision;
    }
    if (hor_factor)
        *hor_factor = fx;
    if (vert_factor)
        *vert_factor = fy;
    if (rect) {
        int64_t top = CeilDiv(t.y0, fy), left = CeilDiv(t.x0, fx);
        rect->first_row = int(top);
        rect->first_col = int(left);
        rect->rows = int(CeilDiv(int64_t(t.y0) + t.height, fy) - top);
        rect->cols = int(CeilDiv(int64_t(t.x0) + t.width, fx) - left);
    }
    return 1;
}

int coding_info::get_tile_component_info(int component, int *tile, canvas_rect *rect, int *reversible,
                                         int *frac_bits) const
{
    CheckCurrentTile();
    const component_info &ci = Component(m_current_tile, component);
    const tile_record &t = m_tiles[size_t(m_current_tile)];
    if (tile)
        *tile = m_current_tile;
    if (rect) {
        canvas_rect r;
        get_tile_info(component, m_current_tile, nullptr, nullptr, &r, nullptr, nullptr, nullptr);
        int T = t.row > 0 ? ci.overlap_t : 0, B = t.row < m_tile_rows - 1 ? ci.overlap_b : 0;
        int L = t.column > 0 ? ci.overlap_l : 0, R = t.column < m_tile_columns - 1 ? ci.overlap_r : 0;
        r.rows += T + B;
        r.first_row -= T;
        r.cols += L + R;
        r.first_col -= L;
        *rect = r;
    }
    if (reversible)
        *reversible = ci.reversible;
    if (frac_bits)
        *frac_bits = ci.frac_bits;
    return ci.levels;
}

int coding_info::next_tile(int reset)
{
    if (reset) {
        m_current_tile = 0;
        return 4;
    }
    if (m_current_tile < int(m_tiles.size()))
        ++m_current_tile;
    if (m_current_tile >= int(m_tiles.size()))
        return 0;
    return m_tiles[size_t(m_current_tile)].column == 0 ? 2 : 1;
}

int coding_info::get_level_info(int component, int level, canvas_rect *rect, int *hp_descent,
                                frame_info *frame) const
{
    const level_info &li = Level(component, level);
    const component_info &ci = tile_component(component);
    if (rect) {
        canvas_rect tc;
        get_tile_component_info(component, nullptr, &tc, nullptr, nullptr);
        int s = ci.levels - level;
        int64_t top = CeilShift(tc.first_row, s), bottom = CeilShift(int64_t(tc.first_row) + tc.rows, s);
        int64_t left = CeilShift(tc.first_col, s), right = CeilShift(int64_t(tc.first_col) + tc.cols, s);
        rect->first_row = int(top);
        rect->first_col = int(left);
        rect->rows = int(bottom - top);
        rect->cols = int(right - left);
    }
    if (hp_descent)
        *hp_descent = li.hp_descent;
    if (frame)
        *frame = li.frame;
    return 1;
}

int coding_info::get_band_info(int component, int level, int band, canvas_rect *rect, frame_info *frame) const
{
    band_record(component, level, band);
    const level_info &li = Level(component, level);
    canvas_rect lr;
    get_level_info(component, level, &lr, nullptr, nullptr);
    Edges v{lr.first_row, int64_t(lr.first_row) + lr.rows, li.frame.anchor_row, li.frame.height,
            li.frame.log2_height};
    Edges h{lr.first_col, int64_t(lr.first_col) + lr.cols, li.frame.anchor_col, li.frame.width,
            li.frame.log2_width};
    int digits = level == 0 ? 0 : li.hp_descent;
    for (int k = digits - 1; k >= 0; --k) {
        int digit = (band >> (2 * k)) & 3;
        Descend(v, digit & 2);
        Descend(h, digit & 1);
    }
    if (rect) {
        rect->first_row = int(v.first);
        rect->first_col = int(h.first);
        rect->rows = int(v.last - v.first);
        rect->cols = int(h.last - h.first);
    }
    if (frame) {
        *frame = li.frame;
        frame->height = v.size;
        frame->width = h.size;
        frame->anchor_row = v.anchor;
        frame->anchor_col = h.anchor;
        frame->log2_height = v.log2;
        frame->log2_width = h.log2;
    }
    return int(v.last - v.first);
}

const wavelet_kernel &coding_info::Kernel(int direction, int component, int level) const
{
    const level_info &li = Level(component, level);
    return direction == INFO__HORIZONTAL ? li.hor : li.vert;
}

const wavelet_kernel &coding_info::kernel(int direction, int component, int level) const
{
    CheckDirection(direction, 0);
    return Kernel(direction, component, level);
}

int coding_info::get_kernel_type(int direction, int selector, int component, int level, int *low_neg,
                                 int *low_pos, int *high_neg, int *high_pos) const
{
    if (selector != INFO__ANALYSIS && selector != INFO__SYNTHESIS)
        local_error("Illegal kernel selector supplied to function, `get_kernel_type'!!  Must be one of "
                    "INFO__ANALYSIS or INFO__SYNTHESIS.");
    CheckDirection(direction, 0);
    const wavelet_kernel &k = Kernel(direction, component, level);
    const tap_set &low = selector == INFO__ANALYSIS ? k.analysis_low : k.synthesis_low;
    const tap_set &high = selector == INFO__ANALYSIS ? k.analysis_high : k.synthesis_high;
    if (low_neg)
        *low_neg = low.neg_support;
    if (low_pos)
        *low_pos = low.pos_support;
    if (high_neg)
        *high_neg = high.neg_support;
    if (high_pos)
        *high_pos = high.pos_support;
    return k.type;
}

void coding_info::get_convolution_taps(int direction, int component, int level, const float **low_centre,
                                       const float **high_centre) const
{
    CheckDirection(direction, 1);
    const wavelet_kernel &k = Kernel(direction, component, level);
    if (k.type != kKernelConvolution)
        local_error("Attempting to retrieve convolution taps for a Wavelet kernel which is to be implemented "
                    "by lifting rather than convolution!!");
    const tap_set &low = m_synthesis_taps ? k.synthesis_low : k.analysis_low;
    const tap_set &high = m_synthesis_taps ? k.synthesis_high : k.analysis_high;
    if (low_centre)
        *low_centre = low.taps.data() + low.neg_support;
    if (high_centre)
        *high_centre = high.taps.data() + high.neg_support;
}

int coding_info::get_float_steps(int direction, int component, int level, int *neg, int *pos,
                                 const float **centres, float *low_scale, float *high_scale) const
{
    CheckDirection(direction, 2);
    const wavelet_kernel &k = Kernel(direction, component, level);
    if (k.type != kKernelFloatLifting)
        local_error("Attempting to retrieve non-reversible lifting steps for a Wavelet kernel which is to be "
                    "implemented using either reversible lifting steps or convolution!");
    for (int s = 0; s < k.num_steps; ++s) {
        const tap_set &st = k.steps[s];
        if (neg)
            neg[s] = st.neg_support;
        if (pos)
            pos[s] = st.pos_support;
        if (centres)
            centres[s] = st.taps.data() + st.neg_support;
    }
    if (low_scale)
        *low_scale = k.low_scale;
    if (high_scale)
        *high_scale = k.high_scale;
    return k.num_steps;
}

int coding_info::get_int_steps(int direction, int component, int level, int *neg, int *pos,
                               const int **centres, int *downshifts) const
{
    CheckDirection(direction, 3);
    const wavelet_kernel &k = Kernel(direction, component, level);
    if (k.type != kKernelIntLifting)
        local_error("Attempting to retrieve reversible lifting steps for a Wavelet kernel which is to be "
                    "implemented using either non-reversible lifting steps or convolution!");
    for (int s = 0; s < k.num_steps; ++s) {
        const tap_set &st = k.steps[s];
        if (neg)
            neg[s] = st.neg_support;
        if (pos)
            pos[s] = st.pos_support;
        if (centres)
            centres[s] = st.int_taps.data() + st.neg_support;
        if (downshifts)
            downshifts[s] = st.downshift;
    }
    return k.num_steps;
}

} // namespace zn::j2k
