// The mask tree of one tile-component, line by line: the root draws the regions a row at a time,
// every split marks a child sample wherever its synthesis filter reaches a marked sample of the
// parent, and a band hands block masks to the block coders as they come down the band. A row stays
// in a stage's cache only until each child (or, in a band, each block across it) has taken it.
#include "jpeg2000/roi_mask.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace zn::j2k {

namespace {

constexpr int kUnread = -1;

struct Interval
{
    int first, last; // inclusive, absolute
};

// The child interval of one branch that a region [f, l] reaches through the child's synthesis filter
// (supports N, P), inside the parent's samples [x0, x1]; false when it reaches none.
bool MapInterval(int f, int l, int x0, int x1, int high, int N, int P, Interval *out)
{
    if (l < f || l < x0 || f > x1)
        return false; // an empty region reaches nothing
    if (!high) {
        out->first = (1 + std::max(f - P, x0)) >> 1;
        out->last = std::min(x1, l + N) >> 1;
    } else {
        out->first = std::max(f - P, x0) >> 1;
        out->last = (std::min(x1, l + N) - 1) >> 1;
    }
    return out->first <= out->last;
}

// The rectangles of a child branch: each region's rows (or columns) mapped, those reaching none dropped.
std::vector<roi_region> MapRegions(const std::vector<roi_region> &regions, bool rows, int x0, int x1,
                                   int high, int N, int P)
{
    std::vector<roi_region> out;
    for (const roi_region &g : regions) {
        Interval i;
        if (!MapInterval(rows ? g.first_row : g.first_col, rows ? g.last_row : g.last_col, x0, x1, high, N, P,
                         &i))
            continue;
        roi_region m = g;
        (rows ? m.first_row : m.first_col) = i.first;
        (rows ? m.last_row : m.last_col) = i.last;
        out.push_back(m);
    }
    return out;
}

} // namespace

void rasterise_region_row(const std::vector<roi_region> &regions, int64_t y, int first_col, int width,
                          uint8_t *row)
{
    std::fill_n(row, std::max(width, 0), uint8_t(0));
    for (const roi_region &g : regions) {
        int64_t a, b;
        if (g.kind == 1) {
            if (y < g.first_row || y > g.last_row)
                continue;
            a = g.first_col;
            b = g.last_col;
        } else {
            const double d = g.radius_sq - double(y - g.centre_row) * double(y - g.centre_row);
            if (d < 0)
                continue;
            const int64_t s = int64_t(std::floor(std::sqrt(d)));
            a = g.centre_col - s;
            b = g.centre_col + s;
        }
        a = std::max<int64_t>(a - first_col, 0);
        b = std::min<int64_t>(b - first_col, width - 1);
        for (int64_t x = a; x <= b; ++x)
            row[x] = std::max<uint8_t>(row[x], uint8_t(g.boost));
    }
}

std::vector<uint8_t> rasterise_regions(const std::vector<roi_region> &regions, const region_rect &rect)
{
    std::vector<uint8_t> plane(size_t(rect.rows) * size_t(rect.cols), 0);
    for (int r = 0; r < rect.rows; ++r)
        rasterise_region_row(regions, int64_t(rect.first_row) + r, rect.first_col, rect.cols,
                             plane.data() + size_t(r) * size_t(rect.cols));
    return plane;
}

roi_mask_stage::roi_mask_stage(int kind, const int s[4]) : kind(kind), supports{s[0], s[1], s[2], s[3]} {}

roi_mask_stage::~roi_mask_stage() = default;

void roi_mask_stage::start_mask(const region_rect &rect)
{
    cache = roi_row_cache{};
    cache.total_rows = rect.rows;
    cache.width = rect.cols;
    cache.first_row = rect.first_row;
    cache.first_col = rect.first_col;
    cache.initial_count = (low ? 1 : 0) + (high ? 1 : 0);
    next_row[0] = next_row[1] = 0;
    released[0] = released[1] = 0;
}

void roi_mask_stage::get_mask_row(roi_mask_stage *, uint8_t *out, int length)
{
    std::fill_n(out, std::max(length, 0), uint8_t(0));
}

std::vector<roi_region> roi_mask_stage::make_child_regions(roi_mask_stage *)
{
    return {};
}

void roi_mask_stage::terminate()
{
    if (low)
        low->terminate();
    if (high)
        high->terminate();
    cache = roi_row_cache{};
    regions.clear();
}

void roi_mask_stage::StartChildren(const region_rect &rect, bool vertical)
{
    for (int b = 0; b < 2; ++b)
        if (roi_mask_stage *child = b ? high.get() : low.get())
            child->start_mask(split_region(rect, vertical, b));
}

const std::vector<roi_region> &roi_mask_stage::Regions()
{
    if (!regions_made) {
        if (parent)
            regions = parent->make_child_regions(this);
        regions_made = true;
    }
    return regions;
}

