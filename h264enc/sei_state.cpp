// SEI bookkeeping.
#include "h264enc/sei_state.h"

#include "h264enc/enc_memory.h"

#include <new>

namespace h264enc {

void sei_init(SeiState &sei, int enhancement_sub_sequence_frames)
{
    sei = SeiState();
    try {
        for (auto &s : sei.slots)
            s.payload.assign(kSeiBufferSize, 0);
        for (auto &w : sei.writers)
            w.StreamBuffer.assign(kSeiBufferSize, 0);
        for (auto &d : sei.data)
            d.assign(kSeiBufferSize, 0);
        if (enhancement_sub_sequence_frames != 0)
            sei.layer_characteristics.assign(2 * 3, 0);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("init_sei");
    }
    sei.buffers = 11;
    sei.scene_info_present = 1;
    sei.second_scene_id = -1;
}

void sei_free(SeiState &sei)
{
    sei = SeiState();
}

void sei_update_picture(SeiState &sei, int layer, int picture_type, int picture_number, int gop_start,
                        const SeiRunValues &v)
{
    if (layer < 0 || layer > 1 || picture_type == 2)
        return;
    SeiSubSequenceLayer &l = sei.layers[static_cast<size_t>(layer)];
    l.frame_counter = (l.frame_counter + 1) % 256;
    if (layer == 0) {
        l.last_picture = picture_number == v.FramesToBeEncoded - 1 ? 1 : 0;
        return;
    }
    const int n = picture_number - gop_start;
    const int d = n % (v.NumberFramesInEnhancementLayerSubSequence + 1);
    l.last_picture = (d == 0 && v.NumberBFrames != 0 && n > 0) ||
                             (d == v.NumberFramesInEnhancementLayerSubSequence && v.NumberBFrames == 0)
                         ? 1
                         : 0;
}

void sei_set_picture_values(SeiState &sei, int present, int scene_id, int transition_type, int second_id)
{
    sei.scene_info_present = present;
    sei.scene_id = scene_id;
    sei.scene_transition_type = transition_type;
    if (transition_type > 3)
        sei.second_scene_id = second_id;
}

} // namespace h264enc
