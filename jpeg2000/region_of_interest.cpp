// The ROI encoder and decoder: regions from the options or the code-stream, per component and tile,
// the region marker elements, and the block masks the block coders ask for.
#include "jpeg2000/region_of_interest.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/forward_info.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/reverse_info.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/stream_out.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace zn::j2k {

namespace {

const char *const kEncoderUsage[] = {
    "-Rrgn[+<tnum>] <boost> [R <y> <x> <ht> <wd>]|[C <y> <x> <rad>] [*] ...",
    "This argument may appear only once, but it can take a potentially very large number of parameters.  The "
    "argument specifies boost and geometric information for one or more regions, which may be customized on "
    "a "
    "component basis.  Moreover, like most command-line arguments, the tile-specific form may be used to "
    "override "
    "default region configurations.  The argument consists of one or more parameter sets, which may be "
    "interspersed with `*' characters if separate parameter sets are to be specified for different "
    "components.  "
    "Each parameter set commences with a `boost' value which must be a positive integer indicating the "
    "amount by "
    "which sample values are effectively shifted up above the background, if they contribute to the region "
    "of "
    "interest.   The parameter set then contains either an `R' or a `C' character, depending upon whether a "
    "rectangular or a circular geometry is to be specified.  Rectangular geometries are specified with four "
    "parameters corresponding to the y- and x-coordinates of the upper left hand corner and the height and "
    "width "
    "of the rectangular region, respectively; all parameters are specified relative to the dimensions of the "
    "location and size of the relevant image component on the canvas, as parameters in the range 0 to 1.  "
    "Circular regions are specified via the y- and x-coordinates of the centre, followed by the radius; "
    "again, "
    "all coordinates are specified relative to the location and size of the relevant image component, with "
    "the "
    "radius specified relative to the maximum of the two dimensions.  Any number of regions may be specified "
    "via "
    "consecutive parameter sets.  If a `*' character is encountered between parameter sets then the ensuing "
    "parameter sets are deemed to apply to the next image component in sequence.  All parameter sets after "
    "the "
    "last `*' character, if any, are deemed to apply to all remaining image components.",
    "-Ralign",
    "This flag forces the use of a single homogeneous boost value within each code-block.  In this case, no "
    "ROI "
    "geometry or boost information must be specified at all and the ROI machinery is simply being used to "
    "generate region-specific differentiation in the distortion metric applied to the different code-blocks "
    "for "
    "the purpose of quality layer generation in the EBCOT algorithm.",
    "-Rmax_shift[+<tnum>] [Y|N [Y|N [...]]] (default = explicit regions)",
    "This flag is used to specify whether or not the region of interest geometries should be determined "
    "implicitly bythe decompressor using the `max-shift' method.  By default, all geometry information is "
    "signalled explicitly through the codestream.  The argument takes one or more parameters, each of which "
    "must "
    "consist of a single character, either `Y' (use `max-shift') or `N' (do not use `max-shift' method).  "
    "The "
    "first character refers to the first component; the second character refers to the second component and "
    "so "
    "forth; the last parameter is applied to any remaining components.  Like most arguments, this argument "
    "has a "
    "tile-specific form, which can be used to override the signalling mode in specific tiles.  Note that the "
    "`max-shift' method requires that all regions of interest for the relevant tile have identical boost "
    "values "
    "and that these boost values be sufficiently large.  Violation of these conditions in any tile will "
    "generate "
    "an error; to remedy the error, the `max-shift' method must be explicitly disabled in the affected "
    "tiles.",
    "-Rno_rect",
    "This flag forces the use of the generic ROI mask generation implementation, rather than the fast "
    "rectangular mask generation.  The flag has no affect unless all ROI regions in some tile-component have "
    "rectangular geometries, since this is the condition under which the specific implementation for "
    "rectangular geometries will normally be used.",
    nullptr,
};

const char *const kDecoderUsage[] = {
    kEncoderUsage[6],
    kEncoderUsage[7],
    nullptr,
};

int ReadFlag(command_line *args, const char *name, const char *message)
{
    int n = args ? args->find(name, -1) : -1;
    if (n > 0)
        local_error("%s", message);
    return n == 0 ? 1 : 0;
}

// The component's extent on the canvas and its tile records, from the tiles in its first row and column.
template <class Info> void TileRecords(const Info &info, roi_component &rc, int component)
{
    rc.tiles.clear();
    rc.height = rc.width = 0;
    for (int t = 0;; ++t) {
        roi_tile_record r;
        int col = 0, row = 0;
        if (!info.get_tile_info(component, t, &col, &row, &r.rect, nullptr, nullptr, nullptr))
            break;
        r.tile = t;
        if (t == 0) {
            rc.first_row = r.rect.first_row;
            rc.first_col = r.rect.first_col;
        }
        if (col == 0)
            rc.height += r.rect.rows;
        if (row == 0)
            rc.width += r.rect.cols;
        rc.tiles.push_back(r);
    }
}

void Summarise(roi_tile_record &r)
{
    r.boost = 0;
    r.rectangles_only = 1;
    for (const roi_region &g : r.regions) {
        r.boost = std::max(r.boost, g.boost);
        if (g.kind == 0)
            r.rectangles_only = 0;
    }
}

// The largest of 31 - K over the bands of every level: the boost the max-shift method needs so that
// every region sample lies above every background sample.
template <class Info> int MaxShiftFloor(const Info &info, int component)
{
    int levels = info.get_tile_component_info(component, nullptr, nullptr, nullptr, nullptr), most = 0;
    for (int level = 0; level <= levels; ++level)
        for (int band : coding_info::level_bands(info.level_record(component, level))) {
            int K = 0;
            if constexpr (std::is_same_v<Info, forward_info>)
                info.get_band_quant_info(component, level, band, nullptr, nullptr, nullptr, &K);
            else
                info.get_band_quant_info(component, level, band, nullptr, nullptr, &K);
            most = std::max(most, 31 - K);
        }
    return most;
}

void CheckMaxShift(const roi_tile_record &r, int floor)
{
    for (const roi_region &g : r.regions)
        if (g.boost != r.boost)
            local_error(
                "The `-Rmax_shift' flag may only be used in conjunction with a single region boost, of "
                "sufficiently large magnitude.  You cannot have multiple regions with different boosts!");
    if (r.boost > 0 && r.boost < floor)
        local_error(
            "The `-Rmax_shift' flag may not be used with the supplied region boost values.  For the decoder "
            "to be able to implicitly recover the ROI partition information from the decoded sample values "
            "themselves, it is necessary to use a boost value of at least %d in specifying the regions of "
            "interest!",
            floor);
}

// A component's state for the current tile from its tile record: boost, method, checks and masks.
template <class Info>
void PrepareComponent(Info &info, roi_component &rc, const roi_tile_record &rec, int c, bool generic,
                      int discarded, bool masks_under_max_shift)
{
    region_rect rect;
    rc.levels = info.get_tile_component_info(c, nullptr, &rect, nullptr, nullptr);
    rc.boost = rec.boost;
    rc.max_shift = rec.max_shift;
    rc.rectangles_only = rec.rectangles_only && !generic;
    if (rc.max_shift)
        CheckMaxShift(rec, MaxShiftFloor(info, c));
    if (rc.boost > 0 && (masks_under_max_shift || !rc.max_shift))
        rc.masks.build(info, c, rec.regions, rect, rc.levels - discarded, rc.rectangles_only);
    else
        rc.masks.clear();
}

// The masks of one block through the component's mask tree, as the block coders take them.
int BlockMask(roi_component &rc, int level, int band, int rows, int cols, int first_row, int first_col,
              bool align, int *shift, uint8_t **row_pointers)
{
    *shift = 0;
    if (rc.boost == 0)
        return 0;
    if (rows < 0 || cols < 0)
        local_error("A code-block of %d rows and %d columns has no mask!", rows, cols);
    size_t n = size_t(rows) * size_t(cols);
    if (rc.scratch.size() < n)
        rc.scratch.resize(n);
    if (!rc.masks.block_mask(level, band, rows, cols, first_row, first_col, rc.scratch.data()))
        local_error("No region-of-interest mask exists for band %d of resolution level %d!", band, level);
    for (int y = 0; y < rows; ++y)
        row_pointers[y] = rc.scratch.data() + size_t(y) * size_t(cols);
    uint8_t lo = 255, hi = 0;
    for (size_t i = 0; i < n; ++i) {
        lo = std::min(lo, rc.scratch[i]);
        hi = std::max(hi, rc.scratch[i]);
    }
    if (n == 0)
        lo = hi = 0;
    if (align) {
        *shift = hi;
        return 0;
    }
    *shift = lo;
    if (lo > 0)
        for (size_t i = 0; i < n; ++i)
            rc.scratch[i] = uint8_t(rc.scratch[i] - lo);
    return hi - lo;
}

} // namespace

