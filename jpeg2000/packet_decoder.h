// Tier-2 decoding: reads one packet of a precinct, head and body. The head says, per code-block,
// whether it contributes, how many leading bit-planes are empty, how many passes it adds and how
// many bytes each codeword segment holds; the body bytes join the block's chain. Running out of
// data is normal (a cut code-stream): the precinct is marked and its blocks keep the passes whose
// bytes arrived completely. Also here: cutting decoded layers down to a byte limit.
#pragma once

#include "jpeg2000/block_encode_driver.h"
#include "jpeg2000/ebcot_decoder_records.h"

namespace zn::j2k {

// Marks which passes end a codeword segment: with `all` every pass; else, after `planes` fully
// arithmetic-coded planes (lazy mode: 3), every refinement and cleanup pass.
void set_pass_terminations(dec_pass_record *records, int zero_planes, int capacity, bool all, int planes);

// The per-block part of a packet head. False when the head ran out or was inconsistent.
bool read_packet_head(dec_precinct &P, const coder_modes &modes, int layer, packet_bit_reader &bits);

// Reads P's packet for `layer`. `modes` are those of P's component.
void read_packet(dec_precinct &P, const coder_modes &modes, int layer, packet_byte_source &source,
                 codeword_heap &heap);

// Gives back the code bytes of the highest layers of `tile` until `bytes_used` fits `limit`.
void drop_layers(dec_tile &tile, int32_t &bytes_used, int32_t limit, codeword_heap &heap);
void drop_precinct_layer(dec_precinct &P, int layer, int32_t &bytes_used, int32_t limit, codeword_heap &heap);

} // namespace zn::j2k
