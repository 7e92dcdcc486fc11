// reverse_info: the canvas and tiles from SIZ, then per scope and component the guard bits,
// reversibility, frames, levels, decomposition structure, kernels (codes and user kernels) and the
// band exponents and mantissas, explicit or derived from the low-low band's.
#include "jpeg2000/reverse_info.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/stream_in.h"

#include <cmath>

namespace zn::j2k {

namespace {

const char *const kReverseUsage[] = {
    "-Fconv (default=use lifting implementation)",
    "Implement non-reversible kernels by convolution with their synthesis filters instead of lifting.",
    nullptr,
};

[[noreturn]] void BadKernelData(int component)
{
    local_error("The user-defined kernels signalled for image component %d are incomplete or malformed!",
                component);
}

} // namespace

std::unique_ptr<reverse_info> create_reverse_info()
{
    return std::make_unique<reverse_info>();
}

usage_table reverse_info::get_usage()
{
    return kReverseUsage;
}

void reverse_info::initialize(int num_components, stream_in *in, command_line *args)
{
    m_in = in;
    m_synthesis_taps = true;
    int n = args ? args->find("-Fconv", -1) : -1;
    if (n > 0)
        local_error("The `-Fconv' argument takes no parameters!");
    m_convolution = n == 0;
    if (num_components < 1 || num_components > 16384)
        local_error("A code-stream of %d image components cannot be decoded!", num_components);
    m_num_components = num_components;

    canvas_tiling c;
    c.left = in->get_marker_val(-1, elt::XOSiz, 0, 0);
    c.top = in->get_marker_val(-1, elt::YOSiz, 0, 0);
    int64_t width = int64_t(in->get_marker_val(-1, elt::XSiz, 0, 0)) - c.left;
    int64_t height = int64_t(in->get_marker_val(-1, elt::YSiz, 0, 0)) - c.top;
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX)
        local_error("The code-stream describes an image of %lld rows and %lld columns!", (long long)height,
                    (long long)width);
    c.width = int(width);
    c.height = int(height);
    c.tile_width = in->get_marker_val(-1, elt::XTSiz, 0, 0);
    c.tile_height = in->get_marker_val(-1, elt::YTSiz, 0, 0);
    c.ref_col = in->get_marker_val(-1, elt::XTOSiz, 0, 0);
    c.ref_row = in->get_marker_val(-1, elt::YTOSiz, 0, 0);
    if (c.tile_width < 1 || c.tile_height < 1)
        local_error("The code-stream describes tiles of %d rows and %d columns!", c.tile_height,
                    c.tile_width);
    BuildTiles(c);

    component_array global(static_cast<size_t>(num_components));
    for (int i = 0; i < num_components; ++i) {
        component_info &ci = global[size_t(i)];
        ci.index = i;
        int p = in->get_marker_val(-1, elt::Precision, 0, i);
        ci.precision = p & 0x7F;
        ci.is_signed = (p >> 7) & 1;
        ci.hor_factor = in->get_marker_val(-1, elt::HorizontalSubsampling, 0, i);
        ci.vert_factor = in->get_marker_val(-1, elt::VerticalSubsampling, 0, i);
        if (ci.hor_factor < 1 || ci.hor_factor > 255 || ci.vert_factor < 1 || ci.vert_factor > 255)
            local_error("Image component %d has sub-sampling factors %d and %d; factors run from 1 to 255!",
                        i, ci.hor_factor, ci.vert_factor);
        if (ci.precision < 1 || ci.precision > 32)
            local_error("Image component %d has a precision of %d bits; 1 to 32 bits are supported!", i,
                        ci.precision);
    }
    m_arrays.clear();
    m_arrays.push_back(global);
    ReadScope(-1, m_arrays[0]);
    m_current_tile = 0;
    ReadTileIfNew(0);
}

void reverse_info::ReadTileIfNew(int tile)
{
    if (tile < 0 || tile >= num_tiles() || m_tiles[size_t(tile)].read)
        return;
    m_tiles[size_t(tile)].read = true;
    if (!m_in->tile_has_markers(tile))
        return;
    component_array own = m_arrays[0];
    ReadScope(tile, own);
    m_arrays.push_back(std::move(own));
    m_tiles[size_t(tile)].array = int(m_arrays.size()) - 1;
}

int reverse_info::next_tile(int reset)
{
    int r = coding_info::next_tile(reset);
    if (r != 0)
        ReadTileIfNew(m_current_tile);
    return r;
}

void reverse_info::ReadScope(int tile, component_array &array)
{
    const component_array &global = m_arrays[0];
    for (int c = 0; c < m_num_components; ++c) {
        component_info fresh;
        fresh.index = c;
        fresh.hor_factor = global[size_t(c)].hor_factor;
        fresh.vert_factor = global[size_t(c)].vert_factor;
        fresh.precision = global[size_t(c)].precision;
        fresh.is_signed = global[size_t(c)].is_signed;
        array[size_t(c)] = fresh;
        read_component_elements(tile, array[size_t(c)]);
    }
}

