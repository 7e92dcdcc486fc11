// Progression orders. The layer orders nest plain loops; the spatial ones walk the reference grid in
// steps fine enough to meet every precinct's corner and take a level's next precinct when the walk
// reaches it, so precincts of different sizes and sub-sampled components interleave by position.
#include "jpeg2000/packet_sequence.h"

#include "jpeg2000/local_services.h"

#include <algorithm>
#include <cstring>

namespace zn::j2k {

namespace {
struct Box
{
    int32_t layers = 0;
    int32_t min_level = 0, level_end = 0;
    int32_t min_component = 0, component_end = 0;
};

class Walker
{
public:
    explicit Walker(sequence_input &in) : m_in(in) {}

    void Region(int order, const progression_change *box);
    std::vector<packet_entry> out;

private:
    bool HasLevel(int c, int r) const
    {
        return r < static_cast<int>(m_in.components[size_t(c)].levels.size());
    }
    void Place(int precinct, int layer)
    {
        sequence_precinct &p = m_in.precincts[size_t(precinct)];
        if (layer >= p.placed) {
            out.push_back(packet_entry{layer, precinct});
            ++p.placed;
        }
    }
    void PlaceRemaining(int precinct)
    {
        for (int l = m_in.precincts[size_t(precinct)].placed; l < m_box.layers; ++l)
            Place(precinct, l);
    }
    void LevelPrecincts(int c, int r, int layer)
    {
        const sequence_level &lv = m_in.components[size_t(c)].levels[size_t(r)];
        for (int i = 0; i < lv.precincts_across * lv.precincts_down; ++i)
            Place(lv.first_precinct + i, layer);
    }
    int64_t StepX(int c, int r) const
    {
        const sequence_component &sc = m_in.components[size_t(c)];
        const int L = static_cast<int>(sc.levels.size()) - 1;
        return int64_t(sc.sub_x) << std::min(40, sc.levels[size_t(r)].ppx + L - r);
    }
    int64_t StepY(int c, int r) const
    {
        const sequence_component &sc = m_in.components[size_t(c)];
        const int L = static_cast<int>(sc.levels.size()) - 1;
        return int64_t(sc.sub_y) << std::min(40, sc.levels[size_t(r)].ppy + L - r);
    }
    // Takes the level's next precinct when the walk stands at its corner.
    void Visit(int c, int r, int64_t y, int64_t x, int64_t y_first, int64_t x_first)
    {
        if (!HasLevel(c, r))
            return;
        const sequence_level &lv = m_in.components[size_t(c)].levels[size_t(r)];
        int32_t &cursor = m_cursors[size_t(c)][size_t(r)];
        if (cursor >= lv.precincts_across * lv.precincts_down)
            return;
        const sequence_precinct &p = m_in.precincts[size_t(lv.first_precinct + cursor)];
        if ((y == y_first || y == p.y) && (x == x_first || x == p.x)) {
            ++cursor;
            PlaceRemaining(lv.first_precinct + cursor - 1);
        }
    }
    template <class Body> void Walk(int64_t ystep, int64_t xstep, Body body)
    {
        const int64_t y0 = m_in.tile.y0, x0 = m_in.tile.x0;
        const int64_t yf = ystep > 0 ? (y0 / ystep) * ystep : y0, xf = xstep > 0 ? (x0 / xstep) * xstep : x0;
        for (int64_t y = yf; y < y0 + m_in.tile.height; y += ystep) {
            for (int64_t x = xf; x < x0 + m_in.tile.width; x += xstep) {
                body(y, x, yf, xf);
                if (xstep <= 0)
                    break;
            }
            if (ystep <= 0)
                break;
        }
    }
    void Spatial(int order);