std::unique_ptr<roi_encoder> create_roi_encoder()
{
    return std::make_unique<roi_encoder>();
}

std::unique_ptr<roi_decoder> create_roi_decoder()
{
    return std::make_unique<roi_decoder>();
}

usage_table roi_encoder::get_usage()
{
    return kEncoderUsage;
}

usage_table roi_decoder::get_usage()
{
    return kDecoderUsage;
}

void roi_encoder::ParseRegions(int tile, const char *const *params, int count, bool own)
{
    int pos = 0;
    for (int c = 0; c < m_num_components; ++c) {
        roi_component &rc = m_components[size_t(c)];
        roi_tile_record &rec = rc.tiles[size_t(tile)];
        rec.regions.clear();
        if (own)
            rec.own_specification = 1;
        int start = pos;
        while (pos < count && std::strcmp(params[pos], "*")) {
            int boost = 0;
            char extra = 0;
            if (std::sscanf(params[pos], "%d%c", &boost, &extra) < 1 || boost < 1)
                local_error("The `-Rrgn' argument requires positive region boost parameters!");
            if (boost > kMaxRoiBoost)
                local_error(
                    "The `-Rrgn' argument accepts region boosts up to %d; a larger boost would shift samples "
                    "out of their 32-bit word!",
                    kMaxRoiBoost);
            ++pos;
            bool rect = pos < count && !std::strcmp(params[pos], "R");
            bool circle = pos < count && !std::strcmp(params[pos], "C");
            if (!rect && !circle)
                local_error(
                    "The `-Rrgn' argument requires a single `R' or `C' character immediately after the boost "
                    "value in each region specification!");
            ++pos;
            int need = rect ? 4 : 3;
            float v[4] = {0, 0, 0, 0};
            for (int i = 0; i < need; ++i) {
                if (pos >= count || std::sscanf(params[pos], "%f", &v[i]) != 1 || !(v[i] >= 0 && v[i] <= 1))
                    local_error(
                        rect
                            ? "The `-Rrgn' argument requires four relative location and dimension parameters "
                              "in the range 0 to 1, to follow each rectangular region specifier!"
                            : "The `-Rrgn' argument requires three relative location and radius parameters "
                              "in the range 0 to 1, to follow each circular region specifier!");
                ++pos;
            }
            roi_region g;
            g.boost = boost;
            double H = rc.height, W = rc.width;
            if (rect) {
                g.kind = 1;
                g.first_row = rc.first_row + int(std::trunc(H * v[0]));
                g.last_row = rc.first_row + int(std::trunc(H * (double(v[0]) + v[2]))) - 1;
                g.first_col = rc.first_col + int(std::trunc(W * v[1]));
                g.last_col = rc.first_col + int(std::trunc(W * (double(v[1]) + v[3]))) - 1;
            } else {
                g.kind = 0;
                g.centre_row = rc.first_row + int(std::trunc(H * v[0]));
                g.centre_col = rc.first_col + int(std::trunc(W * v[1]));
                g.radius = int(std::trunc(double(v[2]) * std::max(H, W) + 0.5));
                g.radius_sq = double(g.radius) * g.radius;
                g.first_row = g.centre_row - g.radius;
                g.last_row = g.centre_row + g.radius;
                g.first_col = g.centre_col - g.radius;
                g.last_col = g.centre_col + g.radius;
            }
            rec.regions.insert(rec.regions.begin(), g);
        }
        if (pos < count)
            ++pos; // the `*' that ends this component's sets
        else
            pos = start; // the sets after the last `*' serve every remaining component
        Summarise(rec);
    }
}

