// Test-side whole codec: simple coding parameters (Mallat levels, built-in kernels, explicit steps
// or reversible ranges, tiles) declared into and read back from the code-stream, and a pipeline
// that transforms each tile-component as a whole plane, quantises with the dead-zone quantiser and
// runs the block coders and the row loops. Images go in and come out as memory images.
#pragma once

#include "jpeg2000/block_coder_params.h"
#include "jpeg2000/memory_image.h"
#include "jpeg2000/tile_partition.h"
#include "jpeg2000/wavelet_kernels.h"

#include <memory>
#include <string>
#include <vector>

namespace zn::j2k {
class stream_out;
class stream_in;
} // namespace zn::j2k

namespace j2ktest {

struct CodecSettings
{
    int levels = 5;
    bool reversible = false;
    int guard_bits = 2;
    double base_step = 1.0 / 128;
    int tile_height = 0, tile_width = 0; // 0: one tile
    int top = 0, left = 0;               // image offset on the reference grid
    int quantization_type = 0;           // what the header says the quantiser was
};

// The coding parameters of the test pipeline, for the encoder (from settings) or the decoder (from
// the code-stream's elements).
class SimpleCodingInfo : public zn::j2k::block_coder_params
{
public:
    SimpleCodingInfo(const CodecSettings &s, int precision, const std::vector<int32_t> &heights,
                     const std::vector<int32_t> &widths);
    explicit SimpleCodingInfo(zn::j2k::stream_in &in);

    // Declares every element the parameter objects of an encoder run declare.
    void Declare(zn::j2k::stream_out &out) const;

    bool get_tile_info(int component, int tile, int *column, int *row, zn::j2k::enc_rect *rect, int *sub_x,
                       int *sub_y, int *signed_precision) override;
    int get_tile_component_info(int component, int *tile, zn::j2k::enc_rect *rect, int *reversible,
                                int *fraction_bits) override;
    int next_tile(int reset) override;
    void get_level_info(int component, int level, zn::j2k::enc_rect *rect, int *hp_descent,
                        zn::j2k::frame_geometry *frame) override;
    int get_band_info(int component, int level, int band, zn::j2k::enc_rect *rect,
                      zn::j2k::frame_geometry *frame) override;
    void get_band_quant_info(int component, int level, int band, float *step, int *negative_exponent,
                             float *weight, int *K) override;

    int components() const { return m_components; }
    int levels(int c) const { return m_levels[size_t(c)]; }
    bool reversible(int c) const { return m_reversible[size_t(c)]; }
    int precision() const { return m_precision; }
    const zn::j2k::wavelet_kernel &kernel(int c) const { return m_kernels[size_t(c)]; }
    int current_tile() const { return m_current; }
    const zn::j2k::tile_partition &partition() const { return m_partition; }

private:
    struct Band
    {
        int e = 0, m = 0;
        float weight = 1.0f;
    };
    void BuildBands();
    int BandIndex(int level, int band) const { return level == 0 ? 0 : 3 * (level - 1) + band; }

    int m_components = 0, m_precision = 8;
    CodecSettings m_settings;
    zn::j2k::canvas_tiling m_canvas;
    zn::j2k::tile_partition m_partition;
    int m_current = 0;
    std::vector<int> m_levels;
    std::vector<bool> m_reversible;
    std::vector<int> m_guard;
    std::vector<zn::j2k::wavelet_kernel> m_kernels;
    std::vector<std::vector<Band>> m_bands; // per component: LL, then levels 1..L bands 1..3
};

// Encodes `image` with the block coder's options in `args`; returns the code-stream file's bytes.
// `budget` in bytes (0: lossless, as the module asks for it).
std::vector<uint8_t> EncodeImage(const zn::j2k::memory_image &image, const CodecSettings &s,
                                 const std::vector<std::string> &args, int64_t budget,
                                 const std::string &path);

struct DecodeOptions
{
    int discard_levels = 0;
    int64_t truncation = 0; // bytes; 0: none
    std::vector<std::string> args;
    int64_t max_pixels = 0; // per component; 0: no limit (fuzzing sets limits)
    int max_components = 0;
};
// Decodes a code-stream file of our layout. `bytes_used` receives what the block decoder reports.
zn::j2k::memory_image DecodeImage(const std::string &path, const DecodeOptions &o = {},
                                  int32_t *bytes_used = nullptr);
// The same from bytes in memory.
zn::j2k::memory_image DecodeBytes(const std::vector<uint8_t> &bytes, const DecodeOptions &o = {},
                                  int32_t *bytes_used = nullptr);

// Peak signal-to-noise ratio of two 8-bit images, over all components.
double Psnr(const zn::j2k::memory_image &a, const zn::j2k::memory_image &b);
// Largest absolute sample difference.
int MaxDifference(const zn::j2k::memory_image &a, const zn::j2k::memory_image &b);

} // namespace j2ktest
