// The mask tree of one tile-component: drawn regions, split like the wavelet tree, each child marked
// wherever its synthesis filter reaches a marked sample of its parent.
#include "jpeg2000/roi_mask.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_transform.h"

#include <algorithm>
#include <cmath>

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

// One direction of a split of a mask plane: child sample i takes the largest byte of its parent
// samples g - N .. g + P that lie inside, g = 2i + p. `count` parent samples along the direction,
// `stride` and `lines` across it.
std::vector<uint8_t> Dilate(const std::vector<uint8_t> &parent, int count, int lines, bool vertical, int p,
                            int children, int N, int P)
{
    std::vector<uint8_t> child(size_t(children) * size_t(lines), 0);
    for (int i = 0; i < children; ++i) {
        int g = 2 * i + p;
        int lo = std::max(0, g - N), hi = std::min(count - 1, g + P);
        for (int j = lo; j <= hi; ++j)
            for (int k = 0; k < lines; ++k) {
                uint8_t v = vertical ? parent[size_t(j) * size_t(lines) + size_t(k)]
                                     : parent[size_t(k) * size_t(count) + size_t(j)];
                uint8_t &o = vertical ? child[size_t(i) * size_t(lines) + size_t(k)]
                                      : child[size_t(k) * size_t(children) + size_t(i)];
                o = std::max(o, v);
            }
    }
    return child;
}

} // namespace

std::vector<uint8_t> rasterise_regions(const std::vector<roi_region> &regions, const region_rect &rect)
{
    std::vector<uint8_t> plane(size_t(rect.rows) * size_t(rect.cols), 0);
    for (int r = 0; r < rect.rows; ++r) {
        int64_t y = int64_t(rect.first_row) + r;
        uint8_t *row = plane.data() + size_t(r) * size_t(rect.cols);
        for (const roi_region &g : regions) {
            int64_t a, b;
            if (g.kind == 1) {
                if (y < g.first_row || y > g.last_row)
                    continue;
                a = g.first_col;
                b = g.last_col;
            } else {
                double d = g.radius_sq - double(y - g.centre_row) * double(y - g.centre_row);
                if (d < 0)
                    continue;
                int64_t s = int64_t(std::floor(std::sqrt(d)));
                a = g.centre_col - s;
                b = g.centre_col + s;
            }
            a = std::max<int64_t>(a - rect.first_col, 0);
            b = std::min<int64_t>(b - rect.first_col, rect.cols - 1);
            for (int64_t x = a; x <= b; ++x)
                row[x] = std::max<uint8_t>(row[x], uint8_t(g.boost));
        }
    }
    return plane;
}

void roi_mask_tree::build(const coding_info &info, int component, const std::vector<roi_region> &regions,
                          const region_rect &tile_component, int highest_used, bool fast)
{
    m_bands.clear();
    m_highest_used = highest_used;
    m_fast = fast;
    int levels = info.get_tile_component_info(component, nullptr, nullptr, nullptr, nullptr);
    std::vector<uint8_t> plane;
    if (!fast)
        plane = rasterise_regions(regions, tile_component);
    Node(info, component, levels, kUnread, 0, tile_component, std::move(plane), regions);
}

