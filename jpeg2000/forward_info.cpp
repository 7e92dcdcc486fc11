// forward_info's options: the reference grid and tiling, the per-component options of every scope,
// the kernels of every level, and the marker elements that carry them to the decoder.
#include "jpeg2000/forward_info.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/stream_out.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zn::j2k {

namespace {

const char *const kForwardUsage[] = {
    "-Fref <missing rows> <missing columns> (default = (0,0))",
    "Places the image on the canvas: the number of rows above it and of columns to its left.",
    "-Ftiles <hi-res tile height> <hi-res tile width> (default = no tiling)",
    "Nominal tile size on the canvas; the tiles touching the image edges are clipped to it.",
    "-Ftile_ref <row index> <column index> (default = (0,0))",
    "The point of the canvas from which the tile partition is laid; it may not lie below or right of "
    "the image's upper left corner.",
    "-Fconv (default=use lifting implementation)",
    "Implement non-reversible kernels by convolution with their equivalent filters instead of lifting.",
    "-Fdir <directory path>  (default = from \"JP2_KERNELS_DIR\" env var)",
    "Directory holding the user-defined kernel files (float_lifting/kernel-NNN and "
    "int_lifting/kernel-NNN).",
    "-Flra",
    "Choose the band step sizes by Lagrangian rate allocation.",
    "-Fno_lra",
    "Never use Lagrangian rate allocation, not even with trellis coded quantization.",
    "-Fguard_bits[+<tnum>] <guard bits> [<guard bits> [...]] (default = 2)",
    "Guard bits of each component, 0 to 7; the last value serves the remaining components.",
    "-Frev[+<tnum>] [Y|N [Y|N [...]]] (default = non-reversible)",
    "Reversible (integer, lossless-capable) decomposition per component; without parameters every "
    "component is reversible.",
    "-Fimplicit[+<tnum>] [Y|N [Y|N [...]]] (default = explicit quantization)",
    "Signal only the low-low band's step and derive the others from it (non-reversible components).",
    "-Fframes[+<tnum>] <height> <width> <vert SSO levels> <hor SSO levels> [...]",
    "SSO-DWT frames per component: nominal frame size (powers of 2, 0 for none) and the number of lowest "
    "levels transformed frame by frame in each direction.",
    "-Fanchor[+<tnum>] <row> <column> [...] (default = (0,0))",
    "Frame anchor point of each component, each coordinate 0 or 1.",
    "-Flev[+<tnum>] <levels> [<levels> [...]] (default = 5 level decomposition)",
    "Number of decomposition levels of each component.",
    "-Fdecomp[+<tnum>] mallat|spacl|packet|<decomp string> [...] (default = mallat)",
    "Decomposition structure per component: a string of the digits 1 to 3, one per level from the "
    "highest resolution down, saying how often the high-pass bands of that level are split again.",
    "-Fkernels[+<tnum>] <id> [<id> [...]] [* <id> [<id> [...]] [* ...]]",
    "Wavelet kernels: W9X7, W5X3 or a kernel file number 0 to 255, from the highest level down; "
    "<id1>,<id2> gives different horizontal and vertical kernels; `*' starts the next component.",
    "-Fsteps[+<tnum>] <step quotient file> (default = fixed flat quant matrix)",
    "A band factor file whose factors divide each band's quantization step.",
    "-Fweights[+<tnum>] <root weights file>  (default = no weighting)",
    "A band factor file of visual weights; the squared weights scale each band's distortion.",
    "-Fovlp[+<tnum>] [L][R][T][B] [ [L][R][T][B] [...]] (default=no overlap)",
    "Tile boundaries across which each component's tiles overlap by one sample.",
    nullptr,
};

bool ReadInt(const char *word, int *value)
{
    return std::sscanf(word, "%d", value) == 1;
}

// A parameter of exactly one character, 'Y' or 'N'; -1 otherwise.
int YesNo(const char *word)
{
    if (word[0] && !word[1] && (word[0] == 'Y' || word[0] == 'N'))
        return word[0] == 'Y' ? 1 : 0;
    return -1;
}

int ExactLog2(int v)
{
    int l = 0;
    while ((1 << l) < v && l < 30)
        ++l;
    return (1 << l) == v ? l : -1;
}

} // namespace

