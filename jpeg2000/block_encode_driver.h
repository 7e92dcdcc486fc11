// Codes one code-block completely: region-of-interest scaling, every bit-plane pass over the MQ
// coder, the drop in weighted squared error after each pass, the length at which each pass can be
// cut, and the slopes rate control chooses from. The code bytes go into the band's chain of heap
// blocks, block after block, and end up in stream order there.
#pragma once

#include "jpeg2000/block_encoder_passes.h"
#include "jpeg2000/codeword_heap.h"
#include "jpeg2000/rate_slopes.h"

#include <cstdint>
#include <vector>

namespace zn::j2k {

inline constexpr int kMaxPasses = 91;

// The entropy coder mode flags of a component, as signalled.
struct coder_modes
{
    bool lazy = false;
    bool reset = false;         // probability models reset before every pass
    bool terminate_all = false; // every pass ends a codeword segment
    bool causal = false;        // vertically causal contexts
    bool predictable = false;   // predictable (easy) terminations
    bool segmark = false;       // segmentation symbols after each cleanup pass

    int flags() const;
    static coder_modes from_flags(int flags);
};

// The block coder's work area of one component, sized for the nominal block.
class block_coder_work
{
public:
    block_coder_work(int nominal_height, int nominal_width, const coder_modes &modes);

    int nominal_height() const { return m_nominal_height; }
    int nominal_width() const { return m_nominal_width; }

    coder_modes modes;
    bool no_truncation = false;
    bool masking = false;
    float masking_exponent = 0.0f;
    float masking_constant = 1.0f; // the largest over the component's bands
    double ticks = -1.0;           // block coding seconds; negative: not timed

    // The work area proper; public for the passes' record.
    std::vector<int32_t> samples;
    std::vector<uint16_t> contexts;
    std::vector<block_cell> cells;
    std::vector<int32_t> activity;
    int32_t context_states[2 * kMqContextWords] = {};
    mq_encoder saved[kMaxPasses] = {};
    double distortion[kMaxPasses] = {};
    block_coding_record record;

private:
    int m_nominal_height, m_nominal_width;
};

// What the driver needs of a band, and where the band's code bytes continue.
struct band_code_state
{
    int orientation = 0;
    int K = 0; // fractional bits of the band's samples
    float weight = 1.0f;
    bool reversible = false;
    float masking_scale = 1.0f;
    float masking_constant = 10000.0f;
    bool activity_masking = false; // band 0: masking measures local activity, not values
    int pass_capacity = 0;
    code_byte_block *first_chunk = nullptr;
    code_byte_block *current_chunk = nullptr;
    int32_t fill = 0; // word index in the current chunk
    encoder_pass_function passes[3] = {};
};

// A block's region-of-interest treatment, as the region encoder hands it out.
struct block_roi
{
    int shift = 0;                  // s: planes the block's highest boost lifts it above the background
    int base = 0;                   // the boost every sample shares; mask levels lie above it
    uint8_t *const *rows = nullptr; // a level per sample, one pointer per block row; null: all 0
    bool mask_mode = false;
};

// A coded block: where its code bytes lie and its pass records.
struct block_code
{
    code_byte_block *start_block = nullptr;
    int32_t start_word = 0;
    code_byte_block *end_block = nullptr;
    int32_t end_word = 0;
    int32_t passes = 0; // N
    int32_t zero_planes = 0;
    pass_record *records = nullptr; // pass capacity entries
};

// Pass capacity of a band of K fractional bits under a region boost B.
inline int pass_capacity_for(int K, int boost)
{
    int planes = 31 - K + boost;
    int n = 3 * (planes < 30 ? planes : 30) - 2;
    return n > 0 ? n : 0;
}

// Codes one block of `height` x `width` sign-magnitude samples (rows `row_pitch` apart). Adds the
// block's bytes per slope to `histogram`.
void encode_code_block(block_coder_work &work, band_code_state &band, block_code &block,
                       const int32_t *samples, int row_pitch, int height, int width, const block_roi *roi,
                       codeword_heap &heap, int32_t *histogram);

// Which passes end a codeword segment, from the first non-zero plane's cleanup pass `first` on.
void set_encoder_terminations(pass_record *records, int first, int n, const coder_modes &modes);

// The byte at `offset` of a block's code once the block is finished (stream order in memory).
inline const uint8_t *block_code_bytes(const code_byte_block *start, int start_word, int offset,
                                       const code_byte_block **holder, int *available)
{
    int at = 4 * start_word + offset;
    while (at >= 32 && start) {
        start = start->next;
        at -= 32;
    }
    if (holder)
        *holder = start;
    if (available)
        *available = 32 - at;
    return start ? reinterpret_cast<const uint8_t *>(start->words) + at : nullptr;
}

} // namespace zn::j2k
