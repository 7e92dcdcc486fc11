// The EBCOT decoder object: options, lazy packet reading in code-stream order, the precinct check
// that drops what will not be decoded, block decoding a block row at a time, and the row delivery.
#include "jpeg2000/ebcot_decoder.h"

#include "jpeg2000/block_buffer_pool.h"
#include "jpeg2000/codeword_heap.h"
#include "jpeg2000/coding_tables.h"
#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/packet_decoder.h"
#include "jpeg2000/stream_in.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace zn::j2k {

namespace {
const char *const kEbcotDecoderUsage[] = {
    "-Cno_speedup",
    "Prevent use of certain implementation tricks in critical block decoding functions, which interact "
    "directly "
    "with the internal MQ coder state.",
    "-Cer <confidence bits> [default = ignore error resilience info]",
    "Provision of this argument will generate an error unless the global header of the bit-stream indicates "
    "that "
    "the encoder has introduced some error resilience information. Passes whose segment checks fail are "
    "dropped, "
    "together with the passes before them until the given number of confidence bits is covered.",
    "-Ccpu",
    "Report CPU time for block decoding engine.  Note that the block decoding engine is invoked 5 times and "
    "the "
    "total amount of time spent in this routine is then divided by 5 in order to obtain more reliable "
    "results.",
    nullptr,
};
} // namespace

// The code-stream reader as the packet reader's byte source.
class ebcot_decoder::PacketSource : public packet_byte_source
{
public:
    explicit PacketSource(stream_in &in) : m_in(in) {}
    int get_head_bytes(uint8_t *buffer, int n) override { return m_in.get_head_bytes(buffer, n); }
    int get_body_bytes(uint8_t *buffer, int n) override { return m_in.get_body_bytes(buffer, n); }

private:
    stream_in &m_in;
};

ebcot_decoder::ebcot_decoder() = default;
ebcot_decoder::~ebcot_decoder() = default;

std::unique_ptr<ebcot_decoder> create_ebcot_decoder()
{
    return std::make_unique<ebcot_decoder>();
}

usage_table ebcot_decoder::get_usage()
{
    return kEbcotDecoderUsage;
}

