// The code-block coding driver. Distortion is gathered per pass through the 8x8 cell counters the
// passes fill, scaled to the plane they coded and weighted per cell when visual masking is on; the
// code bytes go straight into shared heap blocks and are only touched again by the final byte swap.
#include "jpeg2000/block_encode_driver.h"

#include "jpeg2000/coding_tables.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>

namespace zn::j2k {

int coder_modes::flags() const
{
    return (lazy ? 1 : 0) | (reset ? 2 : 0) | (terminate_all ? 4 : 0) | (causal ? 8 : 0) |
           (predictable ? 16 : 0) | (segmark ? 32 : 0);
}

coder_modes coder_modes::from_flags(int f)
{
    coder_modes m;
    m.lazy = f & 1;
    m.reset = f & 2;
    m.terminate_all = f & 4;
    m.causal = f & 8;
    m.predictable = f & 16;
    m.segmark = f & 32;
    return m;
}

block_coder_work::block_coder_work(int nominal_height, int nominal_width, const coder_modes &m)
    : modes(m), m_nominal_height(nominal_height), m_nominal_width(nominal_width)
{
    int stripes = (nominal_height + 3) / 4;
    samples.assign(size_t(stripes) * size_t(stripe_pitch(nominal_width)), 0);
    contexts.assign(size_t(context_words(nominal_height, nominal_width)), 0);
    record.cell_pitch = (nominal_width + 7) / 8;
    cells.assign(size_t((stripes + 1) / 2) * size_t(record.cell_pitch), block_cell{0, 1.0f});
    record.samples = samples.data();
    record.contexts = contexts.data() + context_origin(nominal_width);
    record.cells = cells.data();
}

void set_encoder_terminations(pass_record *records, int first, int n, const coder_modes &modes)
{
    int c = 0, planes = modes.lazy ? 3 : 31;
    for (int i = first; i < n; ++i) {
        int j = c == 3 ? 0 : c;
        if (c == 3)
            --planes;
        bool terminated = modes.terminate_all || i == n - 1 || (planes <= 0 && (j == 0 || c == 2));
        records[i].terminated = terminated ? 1 : 0;
        c = j + 1;
    }
}

namespace {
// Loads the block into the stripe layout with the region scaling applied; returns the OR of all
// magnitudes.
uint32_t LoadSamples(block_coder_work &work, const stripe_geometry &g, const int32_t *samples, int row_pitch,
                     const block_roi *roi)
{
    const int s = roi ? roi->shift : 0;
    uint32_t all = 0;
    for (int y = 0; y < g.height; ++y) {
        const int32_t *row = samples + size_t(y) * size_t(row_pitch);
        int32_t *out = work.samples.data() + (y >> 2) * g.pitch + (y & 3);
        for (int x = 0; x < g.width; ++x) {
            uint32_t v = static_cast<uint32_t>(row[x]);
            if (s != 0) {
                uint32_t sign = v & 0x80000000u, magnitude = v & kMagnitudeMask;
                int level = roi->base + (roi->rows && roi->rows[y] ? roi->rows[y][x] : 0);
                if (level < s)
                    magnitude = s - level >= 31 ? 0 : magnitude >> (s - level);
                else if (level == s && roi->mask_mode)
                    magnitude &= s >= 31 ? kMagnitudeMask : kMagnitudeMask & ~((1u << (31 - s)) - 1);
                v = sign | magnitude;
            }
            out[4 * x] = static_cast<int32_t>(v);
            all |= v & kMagnitudeMask;
        }
    }
    return all;
}

uint32_t Magnitude(int32_t v)
{
    return static_cast<uint32_t>(v) & kMagnitudeMask;
}

// Visual masking: a busy neighbourhood hides error, so its cells count for less. Band 0 looks at
// local activity (the sample against its neighbours) rather than at raw values.
void SetCellWeights(block_coder_work &work, const band_code_state &band, const stripe_geometry &g,
                    const int32_t *samples, int row_pitch)
{
    const int cell_rows = (g.stripes + 1) / 2, cell_cols = (g.width + 7) / 8;
    block_cell *cells = work.record.cells;
    const int pitch = work.record.cell_pitch;
    if (!work.masking) {
        for (int r = 0; r < cell_rows; ++r)
            for (int c = 0; c < cell_cols; ++c)
                cells[r * pitch + c].weight = 1.0f;
        return;
    }
    auto at = [&](int y, int x) { return Magnitude(samples[size_t(y) * size_t(row_pitch) + size_t(x)]); };
    std::vector<double> source(size_t(g.height) * size_t(g.width));
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) {
            double v = at(y, x);
            if (band.activity_masking) {
                int64_t self = at(y, x);
                auto neighbour = [&](int yy, int xx) -> int64_t {
                    if (yy < 0 || yy >= g.height || xx < 0 || xx >= g.width)
                        return (self + 4) >> 3;
                    return (int64_t(at(yy, xx)) + 4) >> 3;
                };
                int64_t sum =
                    neighbour(y - 1, x) + neighbour(y + 1, x) + neighbour(y, x - 1) + neighbour(y, x + 1);
                v = double(std::llabs(((self + 1) >> 1) - sum));
            }
            source[size_t(y) * size_t(g.width) + size_t(x)] = v;
        }
    const double e = work.masking_exponent;
    const double unit = std::pow(band.masking_scale / 2.0, e);
    const double b = band.masking_constant, c = work.masking_constant;
    for (int r = 0; r < cell_rows; ++r)
        for (int cc = 0; cc < cell_cols; ++cc) {
            double sum = 0;
            int count = 0;
            for (int y = 8 * r; y < std::min(8 * r + 8, int(g.height)); ++y)
                for (int x = 8 * cc; x < std::min(8 * cc + 8, int(g.width)); ++x, ++count)
                    sum += std::pow(source[size_t(y) * size_t(g.width) + size_t(x)], e);
            double t = count > 0 && unit > 0 ? sum / (count * unit) : 0.0;
            cells[r * pitch + cc].weight = static_cast<float>(c / ((b - 1) * t * t + 1));
        }
}

// Every word of the block's code goes from value order (first byte most significant) to stream
// order in memory.
void SwapToStreamOrder(code_byte_block *block, int word, const code_byte_block *end_block, int end_word)
{
    while (block && !(block == end_block && word >= end_word)) {
        if constexpr (std::endian::native == std::endian::little)
            block->words[word] = __builtin_bswap32(block->words[word]);
        if (++word == 8) {
            if (block == end_block)
                break;
            block = block->next;
            word = 0;
        }
    }
}
} // namespace

