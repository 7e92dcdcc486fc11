// The dead-zone scalar quantiser. A band sample becomes a 32-bit sign-magnitude word: bit 31 the
// sign, the magnitude the quantisation index with K fractional bits below it, so the block coder
// can code bit-planes below the index and the decoder can reconstruct inside the interval.
#pragma once

#include "jpeg2000/coding_pipeline.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zn::j2k {

constexpr uint32_t kSignBit = 0x80000000u;

// Encoder band entry from the band's step, exponent offset E and fractional bits K.
struct dz_band_entry
{
    float scale = 1.0f; // 2^K / step
    int shift = 0;      // E - K
};
dz_band_entry make_dz_band_entry(double step, int exp_offset, int frac_bits);

// Quantise in place; the float row is rewritten as words.
void dz_quantise_float_row(const dz_band_entry &b, const float *row, uint32_t *words, int width);
void dz_quantise_int_row(const dz_band_entry &b, const int32_t *row, uint32_t *words, int width);

// Decoder band entry.
struct dz_dequant_entry
{
    float scale = 1.0f; // step / 2^K
    int shift = 0;
    int frac_bits = 0;
};
dz_dequant_entry make_dz_dequant_entry(double step, int exp_offset, int frac_bits);

// "-Q3_8": indices of magnitude at most `limit` are moved from the middle of their interval to 3/8.
void dz_apply_three_eighths(uint32_t *words, int width, int frac_bits, int limit);
void dz_dequantise_float_row(const dz_dequant_entry &b, const uint32_t *words, float *row, int width);
void dz_dequantise_int_row(const dz_dequant_entry &b, const uint32_t *words, int32_t *row, int width);

inline constexpr char kQuantizationMemory[] = "QUANTIZATION OBJECT MEMORY";

// Per component of the current tile, one entry per (level, band); rebuilt at every tile.
template <class Entry> struct quant_band_table
{
    int levels = 0;
    std::vector<std::vector<Entry>> bands; // [level][band]; a level holds band indices 0 .. its last
    const Entry &At(int level, int band) const;
};

// The dead-zone quantiser object between the wavelet analysis and the block coder.
class dz_quantizer : public quantizer
{
public:
    void initialize(int num_components, forward_info *info, block_line_sink *coder, stream_out *out) override;
    usage_table get_usage() override;
    void push_float_row(const float *row, int component, int level, int band, int width) override;
    void push_int_row(const int32_t *row, int component, int level, int band, int width) override;
    int next_tile() override;
    void terminate() override;

private:
    void BuildTables();
    std::vector<quant_band_table<dz_band_entry>> m_tables;
    forward_info *m_info = nullptr;
    block_line_sink *m_coder = nullptr;
    std::vector<uint32_t> m_words;
};

// Its mirror between the block decoder and the wavelet synthesis, with "-Q3_8".
class dz_dequantizer : public dequantizer
{
public:
    void initialize(int num_components, reverse_info *info, block_line_source *decoder, stream_in *in,
                    command_line *args) override;
    usage_table get_usage() override;
    void pull_float_row(float *row, int component, int level, int band, int width) override;
    void pull_int_row(int32_t *row, int component, int level, int band, int width) override;
    int next_tile() override;
    void terminate() override;

    int three_eighths_limit() const { return m_limit; }

private:
    void BuildTables();
    const uint32_t *Pull(int component, int level, int band, int width);
    std::vector<quant_band_table<dz_dequant_entry>> m_tables;
    reverse_info *m_info = nullptr;
    block_line_source *m_decoder = nullptr;
    std::vector<uint32_t> m_words;
    int m_limit = 0;
};

std::unique_ptr<quantizer> create_dz_quantizer();
std::unique_ptr<dequantizer> create_dz_dequantizer();

// The usage table both dequantisers share ("-Q3_8" and "-Qno_tcq").
usage_table dequantizer_usage();
// "-Q3_8": its single non-negative parameter, 0 when absent.
int read_three_eighths_option(command_line *args);

} // namespace zn::j2k
