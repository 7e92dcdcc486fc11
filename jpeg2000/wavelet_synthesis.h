// The decoder's wavelet synthesis object. For each component of the current tile it builds a tree of
// line-based synthesis stages at the reduced resolution; each row the component demix asks for is
// pulled through the tree, which pulls just the band rows it needs from the dequantiser (through
// band buffers that undo the visual masking). Discarded resolution levels are never requested.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/coding_pipeline.h"
#include "jpeg2000/visual_masking.h"
#include "jpeg2000/wavelet_analysis.h"

#include <memory>
#include <vector>

namespace zn::j2k {

class wavelet_synthesis;

// A leaf of the synthesis tree: pulls the band's rows from the dequantiser and undoes the masking.
// Integer rows of a non-reversible component are float rows rounded half away from zero.
class synthesis_band_buffer : public transform_stage
{
public:
    synthesis_band_buffer(wavelet_synthesis &owner, bool float_path, int component, int level, int band,
                          int frac_bits);
    void pull_int_line(int32_t *row, int length) override;
    void pull_float_line(float *row, int length) override;
    void terminate() override;

private:
    wavelet_synthesis &m_owner;
    int m_frac_bits;
    std::unique_ptr<visual_mask> m_mask;
    std::vector<float> m_row; // TRANSFORM HORIZONTAL BUFFERING (software convenience)
};

class wavelet_synthesis : public line_source
{
public:
    void initialize(int discarded, int num_components, reverse_info *info, dequantizer *dq,
                    block_line_source *decoder, stream_in *in, command_line *args);
    usage_table get_usage() { return nullptr; }
    // Rows of a component are pulled top to bottom, each as wide as the reduced tile-component.
    void pull_line(int32_t *row, int component, int width) override;
    int next_tile() override;
    void terminate();

    bool point_symmetric() const { return m_pse; }
    const mask_params &masking() const { return m_mask; }

private:
    friend class synthesis_band_buffer;
    struct component_state
    {
        component_transform_setup setup;
        region_rect region;
        std::unique_ptr<transform_stage> root;
        int next_row = 0;
        int frac_bits = 0;
    };
    void BuildTile();
    void FinishTile();

    int m_discarded = 0;
    int m_num_components = 0;
    reverse_info *m_info = nullptr;
    dequantizer *m_dequantizer = nullptr;
    block_line_source *m_decoder = nullptr;
    stream_in *m_in = nullptr;
    bool m_pse = false;
    mask_params m_mask;
    int m_tile = 0;
    std::vector<component_state> m_components;
};

std::unique_ptr<wavelet_synthesis> create_wavelet_synthesis();

} // namespace zn::j2k
