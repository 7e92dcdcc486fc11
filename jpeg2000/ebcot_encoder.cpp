// The EBCOT encoder object: tile structures from the coding parameters, options, the work areas of
// the current tile, and the arrival of band rows, which codes a row of blocks as soon as it is full.
#include "jpeg2000/ebcot_encoder.h"

#include "jpeg2000/block_buffer_pool.h"
#include "jpeg2000/codeword_heap.h"
#include "jpeg2000/coding_tables.h"
#include "jpeg2000/command_line.h"
#include "jpeg2000/ebcot_encoder_options.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/precinct_partition.h"
#include "jpeg2000/progressive_weights.h"
#include "jpeg2000/scan_buffer.h"
#include "jpeg2000/stream_out.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace zn::j2k {

namespace {
const char *const kEbcotEncoderUsage[] = {
    "-Cblk[+<tnum>] <ht>[x<wd>] [<ht>[x<wd>] [...]] (default = 64x64)",
    "Nominal code-block height and width, one size per component; the last size applies to the remaining "
    "components. Both dimensions must be powers of two of at least 4, with at most 4096 samples in a block.",
    "-Cpp[+<tnum>] <ht>[x<wd>] [<ht>[x<wd>] [...]] [*] ...",
    "Precinct partition sizes per component, separated by `*'. The first size is for the highest resolution "
    "level, the last repeats for all lower levels. Without this argument each level is one precinct.",
    "-Cframes[+<tnum>] [Y|N [Y|N [...]]] (default = ignore frames)",
    "Limit code-blocks to the cells (frames) of their band, per component.",
    "-Ccausal[+<tnum>] [Y|N [Y|N [...]]]",
    "Use vertically causal context formation, so that each stripe can be decoded without the one below.",
    "-Cparallel[+<tnum>] [Y|N [Y|N [...]]] (default = sequential coding)",
    "Reset the probability models and end the codeword segment at every coding pass, so that passes can be "
    "decoded in parallel.",
    "-Clazy[+<tnum>] [Y|N [Y|N [...]]] (default = full effort coding)",
    "Code the significance and refinement passes after the fourth bit-plane as raw bits (arithmetic coding "
    "bypass).",
    "-Csegmark[+<tnum>] [Y|N [Y|N [...]]] (default = no segmark)",
    "Code a segmentation symbol after every cleanup pass, which lets a decoder detect damaged data.",
    "-Cer_term[+<tnum>] [Y|N [Y|N [...]]]",
    "Use predictable terminations, which a decoder can check for errors; without lazy coding every pass is "
    "terminated.",
    "-Corder[+<tnum>] L|RL|RP|PC|CP [<minLEV> <minC> <LAYERS> <LEVS> <COMPS> ...]",
    "Packet progression order (layer, resolution, position or component first), optionally followed by "
    "groups of "
    "five limits and the order that applies to the packets outside them.",
    "-Cvis <exponent> (default = do not exploit visual masking)",
    "Weight the distortion of every 8x8 cell by a visual masking model with this exponent, between 0 and 1.",
    "-Clayers [<rate> [+<layers>] [<rate> [+<layers>] [...]]] (default = 1 layer)",
    "Quality layers at the given bit-rates, with extra layers spaced between them. Without parameters, 60 "
    "layers are spaced from 0.015 to 2 bits per pixel and up to the budget.",
    "-Cvpw <rate> <weights file> [<rate> <weights file> [...]] (default = no progressive weighting)",
    "Visual weights that change with the bit-rate: each file applies to the layers up to its rate.",
    "-Cno_trunc (default = use R-D optimized truncation for all layers)",
    "Write every coding pass of every block; the step sizes alone set the rate.",
    "-Creverse_tiles",
    "Write the tiles in reverse order.",
    "-Comit_tile_length",
    "Write the length of the last tile as 0.",
    "-Ccpu",
    "Report CPU time for block encoding engine.",
    "-Cscan_buffer_bytes",
    "Reduced-memory scan buffer: write the code-stream as the image arrives, buffering at most this many "
    "bytes.",
    "-Cscan_buffer_elements",
    "Reduced-memory scan buffer: write the code-stream as the image arrives, buffering at most this many "
    "elements (precinct rows or tiles).",
    nullptr,
};

bool NoParameters(command_line *args, const char *name, const char *message)
{
    const int count = args ? args->find(name, -1) : -1;
    if (count > 0)
        local_error("%s", message);
    return count == 0;
}
} // namespace

