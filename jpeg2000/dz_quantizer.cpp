// The dead-zone quantiser's arithmetic and its two pipeline objects.
#include "jpeg2000/dz_quantizer.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/forward_info.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/reverse_info.h"
#include "jpeg2000/stream_out.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zn::j2k {

namespace {
uint32_t Magnitude(int64_t v, int shift)
{
    uint64_t mag = uint64_t(v < 0 ? -v : v);
    // A shift that would leave the 31 magnitude bits keeps nothing (right) or saturates (left).
    if (shift < 0)
        mag = -shift >= 31 ? (mag ? 0x7FFFFFFFu : 0) : std::min<uint64_t>(mag << -shift, 0x7FFFFFFFu);
    else if (shift > 0)
        mag = shift >= 31 ? 0 : mag >> shift;
    return uint32_t(std::min<uint64_t>(mag, 0x7FFFFFFFu));
}

bool HasIndex(uint32_t w, int k)
{
    if (k <= 0)
        return (w & 0x7FFFFFFFu) != 0 || (w & kSignBit);
    if (k >= 32)
        return false;
    return (w >> k) != 0;
}
} // namespace

dz_band_entry make_dz_band_entry(double step, int exp_offset, int frac_bits)
{
    dz_band_entry b;
    b.scale =
        float(frac_bits >= 0 ? std::ldexp(1.0, frac_bits) / step : 1.0 / (std::ldexp(1.0, frac_bits) * step));
    b.shift = exp_offset - frac_bits;
    return b;
}

void dz_quantise_float_row(const dz_band_entry &b, const float *row, uint32_t *words, int width)
{
    for (int i = 0; i < width; ++i) {
        double q = std::trunc(double(b.scale) * double(row[i]));
        double mag = std::min(std::fabs(q), double(0x7FFFFFFF));
        words[i] = uint32_t(mag) | (q < 0 ? kSignBit : 0u);
    }
}

void dz_quantise_int_row(const dz_band_entry &b, const int32_t *row, uint32_t *words, int width)
{
    for (int i = 0; i < width; ++i)
        words[i] = Magnitude(row[i], b.shift) | (row[i] < 0 ? kSignBit : 0u);
}

dz_dequant_entry make_dz_dequant_entry(double step, int exp_offset, int frac_bits)
{
    dz_dequant_entry d;
    d.scale = float(step * std::ldexp(1.0, -frac_bits));
    d.shift = exp_offset - frac_bits;
    d.frac_bits = frac_bits;
    return d;
}

void dz_apply_three_eighths(uint32_t *words, int width, int frac_bits, int limit)
{
    if (limit <= 0)
        return;
    for (int i = 0; i < width; ++i) {
        uint32_t w = words[i], mag = w & 0x7FFFFFFFu;
        if (mag == 0 || !HasIndex(w, frac_bits))
            continue;
        int g = 1 + __builtin_ctz(mag);
        if (g < 31 && (mag >> g) <= uint32_t(limit))
            words[i] = w - ((1u << g) >> 3);
    }
}

void dz_dequantise_float_row(const dz_dequant_entry &b, const uint32_t *words, float *row, int width)
{
    for (int i = 0; i < width; ++i) {
        uint32_t w = words[i];
        if (!HasIndex(w, b.frac_bits)) {
            row[i] = 0.0f;
            continue;
        }
        double v = double(w & 0x7FFFFFFFu) * b.scale;
        row[i] = float((w & kSignBit) ? -v : v);
    }
}

void dz_dequantise_int_row(const dz_dequant_entry &b, const uint32_t *words, int32_t *row, int width)
{
    for (int i = 0; i < width; ++i) {
        uint32_t w = words[i];
        if (!HasIndex(w, b.frac_bits)) {
            row[i] = 0;
            continue;
        }
        int64_t mag = w & 0x7FFFFFFFu;
        if (b.shift < 0)
            mag = -b.shift >= 31 ? 0 : mag >> -b.shift;
        else if (b.shift > 0)
            mag = b.shift >= 31 ? 0x7FFFFFFF : std::min<int64_t>(mag << b.shift, 0x7FFFFFFF);
        row[i] = int32_t((w & kSignBit) ? -mag : mag);
    }
}

} // namespace zn::j2k