void roi_encoder::ParseMaxShift(int tile, const char *const *params, int count, bool own)
{
    for (int i = 0; i < count; ++i)
        if (std::strcmp(params[i], "Y") && std::strcmp(params[i], "N"))
            local_error(
                "The `-max-shift' argument takes zero or more parameters, each of which must be one of the "
                "two characters, `Y' or `N'!");
    for (int c = 0; c < m_num_components; ++c) {
        roi_tile_record &rec = m_components[size_t(c)].tiles[size_t(tile)];
        if (own)
            rec.own_specification = 1;
        rec.max_shift = count == 0 ? 1 : params[std::min(c, count - 1)][0] == 'Y';
    }
}

void roi_encoder::DeclareElements(int scope, const roi_tile_record &r, int c, stream_out *out)
{
    auto put = [&](const char *d, int precision, const std::vector<int> &values) {
        out->declare_marker_elt(scope, d, c, precision, int(values.size()));
        for (size_t i = 0; i < values.size(); ++i)
            out->set_marker_val(scope, d, c, values[i], int(i));
    };
    if (r.max_shift) {
        put(elt::RegionBoosts, 8, {r.boost});
        return;
    }
    std::vector<int> boosts, rects, circles;
    for (const roi_region &g : r.regions)
        if (g.kind == 1) {
            boosts.push_back(g.boost);
            rects.insert(rects.end(), {g.first_col, g.first_row, g.last_col, g.last_row});
        }
    for (const roi_region &g : r.regions)
        if (g.kind == 0) {
            boosts.push_back(g.boost);
            circles.insert(circles.end(), {g.centre_col, g.centre_row, g.radius});
        }
    put(elt::RegionBoosts, 8, boosts);
    put(elt::RectRegions, 32, rects);
    put(elt::CircularRegions, 32, circles);
}

