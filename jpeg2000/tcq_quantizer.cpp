// Trellis-coded quantisation: the subsets and unions of the half-step grid, the Viterbi search over a
// code-block, the decoder's walk, and the two pipeline objects that gather rows into code-blocks.
#include "jpeg2000/tcq_quantizer.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/forward_info.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/reverse_info.h"
#include "jpeg2000/stream_out.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>

namespace zn::j2k {

namespace {

const char *const kTcqUsage[] = {
    "-Qtcq",
    "Use trellis coded quantization on entropy coder blocks.",
    nullptr,
};

// Entering state s over bit b: {from, subset}.
constexpr int kTrellis[8][2][2] = {
    {{0, 0}, {1, 2}}, {{2, 1}, {3, 3}}, {{4, 2}, {5, 0}}, {{6, 3}, {7, 1}},
    {{0, 2}, {1, 0}}, {{2, 3}, {3, 1}}, {{4, 0}, {5, 2}}, {{6, 1}, {7, 3}},
};
constexpr int kNext[8][2] = {{0, 4}, {4, 0}, {1, 5}, {5, 1}, {6, 2}, {2, 6}, {7, 3}, {3, 7}};

bool InSubset(int subset, int64_t p)
{
    int64_t m = p >= 0 ? p % 4 : (-p) % 4;
    switch (subset) {
    case 0:
        return p == 0 || (p > 0 && m == 3) || (p < 0 && m == 0);
    case 1:
        return p == 0 || (p > 0 && m == 0) || (p < 0 && m == 3);
    case 2:
        return (p > 0 && m == 1) || (p < 0 && m == 2);
    default:
        return (p > 0 && m == 2) || (p < 0 && m == 1);
    }
}

bool UnionB(int state)
{
    return state == 2 || state == 3 || state == 6 || state == 7;
}

uint32_t IndexWord(int64_t q, int K)
{
    uint64_t mag = uint64_t(q < 0 ? -q : q);
    if (K >= 0)
        mag = K >= 31 ? (mag ? 0x7FFFFFFFu : 0) : std::min<uint64_t>(mag << K, 0x7FFFFFFFu);
    else
        mag = -K >= 63 ? 0 : mag >> -K;
    return uint32_t(std::min<uint64_t>(mag, 0x7FFFFFFFu)) | (q < 0 ? kSignBit : 0u);
}

// The first block row (column) of a band reaches from its first sample to the next multiple of the
// block size counted from the code-block grid's origin.
int FirstBlockExtent(int first, int origin, int size, int total)
{
    int64_t offset = (int64_t(first) - origin) % size;
    if (offset < 0)
        offset += size;
    return int(std::min<int64_t>(size - offset, total));
}

} // namespace

int64_t tcq_nearest_point(int subset, double v)
{
    double base = std::floor(v);
    if (!(std::fabs(base) < 4e18))
        base = v < 0 ? -4e18 : 4e18;
    int64_t best = 0;
    double best_d = -1;
    for (int64_t p = int64_t(base) - 4; p <= int64_t(base) + 5; ++p) {
        if (!InSubset(subset, p))
            continue;
        double d = std::fabs(double(p) - v);
        if (best_d < 0 || d < best_d || (d == best_d && std::llabs(p) > std::llabs(best))) {
            best = p;
            best_d = d;
        }
    }
    return best;
}

int64_t tcq_point_to_index(int64_t p, bool union_b)
{
    if (p == 0)
        return 0;
    if (!union_b)
        return p > 0 ? (p + 1) / 2 : p / 2;
    if (p == -1)
        return 1;
    if (p == 2)
        return -1;
    return p > 0 ? p / 2 : (p - 1) / 2;
}

int64_t tcq_index_to_point(int64_t c, bool union_b)
{
    if (c == 0)
        return 0;
    if (!union_b)
        return c > 0 ? 2 * c - 1 : 2 * c;
    if (c == 1)
        return -1;
    if (c == -1)
        return 2;
    return c > 0 ? 2 * c : 2 * c + 1;
}

int tcq_from(int state, int bit)
{
    return kTrellis[state][bit][0];
}
int tcq_subset(int state, int bit)
{
    return kTrellis[state][bit][1];
}
int tcq_next_state(int state, int parity)
{
    return kNext[state][parity];
}

std::vector<std::pair<int, int>> tcq_scan_order(int rows, int cols)
{
    std::vector<std::pair<int, int>> order;
    for (int stripe = 0; stripe < rows; stripe += 4)
        for (int c = 0; c < cols; ++c)
            for (int r = stripe; r < std::min(rows, stripe + 4); ++r)
                order.push_back({r, c});
    return order;
}

float tcq_quantise(const float *x, int n, float u, int64_t *indices, int *states)
{
    std::vector<uint8_t> decisions;
    try {
        decisions.resize(size_t(std::max(n, 0)));
    } catch (const std::bad_alloc &) {
        local_error("forward tcq -- error on malloc of buffer memory.\n");
    }
    float J[8] = {0, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX};
    for (int i = 0; i < n; ++i) {
        double v = double(x[i]) / double(u);
        float e[4];
        for (int d = 0; d < 4; ++d) {
            float diff = float(double(tcq_nearest_point(d, v)) - v);
            e[d] = diff * diff;
        }
        float next[8];
        uint8_t bits = 0;
        for (int s = 0; s < 8; ++s) {
            float a = J[tcq_from(s, 0)] + e[tcq_subset(s, 0)];
            float b = J[tcq_from(s, 1)] + e[tcq_subset(s, 1)];
            if (b < a) {
                next[s] = b;
                bits = uint8_t(bits | (1u << s));
            } else {
                next[s] = a;
            }
        }
        std::copy(next, next + 8, J);
        decisions[size_t(i)] = bits;
        if ((i + 1) % 11 == 0) {
            float least = *std::min_element(J, J + 8);
            for (float &j : J)
                j -= least;
        }
    }
    int state = int(std::min_element(J, J + 8) - J);
    float cost = J[state];
    for (int i = n - 1; i >= 0; --i) {
        int bit = (decisions[size_t(i)] >> state) & 1;
        int subset = tcq_subset(state, bit), from = tcq_from(state, bit);
        int64_t point = tcq_nearest_point(subset, double(x[i]) / double(u));
        indices[i] = tcq_point_to_index(point, UnionB(from));
        if (states)
            states[i] = from;
        state = from;
    }
    return cost;
}

void tcq_dequantise(const int64_t *indices, int n, float delta, float *values, int *states)
{
    double a = double(delta) / 2;
    int state = 0;
    for (int i = 0; i < n; ++i) {
        int64_t c = indices[i];
        double v;
        if (!UnionB(state)) {
            if (c == 0)
                v = 0;
            else if (c == 1)
                v = 0.875 * a;
            else if (c == 2)
                v = 2.875 * a;
            else if (c == -1)
                v = -1.875 * a;
            else if (c == -2)
                v = -3.875 * a;
            else
                v = c >= 3 ? double(2 * c - 1) * a : double(2 * c) * a;
        } else {
            if (c == 0)
                v = 0;
            else if (c == 1)
                v = -0.875 * a;
            else if (c == -1)
                v = 1.875 * a;
            else if (c == 2)
                v = 3.875 * a;
            else if (c == -2)
                v = -2.875 * a;
            else
                v = c >= 3 ? double(2 * c) * a : double(2 * c + 1) * a;
        }
        values[i] = float(v);
        if (states)
            states[i] = state;
        state = tcq_next_state(state, int(c & 1));
    }
}

std::unique_ptr<quantizer> create_tcq_quantizer()
{
    return std::make_unique<tcq_quantizer>();
}

std::unique_ptr<dequantizer> create_tcq_dequantizer()
{
    return std::make_unique<tcq_dequantizer>();
}

usage_table tcq_quantizer::get_usage()
{
    return kTcqUsage;
}

usage_table tcq_dequantizer::get_usage()
{
    return dequantizer_usage();
}

namespace {

// TCQ has no exact integer path: reversible components are refused.
template <class Info> void RefuseReversible(Info *info, int components)
{
    for (int c = 0; c < components; ++c) {
        int reversible = 0;
        info->get_tile_component_info(c, nullptr, nullptr, &reversible, nullptr);
        if (reversible)
            local_error("Cannot use TCQ with reversible decompositions!");
    }
}

// Block geometry of a band: its rect, the code-block size and the grid origin (the band's anchors).
template <class Info, class Coder, class State>
void SetUpBand(Info *info, Coder *coder, int c, int level, int band, State &b)
{
    canvas_rect r;
    frame_info f;
    info->get_band_info(c, level, band, &r, &f);
    coder->get_band_block_size(c, level, band, &b.block_height, &b.block_width);
    if (b.block_height < 1 || b.block_width < 1)
        local_error("Code-blocks of %d rows and %d columns cannot be trellis coded!", b.block_height,
                    b.block_width);
    b.first_row_height = FirstBlockExtent(r.first_row, f.anchor_row, b.block_height, r.rows);
    b.first_col_width = FirstBlockExtent(r.first_col, f.anchor_col, b.block_width, r.cols);
    b.rows_left = r.rows;
    b.width = r.cols;
}

// The columns of every block of a block row.
std::vector<std::pair<int, int>> BlockColumns(int first_width, int block_width, int width)
{
    std::vector<std::pair<int, int>> cols;
    for (int x = 0, w = first_width; x < width; x += w, w = block_width)
        cols.push_back({x, std::min(w, width - x)});
    return cols;
}

} // namespace

void tcq_quantizer::initialize(int num_components, forward_info *info, block_line_sink *coder,
                               stream_out *out)
{
    m_num_components = num_components;
    m_info = info;
    m_coder = coder;
    m_tiles = 0;
    if (out) {
        out->declare_marker_elt(-1, elt::QuantizationType, 0, 2, 1);
        out->set_marker_val(-1, elt::QuantizationType, 0, 2, 0);
    }
    BuildTables();
}

void tcq_quantizer::BuildTables()
{
    RefuseReversible(m_info, m_num_components);
    m_bands.clear();
}

tcq_quantizer::band_state &tcq_quantizer::Band(int component, int level, int band, int width)
{
    auto key = std::make_tuple(component, level, band);
    auto it = m_bands.find(key);
    if (it == m_bands.end()) {
        band_state b;
        float step = 1;
        m_info->get_band_quant_info(component, level, band, &step, nullptr, nullptr, &b.K);
        b.u = step / 2;
        SetUpBand(m_info, m_coder, component, level, band, b);
        b.current_height = std::min(b.first_row_height, b.rows_left);
        it = m_bands.emplace(key, std::move(b)).first;
    }
    band_state &b = it->second;
    if (width != b.width || b.rows_left <= 0)
        local_error(
            "The trellis quantizer received a row of %d samples for band %d of level %d, which holds %d "
            "samples per row!",
            width, band, level, b.width);
    return b;
}

void tcq_quantizer::push_int_row(const int32_t *row, int component, int level, int band, int width)
{
    std::vector<float> f(row, row + std::max(width, 0));
    push_float_row(f.data(), component, level, band, width);
}

void tcq_quantizer::push_float_row(const float *row, int component, int level, int band, int width)
{
    if (width <= 0)
        return;
    band_state &b = Band(component, level, band, width);
    b.rows.emplace_back(row, row + width);
    if (int(b.rows.size()) == b.current_height)
        QuantiseBlockRow(b, component, level, band);
}

void tcq_quantizer::QuantiseBlockRow(band_state &b, int component, int level, int band)
{
    int h = int(b.rows.size());
    std::vector<std::vector<uint32_t>> words(size_t(h), std::vector<uint32_t>(size_t(b.width)));
    for (auto [x0, w] : BlockColumns(b.first_col_width, b.block_width, b.width)) {
        std::vector<std::pair<int, int>> scan = tcq_scan_order(h, w);
        m_block.resize(scan.size());
        m_indices.resize(scan.size());
        for (size_t i = 0; i < scan.size(); ++i)
            m_block[i] = b.rows[size_t(scan[i].first)][size_t(x0 + scan[i].second)];
        tcq_quantise(m_block.data(), int(scan.size()), b.u, m_indices.data());
        for (size_t i = 0; i < scan.size(); ++i)
            words[size_t(scan[i].first)][size_t(x0 + scan[i].second)] = IndexWord(m_indices[i], b.K);
    }
    for (auto &row : words)
        m_coder->push_block_line(row.data(), component, level, band, b.width);
    b.rows.clear();
    b.rows_left -= h;
    b.current_height = std::min(b.block_height, b.rows_left);
}

int tcq_quantizer::next_tile()
{
    int r = m_coder->next_tile();
    ++m_tiles;
    BuildTables();
    return r;
}

void tcq_quantizer::terminate()
{
    m_bands.clear();
    m_block.clear();
    m_indices.clear();
}

void tcq_dequantizer::initialize(int num_components, reverse_info *info, block_line_source *decoder,
                                 stream_in *, command_line *args)
{
    m_num_components = num_components;
    m_info = info;
    m_decoder = decoder;
    int n = args ? args->find("-Qno_tcq", -1) : -1;
    if (n > 0)
        local_error("The `-Qno_tcq' argument takes no parameters!");
    m_no_tcq = n == 0;
    m_tiles = 0;
    BuildTables();
}

void tcq_dequantizer::BuildTables()
{
    RefuseReversible(m_info, m_num_components);
    m_bands.clear();
}

tcq_dequantizer::band_state &tcq_dequantizer::Band(int component, int level, int band, int width)
{
    auto key = std::make_tuple(component, level, band);
    auto it = m_bands.find(key);
    if (it == m_bands.end()) {
        band_state b;
        m_info->get_band_quant_info(component, level, band, &b.delta, nullptr, &b.K);
        SetUpBand(m_info, m_decoder, component, level, band, b);
        it = m_bands.emplace(key, std::move(b)).first;
    }
    band_state &b = it->second;
    if (width != b.width)
        local_error("A row of %d samples was asked of band %d of level %d, which holds %d samples per row!",
                    width, band, level, b.width);
    return b;
}

void tcq_dequantizer::PullBlockRow(band_state &b, int component, int level, int band)
{
    bool first = b.available == 0 && b.rows.empty();
    int h = std::min(first ? b.first_row_height : b.block_height, b.rows_left);
    if (h <= 0)
        local_error("More rows were asked of band %d of level %d than it holds!", band, level);
    m_block_rows.assign(size_t(h), std::vector<uint32_t>(size_t(b.width)));
    for (auto &row : m_block_rows)
        m_decoder->pull_block_line(row.data(), component, level, band, b.width);
    b.rows.assign(size_t(h), std::vector<float>(size_t(b.width)));
    for (auto [x0, w] : BlockColumns(b.first_col_width, b.block_width, b.width)) {
        std::vector<std::pair<int, int>> scan = tcq_scan_order(h, w);
        bool trellis = !m_no_tcq && b.K >= 1 && b.K <= 32;
        std::vector<int64_t> indices(scan.size());
        for (size_t i = 0; i < scan.size(); ++i) {
            uint32_t word = m_block_rows[size_t(scan[i].first)][size_t(x0 + scan[i].second)];
            if (trellis && !((word >> (b.K - 1)) & 1))
                trellis = false;
            uint64_t mag = word & 0x7FFFFFFFu;
            int64_t q = int64_t(b.K >= 0 ? (b.K >= 32 ? 0 : mag >> b.K) : (-b.K >= 32 ? 0 : mag << -b.K));
            indices[i] = (word & kSignBit) ? -q : q;
        }
        std::vector<float> values(scan.size());
        if (trellis) {
            tcq_dequantise(indices.data(), int(scan.size()), b.delta, values.data());
        } else {
            for (size_t i = 0; i < scan.size(); ++i) {
                int64_t q = indices[i];
                int64_t mag = q < 0 ? -q : q;
                if (mag & 1)
                    mag -= 1; // the scalar rule takes odd indices down to the even ones below
                values[i] = float(double(b.delta) * double(q < 0 ? -mag : mag));
            }
        }
        for (size_t i = 0; i < scan.size(); ++i)
            b.rows[size_t(scan[i].first)][size_t(x0 + scan[i].second)] = values[i];
    }
    b.available = h;
    b.next = 0;
    b.rows_left -= h;
}

void tcq_dequantizer::pull_float_row(float *row, int component, int level, int band, int width)
{
    if (width <= 0)
        return;
    band_state &b = Band(component, level, band, width);
    if (b.next >= b.available)
        PullBlockRow(b, component, level, band);
    std::copy(b.rows[size_t(b.next)].begin(), b.rows[size_t(b.next)].end(), row);
    ++b.next;
}

void tcq_dequantizer::pull_int_row(int32_t *row, int component, int level, int band, int width)
{
    if (width <= 0)
        return;
    m_row.resize(size_t(width));
    pull_float_row(m_row.data(), component, level, band, width);
    for (int i = 0; i < width; ++i)
        row[i] = int32_t(std::clamp(double(std::trunc(m_row[size_t(i)])), -2147483648.0, 2147483647.0));
}

int tcq_dequantizer::next_tile()
{
    int r = m_decoder->next_tile();
    ++m_tiles;
    BuildTables();
    return r;
}

void tcq_dequantizer::terminate()
{
    m_bands.clear();
    m_block_rows.clear();
}

} // namespace zn::j2k