// The quantiser and dequantiser objects of the pipeline: a band table per component of the current
// tile, rebuilt at every tile, turns rows into words on the way to the block coder and back.
namespace zn::j2k {

namespace {

const char *const kQuantizerUsage[] = {
    "-Qtcq",
    "Use trellis coded quantization on entropy coder blocks.",
    nullptr,
};

const char *const kDequantizerUsage[] = {
    "-Q3_8 <max magnitude> (default = 0)",
    "Reconstruct quantization indices of magnitude at most <max magnitude> at 3/8 of their interval instead "
    "of its middle, which suits the peaked distributions of high-pass bands better.",
    "-Qno_tcq",
    "Decode a trellis coded code-stream with plain scalar dequantization, ignoring the trellis.",
    nullptr,
};

// A table of every band of the component's current tile-component, filled by `make`.
template <class Entry, class Info, class Make>
quant_band_table<Entry> MakeTable(Info *info, int component, Make make)
{
    quant_band_table<Entry> t;
    t.levels = info->get_tile_component_info(component, nullptr, nullptr, nullptr, nullptr);
    t.bands.resize(size_t(t.levels) + 1);
    for (int level = 0; level <= t.levels; ++level) {
        const level_info &li = info->level_record(component, level);
        t.bands[size_t(level)].resize(size_t(li.last_band + 1));
        for (int b = li.first_band; b <= li.last_band; ++b)
            t.bands[size_t(level)][size_t(b)] = make(level, b);
    }
    return t;
}

template <class Table> const Table &TableFor(const std::vector<Table> &tables, int component)
{
    if (component < 0 || size_t(component) >= tables.size())
        local_error("The quantizer has no image component %d!", component);
    return tables[size_t(component)];
}

} // namespace

template <class Entry> const Entry &quant_band_table<Entry>::At(int level, int band) const
{
    if (level < 0 || level > levels || band < 0 || size_t(band) >= bands[size_t(level)].size())
        local_error("The quantizer has no band %d at resolution level %d!", band, level);
    return bands[size_t(level)][size_t(band)];
}

std::unique_ptr<quantizer> create_dz_quantizer()
{
    return std::make_unique<dz_quantizer>();
}

std::unique_ptr<dequantizer> create_dz_dequantizer()
{
    return std::make_unique<dz_dequantizer>();
}

usage_table dequantizer_usage()
{
    return kDequantizerUsage;
}

int read_three_eighths_option(command_line *args)
{
    const char *const *params = nullptr;
    int n = args ? args->find("-Q3_8", -1, &params) : -1;
    if (n < 0)
        return 0;
    int limit = -1;
    char extra = 0;
    if (n != 1 || std::sscanf(params[0], "%d%c", &limit, &extra) != 1 || limit < 0)
        local_error("The `-Q3_8' argument requires a single non-negative integer parameter!");
    return limit;
}

void dz_quantizer::initialize(int num_components, forward_info *info, block_line_sink *coder, stream_out *out)
{
    m_info = info;
    m_coder = coder;
    m_tables.resize(size_t(num_components));
    if (out) {
        out->declare_marker_elt(-1, elt::QuantizationType, 0, 2, 1);
        out->set_marker_val(-1, elt::QuantizationType, 0, 0, 0);
    }
    BuildTables();
}

usage_table dz_quantizer::get_usage()
{
    return kQuantizerUsage;
}

void dz_quantizer::BuildTables()
{
    for (size_t c = 0; c < m_tables.size(); ++c)
        m_tables[c] = MakeTable<dz_band_entry>(m_info, int(c), [&](int level, int band) {
            float step = 1;
            int exp_offset = 0, frac_bits = 0;
            m_info->get_band_quant_info(int(c), level, band, &step, &exp_offset, nullptr, &frac_bits);
            return make_dz_band_entry(step, exp_offset, frac_bits);
        });
}

void dz_quantizer::push_float_row(const float *row, int component, int level, int band, int width)
{
    const dz_band_entry &e = TableFor(m_tables, component).At(level, band);
    if (m_words.size() < size_t(width))
        m_words.resize(size_t(width));
    dz_quantise_float_row(e, row, m_words.data(), width);
    m_coder->push_block_line(m_words.data(), component, level, band, width);
}

void dz_quantizer::push_int_row(const int32_t *row, int component, int level, int band, int width)
{
    const dz_band_entry &e = TableFor(m_tables, component).At(level, band);
    if (m_words.size() < size_t(width))
        m_words.resize(size_t(width));
    dz_quantise_int_row(e, row, m_words.data(), width);
    m_coder->push_block_line(m_words.data(), component, level, band, width);
}

int dz_quantizer::next_tile()
{
    BuildTables();
    return m_coder->next_tile();
}

void dz_quantizer::terminate()
{
    m_tables.clear();
    m_words.clear();
}

void dz_dequantizer::initialize(int num_components, reverse_info *info, block_line_source *decoder,
                                stream_in *, command_line *args)
{
    m_info = info;
    m_decoder = decoder;
    m_limit = read_three_eighths_option(args);
    m_tables.resize(size_t(num_components));
    BuildTables();
}

usage_table dz_dequantizer::get_usage()
{
    return kDequantizerUsage;
}

void dz_dequantizer::BuildTables()
{
    for (size_t c = 0; c < m_tables.size(); ++c)
        m_tables[c] = MakeTable<dz_dequant_entry>(m_info, int(c), [&](int level, int band) {
            float step = 1;
            int exp_offset = 0, frac_bits = 0;
            m_info->get_band_quant_info(int(c), level, band, &step, &exp_offset, &frac_bits);
            return make_dz_dequant_entry(step, exp_offset, frac_bits);
        });
}

const uint32_t *dz_dequantizer::Pull(int component, int level, int band, int width)
{
    if (m_words.size() < size_t(width))
        m_words.resize(size_t(width));
    m_decoder->pull_block_line(m_words.data(), component, level, band, width);
    const dz_dequant_entry &e = TableFor(m_tables, component).At(level, band);
    dz_apply_three_eighths(m_words.data(), width, e.frac_bits, m_limit);
    return m_words.data();
}

void dz_dequantizer::pull_float_row(float *row, int component, int level, int band, int width)
{
    const uint32_t *words = Pull(component, level, band, width);
    dz_dequantise_float_row(TableFor(m_tables, component).At(level, band), words, row, width);
}

void dz_dequantizer::pull_int_row(int32_t *row, int component, int level, int band, int width)
{
    const uint32_t *words = Pull(component, level, band, width);
    dz_dequantise_int_row(TableFor(m_tables, component).At(level, band), words, row, width);
}

int dz_dequantizer::next_tile()
{
    BuildTables();
    return m_decoder->next_tile();
}

void dz_dequantizer::terminate()
{
    m_tables.clear();
    m_words.clear();
}

} // namespace zn::j2k