std::unique_ptr<forward_info> create_forward_info()
{
    return std::make_unique<forward_info>();
}

usage_table forward_info::get_usage()
{
    return kForwardUsage;
}

bool find_reference_grid(const std::vector<int> &sizes, int offset, int64_t *grid_end,
                         std::vector<int> *factors)
{
    auto ceil_div = [](int64_t a, int64_t b) { return (a + b - 1) / b; };
    int64_t S = 0;
    for (int s : sizes)
        S = std::max<int64_t>(S, s);
    std::vector<int> f(sizes.size(), 1);
    for (int i = 1; i <= 255; ++i) {
        int64_t hi = (ceil_div(offset, i) + S) * i, lo = hi - i + 1;
        bool ok = true;
        for (size_t c = 0; c < sizes.size() && ok; ++c) {
            int64_t s = sizes[c];
            // The first candidate comes from the sizes alone; it never goes below 1.
            int64_t k = std::max<int64_t>(1, (s - offset + 1 + lo) / (s + 2));
            int64_t c_hi = 0, c_lo = 0;
            for (; k < 256; ++k) {
                c_hi = (ceil_div(offset, k) + s) * k;
                c_lo = c_hi - k + 1;
                if (c_hi >= lo)
                    break;
            }
            hi = std::min(hi, c_hi);
            lo = std::max(lo, c_lo);
            if (k > 255 || lo > hi)
                ok = false;
            else
                f[c] = int(k);
        }
        if (ok) {
            *grid_end = lo;
            *factors = f;
            return true;
        }
    }
    return false;
}

void forward_info::ParseCanvas(const int *precisions, const canvas_rect *dims, command_line *args)
{
    const char *const *params = nullptr;
    canvas_tiling c;
    int n = args ? args->find("-Fref", -1, &params) : -1;
    if (n >= 0) {
        if (n != 2 || !ReadInt(params[0], &c.top) || !ReadInt(params[1], &c.left) || c.top < 0 || c.left < 0)
            local_error("The `-Fref' argument requires non-negative row and column indices for the top-left "
                        "pixel relative to the origin of the canvas.");
    }
    if (m_num_components < 1 || m_num_components > 256)
        local_error("Between 1 and 256 image components can be placed on one reference grid (%d given)!",
                    m_num_components);
    std::vector<int> rows, cols;
    for (int i = 0; i < m_num_components; ++i) {
        if (dims[i].rows < 1 || dims[i].cols < 1)
            local_error("The image has no samples (%d rows, %d columns).", dims[i].rows, dims[i].cols);
        rows.push_back(dims[i].rows);
        cols.push_back(dims[i].cols);
    }
    int64_t y_end = 0, x_end = 0;
    std::vector<int> fy, fx;
    if (!find_reference_grid(rows, c.top, &y_end, &fy) || !find_reference_grid(cols, c.left, &x_end, &fx))
        local_error(
            "Unable to find a high resolution grid and a collection of sub-sampling factors to relate "
            "the supplied component dimensions!");
    if (y_end > INT32_MAX || x_end > INT32_MAX)
        local_error("The reference grid of %lld rows and %lld columns does not fit 32-bit coordinates!",
                    (long long)y_end, (long long)x_end);
    c.height = int(y_end - c.top);
    c.width = int(x_end - c.left);

    n = args ? args->find("-Ftiles", -1, &params) : -1;
    if (n >= 0 && (n != 2 || !ReadInt(params[0], &c.tile_height) || !ReadInt(params[1], &c.tile_width) ||
                   c.tile_height < 1 || c.tile_width < 1))
        local_error("The `-Ftiles' argument requires positive hi-res tile dimensions as its parameters.");
    n = args ? args->find("-Ftile_ref", -1, &params) : -1;
    if (n >= 0 && (n != 2 || !ReadInt(params[0], &c.ref_row) || !ReadInt(params[1], &c.ref_col) ||
                   c.ref_row < 0 || c.ref_col < 0))
        local_error("The `-Ftile_ref' argument requires a row and a column index for the tile partitioning "
                    "reference point, both of which must be non-negative.");
    BuildTiles(c);

    component_array global(static_cast<size_t>(m_num_components));
    for (int i = 0; i < m_num_components; ++i) {
        component_info &ci = global[size_t(i)];
        ci.index = i;
        ci.hor_factor = fx[size_t(i)];
        ci.vert_factor = fy[size_t(i)];
        int p = precisions[i];
        ci.is_signed = p < 0 ? 1 : 0;
        ci.precision = p < 0 ? -p : p;
        if (ci.precision < 1 || ci.precision > 32)
            local_error("Image component %d has a precision of %d bits; 1 to 32 bits are supported!", i,
                        ci.precision);
    }
    m_arrays.clear();
    m_arrays.push_back(global);
}

