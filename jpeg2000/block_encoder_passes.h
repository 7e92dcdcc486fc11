// The encoder's three bit-plane coding passes over one code-block: cleanup, significance
// propagation and magnitude refinement, the latter two also in raw (bypass) form. Each pass codes
// one plane through the MQ coder and adds, per 8x8 cell, how much its bits lower the squared error.
#pragma once

#include "jpeg2000/block_layout.h"
#include "jpeg2000/mq_coder.h"

#include <cstdint>

namespace zn::j2k {

struct block_cell
{
    int32_t distortion; // what this pass's bits removed, table units
    float weight;       // visual weight, set by the driver
};

// What the passes read and update of one block being coded.
struct block_coding_record
{
    stripe_geometry geometry;
    int32_t causal = 0;
    int32_t plane = 0;             // K: the cleanup plane of the current group
    int32_t first_coded_plane = 0; // cleanup plane of the first group that coded anything
    int32_t lazy_depth = 31;       // 3 in lazy mode
    int32_t *samples = nullptr;    // sign-magnitude, stripe layout
    uint16_t *contexts = nullptr;  // origin of the context words, stripe layout
    block_cell *cells = nullptr;
    int32_t cell_pitch = 0;
    mq_encoder coder{};
    const uint8_t *significance_table = nullptr;
    const int16_t *significance_distortion = nullptr;
    const int16_t *refinement_distortion = nullptr;
};

using encoder_pass_function = void (*)(block_coding_record &);

void encode_cleanup_pass(block_coding_record &r);
void encode_significance_pass(block_coding_record &r); // hands over to the raw form when due
void encode_refinement_pass(block_coding_record &r);
void encode_significance_pass_raw(block_coding_record &r);
void encode_refinement_pass_raw(block_coding_record &r);

// The band's three pass functions, in the order cleanup, significance, refinement.
void install_encoder_passes(encoder_pass_function passes[3]);

// Whether the significance and refinement passes of the current group are coded raw.
inline bool raw_passes_due(const block_coding_record &r)
{
    return r.first_coded_plane - r.lazy_depth >= r.plane;
}

} // namespace zn::j2k