void roi_encoder::initialize(int num_components, forward_info *info, stream_out *out, command_line *args)
{
    m_info = info;
    m_num_components = num_components;
    m_align = ReadFlag(args, "-Ralign", "The `-Ralign' argument takes no parameters!");
    m_generic = ReadFlag(args, "-Rno_rect", "The `-Rno_rect' argument takes no parameters!");
    m_components.clear();
    m_components.resize(size_t(num_components));
    for (int c = 0; c < num_components; ++c)
        TileRecords(*info, m_components[size_t(c)], c);
    int tiles = int(m_components.empty() ? 0 : m_components[0].tiles.size());
    const char *const *global_rgn = nullptr, *const *global_shift = nullptr;
    int n_rgn = args ? args->find("-Rrgn", -1, &global_rgn) : -1;
    int n_shift = args ? args->find("-Rmax_shift", -1, &global_shift) : -1;
    for (int t = 0; t < tiles; ++t) {
        const char *const *params = nullptr;
        int found = -1;
        int n = args ? args->find_next_tile("-Rrgn", t, &found, &params) : -1;
        if (n >= 0 && found == t)
            ParseRegions(t, params, n, true);
        else if (n_rgn >= 0)
            ParseRegions(t, global_rgn, n_rgn, false);
        n = args ? args->find_next_tile("-Rmax_shift", t, &found, &params) : -1;
        if (n >= 0 && found == t)
            ParseMaxShift(t, params, n, true);
        else if (n_shift >= 0)
            ParseMaxShift(t, global_shift, n_shift, false);
    }
    if (!m_align && out)
        for (int c = 0; c < num_components; ++c) {
            const std::vector<roi_tile_record> &recs = m_components[size_t(c)].tiles;
            const roi_tile_record *global = recs.empty() ? nullptr : &recs.back();
            for (const roi_tile_record &r : recs)
                if (!r.own_specification) {
                    global = &r;
                    break;
                }
            if (global)
                DeclareElements(-1, *global, c, out);
            for (const roi_tile_record &r : recs)
                if (r.own_specification)
                    DeclareElements(r.tile, r, c, out);
        }
    m_tile = 0;
    PrepareTile();
}

void roi_encoder::PrepareTile()
{
    for (int c = 0; c < m_num_components; ++c) {
        roi_component &rc = m_components[size_t(c)];
        if (m_tile >= int(rc.tiles.size()))
            return;
        const roi_tile_record &rec = rc.tiles[size_t(m_tile)];
        // The encoder's block coder shifts region samples also under max-shift, so it needs the masks.
        PrepareComponent(*m_info, rc, rec, c, m_generic != 0, 0, true);
    }
}

int roi_encoder::get_boost(int component, int, int, int *align, int *max_shift) const
{
    const roi_component &rc = m_components.at(size_t(component));
    if (align)
        *align = m_align;
    if (max_shift)
        *max_shift = rc.max_shift;
    return rc.boost;
}

