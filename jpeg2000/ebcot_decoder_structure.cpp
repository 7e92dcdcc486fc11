// The decoder's tile structures: levels, bands, precinct and code-block partitions, precinct-bands
// with their tag trees, code-blocks with room for their passes, and the packet sequence. Every value
// from the code-stream is checked, and the structures' size against a memory cap, before anything
// is allocated.
#include "jpeg2000/ebcot_decoder.h"

#include "jpeg2000/block_buffer_pool.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/packet_sequence.h"
#include "jpeg2000/precinct_partition.h"
#include "jpeg2000/stream_in.h"

#include <algorithm>

namespace zn::j2k {

namespace {
int32_t ValueOr(stream_in &in, int tile, const char *description, int instance, int index, int32_t fallback)
{
    return in.marker_elt_count(tile, description, instance) > index
               ? in.get_marker_val(tile, description, instance, index)
               : fallback;
}

int64_t CeilDivPositive(int64_t a, int64_t b)
{
    return b <= 0 ? 0 : (a + b - 1) / b;
}

[[noreturn]] void TooBig(int tile)
{
    local_error("The code-stream's partitions of tile %d would need more than %lld MB of decoder memory; the "
                "stream is "
                "damaged or asks for far too many precincts or code-blocks!",
                tile, static_cast<long long>(ebcot_decoder::kMemoryCap >> 20));
}
} // namespace

void ebcot_decoder::MoveInfoTo(int tile)
{
    if (tile < m_info_cursor) {
        m_info->next_tile(1);
        m_info_cursor = 0;
    }
    while (m_info_cursor < tile) {
        m_info->next_tile(0);
        ++m_info_cursor;
    }
}

void ebcot_decoder::BuildComponent(dec_tile &tile, dec_component &comp)
{
    const int c = comp.component;
    m_info->get_tile_info(c, tile.index, nullptr, nullptr, &comp.rect, &comp.sub_x, &comp.sub_y, nullptr);
    enc_rect widened;
    int reversible = 0, frac = 0, index = 0;
    comp.levels = m_info->get_tile_component_info(c, &index, &widened, &reversible, &frac);
    if (comp.levels < 0 || comp.levels > 32)
        local_error("The code-stream gives component %d %d decomposition levels; at most 32 are supported!",
                    c, comp.levels);
    if (widened.height != comp.rect.height || widened.width != comp.rect.width ||
        widened.y0 != comp.rect.y0 || widened.x0 != comp.rect.x0)
        tile.overlap = true;
    comp.kept_levels = comp.levels - m_discard;
    if (comp.kept_levels < 0)
        local_error(
            "The current codestream does not support sufficient resolution scalability for the requested "
            "reduction in resolution.  At most %d resolution levels may be discarded!",
            comp.levels);
    const int xcb = ValueOr(*m_in, tile.index, elt::Xcb, c, 0, 4),
              ycb = ValueOr(*m_in, tile.index, elt::Ycb, c, 0, 4);
    if (xcb < 0 || ycb < 0 || xcb > 8 || ycb > 8 || xcb + ycb > 8)
        local_error("The code-stream gives component %d code-blocks of 2^%d x 2^%d samples; code-block "
                    "dimensions run "
                    "from 4 to 1024 with at most 4096 samples!",
                    c, ycb + 2, xcb + 2);
    comp.nominal_height = 1 << (ycb + 2);
    comp.nominal_width = 1 << (xcb + 2);
    const int nppx = m_in->marker_elt_count(tile.index, elt::Ppx, c);
    const int nppy = m_in->marker_elt_count(tile.index, elt::Ppy, c);
    comp.respect_cells = m_in->marker_elt_count(tile.index, elt::RespectCells, c) > 0 &&
                         m_in->get_marker_val(tile.index, elt::RespectCells, c, 0) != 0;
    const int flags = ValueOr(*m_in, tile.index, elt::CoderFlags, c, 0, 0);
    comp.modes = coder_modes::from_flags(flags);
    comp.confidence_bits = comp.modes.segmark || comp.modes.predictable ? m_confidence : 0;

    comp.level_records.resize(size_t(comp.levels + 1));
    for (int r = 0; r <= comp.levels; ++r) {
        dec_level &lv = comp.level_records[size_t(r)];
        lv.level = r;
        frame_geometry frame;
        int hp = 0;
        m_info->get_level_info(c, r, &lv.rect, &hp, &frame);
        lv.splits = r == 0 ? 0 : hp;
        if (lv.splits < 0 || lv.splits > 3)
            local_error("The code-stream gives level %d of component %d %d splits; at most 3 are supported!",
                        r, c, lv.splits);
        lv.precinct_y = frame.anchor_row;
        lv.precinct_x = frame.anchor_col;
        lv.ppx = r < nppx ? m_in->get_marker_val(tile.index, elt::Ppx, c, r) : 15;
        lv.ppy = r < nppy ? m_in->get_marker_val(tile.index, elt::Ppy, c, r) : 15;
        if (lv.ppx < 0 || lv.ppx > 15 || lv.ppy < 0 || lv.ppy > 15)
            local_error("The code-stream gives precinct exponents outside 0..15 for component %d!", c);
        level_band_range(r, lv.splits, &lv.first_band, &lv.last_band);
        for (int b = lv.first_band; b <= lv.last_band; ++b) {
            dec_band band;
            set_band_geometry(band, *m_info, c, r, b, lv.splits);
            float step = 1.0f;
            int negative_exponent = 0;
            m_info->get_band_quant_info(c, r, b, &step, &negative_exponent, nullptr, &band.K);
            if (band.K < -8 || band.K > 31)
                local_error(
                    "The code-stream's step exponents leave band %d of level %d of component %d with %d "
                    "fraction bits; a 32-bit sample holds 31 magnitude bits!",
                    b, r, c, band.K);
            install_decoder_passes(band.passes, m_plain);
            lv.bands.push_back(std::move(band));
        }
    }
}

void ebcot_decoder::BuildPartitions(dec_tile &tile)
{
    // First the sizes, against the cap; then the structures.
    int64_t bytes = 0;
    for (dec_component &comp : tile.components)
        for (dec_level &lv : comp.level_records) {
            const int64_t pw = int64_t(1) << lv.ppx, ph = int64_t(1) << lv.ppy;
            const int64_t precincts =
                (CeilDivPositive(lv.rect.width, pw) + 1) * (CeilDivPositive(lv.rect.height, ph) + 1);
            bytes += precincts * (int64_t(sizeof(dec_precinct)) + tile.layers * 12 +
                                  int64_t(lv.bands.size()) * int64_t(sizeof(dec_precinct_band)));
            for (dec_band &b : lv.bands) {
                const int64_t blocks =
                    (CeilDivPositive(b.rect.width, 4) + 1) * (CeilDivPositive(b.rect.height, 4) + 1);
                const int64_t limited = std::min<int64_t>(
                    blocks,
                    (CeilDivPositive(b.rect.width, std::min<int64_t>(comp.nominal_width, pw)) + 1) *
                        (CeilDivPositive(b.rect.height, std::min<int64_t>(comp.nominal_height, ph)) + 1));
                bytes += limited * (int64_t(sizeof(dec_block)) + 94 * int64_t(sizeof(dec_pass_record)) + 64);
            }
            if (bytes > kMemoryCap)
                TooBig(tile.index);
        }
    tile.precincts.clear();
    for (dec_component &comp : tile.components) {
        for (dec_level &lv : comp.level_records) {
            const partition_level_input in = make_partition_input(comp, lv);
            partition_level out;
            if (!build_level_partition(in, out))
                local_error(
                    "Precinct partition dimensions too small for given decomposition; precinct size must be "
                    "sufficiently large that the partition occupies at least one full sample in each "
                    "subband!");
            apply_band_partition(lv, out);
            apply_precinct_partition(lv, out, comp.component);
            for (dec_precinct &P : lv.precincts)
                P.layer_bytes.assign(size_t(tile.layers), 0);
        }
    }
    for (dec_component &comp : tile.components)
        for (dec_level &lv : comp.level_records)
            for (dec_precinct &P : lv.precincts)
                tile.precincts.push_back(&P);
}

void ebcot_decoder::build_tile_structures(dec_tile &tile)
{
    MoveInfoTo(tile.index);
    m_info->get_tile_info(-1, tile.index, nullptr, nullptr, &tile.rect, nullptr, nullptr, nullptr);
    tile.components.resize(size_t(m_components));
    tile.components_to_decode = m_to_decode;
    for (int c = 0; c < m_components; ++c) {
        tile.components[size_t(c)].component = c;
        BuildComponent(tile, tile.components[size_t(c)]);
    }
    tile.layers = ValueOr(*m_in, tile.index, elt::Layers, 0, 0, 1);
    if (tile.layers < 1 || tile.layers > 65535)
        local_error("The code-stream gives tile %d %d quality layers; a tile has 1 to 65535!", tile.index,
                    tile.layers);
    tile.order = ValueOr(*m_in, tile.index, elt::Progression, 0, 0, 0);
    if (tile.order < 0 || tile.order > 4)
        local_error("The code-stream gives tile %d the progression order %d; the orders run from 0 to 4!",
                    tile.index, tile.order);
    const int changes = m_in->marker_elt_count(tile.index, elt::ProgressionChanges, 0);
    tile.changes.clear();
    for (int k = 0; k + 6 <= changes; k += 6) {
        int32_t v[6];
        for (int i = 0; i < 6; ++i)
            v[i] = m_in->get_marker_val(tile.index, elt::ProgressionChanges, 0, k + i);
        if (v[0] < 0 || v[1] < 0 || v[2] < 0 || v[3] < 0 || v[4] < 0 || v[5] < 0 || v[5] > 4)
            local_error("The code-stream holds a progression change of tile %d that is not valid!",
                        tile.index);
        tile.changes.push_back(progression_change{v[0], v[1], v[2], v[3], v[4], v[5]});
    }
    BuildPartitions(tile);

    // The packet sequence, over the same plain description the encoder uses.
    sequence_input in = make_sequence_input(tile);
    tile.sequence = build_packet_sequence(in);
    tile.packets = static_cast<int32_t>(tile.sequence.size());
    tile.packets_read = 0;

    for (dec_component &comp : tile.components)
        for (dec_level &lv : comp.level_records)
            for (dec_band &band : lv.bands) {
                int max_shift = 0, align = 0;
                const int boost = m_roi ? m_roi->get_boost(comp.component, lv.level, &align, &max_shift) : 0;
                band.roi_active = boost != 0;
                band.roi_boost = boost;
                band.roi_max_shift = max_shift != 0;
                band.pass_capacity = std::clamp(3 * (31 + boost - band.K) - 2, 0, 3 * 62 - 2);
                band.pass_storage.assign(band.blocks.size() * size_t(std::max(band.pass_capacity, 1)),
                                         dec_pass_record{0, 0, 0, 0});
                for (size_t i = 0; i < band.blocks.size(); ++i) {
                    band.blocks[i].capacity = band.pass_capacity;
                    band.blocks[i].records =
                        band.pass_storage.data() + i * size_t(std::max(band.pass_capacity, 1));
                }
            }
    for (size_t k = 0; k < tile.sequence.size(); ++k)
        tile.precincts[size_t(tile.sequence[k].precinct)]->last_packet = static_cast<int32_t>(k);
    for (dec_precinct *P : tile.precincts)
        for (dec_precinct_band &pb : P->bands)
            for (int i = 0; i < pb.blocks(); ++i)
                pb.block(i).last_packet = P->last_packet;
    tile.built = true;
    MoveInfoTo(m_current);
}

void ebcot_decoder::alloc_tile_work_areas(dec_tile &tile)
{
    m_pools.resize(tile.components.size());
    m_spare_work.resize(std::max(m_spare_work.size(), tile.components.size()));
    for (size_t c = 0; c < tile.components.size(); ++c) {
        dec_component &comp = tile.components[c];
        std::unique_ptr<block_decoder_work> &spare = m_spare_work[c];
        if (spare && spare->nominal_height() == comp.nominal_height &&
            spare->nominal_width() == comp.nominal_width && spare->plain() == m_plain) {
            comp.work = std::move(spare);
            comp.work->modes = comp.modes;
            comp.work->confidence_bits = comp.confidence_bits;
        } else {
            comp.work = std::make_unique<block_decoder_work>(comp.nominal_height, comp.nominal_width,
                                                             comp.modes, m_plain, comp.confidence_bits);
        }
        // A pool hands out buffers with old contents anyway, so one of the right size carries over.
        std::unique_ptr<block_buffer_pool> &pool = m_pools[c];
        if (!pool || pool->rows() != comp.nominal_height || pool->cols() != comp.nominal_width)
            pool = std::make_unique<block_buffer_pool>(comp.nominal_height, comp.nominal_width);
    }
}

void ebcot_decoder::FreeTile(dec_tile &tile)
{
    for (size_t c = 0; c < tile.components.size(); ++c) {
        dec_component &comp = tile.components[c];
        for (dec_level &lv : comp.level_records)
            for (dec_band &b : lv.bands) {
                for (int32_t *buffer : b.block_buffers)
                    if (buffer && c < m_pools.size())
                        m_pools[c]->put(buffer);
                b.block_buffers.clear();
                for (dec_block &block : b.blocks)
                    for (code_byte_block *chain = block.chain; chain;) {
                        code_byte_block *next = chain->next;
                        m_heap->return_block(chain);
                        chain = next;
                    }
            }
        if (c >= m_spare_work.size())
            m_spare_work.resize(c + 1);
        m_spare_work[c] = std::move(comp.work);
    }
    tile.components.clear();
    tile.precincts.clear();
    tile.sequence.clear();
}

} // namespace zn::j2k
