// Tier-2 encoding: one packet of one precinct for one quality layer. For a slope threshold it
// decides which further passes of each block join the layer, codes the head (inclusion, empty
// bit-planes, pass counts, segment lengths) and hands head and body to the code-stream writer. The
// same routine only measures when simulating, so rate control can try thresholds and writing later
// repeats exactly what the last accepted trial did.
#pragma once

#include "jpeg2000/ebcot_encoder_records.h"

namespace zn::j2k {

class stream_out;

// Codes P's packet for `layer` at threshold T. Returns its length in bytes (SOP and EPH included).
int code_packet(enc_precinct &P, int threshold, stream_out &out, bool simulate, int layer, packet_bits &bits);

// The threshold for a band of progressive visual weight w (a weight above 1 admits lower slopes).
int band_threshold(int threshold, double weight);

// The number-of-passes code: m = 1..164.
void put_pass_count(packet_bits &bits, int m);

// Copies every precinct-band's trees and every block's tier-2 state aside, and back (trials).
void save_tier2_state(enc_precinct &P);
void restore_tier2_state(enc_precinct &P);

} // namespace zn::j2k