void ebcot_decoder::initialize(int components, int discard_levels, int components_to_decode,
                               block_coder_params *info, roi_block_masks *roi, stream_in *in,
                               command_line *args)
{
    if (components < 1 || discard_levels < 0)
        local_error(
            "The block decoder needs at least one component and a non-negative number of discarded levels!");
    m_components = components;
    m_discard = discard_levels;
    m_to_decode = std::clamp(components_to_decode, 0, components);
    m_info = info;
    m_roi = roi;
    m_in = in;
    m_args = args;
    m_source = std::make_unique<PacketSource>(*in);
    int count = 0;
    while (m_info->get_tile_info(-1, count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        if (++count > 65535)
            local_error("The code-stream describes more than 65535 tiles!");
    }
    if (count == 0)
        local_error("The code-stream describes no tile to decode!");
    for (int t = 0; t < count; ++t) {
        auto tile = std::make_unique<dec_tile>();
        tile->index = t;
        m_tiles.push_back(std::move(tile));
    }
    const char *const *p = nullptr;
    int n = args ? args->find("-Ccpu", -1) : -1;
    if (n > 0)
        local_error("The `-Ccpu' argument takes no parameters!");
    if (n == 0)
        m_ticks = 0.0;
    n = args ? args->find("-Cer", -1, &p) : -1;
    if (n >= 0) {
        int bits = 0;
        char tail = 0;
        if (n != 1 || std::sscanf(p[0], "%d%c", &bits, &tail) != 1 || bits < 1 || bits > 15)
            local_error(
                "The `-Cer' argument requires a single positive integer parameter, in the range 1 to 15!");
        m_confidence = bits;
    }
    n = args ? args->find("-Cno_speedup", -1) : -1;
    if (n > 0)
        local_error("The `-Cno_speedup' argument takes no parameters!");
    m_plain = n == 0;
    for (int c = 0; c < components; ++c) {
        int64_t rows = 0, cols = 0;
        for (int t = 0; t < count; ++t) {
            int column = 0, row = 0;
            enc_rect r;
            m_info->get_tile_info(c, t, &column, &row, &r, nullptr, nullptr, nullptr);
            if (column == 0)
                rows += r.height;
            if (row == 0)
                cols += r.width;
        }
        m_image_rows = static_cast<int32_t>(std::max<int64_t>(m_image_rows, rows));
        m_image_cols = static_cast<int32_t>(std::max<int64_t>(m_image_cols, cols));
    }
    m_heap = create_codeword_heap();
    mq_build_decoder_tables();
    build_coding_tables();
    m_current = 0;
    m_info_cursor = 0;
    build_tile_structures(*m_tiles[0]);
    alloc_tile_work_areas(*m_tiles[0]);
    m_bytes_used = in->global_header_bytes();
}

void ebcot_decoder::PrecinctCheck(dec_tile &tile, dec_precinct &P)
{
    const dec_component &comp = tile.components[size_t(P.component)];
    if (P.component < tile.components_to_decode && P.level <= comp.kept_levels)
        return;
    int64_t sum = 0;
    for (int32_t &bytes : P.layer_bytes) {
        sum += bytes;
        bytes = 0;
    }
    for (dec_precinct_band &pb : P.bands)
        for (int i = 0; i < pb.blocks(); ++i) {
            dec_block &b = pb.block(i);
            for (code_byte_block *chain = b.chain; chain;) {
                code_byte_block *next = chain->next;
                m_heap->return_block(chain);
                chain = next;
            }
            b.chain = b.chain_last = nullptr;
            b.total_bytes = b.usable_bytes = b.last_fill = 0;
        }
    m_bytes_used = static_cast<int32_t>(std::max<int64_t>(0, m_bytes_used - sum));
}

void ebcot_decoder::MarkRemainingEmpty(dec_tile &tile)
{
    while (tile.packets_read < tile.packets) {
        const packet_entry &e = tile.sequence[size_t(tile.packets_read)];
        dec_precinct &P = *tile.precincts[size_t(e.precinct)];
        P.layer_bytes[size_t(e.layer)] = 0;
        ++P.layers_read;
        if (tile.packets_read == P.last_packet)
            PrecinctCheck(tile, P);
        ++tile.packets_read;
    }
}

void ebcot_decoder::read_packets(dec_tile &current, int32_t n)
{
    while (current.packets_read <= n && current.packets_read < current.packets) {
        int t = -1, header = 0;
        const int data = m_in->start_packet(&t, &header);
        if (t < 0) {
            // The code-stream has ended: whatever was not read is empty. Tiles not built yet find
            // the same end when they become current; the sweep over all tiles happens once, or a
            // stream of thousands of tiles would cost their square.
            if (!m_stream_ended) {
                m_stream_ended = true;
                for (auto &tile : m_tiles)
                    if (tile->built && !tile->components.empty())
                        MarkRemainingEmpty(*tile);
            } else if (current.built && !current.components.empty()) {
                MarkRemainingEmpty(current);
            }
            break;
        }
        if (t >= static_cast<int>(m_tiles.size()))
            local_error("The code-stream holds a tile-part of tile %d, but its image has only %d tiles!", t,
                        static_cast<int>(m_tiles.size()));
        dec_tile &tile = *m_tiles[size_t(t)];
        if (!tile.built)
            build_tile_structures(tile);
        if (tile.packets_read >= tile.packets) {
            int bytes = 0;
            m_in->end_packet(nullptr, &bytes); // nothing of it is wanted: skip the tile-part's rest
            continue;
        }
        m_bytes_used += header;
        const packet_entry &e = tile.sequence[size_t(tile.packets_read)];
        dec_precinct &P = *tile.precincts[size_t(e.precinct)];
        if (data)
            read_packet(P, tile.components[size_t(P.component)].modes, e.layer, *m_source, *m_heap);
        else
            P.no_more_data = true;
        int last = 0, bytes = 0;
        m_in->end_packet(&last, &bytes);
        P.layer_bytes[size_t(e.layer)] = bytes;
        m_bytes_used += bytes;
        ++P.layers_read;
        const bool precinct_done = tile.packets_read == P.last_packet;
        ++tile.packets_read;
        if (precinct_done)
            PrecinctCheck(tile, P);
        if (last)
            MarkRemainingEmpty(tile);
    }
}

void ebcot_decoder::read_tile_limited(int32_t limit)
{
    if (m_current >= static_cast<int>(m_tiles.size()))
        return;
    dec_tile &tile = *m_tiles[size_t(m_current)];
    read_packets(tile, INT32_MAX - 1);
    if (m_bytes_used > limit)
        drop_layers(tile, m_bytes_used, limit, *m_heap);
}

dec_band &ebcot_decoder::BandOf(int component, int level, int band)
{
    if (m_current < 0 || m_current >= static_cast<int>(m_tiles.size()) || component < 0 ||
        component >= m_components)
        local_error(
            "Attempting to access a band of a tile or component that the block decoder does not have!");
    dec_component &comp = m_tiles[size_t(m_current)]->components[size_t(component)];
    if (level < 0 || level > comp.levels)
        local_error(
            "Attempting to access a band of a tile or component that the block decoder does not have!");
    dec_level &lv = comp.level_records[size_t(level)];
    if (band < lv.first_band || band > lv.last_band)
        local_error(
            "Attempting to access a band of a tile or component that the block decoder does not have!");
    return lv.bands[size_t(band - lv.first_band)];
}

void ebcot_decoder::get_block_dims(int component, int level, int band, int *height, int *width)
{
    dec_band &b = BandOf(component, level, band);
    if (height)
        *height = b.block_height;
    if (width)
        *width = b.block_width;
}

void ebcot_decoder::DecodeBlock(dec_tile &tile, dec_component &comp, dec_band &band, dec_block &block,
                                int32_t *out, int out_pitch)
{
    if (tile.packets_read <= block.last_packet)
        read_packets(tile, block.last_packet);
    block_roi_mask roi;
    const block_roi_mask *roi_ptr = nullptr;
    if (band.roi_active && m_roi) {
        m_roi_mask.assign(size_t(block.height) * size_t(block.width), 0);
        m_roi_rows.resize(size_t(block.height));
        for (int y = 0; y < block.height; ++y)
            m_roi_rows[size_t(y)] = m_roi_mask.data() + size_t(y) * size_t(block.width);
        int shift = 0;
        const int range = m_roi->get_block_mask(comp.component, band.level, band.index, block.height,
                                                block.width, block.y, block.x, &shift, m_roi_rows.data());
        roi.base = band.roi_max_shift ? 0 : shift;
        roi.shift = band.roi_max_shift ? range : shift + range;
        roi.max_shift = band.roi_max_shift;
        roi.rows = m_roi_rows.data();
        roi_ptr = &roi;
    }
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    decode_code_block(*comp.work, band.passes, band.orientation, band.K, block, roi_ptr, out, out_pitch,
                      *m_heap, m_ticks >= 0 ? 5 : 1);
    if (m_ticks >= 0)
        m_ticks += std::chrono::duration<double>(clock::now() - start).count();
}

int ebcot_decoder::pull_block_line(int32_t *buffer, int component, int level, int band_index, int width)
{
    if (width == 0)
        return 0;
    dec_band &band = BandOf(component, level, band_index);
    dec_tile &tile = *m_tiles[size_t(m_current)];
    dec_component &comp = tile.components[size_t(component)];
    if (width != band.rect.width)
        local_error("A row of %d samples was asked of a band %d samples wide!", width, band.rect.width);
    if (band.current_block_row >= band.blocks_down)
        local_error("More rows were asked of a band than it has!");
    if (!band.started) {
        band.started = true;
        band.block_buffers.assign(size_t(band.blocks_across), nullptr);
        for (int32_t *&b : band.block_buffers)
            b = m_pools[size_t(component)]->get();
        band.row_in_block_row = 0;
    }
    const size_t first = size_t(band.current_block_row) * size_t(band.blocks_across);
    if (band.row_in_block_row == 0)
        for (int k = 0; k < band.blocks_across; ++k)
            DecodeBlock(tile, comp, band, band.blocks[first + size_t(k)], band.block_buffers[size_t(k)],
                        comp.nominal_width);
    for (int k = 0; k < band.blocks_across; ++k) {
        const dec_block &b = band.blocks[first + size_t(k)];
        std::memcpy(buffer + b.x,
                    band.block_buffers[size_t(k)] +
                        size_t(band.row_in_block_row) * size_t(comp.nominal_width),
                    sizeof(int32_t) * size_t(b.width));
    }
    const int delivered = ++band.row_in_block_row;
    if (band.row_in_block_row == band.blocks[first].height) {
        band.row_in_block_row = 0;
        ++band.current_block_row;
    }
    return delivered;
}

int ebcot_decoder::next_tile()
{
    if (m_current >= static_cast<int>(m_tiles.size()))
        return 0;
    dec_tile &old = *m_tiles[size_t(m_current)];
    if (old.built) {
        old.packets_read = old.packets; // later tile-parts of it are skipped
        FreeTile(old);
    }
    ++m_current;
    if (m_roi)
        m_roi->next_tile();
    // The row loop has moved the parameters' tile cursor to the new tile already.
    m_info_cursor = m_current;
    if (m_current < static_cast<int>(m_tiles.size())) {
        dec_tile &tile = *m_tiles[size_t(m_current)];
        if (!tile.built)
            build_tile_structures(tile);
        alloc_tile_work_areas(tile);
        return 1;
    }
    return 0;
}

void ebcot_decoder::initialize(int components, int discard_levels, int components_to_decode,
                               reverse_info *info, roi_decoder *roi, stream_in *in, command_line *args)
{
    m_own_info = make_block_coder_params(*info);
    m_own_roi = roi ? make_roi_block_masks(*roi) : nullptr;
    initialize(components, discard_levels, components_to_decode, m_own_info.get(), m_own_roi.get(), in, args);
}

int32_t ebcot_decoder::terminate()
{
    if (m_terminated)
        return m_bytes_used;
    m_terminated = true;
    if (m_current < static_cast<int>(m_tiles.size()) && m_tiles[size_t(m_current)]->built)
        FreeTile(*m_tiles[size_t(m_current)]);
    if (m_ticks >= 0) {
        const double seconds = m_ticks * 0.2;
        const double pixels = std::max(1.0, double(m_image_rows) * double(m_image_cols));
        local_printf(4, 72, ">> CPU time for EBCOT decoder:\n%g seconds (%g micro-seconds per pixel)",
                     seconds, seconds * 1000000.0 / pixels);
    }
    m_tiles.clear();
    m_pools.clear();
    m_spare_work.clear();
    m_heap.reset();
    return m_bytes_used;
}

} // namespace zn::j2k