void roi_mask_stage::MakeRow()
{
    roi_row_cache &c = cache;
    const int r = c.first + c.held;
    if (c.held > 0 && c.counts[0] <= 0) {
        // The oldest row has no reader left: its buffer becomes the new last row.
        std::rotate(c.rows.begin(), c.rows.begin() + 1, c.rows.end());
        std::rotate(c.counts.begin(), c.counts.begin() + 1, c.counts.end());
        ++c.first;
    } else {
        c.rows.emplace_back(size_t(std::max(c.width, 1)));
        c.counts.push_back(0);
        ++c.held;
        ++c.capacity;
    }
    c.counts.back() = c.initial_count;
    uint8_t *row = c.rows.back().data();
    if (parent)
        parent->get_mask_row(this, row, c.width);
    else
        rasterise_region_row(Regions(), int64_t(c.first_row) + r, c.first_col, c.width, row);
}

void roi_mask_stage::GetRows(int a, int n, const uint8_t **out)
{
    const int last = std::min(a + n - 1, cache.total_rows - 1);
    while (cache.first + cache.held <= last)
        MakeRow();
    for (int i = a; i < a + n; ++i) {
        if (i < 0 || i >= cache.total_rows) {
            out[i - a] = nullptr;
            continue;
        }
        if (i < cache.first)
            local_error("The region-of-interest mask was asked for row %d, which it has given up already!",
                        i);
        out[i - a] = cache.rows[size_t(i - cache.first)].data();
    }
}

void roi_mask_stage::ReleaseRows(int a, int n, int k)
{
    for (int i = std::max(a, cache.first); i < std::min(a + n, cache.first + cache.held); ++i)
        cache.counts[size_t(i - cache.first)] -= k;
}

void roi_mask_vert_stage::start_mask(const region_rect &rect)
{
    if (supports[0] + supports[1] + 1 < 2 || supports[2] + supports[3] + 1 < 2)
        local_error(
            "The memory efficient ROI implementation works only for vertical filters whose support spans "
            "at least 2 rows!");
    roi_mask_stage::start_mask(rect);
    m_window.assign(size_t(std::max(supports[0] + supports[1], supports[2] + supports[3]) + 1), nullptr);
    StartChildren(rect, true);
}

void roi_mask_vert_stage::get_mask_row(roi_mask_stage *asking, uint8_t *out, int length)
{
    const int v = ChildIndex(asking);
    const int c = next_row[v]++;
    const int p = (cache.first_row & 1) ^ v;
    const int g = 2 * c + p, N = supports[2 * v], P = supports[2 * v + 1];
    GetRows(g - N, N + P + 1, m_window.data());
    std::fill_n(out, std::max(length, 0), uint8_t(0));
    for (int j = 0; j < N + P + 1; ++j)
        if (const uint8_t *row = m_window[size_t(j)])
            for (int x = 0; x < length; ++x)
                out[x] = std::max(out[x], row[x]);
    // The child's next row starts two rows further down: the rows above that are done for it.
    const int upto = g - N + 2;
    ReleaseRows(released[v], upto - released[v], 1);
    released[v] = std::max(released[v], upto);
}

std::vector<roi_region> roi_mask_vert_stage::make_child_regions(roi_mask_stage *asking)
{
    const int v = ChildIndex(asking);
    return MapRegions(Regions(), true, cache.first_row, cache.first_row + cache.total_rows - 1, v,
                      supports[2 * v], supports[2 * v + 1]);
}

void roi_mask_hor_stage::start_mask(const region_rect &rect)
{
    roi_mask_stage::start_mask(rect);
    StartChildren(rect, false);
}

void roi_mask_hor_stage::get_mask_row(roi_mask_stage *asking, uint8_t *out, int length)
{
    const int h = ChildIndex(asking);
    const int r = next_row[h]++;
    const uint8_t *row = nullptr;
    GetRows(r, 1, &row);
    const int p = (cache.first_col & 1) ^ h, N = supports[2 * h], P = supports[2 * h + 1];
    const int width = cache.width;
    for (int i = 0; i < length; ++i) {
        uint8_t m = 0;
        if (row)
            for (int x = std::max(0, 2 * i + p - N); x <= std::min(width - 1, 2 * i + p + P); ++x)
                m = std::max(m, row[x]);
        out[i] = m;
    }
    ReleaseRows(r, 1, 1);
}

std::vector<roi_region> roi_mask_hor_stage::make_child_regions(roi_mask_stage *asking)
{
    const int h = ChildIndex(asking);
    return MapRegions(Regions(), false, cache.first_col, cache.first_col + cache.width - 1, h,
                      supports[2 * h], supports[2 * h + 1]);
}

namespace {
constexpr int kNoSupports[4] = {0, 0, 0, 0};
}

roi_mask_band::roi_mask_band() : roi_mask_stage(0, kNoSupports) {}

void roi_mask_band::start_mask(const region_rect &rect)
{
    roi_mask_stage::start_mask(rect);
    cache.initial_count = rect.cols; // a row is done once blocks across the whole band have taken it
}

