// The test-side codec: stand-in coding parameters and a whole-plane transform pipeline around the
// block coders, the row loops and the code-stream writer and reader.
#include "jpeg2000/support/test_codec.h"

#include "jpeg2000/band_steps.h"
#include "jpeg2000/command_line.h"
#include "jpeg2000/dz_quantizer.h"
#include "jpeg2000/ebcot_decoder.h"
#include "jpeg2000/ebcot_encoder.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/stream_out.h"
#include "jpeg2000/wavelet_transform.h"

#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

using namespace zn::j2k;

namespace j2ktest {

namespace {
enc_rect ToRect(const region_rect &r)
{
    return enc_rect{r.rows, r.cols, r.first_row, r.first_col};
}
region_rect ToRegion(const enc_rect &r)
{
    return region_rect{r.height, r.width, r.y0, r.x0};
}

// The built-in non-reversible kernels scale their high-pass channel by a negative factor, so a band
// reached through one high-pass branch has the opposite sign of the standard's; the stream must
// carry the standard's sign, so such bands are negated on the way into and out of the block coder.
bool FlipsSign(bool reversible, int level, int band)
{
    return !reversible && level > 0 && (band == 1 || band == 2);
}

void FlipSigns(uint32_t *words, int n, int K)
{
    for (int i = 0; i < n; ++i)
        if (K >= 31 ? false : ((words[i] & 0x7FFFFFFFu) >> std::max(K, 0)) != 0)
            words[i] ^= 0x80000000u;
}

void LoadKernel(bool reversible, wavelet_kernel &k)
{
    k.type = reversible ? kKernelIntLifting : kKernelFloatLifting;
    load_kernel(reversible ? "W5X3" : "W9X7", nullptr, k);
}
} // namespace

SimpleCodingInfo::SimpleCodingInfo(const CodecSettings &s, int precision, const std::vector<int32_t> &heights,
                                   const std::vector<int32_t> &widths)
    : m_components(static_cast<int>(heights.size())), m_precision(precision), m_settings(s)
{
    for (size_t c = 1; c < heights.size(); ++c)
        if (heights[c] != heights[0] || widths[c] != widths[0])
            throw std::invalid_argument("the test parameters need components of one size");
    m_canvas.top = s.top;
    m_canvas.left = s.left;
    m_canvas.height = heights[0];
    m_canvas.width = widths[0];
    m_canvas.tile_height = s.tile_height;
    m_canvas.tile_width = s.tile_width;
    m_partition = build_tile_partition(m_canvas);
    m_levels.assign(size_t(m_components), s.levels);
    m_reversible.assign(size_t(m_components), s.reversible);
    m_guard.assign(size_t(m_components), s.guard_bits);
    BuildBands();
}

SimpleCodingInfo::SimpleCodingInfo(stream_in &in)
{
    auto value = [&](const char *d, int instance, int index) {
        return in.get_marker_val(-1, d, instance, index);
    };
    m_components = value(elt::CSiz, 0, 0);
    m_canvas.left = value(elt::XOSiz, 0, 0);
    m_canvas.top = value(elt::YOSiz, 0, 0);
    m_canvas.width = value(elt::XSiz, 0, 0) - m_canvas.left;
    m_canvas.height = value(elt::YSiz, 0, 0) - m_canvas.top;
    m_canvas.tile_width = value(elt::XTSiz, 0, 0);
    m_canvas.tile_height = value(elt::YTSiz, 0, 0);
    m_canvas.ref_col = value(elt::XTOSiz, 0, 0);
    m_canvas.ref_row = value(elt::YTOSiz, 0, 0);
    m_precision = value(elt::Precision, 0, 0) & 0x7F;
    m_partition = build_tile_partition(m_canvas);
    m_settings.base_step = 0;
    for (int c = 0; c < m_components; ++c) {
        m_levels.push_back(value(elt::Levels, c, 0));
        m_reversible.push_back(value(elt::Reversible, c, 0) != 0);
        m_guard.push_back(value(elt::GuardBits, c, 0));
    }
    m_kernels.resize(size_t(m_components));
    m_bands.resize(size_t(m_components));
    for (int c = 0; c < m_components; ++c) {
        LoadKernel(m_reversible[size_t(c)], m_kernels[size_t(c)]);
        const int bands = 3 * m_levels[size_t(c)] + 1;
        m_bands[size_t(c)].resize(size_t(bands));
        for (int b = 0; b < bands; ++b) {
            Band &band = m_bands[size_t(c)][size_t(b)];
            if (m_reversible[size_t(c)]) {
                band.e = in.get_marker_val(-1, elt::ReversibleRanges, c, b);
            } else {
                const int v = in.get_marker_val(-1, elt::StepParams, c, b);
                band.e = (v >> 11) & 0x1F;
                band.m = v & 0x7FF;
            }
        }
    }
}

void SimpleCodingInfo::BuildBands()
{
    m_kernels.resize(size_t(m_components));
    m_bands.resize(size_t(m_components));
    for (int c = 0; c < m_components; ++c) {
        wavelet_kernel &k = m_kernels[size_t(c)];
        LoadKernel(m_reversible[size_t(c)], k);
        const int L = m_levels[size_t(c)];
        std::vector<Band> &bands = m_bands[size_t(c)];
        bands.assign(size_t(3 * L + 1), Band{});
        for (int r = 0; r <= L; ++r)
            for (int b = r == 0 ? 0 : 1; b <= (r == 0 ? 0 : 3); ++b) {
                Band &band = bands[size_t(BandIndex(r, b))];
                const double norm = band_basis_norm(k, k, L, r, b);
                const double gain = band_nominal_gain(k, k, L, r, b);
                if (m_reversible[size_t(c)]) {
                    const double range = std::ldexp(1.0, m_precision) * gain;
                    band.e = reversible_range_exponent(range);
                    band.weight = float((norm * gain / range) * (norm * gain / range));
                } else {
                    exp_mant em = step_to_exp_mant(m_settings.base_step / norm);
                    band.e = em.e;
                    band.m = em.m;
                    const double step = exp_mant_to_step(em.e, em.m) * norm;
                    band.weight = float(step * step);
                }
            }
    }
}

void SimpleCodingInfo::Declare(stream_out &out) const
{
    auto one = [&](const char *d, int bits, int32_t v) {
        out.declare_marker_elt(-1, d, 0, bits, 1);
        out.set_marker_val(-1, d, 0, v, 0);
    };
    one(elt::XSiz, 32, m_canvas.left + m_canvas.width);
    one(elt::YSiz, 32, m_canvas.top + m_canvas.height);
    one(elt::XOSiz, 32, m_canvas.left);
    one(elt::YOSiz, 32, m_canvas.top);
    one(elt::XTSiz, 32, m_canvas.tile_width > 0 ? m_canvas.tile_width : m_canvas.left + m_canvas.width);
    one(elt::YTSiz, 32, m_canvas.tile_height > 0 ? m_canvas.tile_height : m_canvas.top + m_canvas.height);
    one(elt::XTOSiz, 32, m_canvas.ref_col);
    one(elt::YTOSiz, 32, m_canvas.ref_row);
    one(elt::QuantizationType, 2, m_settings.quantization_type);
    one(elt::Mct, 8, 0);
    for (const char *d : {elt::Precision, elt::HorizontalSubsampling, elt::VerticalSubsampling})
        out.declare_marker_elt(-1, d, 0, 8, m_components);
    for (int c = 0; c < m_components; ++c) {
        out.set_marker_val(-1, elt::Precision, 0, m_precision, c);
        out.set_marker_val(-1, elt::HorizontalSubsampling, 0, 1, c);
        out.set_marker_val(-1, elt::VerticalSubsampling, 0, 1, c);
        out.declare_marker_elt(-1, elt::GuardBits, c, 3, 1);
        out.set_marker_val(-1, elt::GuardBits, c, m_guard[size_t(c)], 0);
        out.declare_marker_elt(-1, elt::Reversible, c, 1, 1);
        out.set_marker_val(-1, elt::Reversible, c, m_reversible[size_t(c)] ? 1 : 0, 0);
        out.declare_marker_elt(-1, elt::Levels, c, 8, 1);
        out.set_marker_val(-1, elt::Levels, c, m_levels[size_t(c)], 0);
        const std::vector<Band> &bands = m_bands[size_t(c)];
        const int n = static_cast<int>(bands.size());
        const bool rev = m_reversible[size_t(c)];
        out.declare_marker_elt(-1, elt::ReversibleRanges, c, 5, rev ? n : 0);
        out.declare_marker_elt(-1, elt::StepParams, c, 16, rev ? 0 : n);
        for (int b = 0; b < n; ++b) {
            if (rev)
                out.set_marker_val(-1, elt::ReversibleRanges, c, bands[size_t(b)].e, b);
            else
                out.set_marker_val(-1, elt::StepParams, c, bands[size_t(b)].e * 2048 + bands[size_t(b)].m, b);
        }
    }
}

bool SimpleCodingInfo::get_tile_info(int component, int tile, int *column, int *row, enc_rect *rect,
                                     int *sub_x, int *sub_y, int *signed_precision)
{
    if (tile < 0 || tile >= static_cast<int>(m_partition.tiles.size()) || component >= m_components)
        return false;
    const tile_info &t = m_partition.tiles[size_t(tile)];
    if (column)
        *column = t.column;
    if (row)
        *row = t.row;
    if (rect)
        *rect = enc_rect{t.height, t.width, t.y0, t.x0};
    if (sub_x)
        *sub_x = 1;
    if (sub_y)
        *sub_y = 1;
    if (signed_precision)
        *signed_precision = m_precision;
    return true;
}

int SimpleCodingInfo::get_tile_component_info(int component, int *tile, enc_rect *rect, int *reversible,
                                              int *fraction_bits)
{
    get_tile_info(component, m_current, nullptr, nullptr, rect, nullptr, nullptr, nullptr);
    if (tile)
        *tile = m_current;
    if (reversible)
        *reversible = m_reversible[size_t(component)];
    if (fraction_bits)
        *fraction_bits = m_reversible[size_t(component)] ? 0 : 32 - m_precision - m_guard[size_t(component)];
    return m_levels[size_t(component)];
}

int SimpleCodingInfo::next_tile(int reset)
{
    if (reset) {
        m_current = 0;
        return 4;
    }
    ++m_current;
    if (m_current >= static_cast<int>(m_partition.tiles.size()))
        return 0;
    return m_partition.tiles[size_t(m_current)].column == 0 ? 2 : 1;
}

void SimpleCodingInfo::get_level_info(int component, int level, enc_rect *rect, int *hp_descent,
                                      frame_geometry *frame)
{
    enc_rect tile;
    get_tile_info(component, m_current, nullptr, nullptr, &tile, nullptr, nullptr, nullptr);
    if (rect)
        *rect = ToRect(level_region(ToRegion(tile), m_levels[size_t(component)], level));
    if (hp_descent)
        *hp_descent = level == 0 ? 0 : 1;
    if (frame)
        *frame = frame_geometry{};
}

int SimpleCodingInfo::get_band_info(int component, int level, int band, enc_rect *rect, frame_geometry *frame)
{
    enc_rect tile;
    get_tile_info(component, m_current, nullptr, nullptr, &tile, nullptr, nullptr, nullptr);
    region_rect r = level_region(ToRegion(tile), m_levels[size_t(component)], level);
    if (level > 0)
        r = child_region(r, band >> 1, band & 1);
    if (rect)
        *rect = ToRect(r);
    if (frame)
        *frame = frame_geometry{};
    return r.rows;
}

void SimpleCodingInfo::get_band_quant_info(int component, int level, int band, float *step,
                                           int *negative_exponent, float *weight, int *K)
{
    const Band &b = m_bands[size_t(component)][size_t(BandIndex(level, band))];
    const int G = m_guard[size_t(component)];
    const int k = 32 - b.e - G;
    if (m_reversible[size_t(component)]) {
        *step = 1.0f;
        *negative_exponent = 0;
    } else {
        const int t = b.e + G - 32;
        *step = float((1.0 + b.m / 2048.0) * std::ldexp(1.0, -t));
        *negative_exponent = -t;
    }
    if (weight)
        *weight = b.weight;
    *K = k;
}

namespace {
// The encoder's whole-plane pipeline: collects a tile's rows, then analyses and quantises each
// component into the block coder.
class PlaneMix : public component_line_sink, public band_row_sink
{
public:
    PlaneMix(SimpleCodingInfo &info, ebcot_encoder &ebcot) : m_info(info), m_ebcot(ebcot) { Reset(); }
    void push_line(const int32_t *line, int c, int width) override
    {
        auto &plane = m_planes[size_t(c)];
        plane.insert(plane.end(), line, line + width);
    }
    void next_tile() override
    {
        Finish();
        m_ebcot.next_tile();
        ++m_tile;
        Reset();
    }
    void Finish()
    {
        for (int c = 0; c < m_info.components(); ++c) {
            enc_rect rect;
            m_info.get_tile_info(c, m_tile, nullptr, nullptr, &rect, nullptr, nullptr, nullptr);
            const int L = m_info.levels(c);
            const int rev = m_info.reversible(c);
            if (m_planes[size_t(c)].size() != size_t(rect.height) * size_t(rect.width))
                throw std::logic_error("the pipeline lost rows of a tile");
            component_transform_setup setup;
            setup.levels = L;
            setup.reversible = rev != 0;
            setup.vertical = setup.horizontal = &m_info.kernel(c);
            analyse_component(setup, c, ToRegion(rect), m_planes[size_t(c)].data(), *this);
        }
    }
    void push_int_row(const int32_t *row, int c, int l, int b, int n) override
    {
        m_words.resize(size_t(n));
        dz_quantise_int_row(Entry(c, l, b), row, m_words.data(), n);
        m_ebcot.push_block_line(reinterpret_cast<const int32_t *>(m_words.data()), c, l, b, n);
    }
    void push_float_row(const float *row, int c, int l, int b, int n) override
    {
        m_floats.assign(row, row + n);
        m_words.resize(size_t(n));
        dz_quantise_float_row(Entry(c, l, b), m_floats.data(), m_words.data(), n);
        if (FlipsSign(false, l, b))
            FlipSigns(m_words.data(), n, 0);
        m_ebcot.push_block_line(reinterpret_cast<const int32_t *>(m_words.data()), c, l, b, n);
    }

private:
    dz_band_entry Entry(int c, int l, int b)
    {
        float step = 1, weight = 1;
        int negative = 0, K = 0;
        m_info.get_band_quant_info(c, l, b, &step, &negative, &weight, &K);
        return make_dz_band_entry(step, negative, K);
    }
    void Reset() { m_planes.assign(size_t(m_info.components()), {}); }
    SimpleCodingInfo &m_info;
    ebcot_encoder &m_ebcot;
    int m_tile = 0;
    std::vector<std::vector<int32_t>> m_planes;
    std::vector<uint32_t> m_words;
    std::vector<float> m_floats;
};

// The decoder's mirror: on a tile's first row of a component, dequantises and synthesises it.
class PlaneDemix : public component_line_source, public band_row_source
{
public:
    PlaneDemix(SimpleCodingInfo &info, ebcot_decoder &ebcot, int discard)
        : m_info(info), m_ebcot(ebcot), m_discard(discard)
    {
        Reset();
    }
    void pull_line(int32_t *line, int c, int width) override
    {
        if (!m_ready[size_t(c)])
            Synthesise(c);
        auto &plane = m_planes[size_t(c)];
        if (m_next[size_t(c)] + size_t(width) > plane.size())
            throw std::logic_error("the pipeline was asked for more rows than a tile has");
        std::copy(plane.begin() + std::ptrdiff_t(m_next[size_t(c)]),
                  plane.begin() + std::ptrdiff_t(m_next[size_t(c)] + size_t(width)), line);
        m_next[size_t(c)] += size_t(width);
    }
    void next_tile() override
    {
        m_ebcot.next_tile();
        ++m_tile;
        Reset();
    }
    void pull_int_row(int32_t *row, int c, int l, int b, int n) override
    {
        if (n == 0)
            return;
        m_words.resize(size_t(n));
        m_ebcot.pull_block_line(reinterpret_cast<int32_t *>(m_words.data()), c, l, b, n);
        dz_dequantise_int_row(Entry(c, l, b), m_words.data(), row, n);
    }
    void pull_float_row(float *row, int c, int l, int b, int n) override
    {
        if (n == 0)
            return;
        m_words.resize(size_t(n));
        m_ebcot.pull_block_line(reinterpret_cast<int32_t *>(m_words.data()), c, l, b, n);
        const dz_dequant_entry entry = Entry(c, l, b);
        if (FlipsSign(false, l, b))
            FlipSigns(m_words.data(), n, entry.frac_bits);
        dz_dequantise_float_row(entry, m_words.data(), row, n);
    }

private:
    void Synthesise(int c)
    {
        enc_rect rect;
        m_info.get_tile_info(c, m_tile, nullptr, nullptr, &rect, nullptr, nullptr, nullptr);
        const int L = m_info.levels(c);
        const int rev = m_info.reversible(c);
        const int kept = L - m_discard;
        region_rect region = level_region(ToRegion(rect), L, kept);
        component_transform_setup setup;
        setup.levels = kept;
        setup.reversible = rev != 0;
        setup.vertical = setup.horizontal = &m_info.kernel(c);
        m_planes[size_t(c)].assign(size_t(region.rows) * size_t(region.cols), 0);
        synthesise_component(setup, c, region, *this, m_planes[size_t(c)].data());
        m_ready[size_t(c)] = true;
    }
    dz_dequant_entry Entry(int c, int l, int b)
    {
        float step = 1;
        int negative = 0, K = 0;
        m_info.get_band_quant_info(c, l, b, &step, &negative, nullptr, &K);
        return make_dz_dequant_entry(step, negative, K);
    }
    void Reset()
    {
        m_planes.assign(size_t(m_info.components()), {});
        m_ready.assign(size_t(m_info.components()), false);
        m_next.assign(size_t(m_info.components()), 0);
    }
    SimpleCodingInfo &m_info;
    ebcot_decoder &m_ebcot;
    int m_discard;
    int m_tile = 0;
    std::vector<std::vector<int32_t>> m_planes;
    std::vector<bool> m_ready;
    std::vector<size_t> m_next;
    std::vector<uint32_t> m_words;
};

struct Arguments
{
    std::vector<std::string> words;
    std::vector<const char *> pointers;
    Arguments(const char *program, const std::vector<std::string> &args)
    {
        words.push_back(program);
        words.insert(words.end(), args.begin(), args.end());
        for (const std::string &w : words)
            pointers.push_back(w.c_str());
    }
};
} // namespace

std::vector<uint8_t> EncodeImage(const memory_image &image, const CodecSettings &s,
                                 const std::vector<std::string> &args, int64_t budget,
                                 const std::string &path)
{
    J2kRun run;
    Arguments a("Jpeg2000Encoder", args);
    auto cl = create_command_line();
    cl->parse(static_cast<int>(a.pointers.size()), a.pointers.data());
    if (budget <= 0)
        budget = int64_t(double(image.heights[0]) * image.widths[0] * image.components() * 12.5);
    budget = std::min<int64_t>(budget, INT32_MAX - 1);
    auto out = create_stream_out();
    out->initialize(static_cast<int32_t>(budget), path.c_str(), cl.get());
    out->declare_marker_elt(-1, elt::CSiz, 0, 16, 1);
    out->set_marker_val(-1, elt::CSiz, 0, image.components(), 0);
    SimpleCodingInfo info(s, image.precision, image.heights, image.widths);
    info.Declare(*out);
    auto ebcot = create_ebcot_encoder();
    ebcot->initialize(image.components(), static_cast<int32_t>(budget), &info, nullptr, out.get(), cl.get());
    PlaneMix mix(info, *ebcot);
    memory_image_reader reader(image);
    info.next_tile(1);
    encode_lines(info, reader, mix, image.components());
    mix.Finish();
    ebcot->terminate();
    out->terminate();
    cl->terminate(1);
    auto bytes = zntest::ReadFileBytes(path);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

namespace {
memory_image Decode(const std::string *path, const std::vector<uint8_t> *bytes, const DecodeOptions &o,
                    int32_t *bytes_used)
{
    J2kRun run;
    Arguments a("Jpeg2000Decoder", o.args);
    auto cl = create_command_line();
    cl->parse(static_cast<int>(a.pointers.size()), a.pointers.data());
    auto in = create_stream_in();
    if (path)
        in->initialize(path->c_str());
    else
        in->initialize_from_memory(*bytes);
    if (o.truncation > 0)
        in->set_truncation(static_cast<int>(std::min<int64_t>(o.truncation, INT32_MAX)));
    SimpleCodingInfo info(*in);
    const int n = info.components();
    if (n < 1 || (o.max_components > 0 && n > o.max_components))
        local_error("The test decoder takes 1 to %d components; the stream has %d!", o.max_components, n);
    std::vector<int> dims(size_t(4 * n));
    reduced_image_dims(info, n, o.discard_levels, dims.data());
    for (int c = 0; c < n; ++c)
        if (dims[size_t(4 * c)] < 0 || dims[size_t(4 * c + 1)] < 0 ||
            (o.max_pixels > 0 && int64_t(dims[size_t(4 * c)]) * dims[size_t(4 * c + 1)] > o.max_pixels))
            local_error("The stream's picture is larger than the test decoder takes!");
    auto ebcot = create_ebcot_decoder();
    ebcot->initialize(n, o.discard_levels, n, &info, nullptr, in.get(), cl.get());
    std::vector<int32_t> heights, widths;
    for (int c = 0; c < n; ++c) {
        heights.push_back(dims[size_t(4 * c)]);
        widths.push_back(dims[size_t(4 * c + 1)]);
    }
    memory_image_writer writer(info.precision(), heights, widths);
    PlaneDemix demix(info, *ebcot, o.discard_levels);
    cl->terminate(1);
    info.next_tile(1);
    decode_lines(info, writer, demix, n, o.discard_levels);
    const int32_t used = ebcot->terminate();
    if (bytes_used)
        *bytes_used = used;
    in->terminate();
    return writer.image();
}
} // namespace

memory_image DecodeImage(const std::string &path, const DecodeOptions &o, int32_t *bytes_used)
{
    return Decode(&path, nullptr, o, bytes_used);
}

memory_image DecodeBytes(const std::vector<uint8_t> &bytes, const DecodeOptions &o, int32_t *bytes_used)
{
    return Decode(nullptr, &bytes, o, bytes_used);
}

double Psnr(const memory_image &a, const memory_image &b)
{
    double sum = 0;
    size_t count = 0;
    for (int c = 0; c < a.components() && c < b.components(); ++c)
        for (size_t i = 0; i < a.planes[size_t(c)].size() && i < b.planes[size_t(c)].size(); ++i) {
            const double d = a.planes[size_t(c)][i] - b.planes[size_t(c)][i];
            sum += d * d;
            ++count;
        }
    const double mse = count ? sum / double(count) : 0;
    return mse < 1e-10 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

int MaxDifference(const memory_image &a, const memory_image &b)
{
    int worst = 0;
    for (int c = 0; c < a.components() && c < b.components(); ++c)
        for (size_t i = 0; i < a.planes[size_t(c)].size() && i < b.planes[size_t(c)].size(); ++i)
            worst = std::max(worst, std::abs(a.planes[size_t(c)][i] - b.planes[size_t(c)][i]));
    return worst;
}

} // namespace j2ktest
