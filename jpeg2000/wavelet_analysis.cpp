// The wavelet analysis object: options and their code-stream signals, the per-tile tree of every
// component, and the band buffers between the transform and the quantiser.
#include "jpeg2000/wavelet_analysis.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/forward_info.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/stream_out.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zn::j2k {

namespace {

const char *const kAnalysisUsage[] = {
    "-XpsExt",
    "Use point-symmetric extension instead of normal symmetric extension.",
    "-Xmask [alpha=0.7] [beta=0.0] [respect_block_boundaries=1] [win_width=6] [bits_retained=9] [minlevel=1]",
    "This option indicates use of visual masking in the transform operation and may accept up to seven "
    "additional parameters. The first two parameters specify the alpha (point) and beta (neighborhood) "
    "powers "
    "respectively to use for visual masking. The third parameter specifies if the neighborhood masking "
    "should "
    "respect entropy encoder block boundaries.  The fourth and fifth parameters are the window width and the "
    "number of precision bits to lose for neighborhood masking.  The sixth parameter specifies the minlevel "
    "as "
    "defined in WG1 N1135.",
    "-Xsso_ext[+<tnum>] [Y|N [Y|N [...]] (default=symmetric extension)",
    "This argument forces the selection of SSO-DWT style boundary extension, in which the boundary sample is "
    "left unchanged, skipping all update steps at the boundary, on all tile boundaries whose samples are "
    "those "
    "which are modified during the update lifting steps (i.e. even indexed boundary locations).  This can "
    "have "
    "beneficial effects in hiding tile boundaries when used in conjunction with overlapping tiles and "
    "appropriate selection of the various parameters.  See `-Fovlp' for more information on this.  By "
    "default, "
    "symmetric extension is applied at tile boundaries and SSO-DWT extension is applied at most at the "
    "internal "
    "boundaries between frames within a tile.  The argument takes zero or more parameters.  Each optional "
    "parameter must consist of one of the characters `Y' (use SSO-DWT style extension) or `N' (use symmetric "
    "extension).  The first parameter identifies the extension style for the first image component in the "
    "relevant tile(s).  Subsequent parameters correspond to consecutive image components, with the last "
    "parameter applying to any remaining image components.  If no parameters are supplied, all components in "
    "the relevant tile(s) will adopt the SSO-DWT style boundary extension.",
    nullptr,
};

// Alpha and beta travel in tenths, one byte each.
uint8_t Tenths(float v)
{
    double t = double(v) * 10 + 0.5;
    return uint8_t(t < 0 ? 0 : t > 255 ? 255 : t);
}

} // namespace

void band_statistics::Accumulate(const float *values, int n)
{
    if (n <= 0)
        return;
    double sums[4] = {0, 0, 0, 0};
    for (int i = 0; i < n; ++i) {
        double x = values[i], p = x;
        for (double &s : sums) {
            s += p;
            p *= x;
        }
    }
    double total = count + n;
    for (int k = 0; k < 4; ++k)
        mean[k] = mean[k] * count / total + sums[k] / total;
    count = total;
}

component_transform_setup transform_setup_for(const coding_info &info, int component, int discarded,
                                              region_rect *region)
{
    int reversible = 0;
    int levels = info.get_tile_component_info(component, nullptr, nullptr, &reversible, nullptr);
    component_transform_setup s;
    s.levels = levels - discarded;
    s.reversible = reversible != 0;
    s.level.resize(size_t(s.levels) + 1);
    for (int l = 1; l <= s.levels; ++l) {
        level_transform &lt = s.level[size_t(l)];
        frame_info f;
        info.get_level_info(component, l, nullptr, &lt.hp_descent, &f);
        lt.vertical = &info.kernel(INFO__VERTICAL, component, l);
        lt.horizontal = &info.kernel(INFO__HORIZONTAL, component, l);
        lt.vert_sso = f.vert_sso != 0;
        lt.hor_sso = f.hor_sso != 0;
    }
    frame_info top;
    info.get_level_info(component, s.levels, region, nullptr, &top);
    s.frame_height = top.height;
    s.frame_width = top.width;
    s.anchor_row = top.anchor_row;
    s.anchor_col = top.anchor_col;
    return s;
}

std::unique_ptr<wavelet_analysis> create_wavelet_analysis()
{
    return std::make_unique<wavelet_analysis>();
}

