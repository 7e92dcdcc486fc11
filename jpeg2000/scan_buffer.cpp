// The reduced-memory scan buffer. Elements are rows of precincts (or whole tiles); once the buffer
// holds enough of them, layers are formed over their packets alone with a share of the budget that
// follows their estimated size, passes below the final threshold are dropped for good (their code
// bytes go back to the heap) and the oldest elements are written, so the encoder never keeps more
// than a buffer's worth of code.
#include "jpeg2000/scan_buffer.h"

#include "jpeg2000/codeword_heap.h"
#include "jpeg2000/command_line.h"
#include "jpeg2000/ebcot_encoder.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/packet_encoder.h"
#include "jpeg2000/stream_out.h"

#include <algorithm>
#include <cstdio>

namespace zn::j2k {

namespace {
int64_t ReadLimit(command_line *args, const char *name, const char *missing, const char *illegal)
{
    const char *const *p = nullptr;
    const int count = args ? args->find(name, -1, &p) : -1;
    if (count < 0)
        return 0;
    if (count != 1)
        local_error("%s", missing);
    long value = 0;
    char tail = 0;
    if (std::sscanf(p[0], "%ld%c", &value, &tail) != 1)
        local_error(illegal, p[0]);
    return value;
}

// Gives back a block's code bytes from byte `keep` on (from the next word boundary); the block's
// code then ends there. Never reaches beyond the block's own words.
void ReleaseFrom(codeword_heap &heap, block_code &code, int32_t keep)
{
    if (!code.start_block)
        return;
    const int skip = (keep + 3) / 4;
    code_byte_block *b = code.start_block;
    int word = code.start_word;
    for (int k = 0; k < skip; ++k) {
        if (b == code.end_block && word >= code.end_word)
            return;
        if (++word == 8) {
            b = b->next;
            word = 0;
            if (!b)
                return;
        }
    }
    if (b == code.end_block && word >= code.end_word)
        return;
    heap.release_tail(b, word, code.end_block, code.end_word);
    code.end_block = b;
    code.end_word = word;
}
} // namespace

bool scan_buffer_active(const ebcot_encoder &e)
{
    return e.m_scan != nullptr;
}

void scan_buffer_setup(ebcot_encoder &e)
{
    const int64_t bytes =
        ReadLimit(e.m_args, "-Cscan_buffer_bytes",
                  "The `-Cscan_buffer_bytes' argument requires a parameter to specify the reduced "
                  "memory buffer size!",
                  "Illegal scanner buffer size specifier, \"%s\", for argument `-Cscan_buffer_bytes'!");
    const int64_t elements = ReadLimit(
        e.m_args, "-Cscan_buffer_elements",
        "The `-Cscan_buffer_elements' argument requires a parameter to specify the reduced memory buffer "
        "size!",
        "Illegal scanner buffer size specifier, \"%s\", for argument `-Cscan_buffer_elements'!");
    if (bytes <= 0 && elements <= 0)
        return;
    const bool one_tile = e.m_tiles.size() == 1;
    if (one_tile && (!e.m_args || e.m_args->find("-Cpp", -1) < 0))
        local_error(
            "The `-Cscan_buffer_bytes' and `-Cscan_buffer_elements' options should be used with either "
            "precinct or tiles!");
    for (auto &tile : e.m_tiles)
        for (enc_component &comp : tile->components)
            for (size_t r = 0; r < comp.level_records.size(); ++r) {
                const enc_level &lv = comp.level_records[r];
                if (!one_tile && (lv.ppx != 15 || lv.ppy != 15))
                    local_error(
                        "The `-Cscan_buffer_bytes' and `-Cscan_buffer_elements' options should be used with "
                        "either precincts or tiling, not both!");
                if (!one_tile || r == 0)
                    continue;
                const enc_level &below = comp.level_records[r - 1];
                if (lv.ppx - below.ppx != 0 && lv.ppx - below.ppx != 1)
                    local_error(
                        "The `-Cscan_buffer_bytes' and `-Cscan_buffer_elements' options should be used with "
                        "precinct widths which either decrease octavely from level to level or remain the "
                        "same at all levels!");
                if (lv.ppy - below.ppy != 1)
                    local_error(
                        "The `-Cscan_buffer_bytes' and `-Cscan_buffer_elements' options should be used with "
                        "precinct heights which decrease octavely from level to level!");
            }
    if (one_tile) {
        if (!e.m_omit_tile_length) {
            local_printf(
                4, 76,
                "Precinct partition mode for `-Cscan_buffer_bytes' and `Cscan_buffer_elements' must omit "
                "last (and only) tile length since the scan buffer cannot predict that length over all "
                "precinct locations.  Therefore, the `-Comit_tile_length' will be artifitially set.");
            e.m_omit_tile_length = true;
        }
    }
    auto s = std::make_unique<scan_buffer_state>();
    form_layer_targets(e.m_layers, e.MinimumIncrement());
    const int layers = static_cast<int>(e.m_layers.size());
    e.m_out->declare_marker_elt(-1, elt::Layers, 0, 16, 1);
    e.m_out->set_marker_val(-1, elt::Layers, 0, layers, 0);
    e.BuildSequences(layers);

    // Element heights: a band's share of one precinct row, or its whole height with tiles.
    for (auto &tile : e.m_tiles)
        for (enc_component &comp : tile->components)
            for (enc_level &lv : comp.level_records)
                for (enc_band &b : lv.bands) {
                    const int s_count = lv.level == 0 ? 0 : lv.splits;
                    const int64_t share = lv.ppy >= 15 ? b.rect.height : (int64_t(1) << lv.ppy) >> s_count;
                    b.scan_element_height = static_cast<int32_t>(
                        one_tile ? std::min<int64_t>(std::max<int64_t>(share, 1), b.rect.height)
                                 : b.rect.height);
                    b.scan_rows = 0;
                }
    // Elements are runs of the packet sequence: a new one starts with each tile and whenever a
    // packet's precinct lies further down than the element's first. Only position-first orders make
    // more than one element per tile.
    for (size_t t = 0; t < e.m_tiles.size(); ++t) {
        const enc_tile &tile = *e.m_tiles[t];
        int64_t boundary = INT64_MIN;
        for (size_t k = 0; k < tile.sequence.size(); ++k) {
            const enc_precinct &P = *tile.precincts[size_t(tile.sequence[k].precinct)];
            if (k == 0 || P.y > boundary) {
                s->elements.emplace_back();
                boundary = P.y;
            }
            s->elements.back().packets.push_back({static_cast<int>(t), static_cast<int>(k)});
        }
    }
    if (s->elements.empty())
        s->elements.emplace_back();
    int64_t total = 0;
    for (scan_element &el : s->elements) {
        for (auto [t, k] : el.packets) {
            const enc_tile &tile = *e.m_tiles[size_t(t)];
            if (tile.sequence[size_t(k)].layer != 0)
                continue;
            for (const enc_precinct_band &pb :
                 tile.precincts[size_t(tile.sequence[size_t(k)].precinct)]->bands)
                for (int i = 0; i < pb.blocks(); ++i) {
                    const enc_block &b = pb.band->blocks[size_t(
                        pb.first_block + (i / pb.columns) * pb.band_columns + i % pb.columns)];
                    el.estimate += int64_t(b.height) * b.width;
                }
        }
        total += el.estimate;
    }
    const int64_t budget = e.m_out->remaining_bytes();
    auto share = [&](const scan_element &el) { return total > 0 ? budget * el.estimate / total : 0; };
    const int n = static_cast<int>(s->elements.size());
    if (bytes > 0) {
        int64_t sum = 0;
        s->buffered = 0;
        while (s->buffered < n && sum + share(s->elements[size_t(s->buffered)]) <= bytes)
            sum += share(s->elements[size_t(s->buffered++)]);
        s->buffered = std::max(s->buffered, 1);
        s->buffer_bytes = std::max<int64_t>(bytes, sum);
    } else {
        s->buffered = static_cast<int>(std::min<int64_t>(n, elements));
        s->buffer_bytes = share(s->elements[0]) * s->buffered;
    }
    local_printf(4, 70, "Reduced Memory Scan Buffer in use:\n");
    local_printf(8, 70, "Buffer Size = %ld (bytes) or %d (scan elements)\n",
                 static_cast<long>(s->buffer_bytes), s->buffered);
    s->tile_started.assign(e.m_tiles.size(), false);
    e.m_scan = std::move(s);
}

void scan_buffer_after_block_row(ebcot_encoder &e, enc_band &)
{
    if (!e.m_scan)
        return;
    scan_buffer_state &s = *e.m_scan;
    const int n = static_cast<int>(s.elements.size());
    if (s.count >= n)
        return;
    enc_tile &tile = *e.m_tiles[size_t(e.m_current)];
    for (enc_component &comp : tile.components)
        for (enc_level &lv : comp.level_records)
            for (enc_band &b : lv.bands)
                if (b.rect.width > 0 && b.rect.height > 0 && b.scan_rows < b.scan_element_height)
                    return;
    for (enc_component &comp : tile.components)
        for (enc_level &lv : comp.level_records)
            for (enc_band &b : lv.bands) {
                b.scan_rows -= b.scan_element_height;
            }
    // The last element holds whatever the walk put after the others: it goes out at the end.
    if (s.count >= n - 1)
        return;
    if (s.count < s.buffered - 1) {
        ++s.count;
        return;
    }
    scan_buffer_output(e, s, s.count);
    ++s.count;
}

void scan_buffer_finish(ebcot_encoder &e)
{
    if (!e.m_scan)
        return;
    scan_buffer_state &s = *e.m_scan;
    const int n = static_cast<int>(s.elements.size());
    if (s.written < n)
        scan_buffer_output(e, s, n - 1);
}

void scan_buffer_output(ebcot_encoder &e, scan_buffer_state &s, int last)
{
    stream_out &out = *e.m_out;
    const int n = static_cast<int>(s.elements.size());
    const bool final = last == n - 1;
    if (!s.header_written) {
        out.write_global_header();
        const int32_t h = out.global_header_bytes();
        for (layer_record &l : e.m_layers)
            l.target += kHeaderAllowance - h;
        if (e.m_vpw)
            vpw_set_limits(*e.m_vpw, e.m_image_rows, e.m_image_cols, h);
        int64_t total = 0;
        for (const scan_element &el : s.elements)
            total += el.estimate;
        s.bits_per_unit = total > 0 ? double(out.remaining_bytes() - 2) * 8.0 / double(total) : 0.0;
        s.header_written = true;
    }
    // The allowance of this output, never beyond what the file may still take (EOC kept).
    int64_t allowance = s.buffer_bytes, estimated = 0;
    for (int k = s.written; k <= last; ++k)
        estimated += int64_t(double(s.elements[size_t(k)].estimate) * s.bits_per_unit / 8.0);
    allowance = std::min(allowance, estimated);
    const int64_t room = out.remaining_bytes() - 2;
    allowance = final ? room : std::min(allowance, room);

    // The buffered packets, element by element in sequence order.
    std::vector<std::pair<int, int>> packets;
    for (int k = s.written; k <= last; ++k)
        packets.insert(packets.end(), s.elements[size_t(k)].packets.begin(),
                       s.elements[size_t(k)].packets.end());
    auto precinct_of = [&](std::pair<int, int> p) -> enc_precinct & {
        const enc_tile &tile = *e.m_tiles[size_t(p.first)];
        return *tile.precincts[size_t(tile.sequence[size_t(p.second)].precinct)];
    };
    auto layer_of = [&](std::pair<int, int> p) {
        return e.m_tiles[size_t(p.first)]->sequence[size_t(p.second)].layer;
    };
    const int layers = static_cast<int>(e.m_layers.size());
    std::vector<int> thresholds(size_t(layers), kNothingThreshold);
    int64_t committed = 0;
    int upper = kNothingThreshold;
    const int64_t last_target = std::max<int32_t>(1, e.m_layers.back().target);
    for (int k = 0; k < layers; ++k) {
        const int64_t target = e.m_layers[size_t(k)].target * (allowance - s.debt) / last_target;
        e.ApplyVpw(e.m_layers[size_t(k)].target);
        auto simulate = [&](int T, bool commit) {
            int64_t bytes = 0;
            std::vector<bool> counted(e.m_tiles.size(), false);
            for (auto p : packets) {
                if (layer_of(p) != k)
                    continue;
                enc_tile &tile = *e.m_tiles[size_t(p.first)];
                const int header = out.start_tile(tile.index, 1, 0);
                if (k == 0 && !s.tile_started[size_t(p.first)] && !counted[size_t(p.first)]) {
                    bytes += header;
                    counted[size_t(p.first)] = true;
                }
                enc_precinct &P = precinct_of(p);
                if (!commit && k > 0)
                    save_tier2_state(P);
                const int length = code_packet(P, T, out, true, k, e.m_bits);
                if (commit)
                    P.layer_bytes[size_t(k)] = length;
                else if (k > 0)
                    restore_tier2_state(P);
                bytes += length;
            }
            return bytes;
        };
        int lower = 0, chosen = upper;
        while (chosen - lower > 1) {
            const int trial = (lower + chosen) / 2;
            if (committed + simulate(trial, false) > target)
                lower = trial;
            else
                chosen = trial;
        }
        committed += simulate(chosen, true);
        thresholds[size_t(k)] = chosen;
        upper = chosen;
    }
    // Passes below the final threshold are gone for good, and so is their code; a round starved by
    // its debt (nothing fitted) discards nothing, or it would lose every buffered block.
    const int final_threshold = thresholds.back();
    for (auto p : packets) {
        if (final_threshold >= kNothingThreshold)
            break;
        if (layer_of(p) != 0)
            continue;
        for (enc_precinct_band &pb : precinct_of(p).bands)
            for (int i = 0; i < pb.blocks(); ++i) {
                block_code &code = pb.block(i).code;
                int cut = code.passes;
                for (int m = 0; m < code.passes; ++m)
                    if (code.records[m].slope > 0 && code.records[m].slope < final_threshold) {
                        cut = m;
                        break;
                    }
                for (int m = 0; m < code.passes; ++m)
                    if (code.records[m].slope < final_threshold)
                        code.records[m].slope = -1;
                if (cut < code.passes) {
                    int keep_to = cut - 1;
                    while (keep_to >= 0 && code.records[keep_to].slope <= 0)
                        --keep_to;
                    ReleaseFrom(*e.m_heap, code, keep_to >= 0 ? code.records[keep_to].length : 0);
                }
            }
    }
    // Write the oldest elements while the output amount lasts.
    int64_t amount = committed;
    if (!final) {
        const int next = last + 1 < n && last > s.written ? last + 1 : last;
        amount = std::min<int64_t>(
                     committed, int64_t(double(s.elements[size_t(next)].estimate) * s.bits_per_unit / 8.0)) -
                 s.debt;
    }
    int64_t written = 0;
    const int64_t wanted = amount;
    auto element_bytes = [&](int k) {
        int64_t bytes = 0;
        std::vector<bool> counted(e.m_tiles.size(), false);
        for (auto p : s.elements[size_t(k)].packets) {
            if (!s.tile_started[size_t(p.first)] && !counted[size_t(p.first)]) {
                bytes += out.start_tile(e.m_tiles[size_t(p.first)]->index, 1, 0);
                counted[size_t(p.first)] = true;
            }
            bytes += precinct_of(p).layer_bytes[size_t(layer_of(p))];
        }
        return bytes;
    };
    // Whole elements go out, the oldest first, as long as they fit the amount (at least one).
    bool first_of_round = true;
    while (s.written <= last && (final || first_of_round || element_bytes(s.written) <= amount)) {
        first_of_round = false;
        for (auto p : s.elements[size_t(s.written)].packets) {
            enc_tile &tile = *e.m_tiles[size_t(p.first)];
            if (!s.tile_started[size_t(p.first)]) {
                int32_t length = 0;
                if (!e.m_omit_tile_length) {
                    length = out.start_tile(tile.index, 1, 0);
                    for (enc_precinct *P : tile.precincts)
                        for (int32_t b : P->layer_bytes)
                            length += b;
                }
                written += out.start_tile(tile.index, 0, length);
                s.tile_started[size_t(p.first)] = true;
            }
            const int k = layer_of(p);
            enc_precinct &P = precinct_of(p);
            e.ApplyVpw(e.m_layers[size_t(k)].target);
            const int length = code_packet(P, thresholds[size_t(k)], out, false, k, e.m_bits);
            if (length != P.layer_bytes[size_t(k)])
                local_error("Error made during packet simulation by `stream_out' object: simulated bytes = "
                            "%d; actual "
                            "bytes = %d!",
                            P.layer_bytes[size_t(k)], length);
            written += length;
            if (k == layers - 1)
                for (enc_precinct_band &pb : P.bands)
                    for (int i = 0; i < pb.blocks(); ++i)
                        ReleaseFrom(*e.m_heap, pb.block(i).code, 0);
        }
        amount = wanted - written;
        ++s.written;
    }
    s.debt = std::max<int64_t>(0, written - std::max<int64_t>(wanted, 0));
}

} // namespace zn::j2k
