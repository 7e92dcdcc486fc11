// The order of a tile's packets in the code-stream: one entry per (layer, precinct), following the
// tile's progression order (LRCP, RLCP, RPCL, PCRL or CPRL, coded 0 to 4) and its progression
// changes. Encoder and decoder describe their tile in the plain form below and get the same list.
#pragma once

#include "jpeg2000/ebcot_encoder_records.h"

#include <vector>

namespace zn::j2k {

struct sequence_level
{
    int32_t precincts_across = 0, precincts_down = 0;
    int32_t ppx = 15, ppy = 15;
    int32_t first_precinct = 0; // index of its first precinct in the tile's flat list
};

struct sequence_component
{
    int32_t sub_x = 1, sub_y = 1;
    std::vector<sequence_level> levels; // 0..L
};

struct sequence_precinct
{
    int32_t x = 0, y = 0; // top-left corner on the reference grid
    int32_t placed = 0;
};

struct sequence_input
{
    int32_t layers = 1;
    enc_rect tile;
    bool overlap = false;
    int32_t order = 0;
    std::vector<progression_change> changes;
    std::vector<sequence_component> components;
    std::vector<sequence_precinct> precincts;
};

// The plain description of an encoder's or a decoder's tile (their records share these fields).
template <class Tile> sequence_input make_sequence_input(const Tile &tile)
{
    sequence_input in;
    in.layers = tile.layers;
    in.tile = tile.rect;
    in.overlap = tile.overlap;
    in.order = tile.order;
    in.changes = tile.changes;
    int32_t next = 0;
    for (const auto &comp : tile.components) {
        sequence_component sc;
        sc.sub_x = comp.sub_x;
        sc.sub_y = comp.sub_y;
        for (const auto &lv : comp.level_records) {
            sc.levels.push_back(sequence_level{lv.precincts_across, lv.precincts_down, lv.ppx, lv.ppy, next});
            for (const auto &P : lv.precincts)
                in.precincts.push_back(sequence_precinct{P.x, P.y, 0});
            next += static_cast<int32_t>(lv.precincts.size());
        }
        in.components.push_back(std::move(sc));
    }
    return in;
}

// Builds the sequence; every packet of the tile appears exactly once. The two refusals (spatial
// orders over sub-sampling that is not a power of two, or over overlapping tiles) end the run.
std::vector<packet_entry> build_packet_sequence(sequence_input &in);

// "L", "RL", "RP", "PC", "CP" and back; -1 for an unknown name.
int progression_order_code(const char *name);
const char *progression_order_name(int code);

} // namespace zn::j2k
