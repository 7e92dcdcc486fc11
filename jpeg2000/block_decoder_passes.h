// The decoder's three bit-plane coding passes, symbol for symbol the twins of the encoder's. Each
// known sample is held at the middle of the interval still possible: its decoded bits plus a 1 just
// below the last decoded plane. Two sets exist with identical results: the plain one, and a speed-up
// set that keeps a flag word per group of eight columns and decides a whole quiet group of the
// cleanup pass in one step.
#pragma once

#include "jpeg2000/block_layout.h"
#include "jpeg2000/mq_coder.h"

#include <cstdint>

namespace zn::j2k {

struct block_decoding_record
{
    stripe_geometry geometry;
    int32_t causal = 0;
    int32_t plane = 0; // K: the cleanup plane of the current group
    int32_t first_coded_plane = -1;
    int32_t lazy_depth = 31;
    int32_t *samples = nullptr;   // sign-magnitude, stripe layout
    uint16_t *contexts = nullptr; // origin of the context words, stripe layout
    // Speed-up set only: origin (stripe 0, group 0) of the flag words, one row of `flag_pitch`
    // words per stripe with a guard row and a guard word on each side. Non-zero: some context word
    // of the group may be non-zero.
    int32_t *flags = nullptr;
    int32_t flag_pitch = 0;
    mq_decoder decoder{};
    int32_t context_states[2 * kMqContextWords] = {};
    const uint8_t *significance_table = nullptr;
};

using decoder_pass_function = void (*)(block_decoding_record &);

// Flag words to allocate for a nominal block, and the origin's offset in them.
inline int32_t flag_pitch(int nominal_width)
{
    return (nominal_width + 7) / 8 + 2;
}
inline int32_t flag_words(int nominal_height, int nominal_width)
{
    return ((nominal_height + 3) / 4 + 2) * flag_pitch(nominal_width);
}
inline int32_t flag_origin(int nominal_width)
{
    return flag_pitch(nominal_width) + 1;
}
// Clears the flag words of a block and flags the groups that hold positions outside it.
void clear_block_flags(block_decoding_record &r);

// The band's three pass functions (cleanup, significance, refinement): the plain set or the
// speed-up set.
void install_decoder_passes(decoder_pass_function passes[3], bool plain);

inline bool raw_passes_due(const block_decoding_record &r)
{
    return r.first_coded_plane - r.lazy_depth >= r.plane;
}

} // namespace zn::j2k