int forward_info::initialize(int num_components, const int *precisions, const canvas_rect *dims,
                             float base_step, int reserve_a, int reserve_b, stream_out *, command_line *args)
{
    m_num_components = num_components;
    m_base_step = base_step;
    m_reserve_a = reserve_a;
    m_reserve_b = reserve_b;
    ParseCanvas(precisions, dims, args);

    const char *const *params = nullptr;
    const char *env = std::getenv("JP2_KERNELS_DIR");
    m_kernels_dir = env ? env : "";
    int n = args ? args->find("-Fdir", -1, &params) : -1;
    if (n >= 0) {
        if (n != 1)
            local_error("The `-Fdir' argument requires a string parameter!");
        m_kernels_dir = params[0];
    }
    n = args ? args->find("-Fconv", -1) : -1;
    if (n > 0)
        local_error("The `-Fconv' argument takes no parameters!");
    m_convolution = n == 0;

    parse_component_options(-1, m_arrays[0], args);
    for (int t = 0; t < num_tiles(); ++t)
        if (args && args->tile_has_arguments(t)) {
            component_array own = m_arrays[0];
            parse_component_options(t, own, args);
            m_arrays.push_back(std::move(own));
            m_tiles[size_t(t)].array = int(m_arrays.size()) - 1;
        }
    m_current_tile = 0;
    return num_tiles();
}