void roi_mask_band::block_mask(int rows, int cols, int first_row, int first_col, bool fast, uint8_t *out)
{
    std::fill_n(out, size_t(std::max(rows, 0)) * size_t(std::max(cols, 0)), uint8_t(0));
    if (fast) {
        const int64_t y0 = int64_t(cache.first_row) + first_row, x0 = int64_t(cache.first_col) + first_col;
        for (const roi_region &g : Regions()) {
            const int64_t a = std::max<int64_t>(g.first_row, y0),
                          b = std::min<int64_t>(g.last_row, y0 + rows - 1);
            const int64_t l = std::max<int64_t>(g.first_col, x0),
                          r = std::min<int64_t>(g.last_col, x0 + cols - 1);
            for (int64_t y = a; y <= b; ++y)
                for (int64_t x = l; x <= r; ++x) {
                    uint8_t &o = out[size_t(y - y0) * size_t(cols) + size_t(x - x0)];
                    o = std::max<uint8_t>(o, uint8_t(g.boost));
                }
        }
        return;
    }
    if (rows <= 0 || cols <= 0 || cache.width <= 0)
        return; // an empty block takes no row
    std::vector<const uint8_t *> src(static_cast<size_t>(rows));
    GetRows(first_row, rows, src.data());
    const int from = std::max(first_col, 0), to = std::min(first_col + cols, cache.width);
    for (int y = 0; y < rows; ++y)
        if (src[size_t(y)] && to > from)
            std::memcpy(out + size_t(y) * size_t(cols) + size_t(from - first_col), src[size_t(y)] + from,
                        size_t(to - from));
    ReleaseRows(first_row, rows, cols);
}

void roi_mask_tree::build(const coding_info &info, int component, const std::vector<roi_region> &regions,
                          const region_rect &tile_component, int highest_used, bool fast)
{
    clear();
    m_highest_used = highest_used;
    m_fast = fast;
    const int levels = info.get_tile_component_info(component, nullptr, nullptr, nullptr, nullptr);
    m_root = Node(info, component, levels, kUnread, 0);
    m_root->regions = regions;
    m_root->regions_made = true;
    m_root->start_mask(tile_component);
}

void roi_mask_tree::clear()
{
    if (m_root)
        m_root->terminate();
    m_root.reset();
    m_bands.clear();
}

std::unique_ptr<roi_mask_stage> roi_mask_tree::Node(const coding_info &info, int component, int level, int d,
                                                    int band)
{
    if (level == 0) {
        auto leaf = std::make_unique<roi_mask_band>();
        m_bands[{0, band}] = leaf.get();
        return leaf;
    }
    if (d == kUnread) {
        info.get_level_info(component, level, nullptr, &d, nullptr);
        if (d == 0)
            return Node(info, component, level - 1, kUnread, band);
    }
    int vs[4], hs[4];
    info.get_kernel_type(INFO__VERTICAL, INFO__SYNTHESIS, component, level, &vs[0], &vs[1], &vs[2], &vs[3]);
    info.get_kernel_type(INFO__HORIZONTAL, INFO__SYNTHESIS, component, level, &hs[0], &hs[1], &hs[2], &hs[3]);
    auto vert = std::make_unique<roi_mask_vert_stage>(INFO__VERTICAL, vs);
    for (int v = 0; v < 2; ++v) {
        auto hor = std::make_unique<roi_mask_hor_stage>(INFO__HORIZONTAL, hs);
        for (int h = 0; h < 2; ++h) {
            const int c = 4 * band + 2 * v + h;
            if (c != 0 && level > m_highest_used)
                continue; // a discarded level: only its low-low path is needed
            std::unique_ptr<roi_mask_stage> child;
            if (c == 0) {
                child = Node(info, component, level - 1, kUnread, 0);
            } else if (d < 2) {
                auto leaf = std::make_unique<roi_mask_band>();
                m_bands[{level, c}] = leaf.get();
                child = std::move(leaf);
            } else {
                child = Node(info, component, level, d - 1, c);
            }
            child->parent = hor.get();
            (h ? hor->high : hor->low) = std::move(child);
        }
        if (!hor->low && !hor->high)
            continue;
        hor->parent = vert.get();
        (v ? vert->high : vert->low) = std::move(hor);
    }
    return vert;
}

int roi_mask_tree::cached_rows() const
{
    std::function<int(const roi_mask_stage *)> count = [&](const roi_mask_stage *s) {
        return s ? s->cache.capacity + count(s->low.get()) + count(s->high.get()) : 0;
    };
    return count(m_root.get());
}

bool roi_mask_tree::block_mask(int level, int band, int rows, int cols, int first_row, int first_col,
                               uint8_t *out)
{
    auto it = m_bands.find({level, band});
    if (it == m_bands.end())
        return false;
    it->second->block_mask(rows, cols, first_row, first_col, m_fast, out);
    return true;
}

} // namespace zn::j2k
