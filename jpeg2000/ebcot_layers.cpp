// Layer formation and packet writing at the end of an encoding. Each layer's threshold is chosen by
// simulating its packets on top of the layers below (bisection) or read off the slope histogram; the
// chosen simulation is kept, and writing later repeats it packet for packet, which is checked.
#include "jpeg2000/ebcot_encoder.h"

#include "jpeg2000/codeword_heap.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/packet_encoder.h"
#include "jpeg2000/packet_sequence.h"
#include "jpeg2000/progressive_weights.h"
#include "jpeg2000/stream_out.h"

#include <algorithm>

namespace zn::j2k {

void ebcot_encoder::BuildSequences(int layers)
{
    for (auto &tile : m_tiles) {
        tile->layers = layers;
        tile->length = 0;
        sequence_input in = make_sequence_input(*tile);
        tile->sequence = build_packet_sequence(in);
        tile->packets = static_cast<int32_t>(tile->sequence.size());
        for (enc_precinct *P : tile->precincts)
            P->layer_bytes.assign(size_t(layers), 0);
    }
}

int32_t ebcot_encoder::MinimumIncrement() const
{
    int64_t precincts = 0;
    for (const auto &tile : m_tiles)
        precincts += static_cast<int64_t>(tile->precincts.size());
    return static_cast<int32_t>(std::min<int64_t>(32 * precincts, INT32_MAX / 2));
}

void ebcot_encoder::ApplyVpw(int32_t target)
{
    if (m_vpw)
        vpw_apply(*m_vpw, m_tiles, m_components, target);
}

int64_t ebcot_encoder::SimulateLayer(int layer, int threshold, bool commit)
{
    int64_t total = 0;
    for (auto &tile : m_tiles) {
        const int header = m_out->start_tile(tile->index, 1, 0);
        int64_t bytes = layer == 0 ? header : 0;
        for (enc_precinct *P : tile->precincts) {
            if (!commit && layer > 0)
                save_tier2_state(*P);
            const int n = code_packet(*P, threshold, *m_out, true, layer, m_bits);
            if (commit)
                P->layer_bytes[size_t(layer)] = n;
            else if (layer > 0)
                restore_tier2_state(*P);
            bytes += n;
        }
        if (commit)
            tile->length = static_cast<int32_t>(std::min<int64_t>(int64_t(tile->length) + bytes, INT32_MAX));
        total += bytes;
    }
    return total;
}

void ebcot_encoder::FormAndWrite()
{
    form_layer_targets(m_layers, MinimumIncrement());
    const int count = static_cast<int>(m_layers.size());
    m_out->declare_marker_elt(-1, elt::Layers, 0, 16, 1);
    m_out->set_marker_val(-1, elt::Layers, 0, count, 0);
    m_out->write_global_header();
    const int32_t h = m_out->global_header_bytes();
    for (layer_record &l : m_layers)
        l.target += kHeaderAllowance - h;
    if (m_vpw)
        vpw_set_limits(*m_vpw, m_image_rows, m_image_cols, h);
    BuildSequences(count);

    int64_t committed = 0;
    int previous = kNothingThreshold;
    int64_t previous_actual = 0;
    for (int i = 0; i < count; ++i) {
        layer_record &layer = m_layers[size_t(i)];
        ApplyVpw(layer.target);
        auto simulate = [&](int t) { return committed + SimulateLayer(i, t, false); };
        int T;
        if (layer.fixed || m_vpw) {
            T = bisect_threshold(m_histogram, previous, layer.target, m_vpw != nullptr, simulate);
        } else {
            T = estimate_threshold(m_histogram, previous,
                                   static_cast<int32_t>(std::min<int64_t>(previous_actual, INT32_MAX)),
                                   layer.target);
            T = std::clamp(T, 0, previous);
            // An estimate must not spend bytes the next given rate needs: then search instead.
            int32_t next_fixed = m_layers.back().target;
            for (int j = i + 1; j < count; ++j)
                if (m_layers[size_t(j)].fixed) {
                    next_fixed = m_layers[size_t(j)].target;
                    break;
                }
            if (simulate(T) > next_fixed)
                T = bisect_threshold(m_histogram, previous, layer.target, false, simulate);
        }
        committed += SimulateLayer(i, T, true);
        layer.threshold = static_cast<int16_t>(T);
        layer.actual = static_cast<int32_t>(std::min<int64_t>(committed, INT32_MAX));
        previous = T;
        previous_actual = committed;
    }
    WriteTiles();
}

void ebcot_encoder::WriteTiles()
{
    const int n = static_cast<int>(m_tiles.size());
    for (int k = 0; k < n; ++k) {
        enc_tile &tile = *m_tiles[size_t(m_reverse_tiles ? n - 1 - k : k)];
        const int32_t length = m_omit_tile_length && k == n - 1 ? 0 : tile.length;
        m_out->start_tile(tile.index, 0, length);
        for (const packet_entry &e : tile.sequence) {
            enc_precinct &P = *tile.precincts[size_t(e.precinct)];
            const layer_record &layer = m_layers[size_t(e.layer)];
            ApplyVpw(layer.target);
            const int written = code_packet(P, layer.threshold, *m_out, false, e.layer, m_bits);
            const int simulated = P.layer_bytes[size_t(e.layer)];
            if (written != simulated)
                local_error("Error made during packet simulation by `stream_out' object: simulated bytes = "
                            "%d; actual "
                            "bytes = %d!",
                            simulated, written);
        }
    }
}

} // namespace zn::j2k
