// Coding states: snapshots of the writers of a slice (each partition's write position and arithmetic
// coder, the CABAC context sets) and of the parts of the current macroblock record that writing changes.
// Rate-distortion decisions write a candidate for real to count its bits and then put the writers back;
// bytes written after the snapshot are simply overwritten later. With RDOptimization 0 nothing is saved.
#pragma once

#include "h264enc/cabac_contexts.h"

#include <array>
#include <memory>
#include <vector>

namespace h264enc {

struct EncoderParams;
struct EncoderImage;

// A partition's write position (the bytes themselves are not part of a state).
struct BitstreamPosition
{
    int byte_count = 0;
    int free_bits = 8;
    uint8_t pending_byte = 0;
    int has_content = 0;
};

// The writers of a slice before a macroblock, so that the slice coder can take the macroblock back
// when it made the slice too big; the pending skip run goes with them.
struct RecodePoint
{
    std::vector<BitstreamPosition> positions;
    std::vector<CabacEncEnv> coders;
    int skip_run = 0;
};

struct CodingState
{
    int partition_count = 1;
    std::vector<CabacEncEnv> encenv; // CABAC only
    std::vector<BitstreamPosition> bitstream;
    int symbol_mode = 0;
    std::unique_ptr<MotionContextSet> motion; // CABAC only
    std::unique_ptr<TextureContextSet> texture;
    int element_count = 0;
    std::array<int, 8> bit_counts{};
    int mv_diff[2][4][4][2] = {};
    int cbf_bits = 0;
};

// A state for the run's settings: three partitions with data partitioning, coders and context sets
// only with CABAC. Failed allocations end the run ("init_coding_state: cs", ...).
std::unique_ptr<CodingState> init_coding_state(const EncoderParams &input);
// Releases the state; null is ignored.
void free_coding_state(std::unique_ptr<CodingState> &cs);
// Copy the current slice's writers and macroblock record into the state, or back. Nothing happens
// with RDOptimization 0.
void save_coding_state(CodingState *cs, const EncoderParams &input, const EncoderImage &img);
void restore_coding_state(const CodingState *cs, const EncoderParams &input, EncoderImage &img);

} // namespace h264enc
