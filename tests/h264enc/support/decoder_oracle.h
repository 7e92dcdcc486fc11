// The decoder as the encoder's oracle: the bits an encoder bitstream holds, handed to the decoder's
// bit reader, and the decoder's reading of a CAVLC residual block (coeff_token table from nC, trailing
// ones, levels with their suffix length, total_zeros, run_before) made from its element readers.
#pragma once

#include "h264dec/decoder_records.h"
#include "h264enc/bit_writer.h"

#include <memory>
#include <string>
#include <vector>

namespace enctest {

// The encoder's bytes, its pending bits padded with zeros, then `tail` bytes of 0xFF so that a reader
// can never run out in the middle of a code.
std::vector<uint8_t> BytesOf(const h264enc::Bitstream &bs, int tail = 0);

// A decoder partition over bytes (byte_length = their count).
std::unique_ptr<DataPartition> DecoderPartition(const std::vector<uint8_t> &bytes);

// The bits of a bitstream as a string of '0' and '1'.
std::string BitString(const h264enc::Bitstream &bs);

// One block as the decoder reads it: levels and runs in scan order (pairs) and the count.
struct ReadBlock
{
    std::vector<int> levels;
    std::vector<int> runs;
    int total_coeff = 0;
};
// block_type 0, 1, 2, 6 or 7; nC chooses the coeff_token table (ignored for 6).
ReadBlock ReadCavlcBlock(DataPartition &dp, int block_type, int nC);

} // namespace enctest