void forward_info::parse_component_options(int tile, component_array &array, command_line *args)
{
    const component_array &global = m_arrays[0];
    for (int i = 0; i < m_num_components; ++i) {
        component_info fresh;
        fresh.index = i;
        fresh.hor_factor = global[size_t(i)].hor_factor;
        fresh.vert_factor = global[size_t(i)].vert_factor;
        fresh.precision = global[size_t(i)].precision;
        fresh.is_signed = global[size_t(i)].is_signed;
        array[size_t(i)] = fresh;
    }
    auto find = [&](const char *name, const char *const **params) {
        return args ? args->find(name, tile, params) : -1;
    };
    const char *const *params = nullptr;

    int n = find("-Fguard_bits", &params);
    if (n == 0)
        local_error("The `-Fguard_bits' argument requires at least one parameter!");
    for (int i = 0; i < n; ++i) {
        int g = 0;
        if (!ReadInt(params[i], &g) || g < 0 || g > 7)
            local_error("The `-Fguard_bits' argument requires integer parameters in the range 0 to 7!");
    }
    for (int i = 0; i < m_num_components && n > 0; ++i)
        ReadInt(params[std::min(i, n - 1)], &array[size_t(i)].guard_bits);

    n = find("-Frev", &params);
    for (int i = 0; i < n; ++i)
        if (YesNo(params[i]) < 0)
            local_error(
                "The `-Frev' argument requires zero or more single character parameters, each of which "
                "must be either `Y' or `N'!");
    for (int i = 0; i < m_num_components && n >= 0; ++i)
        array[size_t(i)].reversible = n == 0 ? 1 : YesNo(params[std::min(i, n - 1)]);
    for (component_info &ci : array)
        ci.frac_bits = ci.reversible ? 0 : 32 - ci.precision - ci.guard_bits;

    n = find("-Fimplicit", &params);
    for (int i = 0; i < n; ++i)
        if (YesNo(params[i]) < 0)
            local_error(
                "The `-Fimplicit' argument requires zero or more single character parameters, each of "
                "which must be either `Y' or `N'!");
    for (int i = 0; i < m_num_components && n >= 0; ++i) {
        component_info &ci = array[size_t(i)];
        ci.implicit = ci.reversible ? 0 : (n == 0 ? 1 : YesNo(params[std::min(i, n - 1)]));
    }

    n = find("-Fframes", &params);
    if (n >= 0) {
        if (n == 0 || n % 4 != 0)
            local_error("The `-Fframes' argument requires one or more groups of four parameters!");
        int v[4];
        for (int i = 0; i < n; ++i)
            if (!ReadInt(params[i], &v[0]) || v[0] < 0)
                local_error("The `-Fframes' argument requires one or more whole groups of four non-negative "
                            "integer parameters!");
        int groups = n / 4;
        for (int i = 0; i < m_num_components; ++i) {
            const char *const *g = params + 4 * std::min(i, groups - 1);
            for (int k = 0; k < 4; ++k)
                ReadInt(g[k], &v[k]);
            component_info &ci = array[size_t(i)];
            for (int dir = 0; dir < 2; ++dir) {
                int size = v[dir], sso = v[2 + dir];
                int log2 = 28, on = 0;
                if (size != 0) {
                    log2 = ExactLog2(size);
                    if (log2 < 0)
                        local_error(
                            "The `-Fframes' argument requires nominal frame dimensions which are exact "
                            "powers of 2!");
                    on = 1;
                } else {
                    sso = 0;
                }
                // The code-stream carries the frame size's log2 and the SSO level count in four bits.
                if (on && (log2 > 15 || sso > 15))
                    local_error("The `-Fframes' argument accepts frame dimensions up to 2^15 and up to 15 "
                                "SSO levels!");
                (dir == 0 ? ci.vert_frames : ci.hor_frames) = on;
                (dir == 0 ? ci.log2_frame_height : ci.log2_frame_width) = log2;
                (dir == 0 ? ci.frame_height : ci.frame_width) = 1 << log2;
                (dir == 0 ? ci.vert_sso_levels : ci.hor_sso_levels) = sso;
            }
            ci.anchor_row = ci.anchor_col = 0;
        }
    }

    n = find("-Fanchor", &params);
    if (n >= 0) {
        if (n == 0 || n % 2 != 0)
            local_error("The `-Fanchor' argument requires one or more pairs of parameters!");
        for (int i = 0; i < n; ++i) {
            int v = 0;
            if (!ReadInt(params[i], &v) || (v != 0 && v != 1))
                local_error("The `-Fanchor' argument requires one or more coordinate pairs where each "
                            "coordinate must be drawn from the set {0,1}.");
        }
        for (int i = 0; i < m_num_components; ++i) {
            const char *const *p = params + 2 * std::min(i, n / 2 - 1);
            component_info &ci = array[size_t(i)];
            int row = 0, col = 0;
            ReadInt(p[0], &row);
            ReadInt(p[1], &col);
            if (ci.vert_frames)
                ci.anchor_row = row;
            if (ci.hor_frames)
                ci.anchor_col = col;
        }
    }

    n = find("-Flev", &params);
    if (n == 0)
        local_error("The `-Flev' argument requires at least one parameter!");
    for (int i = 0; i < n; ++i) {
        int v = 0;
        if (!ReadInt(params[i], &v) || v < 0 || v > 255)
            local_error("The `-Flev' argument takes parameters in the range 0 through 255!");
        if (v > kMaxInfoLevels)
            local_error("At most 32 decomposition levels can be used (%d requested).", v);
    }
    for (int i = 0; i < m_num_components && n > 0; ++i)
        ReadInt(params[std::min(i, n - 1)], &array[size_t(i)].levels);

    n = find("-Fdecomp", &params);
    if (n == 0)
        local_error("The `-Fdecomp' argument requires at least one legal decomposition specifier string!");
    std::vector<std::vector<int>> lists;
    for (int i = 0; i < n; ++i) {
        const char *s = params[i];
        if (!std::strcmp(s, "mallat"))
            s = "1";
        else if (!std::strcmp(s, "spacl"))
            s = "21";
        else if (!std::strcmp(s, "packet"))
            s = "321";
        if (std::strlen(s) > kMaxDescentValues)
            local_error("No support for decomposition structure strings with more that 16 characters!  "
                        "Offending string is \"%s\"!",
                        params[i]);
        bool ok = *s != '\0';
        for (const char *p = s; *p && ok; ++p)
            ok = *p >= '1' && *p <= '3';
        if (!ok)
            local_error(
                "The string parameter, \"%s\", supplied to `-Fdecomp' is not a valid decomposition spec!",
                params[i]);
        std::vector<int> list;
        for (const char *p = s; *p; ++p)
            list.push_back(*p - '0');
        while (list.size() > 1 && list[list.size() - 1] == list[list.size() - 2])
            list.pop_back();
        lists.push_back(list);
    }
    for (int i = 0; i < m_num_components; ++i) {
        component_info &ci = array[size_t(i)];
        std::fill(std::begin(ci.hp_descent), std::end(ci.hp_descent), 0);
        if (lists.empty()) {
            ci.hp_descent[0] = 1;
            continue;
        }
        const std::vector<int> &list = lists[size_t(std::min(i, n - 1))];
        for (size_t k = 0; k < list.size(); ++k)
            ci.hp_descent[k] = list[k];
    }

    for (component_info &ci : array)
        build_level_records(ci, KernelTypeFor(ci));
    LoadKernels(tile, array, args);

    n = find("-Fovlp", &params);
    if (n == 0)
        local_error("The `-Fovlp' argument requires at least one parameter!");
    for (int i = 0; i < n; ++i)
        for (const char *p = params[i]; *p; ++p)
            if (!std::strchr("TBLR", *p))
                local_error(
                    "The `-Fovlp' argument requires one or more parameters consisting of characters in "
                    "the set {'T','B','L','R'}!  The parameter string, \"%s\", is invalid!",
                    params[i]);
    for (int i = 0; i < m_num_components && n > 0; ++i) {
        const char *s = params[std::min(i, n - 1)];
        component_info &ci = array[size_t(i)];
        ci.overlap_t = std::strchr(s, 'T') ? 1 : 0;
        ci.overlap_b = std::strchr(s, 'B') ? 1 : 0;
        ci.overlap_l = std::strchr(s, 'L') ? 1 : 0;
        ci.overlap_r = std::strchr(s, 'R') ? 1 : 0;
    }
}

