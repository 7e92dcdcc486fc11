// The encoder's wavelet analysis object. It takes the rows of each component of the current tile from
// the component mix and pushes them into that tile-component's tree of line-based stages, built with
// the kernels, structure and frames that forward_info gives for it. The leaves are band buffers,
// which apply the visual masking ("-Xmask"), gather the statistics of the rate allocation and hand
// every band row to the quantiser as soon as the tree has made it.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/coding_info.h"
#include "jpeg2000/coding_pipeline.h"
#include "jpeg2000/visual_masking.h"
#include "jpeg2000/wavelet_stages.h"

#include <memory>
#include <vector>

namespace zn::j2k {

inline constexpr char kTransformMemory[] = "TRANSFORM OBJECT MEMORY";

// Comment-segment registration values of the transform's options.
constexpr int kRcmePointSymmetric = 0x1010;
constexpr int kRcmeMaskAlpha = 0xFEF9, kRcmeMaskBeta = 0xFEF8, kRcmeMaskMinLevel = 0xFEF7,
              kRcmeMaskBitsRetained = 0xFEF6, kRcmeMaskRespectBlocks = 0xFEF5, kRcmeMaskWinWidth = 0xFEF4;

// Running means of x, x^2, x^3 and x^4 over the samples of a band, for the rate allocation.
struct band_statistics
{
    double count = 0;
    double mean[4] = {0, 0, 0, 0};
    void Accumulate(const float *values, int n);
};

class wavelet_analysis;

// A leaf of the analysis tree: masks the band's rows, gathers their statistics and pushes them to
// the quantiser. Integer rows of a non-reversible component become floats here.
class analysis_band_buffer : public transform_stage
{
public:
    analysis_band_buffer(wavelet_analysis &owner, bool float_path, int component, int level, int band,
                         int frac_bits);
    void push_int_line(const int32_t *row, int length) override;
    void push_float_line(const float *row, int length) override;
    void terminate() override;

    band_statistics statistics;

private:
    wavelet_analysis &m_owner;
    int m_frac_bits;
    std::unique_ptr<visual_mask> m_mask;
    std::vector<float> m_row; // TRANSFORM HORIZONTAL BUFFERING (software convenience)
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
    friend class analysis_band_buffer;
    struct component_state
    {
        component_transform_setup setup;
        region_rect region;
        std::unique_ptr<transform_stage> root;
        int rows = 0;
        int frac_bits = 0;
    };
    void BuildTile();
    void FinishTile();

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