void roi_mask_tree::Node(const coding_info &info, int component, int level, int d, int band,
                         const region_rect &rect, std::vector<uint8_t> plane, std::vector<roi_region> regions)
{
    auto leaf = [&](int l, int b, const region_rect &r, std::vector<uint8_t> &&p,
                    std::vector<roi_region> &&g) {
        roi_band_mask &m = m_bands[{l, b}];
        m.rect = r;
        m.bytes = std::move(p);
        m.rectangles = std::move(g);
    };
    if (level == 0) {
        leaf(0, band, rect, std::move(plane), std::move(regions));
        return;
    }
    if (d == kUnread) {
        info.get_level_info(component, level, nullptr, &d, nullptr);
        if (d == 0) {
            Node(info, component, level - 1, kUnread, band, rect, std::move(plane), std::move(regions));
            return;
        }
    }
    int vs[4], hs[4];
    info.get_kernel_type(INFO__VERTICAL, INFO__SYNTHESIS, component, level, &vs[0], &vs[1], &vs[2], &vs[3]);
    info.get_kernel_type(INFO__HORIZONTAL, INFO__SYNTHESIS, component, level, &hs[0], &hs[1], &hs[2], &hs[3]);
    if (vs[0] + vs[1] + 1 < 2 || vs[2] + vs[3] + 1 < 2)
        local_error(
            "The memory efficient ROI implementation works only for vertical filters whose support spans "
            "at least 2 rows!");
    for (int v = 0; v < 2; ++v) {
        region_rect vr = child_region(rect, v, 0);
        vr.cols = rect.cols;
        vr.first_col = rect.first_col;
        int vN = vs[2 * v], vP = vs[2 * v + 1];
        std::vector<uint8_t> vplane;
        std::vector<roi_region> vregions;
        if (m_fast) {
            vregions = MapRegions(regions, true, rect.first_row, rect.first_row + rect.rows - 1, v, vN, vP);
        } else {
            vplane = Dilate(plane, rect.rows, rect.cols, true, (rect.first_row & 1) ^ v, vr.rows, vN, vP);
        }
        for (int h = 0; h < 2; ++h) {
            int c = 4 * band + 2 * v + h;
            if (c != 0 && level > m_highest_used)
                continue; // a discarded level: only its low-low path is needed
            region_rect cr = child_region(rect, v, h);
            int hN = hs[2 * h], hP = hs[2 * h + 1];
            std::vector<uint8_t> cplane;
            std::vector<roi_region> cregions;
            if (m_fast) {
                cregions =
                    MapRegions(vregions, false, rect.first_col, rect.first_col + rect.cols - 1, h, hN, hP);
            } else {
                cplane = Dilate(vplane, rect.cols, vr.rows, false, (rect.first_col & 1) ^ h, cr.cols, hN, hP);
            }
            if (c == 0)
                Node(info, component, level - 1, kUnread, 0, cr, std::move(cplane), std::move(cregions));
            else if (d < 2)
                leaf(level, c, cr, std::move(cplane), std::move(cregions));
            else
                Node(info, component, level, d - 1, c, cr, std::move(cplane), std::move(cregions));
        }
    }
}

const roi_band_mask *roi_mask_tree::band(int level, int band) const
{
    auto it = m_bands.find({level, band});
    return it == m_bands.end() ? nullptr : &it->second;
}

bool roi_mask_tree::block_mask(int level, int band, int rows, int cols, int first_row, int first_col,
                               uint8_t *out) const
{
    const roi_band_mask *m = this->band(level, band);
    if (!m)
        return false;
    std::fill(out, out + size_t(rows) * size_t(cols), uint8_t(0));
    if (m_fast) {
        int64_t y0 = int64_t(m->rect.first_row) + first_row, x0 = int64_t(m->rect.first_col) + first_col;
        for (const roi_region &g : m->rectangles) {
            int64_t a = std::max<int64_t>(g.first_row, y0), b = std::min<int64_t>(g.last_row, y0 + rows - 1);
            int64_t l = std::max<int64_t>(g.first_col, x0), r = std::min<int64_t>(g.last_col, x0 + cols - 1);
            for (int64_t y = a; y <= b; ++y)
                for (int64_t x = l; x <= r; ++x) {
                    uint8_t &o = out[size_t(y - y0) * size_t(cols) + size_t(x - x0)];
                    o = std::max<uint8_t>(o, uint8_t(g.boost));
                }
        }
        return true;
    }
    for (int y = 0; y < rows; ++y) {
        int64_t by = int64_t(first_row) + y;
        if (by < 0 || by >= m->rect.rows)
            continue;
        for (int x = 0; x < cols; ++x) {
            int64_t bx = int64_t(first_col) + x;
            if (bx >= 0 && bx < m->rect.cols)
                out[size_t(y) * size_t(cols) + size_t(x)] =
                    m->bytes[size_t(by) * size_t(m->rect.cols) + size_t(bx)];
        }
    }
    return true;
}

} // namespace zn::j2k