void forward_info::LoadKernels(int tile, component_array &array, command_line *args)
{
    const char *const *params = nullptr;
    int n = args ? args->find("-Fkernels", tile, &params) : -1;
    if (n == 0)
        local_error("The `-Fkernels' argument requires at least one parameter!");
    // One group of ids per component, split at "*"; the last group serves the remaining components.
    std::vector<std::vector<std::string>> groups(1);
    for (int i = 0; i < n; ++i) {
        if (!std::strcmp(params[i], "*")) {
            groups.emplace_back();
            continue;
        }
        groups.back().push_back(params[i]);
        if (groups.back().size() > 16)
            local_error("Too many distinct kernel specificiations for some image components!");
    }
    for (int c = 0; c < m_num_components; ++c) {
        component_info &ci = array[size_t(c)];
        std::vector<std::string> ids;
        if (n > 0)
            ids = groups[size_t(std::min<int>(c, int(groups.size()) - 1))];
        if (ids.empty())
            ids.push_back(ci.reversible ? "W5X3" : "W9X7");
        for (int level = ci.levels; level >= 1; --level) {
            const std::string &id = ids[size_t(std::min<int>(ci.levels - level, int(ids.size()) - 1))];
            level_info &li = ci.level[size_t(level)];
            size_t comma = id.find(',');
            li.hor_id = comma == std::string::npos ? id : id.substr(0, comma);
            li.vert_id = comma == std::string::npos ? id : id.substr(comma + 1);
            li.hor_user = load_kernel(li.hor_id.c_str(), m_kernels_dir.c_str(), li.hor);
            li.vert_user = load_kernel(li.vert_id.c_str(), m_kernels_dir.c_str(), li.vert);
        }
    }
}

band_info &forward_info::band_values(int component, int level, int band)
{
    return const_cast<band_info &>(band_record(component, level, band));
}

float forward_info::get_band_nominal_range(int component, int level, int band) const
{
    return band_record(component, level, band).nominal_range;
}

void forward_info::get_band_quant_info(int component, int level, int band, float *step, int *neg_exponent,
                                       float *distortion_weight, int *frac_bits) const
{
    const band_info &b = band_record(component, level, band);
    const component_info &ci = tile_component(component);
    int t = b.e + ci.guard_bits - 32;
    if (step)
        *step = ci.reversible ? 1.0f : float((1.0 + b.m / 2048.0) * std::ldexp(1.0, -t));
    if (neg_exponent)
        *neg_exponent = ci.reversible ? 0 : -t;
    if (distortion_weight)
        *distortion_weight = b.distortion_weight;
    if (frac_bits)
        *frac_bits = 32 - b.e - ci.guard_bits;
}

