// The encoder's wavelet analysis object. It takes the rows of each component of the current tile from
// the component mix, transforms each tile-component with the kernels, structure and frames that
// forward_info gives for it, and hands every band row to the quantiser through a band buffer, which
// applies the visual masking ("-Xmask") and gathers the statistics of the rate allocation.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/coding_info.h"
#include "jpeg2000/coding_pipeline.h"
#include "jpeg2000/visual_masking.h"

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace zn::j2k {

inline constexpr char kTransformMemory[] = "TRANSFORM OBJECT MEMORY";

// Comment-segment registration values of the transform's options.
constexpr int kRcmePointSymmetric = 0x1010;
constexpr int kRcmeMaskAlpha = 0xFEF9, kRcmeMaskBeta = 0xFEF8, kRcmeMaskMinLevel = 0xFEF7,
              kRcmeMaskBitsRetained = 0xFEF6, kRcmeMaskRespectBlocks = 0xFEF5, kRcmeMaskWinWidth = 0xFEF4;

// One band buffer's state for a tile: its masking and its sample statistics.
struct band_buffer_state
{
    double count = 0;
    double mean[4] = {0, 0, 0, 0};
    std::unique_ptr<visual_mask> mask;
    std::vector<float> row;
    void Accumulate(const float *values, int n);
};

class wavelet_analysis : public line_sink
{
public:
    void initialize(int num_components, forward_info *info, quantizer *q, block_line_sink *coder,
                    stream_out *out, command_line *args);
    usage_table get_usage();
    // Rows of a component arrive top to bottom, each as wide as the widened tile-component.
    void push_line(const int32_t *row, int component, int width) override;
    int next_tile() override;
    void terminate();

    bool point_symmetric() const { return m_pse; }
    const mask_params &masking() const { return m_mask; }
    bool masking_on() const { return m_mask.alpha != 0; }
    int sso_extension(int component, int tile) const;

private:
    class BandSink;
    struct component_state
    {
        component_transform_setup setup;
        region_rect region;
        std::vector<int32_t> plane;
        int rows = 0;
        int frac_bits = 0;
        std::map<std::pair<int, int>, band_buffer_state> bands;
    };
    void BuildTile();
    void FinishTile();
    void Transform(int component);

    int m_num_components = 0;
    forward_info *m_info = nullptr;
    quantizer *m_quantizer = nullptr;
    block_line_sink *m_coder = nullptr;
    bool m_pse = false;
    mask_params m_mask;
    int m_tile = 0;
    int m_tiles = 0;
    std::vector<int> m_sso; // component + components * tile; the global flags at the end
    std::vector<component_state> m_components;
};

std::unique_ptr<wavelet_analysis> create_wavelet_analysis();

// The transform set-up of the current tile's component from the coding parameters, without its
// `discarded` highest levels (the decoder's reduced resolution); *region gets the root's region.
component_transform_setup transform_setup_for(const coding_info &info, int component, int discarded,
                                              region_rect *region);

} // namespace zn::j2k
