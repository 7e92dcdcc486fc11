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

// Builds the sequence; every packet of the tile appears exactly once. The two refusals (spatial
// orders over sub-sampling that is not a power of two, or over overlapping tiles) end the run.
std::vector<packet_entry> build_packet_sequence(sequence_input &in);

// "L", "RL", "RP", "PC", "CP" and back; -1 for an unknown name.
int progression_order_code(const char *name);
const char *progression_order_name(int code);

} // namespace zn::j2k
