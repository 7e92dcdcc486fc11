// The wavelet synthesis object: the transform's signals read back from the code-stream, the per-tile
// trees at the reduced resolution, and the band buffers between the dequantiser and the transform.
#include "jpeg2000/wavelet_synthesis.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/reverse_info.h"
#include "jpeg2000/stream_in.h"

#include <algorithm>
#include <cmath>

namespace zn::j2k {

std::unique_ptr<wavelet_synthesis> create_wavelet_synthesis()
{
    return std::make_unique<wavelet_synthesis>();
}

synthesis_band_buffer::synthesis_band_buffer(wavelet_synthesis &owner, bool float_path, int component,
                                             int level, int band, int frac_bits)
    : transform_stage(kBand, float_path, component, level, band), m_owner(owner), m_frac_bits(frac_bits)
{}

void synthesis_band_buffer::pull_int_line(int32_t *row, int length)
{
    if (!float_flag) {
        m_owner.m_dequantizer->pull_int_row(row, component, level, band, length);
        return;
    }
    m_row.resize(size_t(length));
    pull_float_line(m_row.data(), length);
    round_samples(m_row.data(), row, length);
}

void synthesis_band_buffer::pull_float_line(float *row, int length)
{
    m_owner.m_dequantizer->pull_float_row(row, component, level, band, length);
    if (m_owner.m_mask.alpha == 0)
        return;
    if (!m_mask) {
        float step = 1;
        int K = 0, height = 0, width = 0;
        m_owner.m_info->get_band_quant_info(component, level, band, &step, nullptr, &K);
        m_owner.m_decoder->get_band_block_size(component, level, band, &height, &width);
        m_mask =
            std::make_unique<visual_mask>(m_owner.m_mask, true, length, m_frac_bits, step, K, height, width);
    }
    m_mask->apply_row(row, level);
}

void synthesis_band_buffer::terminate()
{
    m_mask.reset();
    m_row = {};
}

void wavelet_synthesis::initialize(int discarded, int num_components, reverse_info *info, dequantizer *dq,
                                   block_line_source *decoder, stream_in *in, command_line *)
{
    m_discarded = discarded;
    m_num_components = num_components;
    m_info = info;
    m_dequantizer = dq;
    m_decoder = decoder;
    m_in = in;
    int length = 0;
    m_pse = in && in->get_comment(kRcmePointSymmetric, 0, &length) != nullptr;
    // Each masking parameter travels in one byte; an absent one keeps its default.
    auto byte = [&](int rcme, int absent) {
        int n = 0;
        const uint8_t *p = in ? in->get_comment(rcme, 0, &n) : nullptr;
        return p && n >= 1 ? int(p[0]) : absent;
    };
    m_mask = mask_params{};
    m_mask.alpha = float(byte(kRcmeMaskAlpha, 0) * 0.1);
    m_mask.beta = float(byte(kRcmeMaskBeta, 0) * 0.1);
    m_mask.minlevel = byte(kRcmeMaskMinLevel, 1);
    m_mask.bits_retained = byte(kRcmeMaskBitsRetained, 9);
    m_mask.respect_block_boundaries = byte(kRcmeMaskRespectBlocks, 1);
    m_mask.win_width = byte(kRcmeMaskWinWidth, 6);
    m_tile = 0;
    BuildTile();
}

void wavelet_synthesis::BuildTile()
{
    m_components.clear();
    m_components.resize(size_t(m_num_components));
    for (int c = 0; c < m_num_components; ++c) {
        component_state &cs = m_components[size_t(c)];
        int levels = m_info->get_tile_component_info(c, nullptr, nullptr, nullptr, &cs.frac_bits);
        if (levels < m_discarded)
            local_error("The current codestream does not support sufficient resolution scalability for the "
                        "requested reduction in resolution.  At most %d resolution levels may be discarded!",
                        levels);
        cs.setup = transform_setup_for(*m_info, c, m_discarded, &cs.region);
        cs.setup.point_symmetric = m_pse;
        int tile = m_info->current_tile();
        cs.setup.sso_extension = m_in && m_in->marker_elt_count(tile, elt::SsoExtension, c) > 0 &&
                                 m_in->get_marker_val(tile, elt::SsoExtension, c, 0) != 0;
        const bool float_path = !cs.setup.reversible;
        const int frac_bits = cs.frac_bits;
        cs.root = build_transform_tree(cs.setup, c, cs.region, true, [&](int level, int band) {
            return std::make_unique<synthesis_band_buffer>(*this, float_path, c, level, band, frac_bits);
        });
    }
}

void wavelet_synthesis::pull_line(int32_t *row, int component, int width)
{
    if (component < 0 || component >= m_num_components)
        local_error("The wavelet synthesis has no image component %d!", component);
    component_state &cs = m_components[size_t(component)];
    if (width != cs.region.cols || cs.next_row >= cs.region.rows)
        local_error(
            "A row of %d samples was asked of image component %d, whose tile holds %d rows of %d samples!",
            width, component, cs.region.rows, cs.region.cols);
    ++cs.next_row;
    cs.root->pull_int_line(row, width);
}

void wavelet_synthesis::FinishTile()
{
    for (component_state &cs : m_components)
        if (cs.root)
            cs.root->terminate();
    m_components.clear();
}

int wavelet_synthesis::next_tile()
{
    FinishTile();
    ++m_tile;
    BuildTile();
    return m_dequantizer->next_tile();
}

void wavelet_synthesis::terminate()
{
    FinishTile();
}

} // namespace zn::j2k