float forward_info::get_band_visual_weight(int component, int level, int band)
{
    band_info &b = band_values(component, level, band);
    if (b.visual_weight != 0 && !b.visual_weight_applied) {
        b.distortion_weight /= b.visual_weight * b.visual_weight;
        b.visual_weight_applied = true;
    }
    return b.visual_weight;
}

std::vector<int> forward_info::ScopesWithOwnArrays() const
{
    std::vector<int> tiles;
    for (const tile_record &t : m_tiles)
        if (t.array != 0)
            tiles.push_back(t.index);
    return tiles;
}

void forward_info::DeclareSizElements(stream_out *out)
{
    auto put = [&](const char *d, int precision, const std::vector<int> &values) {
        out->declare_marker_elt(-1, d, 0, precision, int(values.size()));
        for (size_t i = 0; i < values.size(); ++i)
            out->set_marker_val(-1, d, 0, values[i], int(i));
    };
    put(elt::XSiz, 32, {m_canvas.left + m_canvas.width});
    put(elt::YSiz, 32, {m_canvas.top + m_canvas.height});
    put(elt::XOSiz, 32, {m_canvas.left});
    put(elt::YOSiz, 32, {m_canvas.top});
    put(elt::XTSiz, 32, {m_canvas.tile_width});
    put(elt::YTSiz, 32, {m_canvas.tile_height});
    put(elt::XTOSiz, 32, {m_canvas.ref_col});
    put(elt::YTOSiz, 32, {m_canvas.ref_row});
    std::vector<int> precision, fx, fy;
    for (const component_info &ci : m_arrays[0]) {
        precision.push_back(ci.precision + (ci.is_signed ? 128 : 0));
        fx.push_back(ci.hor_factor);
        fy.push_back(ci.vert_factor);
    }
    put(elt::Precision, 8, precision);
    put(elt::HorizontalSubsampling, 8, fx);
    put(elt::VerticalSubsampling, 8, fy);
}

namespace {

int KernelCode(const std::string &id, int user, const std::string *same0, const std::string *same1)
{
    if (same0 && id == *same0)
        return 0;
    if (same1 && id == *same1)
        return 1;
    if (user)
        return 4;
    if (id == "W5X3")
        return 2;
    if (id == "W9X7")
        return 3;
    local_error("Don't know how to save kernel ID \"%s\" to COC marker!", id.c_str());
}

} // namespace

void forward_info::declare_kernel_elements(int tile, const component_info &ci, stream_out *out)
{
    std::vector<int> codes;
    std::vector<const wavelet_kernel *> user;
    for (int level = ci.levels; level >= 1; --level) {
        const level_info &li = ci.level[size_t(level)];
        const level_info *above = level < ci.levels ? &ci.level[size_t(level + 1)] : nullptr;
        int h = KernelCode(li.hor_id, li.hor_user, above ? &above->hor_id : nullptr,
                           above ? &above->vert_id : nullptr);
        int v = KernelCode(li.vert_id, li.vert_user, above ? &above->vert_id : nullptr, &li.hor_id);
        if (h == 4)
            user.push_back(&li.hor);
        if (v == 4)
            user.push_back(&li.vert);
        codes.push_back(0x40 + h + 8 * v);
    }
    // Trailing "copy both" codes need not be sent; the code before them loses its "more follow" bit.
    while (!codes.empty() && (codes.back() & 0x3F) == 0) {
        codes.pop_back();
        if (!codes.empty())
            codes.back() &= ~0x40;
    }
    if (codes.size() == 1 && (codes[0] & 0x3F) == (ci.reversible ? 0x0A : 0x0B))
        codes.clear();
    std::vector<int> supports, taps;
    for (const wavelet_kernel *k : user) {
        user_kernel_spec lifting = make_user_kernel_spec(*k);
        for (int s = 0; s < lifting.num_steps; ++s) {
            supports.push_back(lifting.tap_count[s] + 8 * lifting.shift[s] +
                               (s == lifting.num_steps - 1 ? 0x80 : 0));
            for (int i = 0; i < lifting.tap_count[s]; ++i)
                taps.push_back(lifting.taps[s][i] & 0xFFFF);
        }
    }
    auto put = [&](const char *d, int precision, const std::vector<int> &values) {
        out->declare_marker_elt(tile, d, ci.index, precision, int(values.size()));
        for (size_t i = 0; i < values.size(); ++i)
            out->set_marker_val(tile, d, ci.index, values[i], int(i));
    };
    put(elt::KernelOptions, 8, codes);
    put(elt::KernelSupports, 8, supports);
    put(elt::KernelTaps, 16, taps);
}