void reverse_info::read_component_elements(int tile, component_info &ci)
{
    int c = ci.index;
    auto count = [&](const char *d) { return m_in->marker_elt_count(tile, d, c); };
    auto value = [&](const char *d, int i) { return m_in->get_marker_val(tile, d, c, i); };
    ci.guard_bits = value(elt::GuardBits, 0);
    if (ci.guard_bits < 0 || ci.guard_bits > 7)
        local_error("Image component %d is signalled with %d guard bits; 0 to 7 are possible!", c,
                    ci.guard_bits);
    ci.reversible = value(elt::Reversible, 0) != 0 ? 1 : 0;
    ci.frac_bits = ci.reversible ? 0 : 32 - ci.guard_bits - ci.precision;
    // Frames in each direction: present only when their cell size is signalled.
    auto frames = [&](const char *cell, const char *anchor, const char *sso, int *on, int *log2, int *size,
                      int *anchor_out, int *sso_out) {
        if (count(cell) > 0) {
            *on = 1;
            *log2 = value(cell, 0);
            *anchor_out = value(anchor, 0);
            *sso_out = value(sso, 0);
            if (*log2 < 0 || *log2 > 28 || *anchor_out < 0 || *anchor_out > 1 || *sso_out < 0 ||
                *sso_out > 32)
                local_error(
                    "Image component %d is signalled with impossible SSO-DWT frames (2^%d samples, anchor "
                    "%d, %d levels)!",
                    c, *log2, *anchor_out, *sso_out);
        } else {
            *on = 0;
            *log2 = 28;
        }
        *size = 1 << *log2;
    };
    frames(elt::Xcl, elt::Xap, elt::HorizontalSsoLevels, &ci.hor_frames, &ci.log2_frame_width,
           &ci.frame_width, &ci.anchor_col, &ci.hor_sso_levels);
    frames(elt::Ycl, elt::Yap, elt::VerticalSsoLevels, &ci.vert_frames, &ci.log2_frame_height,
           &ci.frame_height, &ci.anchor_row, &ci.vert_sso_levels);
    ci.levels = value(elt::Levels, 0);
    if (ci.levels < 0 || ci.levels > kMaxInfoLevels)
        local_error(
            "Image component %d is signalled with %d decomposition levels; at most %d can be decoded!", c,
            ci.levels, kMaxInfoLevels);
    std::fill(std::begin(ci.hp_descent), std::end(ci.hp_descent), 0);
    int n = count(elt::DecompositionStructure);
    if (n > kMaxDescentValues)
        local_error("No support for specific decomposition structure sequences with specifications for more "
                    "than  16 different resolution levels!");
    if (n == 0)
        ci.hp_descent[0] = 1;
    for (int i = 0; i < n; ++i) {
        ci.hp_descent[i] = value(elt::DecompositionStructure, i);
        // A level without splits would leave the decoder's band geometry out of step with the transform.
        if (ci.hp_descent[i] < 1 || ci.hp_descent[i] > 3)
            local_error(
                "Image component %d is signalled with the decomposition structure value %d; only 1 to 3 "
                "can be decoded!",
                c, ci.hp_descent[i]);
    }
    build_level_records(ci, KernelTypeFor(ci));
    read_kernel_codes(tile, ci);
    read_quant_elements(tile, ci);
    ci.overlap_t = ci.overlap_b = ci.overlap_l = ci.overlap_r = 0;
    if (count(elt::Overlap) > 0) {
        int v = value(elt::Overlap, 0);
        ci.overlap_t = v & 1;
        ci.overlap_b = (v >> 1) & 1;
        ci.overlap_l = (v >> 2) & 1;
        ci.overlap_r = (v >> 3) & 1;
    }
}

// The user kernels of a component follow one another in its supports element (one byte per step:
// taps, shift, and bit 7 on the kernel's last step) and its taps element (every step's taps).
void reverse_info::read_user_kernel(int tile, int c, user_kernel_cursor &at, wavelet_kernel &k)
{
    user_kernel_spec lifting;
    for (bool last = false; !last;) {
        if (at.next_support >= at.supports || lifting.num_steps >= kMaxLiftingSteps)
            BadKernelData(c);
        int v = m_in->get_marker_val(tile, elt::KernelSupports, c, at.next_support++);
        lifting.tap_count[lifting.num_steps] = v & 7;
        lifting.shift[lifting.num_steps] = (v >> 3) & 15;
        last = (v & 0x80) != 0;
        ++lifting.num_steps;
    }
    for (int s = 0; s < lifting.num_steps; ++s)
        for (int i = 0; i < lifting.tap_count[s]; ++i) {
            if (at.next_tap >= at.taps)
                BadKernelData(c);
            int v = m_in->get_marker_val(tile, elt::KernelTaps, c, at.next_tap++) & 0xFFFF;
            lifting.taps[s][i] = v >= 0x8000 ? v - 0x10000 : v;
        }
    build_decoder_kernel(nullptr, &lifting, k);
}