void encode_code_block(block_coder_work &work, band_code_state &band, block_code &block,
                       const int32_t *samples, int row_pitch, int height, int width, const block_roi *roi,
                       codeword_heap &heap, int32_t *histogram)
{
    using clock = std::chrono::steady_clock;
    const clock::time_point started_at = work.ticks >= 0 ? clock::now() : clock::time_point();

    // Region of interest: the region keeps its planes, the background drops below them. Counting the
    // planes from K' = K - s already weighs a region sample's error 4^s against the background's, so
    // the block takes no further weight: a second one would count blocks on the region's edge twice
    // and hand the budget to that edge instead of the region.
    const bool boosted = roi && roi->shift != 0;
    int K = band.K - (boosted ? roi->shift : 0);
    // Planes below 1 cannot be coded; the weight keeps the distortion scale of the planes asked for.
    double W = 1.0;
    if (K < 1) {
        W *= std::ldexp(1.0, 2 * (1 - K));
        K = 1;
    }
    int N = std::max(0, 3 * std::min(31 - K, 30) - 2);
    N = std::min(N, band.pass_capacity);
    const int last_plane_point = band.reversible ? std::max(0, N - 3) : -1;

    block_coding_record &r = work.record;
    r.geometry = make_stripe_geometry(height, width, work.nominal_width());
    r.causal = work.modes.causal ? 1 : 0;
    r.plane = kHighestPlane;
    r.first_coded_plane = kHighestPlane;
    r.lazy_depth = work.modes.lazy ? 3 : 31;
    r.significance_table = significance_table_for(band.orientation);
    r.significance_distortion = distortion_significance_lossy;
    r.refinement_distortion = distortion_refinement_lossy;
    const uint32_t all = LoadSamples(work, r.geometry, samples, row_pitch, boosted ? roi : nullptr);
    clear_block_contexts(r.contexts, r.geometry);
    SetCellWeights(work, band, r.geometry, samples, row_pitch);

    if (!band.current_chunk) {
        band.first_chunk = band.current_chunk = heap.get_block();
        band.fill = 0;
    }
    block.start_block = band.current_chunk;
    block.start_word = band.fill;
    mq_encoder &coder = r.coder;
    mq_encoder_start(coder, kNumContexts, work.context_states, band.current_chunk, band.fill, &heap,
                     work.modes.predictable ? 1 : 0);
    mq_load_contexts(work.context_states, initial_context_states, kNumContexts);

    pass_record *records = block.records;
    for (int n = 0; n < band.pass_capacity; ++n)
        records[n] = pass_record{0, 0, 0};

    const int cell_rows = (r.geometry.stripes + 1) / 2, cell_cols = (width + 7) / 8;
    double S = double(band.weight) * W * std::ldexp(1.0, 41 - 2 * K);
    double D = 0;
    int Z = 0;
    bool coding = false;
    for (int k = 0; k <= 30 - K; ++k) {
        if (!coding) {
            if (((all >> (30 - k)) & 1) == 0) {
                ++Z;
            } else {
                coding = true;
                r.first_coded_plane = 30 - k;
                set_encoder_terminations(records, 3 * Z, N, work.modes);
            }
        }
        r.plane = 30 - k;
        for (int j = 0; j < 3; ++j) {
            const int n = 3 * k + j;
            if (n >= N)
                break;
            if (n == last_plane_point) {
                r.significance_distortion = distortion_significance_exact;
                r.refinement_distortion = distortion_refinement_exact;
            }
            if (coding) {
                if (work.modes.reset)
                    mq_load_contexts(work.context_states, initial_context_states, kNumContexts);
                for (int cr = 0; cr < cell_rows; ++cr)
                    for (int cc = 0; cc < cell_cols; ++cc)
                        r.cells[cr * r.cell_pitch + cc].distortion = 0;
                band.passes[j](r);
                const double scale = j == 0 ? 4 * S : S;
                for (int cr = 0; cr < cell_rows; ++cr)
                    for (int cc = 0; cc < cell_cols; ++cc) {
                        const block_cell &cell = r.cells[cr * r.cell_pitch + cc];
                        D += double(cell.distortion) * scale * double(cell.weight);
                    }
                if (work.modes.segmark && j == 0)
                    for (int symbol : {1, 0, 1, 0})
                        mq_encode(coder, kUniformContext, symbol);
                work.saved[n] = coder;
                if (records[n].terminated)
                    records[n].length = mq_encoder_terminate(coder, 0);
            }
            work.distortion[n] = D;
        }
        S *= 0.25;
    }
    mq_encoder_flush(coder);
    block.end_block = coder.block;
    block.end_word = coder.word_index;
    band.current_chunk = coder.block;
    band.fill = coder.word_index;

    // The shortest length at which each remaining pass still decodes.
    if (coding) {
        int upper = N > 0 ? records[N - 1].length : 0;
        std::vector<int> next_end(size_t(std::max(N, 1)));
        for (int n = N - 1; n >= 3 * Z; --n) {
            if (records[n].terminated)
                upper = records[n].length;
            next_end[size_t(n)] = upper;
        }
        int lower = 0;
        for (int n = 3 * Z; n < N; ++n) {
            if (records[n].terminated) {
                lower = records[n].length;
                continue;
            }
            records[n].length = mq_truncation_length(work.saved[n], block.start_block, block.start_word,
                                                     lower, next_end[size_t(n)]);
        }
    }

    compute_slopes(records, work.distortion, N);
    if (histogram)
        add_to_histogram(histogram, records, N);
    apply_last_pass_rules(records, N, coding, band.reversible, work.no_truncation);
    const int32_t last_length = N > 0 ? records[N - 1].length : 0;
    for (int n = N; n < band.pass_capacity; ++n)
        records[n] = pass_record{last_length, -1, 0};
    block.passes = N;
    block.zero_planes = Z;

    if (work.ticks >= 0)
        work.ticks += std::chrono::duration<double>(clock::now() - started_at).count();
    SwapToStreamOrder(block.start_block, block.start_word, block.end_block, block.end_word);
}

} // namespace zn::j2k