void forward_info::DeclareScopeElements(int tile, const component_array &array, stream_out *out)
{
    for (const component_info &ci : array) {
        int c = ci.index;
        auto put = [&](const char *d, int precision, const std::vector<int> &values) {
            out->declare_marker_elt(tile, d, c, precision, int(values.size()));
            for (size_t i = 0; i < values.size(); ++i)
                out->set_marker_val(tile, d, c, values[i], int(i));
        };
        auto when = [](bool on, int v) { return on ? std::vector<int>{v} : std::vector<int>{}; };
        put(elt::GuardBits, 3, {ci.guard_bits});
        put(elt::Reversible, 1, {ci.reversible});
        put(elt::Xcl, 4, when(ci.hor_frames, ci.log2_frame_width));
        put(elt::Xap, 1, when(ci.hor_frames, ci.anchor_col));
        put(elt::HorizontalSsoLevels, 4, when(ci.hor_frames, ci.hor_sso_levels));
        put(elt::Ycl, 4, when(ci.vert_frames, ci.log2_frame_height));
        put(elt::Yap, 1, when(ci.vert_frames, ci.anchor_row));
        put(elt::VerticalSsoLevels, 4, when(ci.vert_frames, ci.vert_sso_levels));
        put(elt::Levels, 8, {ci.levels});
        std::vector<int> structure;
        for (int k = 0; k < kMaxDescentValues && ci.hp_descent[k] != 0; ++k)
            structure.push_back(ci.hp_descent[k]);
        if (int(structure.size()) > ci.levels)
            structure.resize(size_t(ci.levels));
        if (ci.levels == 0 || (structure.size() == 1 && structure[0] == 1))
            structure.clear();
        put(elt::DecompositionStructure, 2, structure);
        declare_kernel_elements(tile, ci, out);
        std::vector<int> values;
        for (int level = 0; level <= ci.levels; ++level) {
            const level_info &li = ci.level[size_t(level)];
            for (int b = li.first_band; b <= li.last_band; ++b) {
                const band_info &band = li.bands[size_t(b)];
                // Five bits of exponent, and K = 32 - e - guard bits must stay inside the sample word.
                if (band.e < 0 || band.e > 31 || band.e + ci.guard_bits < 1)
                    local_error(
                        "Band %d of resolution level %d of image component %d needs a step exponent of "
                        "%d, which the code-stream cannot carry (0 to 31, and at least 1 together "
                        "with the guard bits)!",
                        b, level, c, band.e);
                values.push_back(ci.reversible ? band.e : band.e * 2048 + band.m);
            }
        }
        put(elt::ReversibleRanges, 5, ci.reversible ? values : std::vector<int>{});
        if (ci.reversible)
            values.clear();
        else if (ci.implicit)
            values.resize(1);
        put(elt::StepParams, 16, values);
        int overlap = ci.overlap_t + 2 * ci.overlap_b + 4 * ci.overlap_l + 8 * ci.overlap_r;
        put(elt::Overlap, 4, when(overlap != 0, overlap));
    }
}

void forward_info::terminate(int final)
{
    if (m_lra_statistics && m_lra) {
        double total = 0;
        for (auto &component : m_lra->bands)
            for (auto &level : component)
                for (lra_band &b : level)
                    total += b.count;
        for (auto &component : m_lra->bands)
            for (auto &level : component)
                for (lra_band &b : level)
                    b.fraction = total > 0 ? float(b.count / total) : 0.0f;
    }
    if (final)
        m_lra.reset();
    m_arrays.clear();
    m_tiles.clear();
}

} // namespace zn::j2k
