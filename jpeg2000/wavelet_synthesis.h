// The decoder's wavelet synthesis object. For each component of the current tile it pulls every band
// row the reduced resolution needs from the dequantiser (through band buffers that undo the visual
// masking), rebuilds the tile-component and hands its rows to the component demix top to bottom.
// Discarded resolution levels are never requested.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/coding_pipeline.h"
#include "jpeg2000/visual_masking.h"
#include "jpeg2000/wavelet_analysis.h"

#include <map>
#include <memory>
#include <vector>

namespace zn::j2k {

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
    class BandSource;
    struct component_state
    {
        component_transform_setup setup;
        region_rect region;
        std::vector<int32_t> plane;
        bool ready = false;
        int next_row = 0;
        int frac_bits = 0;
        std::map<std::pair<int, int>, band_buffer_state> bands;
    };
    void BuildTile();

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
