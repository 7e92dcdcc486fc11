// Supplemental-information state of a run. The encoder writes no SEI message, but it keeps the payload
// buffers and the sub-sequence and scene counters a run would send, and advances them per picture.
// Nothing of it reaches the stream.
#pragma once

#include "h264enc/bit_writer.h"

#include <array>
#include <vector>

namespace h264enc {

constexpr int kSeiBufferSize = 65496;

struct SeiMessageSlot
{
    int payload_type = 5;
    int payload_size = 0;
    std::vector<uint8_t> payload;
};

struct SeiSubSequenceLayer
{
    int frame_counter = 0; // modulo 256
    int last_picture = 0;
};

struct SeiState
{
    std::array<SeiMessageSlot, 2> slots;
    std::array<Bitstream, 7> writers;          // payload writers of the spare, sub-sequence, scene messages
    std::array<std::vector<uint8_t>, 2> data;  // second data buffers of two of them
    std::array<SeiSubSequenceLayer, 2> layers; // 0 base, 1 enhancement
    std::vector<int> layer_characteristics;    // only with enhancement sub-sequences
    int scene_info_present = 0, scene_id = 0, scene_transition_type = 0, second_scene_id = -1;
    int buffers = 0; // buffers of kSeiBufferSize held
};

struct SeiRunValues
{
    int FramesToBeEncoded = 0;
    int NumberFramesInEnhancementLayerSubSequence = 0;
    int NumberBFrames = 0;
};

void sei_init(SeiState &sei, int enhancement_sub_sequence_frames);
void sei_free(SeiState &sei);
// Per picture: the layer's counter (not for B pictures, type 2) and its last-picture flag. gop_start is
// the picture number at which the current intra group began.
void sei_update_picture(SeiState &sei, int layer, int picture_type, int picture_number, int gop_start,
                        const SeiRunValues &v);
void sei_set_picture_values(SeiState &sei, int present, int scene_id, int transition_type, int second_id);

} // namespace h264enc
