// Coding state save and restore.
#include "h264enc/coding_state.h"

#include "h264enc/enc_memory.h"
#include "h264enc/enc_params.h"
#include "h264enc/enc_state.h"

#include <algorithm>
#include <new>

namespace h264enc {

std::unique_ptr<CodingState> init_coding_state(const EncoderParams &input)
{
    std::unique_ptr<CodingState> cs;
    try {
        cs = std::make_unique<CodingState>();
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("init_coding_state: cs");
    }
    cs->partition_count = input.PartitionMode != 0 ? 3 : 1;
    cs->symbol_mode = input.SymbolMode;
    const size_t n = static_cast<size_t>(cs->partition_count);
    if (cs->symbol_mode != 0) {
        try {
            cs->encenv.resize(n);
        } catch (const std::bad_alloc &) {
            out_of_memory_exit("init_coding_state: cs->encenv");
        }
        cs->motion = create_contexts_MotionInfo();
        cs->texture = create_contexts_TextureInfo();
    }
    try {
        cs->bitstream.resize(n);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("init_coding_state: cs->bitstream");
    }
    return cs;
}

void free_coding_state(std::unique_ptr<CodingState> &cs)
{
    cs.reset();
}

void save_coding_state(CodingState *cs, const EncoderParams &input, const EncoderImage &img)
{
    if (input.RDOptimization == 0 || !cs || !img.current_slice)
        return;
    const Slice &slice = *img.current_slice;
    const size_t n = std::min(static_cast<size_t>(cs->partition_count), slice.partArr.size());
    for (size_t i = 0; i < n; ++i) {
        const Bitstream &bs = slice.partArr[i].bitstream;
        cs->bitstream[i] = {bs.byte_count, bs.free_bits, bs.pending_byte, bs.has_content};
        if (cs->symbol_mode != 0)
            cs->encenv[i] = slice.partArr[i].cabac;
    }
    if (cs->symbol_mode != 0 && slice.motion && slice.texture) {
        *cs->motion = *slice.motion;
        *cs->texture = *slice.texture;
    }
    const MacroblockRecord &mb = img.mb_data[static_cast<size_t>(img.mb_index)];
    cs->element_count = mb.element_count;
    cs->bit_counts = mb.bit_counts;
    std::copy(&mb.mv_diff[0][0][0][0], &mb.mv_diff[0][0][0][0] + 64, &cs->mv_diff[0][0][0][0]);
    cs->cbf_bits = mb.cbf_bits;
}

void restore_coding_state(const CodingState *cs, const EncoderParams &input, EncoderImage &img)
{
    if (input.RDOptimization == 0 || !cs || !img.current_slice)
        return;
    Slice &slice = *img.current_slice;
    const size_t n = std::min(static_cast<size_t>(cs->partition_count), slice.partArr.size());
    for (size_t i = 0; i < n; ++i) {
        Bitstream &bs = slice.partArr[i].bitstream;
        const BitstreamPosition &p = cs->bitstream[i];
        bs.byte_count = p.byte_count;
        bs.free_bits = p.free_bits;
        bs.pending_byte = p.pending_byte;
        bs.has_content = p.has_content;
        if (cs->symbol_mode != 0)
            slice.partArr[i].cabac = cs->encenv[i];
    }
    if (cs->symbol_mode != 0 && slice.motion && slice.texture) {
        *slice.motion = *cs->motion;
        *slice.texture = *cs->texture;
    }
    MacroblockRecord &mb = img.mb_data[static_cast<size_t>(img.mb_index)];
    mb.element_count = cs->element_count;
    mb.bit_counts = cs->bit_counts;
    std::copy(&cs->mv_diff[0][0][0][0], &cs->mv_diff[0][0][0][0] + 64, &mb.mv_diff[0][0][0][0]);
    mb.cbf_bits = cs->cbf_bits;
}

} // namespace h264enc