int roi_encoder::get_block_mask(int component, int level, int band, int rows, int cols, int first_row,
                                int first_col, int *shift, uint8_t **row_pointers)
{
    if (component < 0 || component >= m_num_components)
        local_error("The ROI encoder has no image component %d!", component);
    return BlockMask(m_components[size_t(component)], level, band, rows, cols, first_row, first_col,
                     m_align != 0, shift, row_pointers);
}

int roi_encoder::next_tile()
{
    ++m_tile;
    PrepareTile();
    return m_tile;
}

void roi_encoder::terminate()
{
    m_components.clear();
}

void roi_decoder::initialize(int discarded, int num_components, reverse_info *info, stream_in *in,
                             command_line *args)
{
    m_info = info;
    m_in = in;
    m_num_components = num_components;
    m_discarded = discarded;
    m_generic = ReadFlag(args, "-Rno_rect", "The `-Rno_rect' argument takes no parameters!");
    m_components.clear();
    m_components.resize(size_t(num_components));
    for (int c = 0; c < num_components; ++c)
        TileRecords(*info, m_components[size_t(c)], c);
    m_tile = 0;
    PrepareTile();
}

void roi_decoder::PrepareTile()
{
    int tile = m_info->current_tile();
    for (int c = 0; c < m_num_components; ++c) {
        roi_component &rc = m_components[size_t(c)];
        roi_tile_record rec;
        rec.tile = tile;
        int b = m_in->marker_elt_count(tile, elt::RegionBoosts, c);
        int r4 = m_in->marker_elt_count(tile, elt::RectRegions, c);
        int c3 = m_in->marker_elt_count(tile, elt::CircularRegions, c);
        if (r4 % 4 || c3 % 3 || (b > 0 && r4 + c3 > 0 && b != r4 / 4 + c3 / 3) || (b == 0 && r4 + c3 > 0))
            local_error(
                "The region-of-interest elements of image component %d do not describe whole regions!", c);
        auto value = [&](const char *d, int i) { return m_in->get_marker_val(tile, d, c, i); };
        // A boost shifts a 32-bit sample word; larger signalled boosts are taken as the largest possible.
        auto boost = [&](int i) { return std::clamp(value(elt::RegionBoosts, i), 0, kMaxRoiBoost); };
        if (b > 0 && r4 + c3 == 0) {
            rec.max_shift = 1;
            rec.boost = boost(0);
        } else {
            int R = r4 / 4;
            for (int i = 0; i < R; ++i) {
                roi_region g;
                g.kind = 1;
                g.boost = boost(i);
                g.first_col = value(elt::RectRegions, 4 * i);
                g.first_row = value(elt::RectRegions, 4 * i + 1);
                g.last_col = value(elt::RectRegions, 4 * i + 2);
                g.last_row = value(elt::RectRegions, 4 * i + 3);
                rec.regions.push_back(g);
            }
            for (int j = 0; j < c3 / 3; ++j) {
                roi_region g;
                g.kind = 0;
                g.boost = boost(R + j);
                g.centre_col = value(elt::CircularRegions, 3 * j);
                g.centre_row = value(elt::CircularRegions, 3 * j + 1);
                g.radius = value(elt::CircularRegions, 3 * j + 2);
                g.radius_sq = double(g.radius) * g.radius;
                rec.regions.push_back(g);
            }
            Summarise(rec);
        }
        PrepareComponent(*m_info, rc, rec, c, m_generic != 0, m_discarded, false);
    }
}

int roi_decoder::get_boost(int component, int, int, int *max_shift) const
{
    const roi_component &rc = m_components.at(size_t(component));
    if (max_shift)
        *max_shift = rc.max_shift;
    return rc.boost;
}

int roi_decoder::get_block_mask(int component, int level, int band, int rows, int cols, int first_row,
                                int first_col, int *shift, uint8_t **row_pointers)
{
    if (component < 0 || component >= m_num_components)
        local_error("The ROI decoder has no image component %d!", component);
    roi_component &rc = m_components[size_t(component)];
    if (rc.boost > 0 && rc.max_shift) {
        *shift = 0;
        for (int y = 0; y < rows; ++y)
            row_pointers[y] = nullptr;
        return rc.boost;
    }
    return BlockMask(rc, level, band, rows, cols, first_row, first_col, false, shift, row_pointers);
}

int roi_decoder::next_tile()
{
    ++m_tile;
    PrepareTile();
    return m_tile;
}

void roi_decoder::terminate()
{
    m_components.clear();
}

} // namespace zn::j2k