usage_table wavelet_analysis::get_usage()
{
    return kAnalysisUsage;
}

analysis_band_buffer::analysis_band_buffer(wavelet_analysis &owner, bool float_path, int component, int level,
                                           int band, int frac_bits)
    : transform_stage(kBand, float_path, component, level, band), m_owner(owner), m_frac_bits(frac_bits)
{}

void analysis_band_buffer::push_int_line(const int32_t *row, int length)
{
    if (float_flag) {
        m_row.assign(row, row + length);
        push_float_line(m_row.data(), length);
        return;
    }
    if (m_owner.m_info->has_lra_band_statistics()) {
        m_row.assign(row, row + length);
        statistics.Accumulate(m_row.data(), length);
    }
    m_owner.m_quantizer->push_int_row(row, component, level, band, length);
}

void analysis_band_buffer::push_float_line(const float *row, int length)
{
    if (row != m_row.data())
        m_row.assign(row, row + length);
    if (m_owner.masking_on()) {
        if (!m_mask) {
            float step = 1;
            int K = 0, height = 0, width = 0;
            m_owner.m_info->get_band_quant_info(component, level, band, &step, nullptr, nullptr, &K);
            m_owner.m_coder->get_band_block_size(component, level, band, &height, &width);
            m_mask = std::make_unique<visual_mask>(m_owner.m_mask, false, length, m_frac_bits, step, K,
                                                   height, width);
        }
        m_mask->apply_row(m_row.data(), level);
    }
    if (m_owner.m_info->has_lra_band_statistics())
        statistics.Accumulate(m_row.data(), length);
    m_owner.m_quantizer->push_float_row(m_row.data(), component, level, band, length);
}

void analysis_band_buffer::terminate()
{
    m_mask.reset();
    m_row = {};
}