    sequence_input &m_in;
    Box m_box;
    std::vector<std::vector<int32_t>> m_cursors;
};

void Walker::Spatial(int order)
{
    if (order == 2 || order == 3)
        for (const sequence_component &sc : m_in.components)
            if ((sc.sub_x & (sc.sub_x - 1)) || (sc.sub_y & (sc.sub_y - 1)))
                local_error("Cannot use packet progressions where spatial progression dominates component "
                            "progression unless component sub-sampling factors are exact powers of 2!");
    if (m_in.overlap)
        local_error("Spatially oriented packet progressions not defined for overlapping tiles!");
    for (int c = m_box.min_component; c < static_cast<int>(m_in.components.size()); ++c)
        for (int r = m_box.min_level; HasLevel(c, r); ++r)
            m_cursors[size_t(c)][size_t(r)] = 0;
    auto steps = [&](int c_first, int c_end, int r_first, int r_end, int64_t *ys, int64_t *xs) {
        *ys = *xs = 0;
        for (int c = c_first; c < c_end; ++c)
            for (int r = r_first; r < r_end; ++r)
                if (HasLevel(c, r)) {
                    int64_t sx = StepX(c, r), sy = StepY(c, r);
                    *xs = *xs == 0 ? sx : std::min(*xs, sx);
                    *ys = *ys == 0 ? sy : std::min(*ys, sy);
                }
    };
    const Box &b = m_box;
    int64_t ys = 0, xs = 0;
    if (order == 2) {
        for (int r = b.min_level; r < b.level_end; ++r) {
            steps(b.min_component, b.component_end, r, r + 1, &ys, &xs);
            Walk(ys, xs, [&](int64_t y, int64_t x, int64_t yf, int64_t xf) {
                for (int c = b.min_component; c < b.component_end; ++c)
                    Visit(c, r, y, x, yf, xf);
            });
        }
    } else if (order == 3) {
        steps(b.min_component, b.component_end, b.min_level, b.level_end, &ys, &xs);
        Walk(ys, xs, [&](int64_t y, int64_t x, int64_t yf, int64_t xf) {
            for (int c = b.min_component; c < b.component_end; ++c)
                for (int r = b.min_level; r < b.level_end; ++r)
                    Visit(c, r, y, x, yf, xf);
        });
    } else {
        for (int c = b.min_component; c < b.component_end; ++c) {
            steps(c, c + 1, b.min_level, b.level_end, &ys, &xs);
            Walk(ys, xs, [&](int64_t y, int64_t x, int64_t yf, int64_t xf) {
                for (int r = b.min_level; r < b.level_end; ++r)
                    Visit(c, r, y, x, yf, xf);
            });
        }
    }
}

void Walker::Region(int order, const progression_change *box)
{
    int32_t levels = 0;
    for (const sequence_component &sc : m_in.components)
        levels = std::max(levels, static_cast<int32_t>(sc.levels.size()));
    const int32_t components = static_cast<int32_t>(m_in.components.size());
    m_box = Box{m_in.layers, 0, levels, 0, components};
    if (box) {
        m_box.layers = std::min(m_in.layers, box->layer_limit);
        m_box.min_level = std::max(0, box->min_level);
        m_box.level_end = std::min(levels, box->level_limit);
        m_box.min_component = std::max(0, box->min_component);
        m_box.component_end = std::min(components, box->component_limit);
    }
    if (m_cursors.empty())
        for (const sequence_component &sc : m_in.components)
            m_cursors.emplace_back(sc.levels.size(), 0);
    const Box &b = m_box;
    switch (order) {
    case 0:
        for (int l = 0; l < b.layers; ++l)
            for (int r = b.min_level; r < b.level_end; ++r)
                for (int c = b.min_component; c < b.component_end; ++c)
                    if (HasLevel(c, r))
                        LevelPrecincts(c, r, l);
        break;
    case 1:
        for (int r = b.min_level; r < b.level_end; ++r)
            for (int l = 0; l < b.layers; ++l)
                for (int c = b.min_component; c < b.component_end; ++c)
                    if (HasLevel(c, r))
                        LevelPrecincts(c, r, l);
        break;
    default:
        Spatial(order);
        break;
    }
}
} // namespace

std::vector<packet_entry> build_packet_sequence(sequence_input &in)
{
    for (sequence_precinct &p : in.precincts)
        p.placed = 0;
    Walker w(in);
    const int changes = static_cast<int>(in.changes.size());
    for (int region = 0; region <= changes; ++region) {
        const int order = region == 0 ? in.order : in.changes[size_t(region - 1)].order;
        w.Region(order, region < changes ? &in.changes[size_t(region)] : nullptr);
    }
    return std::move(w.out);
}

int progression_order_code(const char *name)
{
    static const char *const kNames[] = {"L", "RL", "RP", "PC", "CP"};
    for (int i = 0; i < 5; ++i)
        if (std::strcmp(name, kNames[i]) == 0)
            return i;
    return -1;
}

const char *progression_order_name(int code)
{
    static const char *const kNames[] = {"L", "RL", "RP", "PC", "CP"};
    return code >= 0 && code < 5 ? kNames[code] : "?";
}

} // namespace zn::j2k