void reverse_info::read_kernel_codes(int tile, component_info &ci)
{
    int c = ci.index;
    int num_codes = m_in->marker_elt_count(tile, elt::KernelOptions, c);
    user_kernel_cursor users;
    users.supports = m_in->marker_elt_count(tile, elt::KernelSupports, c);
    users.taps = m_in->marker_elt_count(tile, elt::KernelTaps, c);
    int next_code = 0;
    auto make = [&](int code, wavelet_kernel &k) {
        if (code == 2)
            build_decoder_kernel("W5X3", nullptr, k);
        else if (code == 3)
            build_decoder_kernel("W9X7", nullptr, k);
        else
            read_user_kernel(tile, c, users, k);
    };
    int code = 0;
    for (int level = ci.levels; level >= 1; --level) {
        level_info &li = ci.level[size_t(level)];
        const level_info *above = level < ci.levels ? &ci.level[size_t(level + 1)] : nullptr;
        if (!above) {
            code = num_codes == 0 ? (ci.reversible ? 0x0A : 0x0B)
                                  : m_in->get_marker_val(tile, elt::KernelOptions, c, next_code++);
        } else if (code & 0x40) {
            if (next_code >= num_codes)
                local_error("The kernel codes of image component %d stop before its lowest resolution level!",
                            c);
            code = m_in->get_marker_val(tile, elt::KernelOptions, c, next_code++);
        } else {
            code = 0;
        }
        int h = code & 7, v = (code >> 3) & 7;
        if (!above && (h == 0 || v == 0))
            local_error(
                "Invalid kernel code found in MARKER_CO_KERNEL element.  Cannot use the \"repeat last "
                "kernel in same direction\" flag in the first kernel code for a component!");
        if (!above && h == 1)
            local_error(
                "Invalid kernel code found in MARKER_CO_KERNEL element.  Cannot use the \"repeat last "
                "kernel in opposite direction\" flag for the horizontal direction in the first kernel "
                "code for a component!");
        if (h > 4 || v > 4)
            local_error("Invalid kernel code 0x%02X found in the kernel codes of image component %d!", code,
                        c);
        int type = li.hor.type;
        if (h == 0)
            li.hor = above->hor;
        else if (h == 1)
            li.hor = above->vert;
        else
            make(h, li.hor);
        if (v == 0)
            li.vert = above->vert;
        else if (v == 1)
            li.vert = li.hor;
        else
            make(v, li.vert);
        li.hor.type = li.vert.type = type;
    }
}

void reverse_info::read_quant_elements(int tile, component_info &ci)
{
    int c = ci.index;
    const char *element = ci.reversible ? elt::ReversibleRanges : elt::StepParams;
    int available = m_in->marker_elt_count(tile, element, c);
    bool implicit = !ci.reversible && available == 1;
    ci.implicit = implicit ? 1 : 0;
    int j = 0, e_ll = 0, m_ll = 0;
    for (int level = 0; level <= ci.levels; ++level) {
        level_info &li = ci.level[size_t(level)];
        for (int b = li.first_band; b <= li.last_band; ++b) {
            band_info &band = li.bands[size_t(b)];
            if (implicit && level > 0) {
                band.e = li.hp_descent + e_ll - level;
                band.m = m_ll;
            } else {
                if (j >= available)
                    local_error(
                        "The code-stream carries %d quantization values for image component %d, which "
                        "has more bands!",
                        available, c);
                int v = m_in->get_marker_val(tile, element, c, j++);
                band.e = ci.reversible ? v : (v >> 11) & 0x1F;
                band.m = ci.reversible ? 0 : v & 0x7FF;
                if (ci.reversible && (v < 0 || v > 31))
                    local_error("Image component %d is signalled with the range exponent %d!", c, v);
                if (level == 0) {
                    e_ll = band.e;
                    m_ll = band.m;
                }
            }
            int K = 32 - band.e - ci.guard_bits;
            if (K > 31 || K < -31)
                local_error(
                    "Band %d of resolution level %d of image component %d has the exponent %d, which with "
                    "%d guard bits leaves no room in a 32-bit sample!",
                    b, level, c, band.e, ci.guard_bits);
        }
    }
}

void reverse_info::get_band_quant_info(int component, int level, int band, float *step, int *neg_exponent,
                                       int *frac_bits) const
{
    const band_info &b = band_record(component, level, band);
    const component_info &ci = tile_component(component);
    int t = b.e + ci.guard_bits - 32;
    if (step)
        *step = ci.reversible ? 1.0f : float((1.0 + b.m / 2048.0) * std::ldexp(1.0, -t));
    if (neg_exponent)
        *neg_exponent = ci.reversible ? 0 : -t;
    if (frac_bits)
        *frac_bits = 32 - b.e - ci.guard_bits;
}

void reverse_info::terminate()
{
    m_arrays.clear();
    m_tiles.clear();
    m_in = nullptr;
}

} // namespace zn::j2k