void wavelet_analysis::initialize(int num_components, forward_info *info, quantizer *q,
                                  block_line_sink *coder, stream_out *out, command_line *args)
{
    m_num_components = num_components;
    m_info = info;
    m_quantizer = q;
    m_coder = coder;
    const char *const *params = nullptr;
    int n = args ? args->find("-XpsExt", -1) : -1;
    if (n > 0)
        local_error("The `-XpsExt' argument takes no parameters!");
    m_pse = n == 0;
    n = args ? args->find("-Xmask", -1, &params) : -1;
    m_mask = mask_params{};
    if (n < 0) {
        m_mask.alpha = m_mask.beta = 0;
    } else {
        m_mask.alpha = 0.7f;
        if (n > 0)
            std::sscanf(params[0], "%f", &m_mask.alpha);
        if (n > 1)
            std::sscanf(params[1], "%f", &m_mask.beta);
        int *ints[4] = {&m_mask.respect_block_boundaries, &m_mask.win_width, &m_mask.bits_retained,
                        &m_mask.minlevel};
        for (int i = 2; i < std::min(n, 6); ++i)
            std::sscanf(params[i], "%d", ints[i - 2]);
    }
    if (m_pse && out)
        out->add_comment(kRcmePointSymmetric, 0, nullptr);
    uint8_t a = Tenths(m_mask.alpha), b = Tenths(m_mask.beta);
    m_mask.alpha = a * 0.1f;
    m_mask.beta = b * 0.1f;
    if (out) {
        auto signal = [&](int rcme, int value) {
            uint8_t byte = uint8_t(value);
            out->add_comment(rcme, 1, &byte);
        };
        if (m_mask.alpha != 0)
            signal(kRcmeMaskAlpha, a);
        if (m_mask.beta != 0)
            signal(kRcmeMaskBeta, b);
        if (m_mask.minlevel != 1)
            signal(kRcmeMaskMinLevel, m_mask.minlevel);
        if (m_mask.bits_retained != 9)
            signal(kRcmeMaskBitsRetained, m_mask.bits_retained);
        if (m_mask.respect_block_boundaries != 1)
            signal(kRcmeMaskRespectBlocks, m_mask.respect_block_boundaries);
        if (m_mask.win_width != 6)
            signal(kRcmeMaskWinWidth, m_mask.win_width);
    }
    m_tiles = 0;
    while (info->get_tile_info(-1, m_tiles, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        ++m_tiles;
    m_sso.assign(size_t(num_components) * size_t(m_tiles + 1), 0);
    for (int t = -1; t < m_tiles; ++t) {
        n = args ? args->find("-Xsso_ext", t, &params) : -1;
        std::vector<int> flags(size_t(num_components), 0);
        if (n >= 0) {
            int value = 1;
            for (int c = 0; c < num_components; ++c) {
                if (c < n) {
                    if (!std::strcmp(params[c], "Y"))
                        value = 1;
                    else if (!std::strcmp(params[c], "N"))
                        value = 0;
                    else
                        local_error("The `-Xsso_ext' argument only accepts parameters consisting of a single "
                                    "character, from the set {`Y',`N'}!");
                }
                flags[size_t(c)] = value;
            }
        }
        for (int c = 0; c < num_components; ++c) {
            if (out) {
                out->declare_marker_elt(t, elt::SsoExtension, c, 1, flags[size_t(c)]);
                if (flags[size_t(c)])
                    out->set_marker_val(t, elt::SsoExtension, c, 1, 0);
            }
            size_t slot = size_t(c) + size_t(num_components) * size_t(t < 0 ? m_tiles : t);
            m_sso[slot] = flags[size_t(c)];
        }
    }
    m_tile = 0;
    BuildTile();
}

int wavelet_analysis::sso_extension(int component, int tile) const
{
    if (component < 0 || component >= m_num_components || tile < -1 || tile >= m_tiles)
        return 0;
    return m_sso[size_t(component) + size_t(m_num_components) * size_t(tile < 0 ? m_tiles : tile)];
}

void wavelet_analysis::BuildTile()
{
    m_components.clear();
    m_components.resize(size_t(m_num_components));
    for (int c = 0; c < m_num_components; ++c) {
        component_state &cs = m_components[size_t(c)];
        cs.setup = transform_setup_for(*m_info, c, 0, &cs.region);
        cs.setup.point_symmetric = m_pse;
        cs.setup.sso_extension = sso_extension(c, m_tile) != 0;
        m_info->get_tile_component_info(c, nullptr, nullptr, nullptr, &cs.frac_bits);
        cs.rows = 0;
        const bool float_path = !cs.setup.reversible;
        const int frac_bits = cs.frac_bits;
        cs.root = build_transform_tree(cs.setup, c, cs.region, false, [&](int level, int band) {
            return std::make_unique<analysis_band_buffer>(*this, float_path, c, level, band, frac_bits);
        });
    }
}

void wavelet_analysis::push_line(const int32_t *row, int component, int width)
{
    if (component < 0 || component >= m_num_components)
        local_error("The wavelet analysis has no image component %d!", component);
    component_state &cs = m_components[size_t(component)];
    if (width != cs.region.cols || cs.rows >= cs.region.rows)
        local_error(
            "The wavelet analysis received a row of %d samples for image component %d, whose tile holds "
            "%d rows of %d samples!",
            width, component, cs.region.rows, cs.region.cols);
    ++cs.rows;
    cs.root->push_int_line(row, width);
}

void wavelet_analysis::FinishTile()
{
    for (int c = 0; c < int(m_components.size()); ++c) {
        component_state &cs = m_components[size_t(c)];
        if (!cs.root)
            continue;
        // The rate allocation hears of the bands in (level, band) order.
        std::vector<analysis_band_buffer *> bands;
        for_each_band_buffer(
            *cs.root, [&](transform_stage &b) { bands.push_back(static_cast<analysis_band_buffer *>(&b)); });
        std::sort(bands.begin(), bands.end(),
                  [](const analysis_band_buffer *a, const analysis_band_buffer *b) {
                      return std::pair(a->level, a->band) < std::pair(b->level, b->band);
                  });
        if (m_info->has_lra_band_statistics())
            for (const analysis_band_buffer *b : bands)
                if (b->statistics.count > 0)
                    m_info->lra_band_statistics(b->statistics.count, b->statistics.mean[0],
                                                b->statistics.mean[1], b->statistics.mean[2],
                                                b->statistics.mean[3], c, b->level, b->band);
        cs.root->terminate();
    }
    m_components.clear();
}

int wavelet_analysis::next_tile()
{
    FinishTile();
    ++m_tile;
    BuildTile();
    return m_quantizer->next_tile();
}

void wavelet_analysis::terminate()
{
    FinishTile();
}

} // namespace zn::j2k