ebcot_encoder::ebcot_encoder() = default;
ebcot_encoder::~ebcot_encoder() = default;

std::unique_ptr<ebcot_encoder> create_ebcot_encoder()
{
    return std::make_unique<ebcot_encoder>();
}

usage_table ebcot_encoder::get_usage()
{
    return kEbcotEncoderUsage;
}

enc_band &ebcot_encoder::BandOf(int component, int level, int band)
{
    if (m_current < 0 || m_current >= static_cast<int>(m_tiles.size()) || component < 0 ||
        component >= m_components)
        local_error("Attempting to access a band of a tile or component that the block coder does not have!");
    enc_component &comp = m_tiles[size_t(m_current)]->components[size_t(component)];
    if (level < 0 || level > comp.levels)
        local_error("Attempting to access a band of a tile or component that the block coder does not have!");
    enc_level &lv = comp.level_records[size_t(level)];
    if (band < lv.first_band || band > lv.last_band)
        local_error("Attempting to access a band of a tile or component that the block coder does not have!");
    return lv.bands[size_t(band - lv.first_band)];
}

void ebcot_encoder::BuildTiles()
{
    int count = 0;
    while (m_info->get_tile_info(-1, count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        ++count;
    m_info->next_tile(1);
    for (int t = 0; t < count; ++t) {
        auto tile = std::make_unique<enc_tile>();
        tile->index = t;
        m_info->get_tile_info(-1, t, nullptr, nullptr, &tile->rect, nullptr, nullptr, nullptr);
        tile->components.resize(size_t(m_components));
        for (int c = 0; c < m_components; ++c) {
            enc_component &comp = tile->components[size_t(c)];
            comp.component = c;
            m_info->get_tile_info(c, t, nullptr, nullptr, &comp.rect, &comp.sub_x, &comp.sub_y, nullptr);
            enc_rect widened;
            int reversible = 0, frac = 0, index = 0;
            comp.levels = m_info->get_tile_component_info(c, &index, &widened, &reversible, &frac);
            if (comp.levels < 0 || comp.levels > 32)
                local_error(
                    "The block coder supports at most 32 decomposition levels; component %d asks for %d!", c,
                    comp.levels);
            if (widened.height != comp.rect.height || widened.width != comp.rect.width ||
                widened.y0 != comp.rect.y0 || widened.x0 != comp.rect.x0)
                tile->overlap = true;
            comp.level_records.resize(size_t(comp.levels + 1));
            for (int r = 0; r <= comp.levels; ++r) {
                enc_level &lv = comp.level_records[size_t(r)];
                lv.level = r;
                frame_geometry frame;
                int hp = 0;
                m_info->get_level_info(c, r, &lv.rect, &hp, &frame);
                lv.splits = r == 0 ? 0 : hp;
                lv.precinct_y = frame.anchor_row;
                lv.precinct_x = frame.anchor_col;
                level_band_range(r, lv.splits, &lv.first_band, &lv.last_band);
                for (int b = lv.first_band; b <= lv.last_band; ++b) {
                    enc_band band;
                    set_band_geometry(band, *m_info, c, r, b, lv.splits);
                    float step = 1.0f, weight = 1.0f;
                    int negative_exponent = 0, K = 0;
                    m_info->get_band_quant_info(c, r, b, &step, &negative_exponent, &weight, &K);
                    band.code.orientation = band.orientation;
                    band.code.K = K;
                    band.code.weight = weight;
                    band.code.reversible = reversible && negative_exponent == 0;
                    band.code.masking_scale = static_cast<float>(std::ldexp(1.0, K));
                    band.code.masking_constant = 10000.0f;
                    band.code.activity_masking = b == 0;
                    install_encoder_passes(band.code.passes);
                    lv.bands.push_back(std::move(band));
                }
            }
        }
        m_tiles.push_back(std::move(tile));
        m_info->next_tile(0);
    }
    m_info->next_tile(1);
}

void ebcot_encoder::ReadOptions(int scope)
{
    // Levels of each component in this scope: what the parameters declared, else tile 0's.
    std::vector<int> levels(static_cast<size_t>(m_components));
    for (int c = 0; c < m_components; ++c) {
        const int tile = scope < 0 ? 0 : scope;
        levels[size_t(c)] = m_tiles[size_t(tile)]->components[size_t(c)].levels;
        if (scope < 0 && m_out->marker_elt_count(-1, elt::Levels, c) > 0)
            levels[size_t(c)] = m_out->get_marker_val(-1, elt::Levels, c, 0);
    }
    scope_coding_options o = read_coding_options(m_args, scope, levels);
    if (scope < 0 || (m_args && m_args->tile_has_arguments(scope)))
        declare_coding_elements(*m_out, scope, o, levels);
    if (scope < 0)
        return;
    enc_tile &tile = *m_tiles[size_t(scope)];
    tile.order = o.order;
    tile.changes = o.changes;
    for (int c = 0; c < m_components; ++c) {
        enc_component &comp = tile.components[size_t(c)];
        const component_coding_options &cc = o.components[size_t(c)];
        comp.nominal_height = cc.block_height;
        comp.nominal_width = cc.block_width;
        comp.respect_cells = cc.respect_cells;
        comp.modes = coder_modes::from_flags(cc.flags);
        for (enc_level &lv : comp.level_records) {
            lv.ppx = cc.ppx.empty() ? 15 : cc.ppx[size_t(std::min(lv.level, int(cc.ppx.size()) - 1))];
            lv.ppy = cc.ppy.empty() ? 15 : cc.ppy[size_t(std::min(lv.level, int(cc.ppy.size()) - 1))];
        }
    }
}

void ebcot_encoder::BuildPartitions(enc_tile &tile)
{
    tile.precincts.clear();
    for (enc_component &comp : tile.components) {
        for (enc_level &lv : comp.level_records) {
            const partition_level_input in = make_partition_input(comp, lv);
            partition_level out;
            if (!build_level_partition(in, out))
                local_error(
                    "precinct partition dimensions too small for given decomposition; precinct size must be "
                    "sufficiently large that the partition occupies at least one full sample in each "
                    "subband!");
            apply_band_partition(lv, out);
            apply_precinct_partition(lv, out, comp.component);
            for (enc_precinct &P : lv.precincts)
                for (enc_precinct_band &pb : P.bands) {
                    pb.saved_inclusion = pb.inclusion;
                    pb.saved_zero_planes = pb.zero_planes;
                }
        }
    }
    for (enc_component &comp : tile.components)
        for (enc_level &lv : comp.level_records)
            for (enc_precinct &P : lv.precincts)
                tile.precincts.push_back(&P);
    tile.packets = static_cast<int32_t>(tile.precincts.size());
}

void ebcot_encoder::PrepareWorkArea(enc_tile &tile)
{
    m_pools.clear();
    for (enc_component &comp : tile.components) {
        comp.work = std::make_unique<block_coder_work>(comp.nominal_height, comp.nominal_width, comp.modes);
        comp.work->no_truncation = comp.no_truncation;
        comp.work->masking = comp.masking;
        comp.work->masking_exponent = comp.masking_exponent;
        comp.work->ticks = m_ticks >= 0 ? 0.0 : -1.0;
        float largest = 1.0f;
        for (enc_level &lv : comp.level_records)
            for (enc_band &b : lv.bands)
                largest = std::max(largest, b.code.masking_constant);
        comp.work->masking_constant = largest;
        m_pools.push_back(std::make_unique<block_buffer_pool>(comp.nominal_height, comp.nominal_width));
    }
}

void ebcot_encoder::FreeWorkArea(enc_tile &tile)
{
    for (size_t c = 0; c < tile.components.size(); ++c) {
        enc_component &comp = tile.components[c];
        for (enc_level &lv : comp.level_records)
            for (enc_band &b : lv.bands) {
                for (int32_t *buffer : b.block_buffers)
                    if (buffer && c < m_pools.size())
                        m_pools[c]->put(buffer);
                b.block_buffers.clear();
            }
        if (comp.work && comp.work->ticks > 0 && m_ticks >= 0)
            m_ticks += comp.work->ticks;
        comp.work.reset();
    }
    m_pools.clear();
}

void ebcot_encoder::initialize(int components, int32_t budget, block_coder_params *info, roi_block_masks *roi,
                               stream_out *out, command_line *args)
{
    if (components < 1)
        local_error("The block coder needs at least one image component!");
    m_components = components;
    m_budget = budget;
    m_info = info;
    m_roi = roi;
    m_out = out;
    m_args = args;
    BuildTiles();
    if (m_tiles.empty())
        local_error("The coding parameters describe no tile to code!");

    ReadOptions(-1);
    for (int t = 0; t < static_cast<int>(m_tiles.size()); ++t)
        ReadOptions(t);

    const char *const *p = nullptr;
    int count = args ? args->find("-Cvis", -1, &p) : -1;
    if (count >= 0) {
        float exponent = 0;
        char tail = 0;
        if (count != 1 || std::sscanf(p[0], "%f%c", &exponent, &tail) != 1 || !(exponent > 0) ||
            !(exponent < 1))
            local_error(
                "The `-Cvis' argument requires a positive real parameter, which must be strictly less than "
                "1.0!");
        for (auto &tile : m_tiles)
            for (enc_component &comp : tile->components) {
                comp.masking = true;
                comp.masking_exponent = exponent;
            }
    }
    if (NoParameters(args, "-Ccpu", "The `-Ccpu' argument takes no parameters!"))
        m_ticks = 0.0;
    count = args ? args->find("-Cvpw", -1, &p) : -1;
    if (count >= 0) {
        if (count == 0)
            local_error("The `-Cvpw' argument requires at least one parameter!");
        m_vpw = vpw_parse(count, p);
    }
    m_no_truncation = NoParameters(args, "-Cno_trunc", "The `-Cno_trunc' argument takes no parameters!");
    const bool lra = NoParameters(args, "-Flra", "The `-Flra' argument takes no parameters!");
    const bool no_lra = NoParameters(args, "-Fno_lra", "The `-Fno_lra' argument takes no parameters!");
    m_no_truncation = m_no_truncation || (lra && !no_lra);
    const bool tcq = args && args->find("-Qtcq", -1) >= 0;
    // Without truncation every pass goes into the layers and the step sizes set the rate; the writer
    // still holds the file to the budget asked for, cutting the stream where the budget ends.
    if (m_no_truncation || tcq) {
        m_budget = 2147483647;
        for (auto &tile : m_tiles)
            for (enc_component &comp : tile->components)
                comp.no_truncation = true;
    }
    m_reverse_tiles =
        NoParameters(args, "-Creverse_tiles", "The `-Creverse_tiles' argument takes no parameters!");
    m_omit_tile_length =
        NoParameters(args, "-Comit_tile_length", "The `-Comit_tile_length' argument takes no parameters!");

    for (auto &tile : m_tiles) {
        tile->layers = 1;
        BuildPartitions(*tile);
    }
    // The image size every rate refers to: per component the tiles down the first column and
    // along the first row; the largest over the components.
    for (int c = 0; c < m_components; ++c) {
        int64_t rows = 0, cols = 0;
        for (int t = 0;; ++t) {
            int column = 0, row = 0;
            enc_rect r;
            if (!m_info->get_tile_info(c, t, &column, &row, &r, nullptr, nullptr, nullptr))
                break;
            if (column == 0)
                rows += r.height;
            if (row == 0)
                cols += r.width;
        }
        m_image_rows = static_cast<int32_t>(std::max<int64_t>(m_image_rows, rows));
        m_image_cols = static_cast<int32_t>(std::max<int64_t>(m_image_cols, cols));
    }
    // The last layer keeps two bytes for the end-of-codestream marker.
    const int32_t final_target = m_budget == 2147483647 ? m_budget : m_budget - 2;
    m_layers = make_layer_table(args, int64_t(m_image_rows) * m_image_cols, final_target);
    scan_buffer_setup(*this);

    m_heap = create_codeword_heap();
    mq_build_decoder_tables();
    build_coding_tables();
    m_current = 0;
    PrepareWorkArea(*m_tiles[0]);
}

void ebcot_encoder::get_block_dims(int component, int level, int band, int *height, int *width)
{
    enc_band &b = BandOf(component, level, band);
    if (height)
        *height = b.block_height;
    if (width)
        *width = b.block_width;
}

void ebcot_encoder::push_block_line(const int32_t *samples, int component, int level, int band_index,
                                    int width)
{
    if (width == 0)
        return;
    enc_band &band = BandOf(component, level, band_index);
    if (width != band.rect.width)
        local_error("A row of %d samples was pushed into a band %d samples wide!", width, band.rect.width);
    if (band.current_block_row >= band.blocks_down)
        local_error("More rows were pushed into a band than it has!");
    enc_component &comp = m_tiles[size_t(m_current)]->components[size_t(component)];
    if (band.code.pass_capacity == 0 && band.pass_storage.empty() && !band.blocks.empty()) {
        int align = 0, max_shift = 0;
        int boost = m_roi ? m_roi->get_boost(component, level, &align, &max_shift) : 0;
        band.roi_active = boost != 0;
        band.roi_boost = boost;
        band.roi_mask_mode = max_shift;
        band.code.pass_capacity = pass_capacity_for(band.code.K, align ? 0 : boost);
        band.pass_storage.assign(band.blocks.size() * size_t(std::max(band.code.pass_capacity, 1)),
                                 pass_record{0, -1, 0});
        for (size_t i = 0; i < band.blocks.size(); ++i)
            band.blocks[i].code.records =
                band.pass_storage.data() + i * size_t(std::max(band.code.pass_capacity, 1));
    }
    if (band.rows_received == 0) {
        band.block_buffers.assign(size_t(band.blocks_across), nullptr);
        for (int32_t *&buffer : band.block_buffers)
            buffer = m_pools[size_t(component)]->get();
    }
    const size_t first = size_t(band.current_block_row) * size_t(band.blocks_across);
    for (int k = 0; k < band.blocks_across; ++k) {
        const enc_block &b = band.blocks[first + size_t(k)];
        std::memcpy(band.block_buffers[size_t(k)] + size_t(band.rows_received) * size_t(comp.nominal_width),
                    samples + b.x, sizeof(int32_t) * size_t(b.width));
    }
    ++band.rows_received;
    ++band.scan_rows;
    if (band.rows_received == band.blocks[first].height) {
        CodeBlockRow(comp, band);
        for (int32_t *buffer : band.block_buffers)
            m_pools[size_t(component)]->put(buffer);
        band.block_buffers.clear();
        band.rows_received = 0;
        ++band.current_block_row;
        scan_buffer_after_block_row(*this, band);
    }
}

void ebcot_encoder::CodeBlockRow(enc_component &comp, enc_band &band)
{
    const size_t first = size_t(band.current_block_row) * size_t(band.blocks_across);
    for (int k = 0; k < band.blocks_across; ++k) {
        enc_block &b = band.blocks[first + size_t(k)];
        block_roi roi;
        const block_roi *roi_ptr = nullptr;
        if (band.roi_active && m_roi) {
            m_roi_mask.assign(size_t(b.height) * size_t(b.width), 0);
            m_roi_rows.resize(size_t(b.height));
            for (int y = 0; y < b.height; ++y)
                m_roi_rows[size_t(y)] = m_roi_mask.data() + size_t(y) * size_t(b.width);
            // The region object gives the boost every sample of the block shares and the range of
            // boosts above it; the block is lifted by their sum, less where a sample's boost is less.
            int shift = 0;
            const int range = m_roi->get_block_mask(comp.component, band.level, band.index, b.height, b.width,
                                                    b.y, b.x, &shift, m_roi_rows.data());
            roi.base = shift;
            roi.shift = shift + range;
            roi.rows = m_roi_rows.data();
            roi.mask_mode = band.roi_mask_mode != 0;
            roi_ptr = &roi;
        }
        encode_code_block(*comp.work, band.code, b.code, band.block_buffers[size_t(k)], comp.nominal_width,
                          b.height, b.width, roi_ptr, *m_heap, m_histogram);
    }
}

int ebcot_encoder::next_tile()
{
    if (m_current >= static_cast<int>(m_tiles.size()))
        return 0;
    FreeWorkArea(*m_tiles[size_t(m_current)]);
    if (m_roi)
        m_roi->next_tile();
    ++m_current;
    if (m_current >= static_cast<int>(m_tiles.size()))
        return 0;
    PrepareWorkArea(*m_tiles[size_t(m_current)]);
    return 1;
}

void ebcot_encoder::initialize(int components, int32_t budget, forward_info *info, roi_encoder *roi,
                               stream_out *out, command_line *args)
{
    m_own_info = make_block_coder_params(*info);
    m_own_roi = roi ? make_roi_block_masks(*roi) : nullptr;
    initialize(components, budget, m_own_info.get(), m_own_roi.get(), out, args);
}

void ebcot_encoder::terminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    if (!m_tiles.empty()) {
        if (m_current < static_cast<int>(m_tiles.size()))
            FreeWorkArea(*m_tiles[size_t(m_current)]);
        if (m_ticks >= 0) {
            const double pixels = std::max(1.0, double(m_image_rows) * double(m_image_cols));
            local_printf(4, 72, ">> CPU time for EBCOT encoder:\n%g seconds (%g micro-seconds per pixel)",
                         m_ticks, m_ticks * 1000000.0 / pixels);
        }
        if (!scan_buffer_active(*this))
            FormAndWrite();
        else
            scan_buffer_finish(*this);
    }
    m_tiles.clear();
    m_heap.reset();
    m_layers.clear();
    m_vpw.reset();
    m_scan.reset();
}

} // namespace zn::j2k
