// Decodes one code-block from the passes its packets brought: finds where each codeword segment
// ends, runs the passes over the MQ decoder, checks segment terminations and segmentation symbols
// when error resilience is asked for (dropping passes that fail), undoes the region scaling and
// delivers the block's samples in raster order.
#pragma once

#include "jpeg2000/block_decoder_passes.h"
#include "jpeg2000/block_encode_driver.h"
#include "jpeg2000/codeword_heap.h"

#include <cstdint>
#include <vector>

namespace zn::j2k {

// A pass as the packets described it.
struct dec_pass_record
{
    int32_t layer;        // layer that brought the pass
    int32_t contribution; // on the first pass of a layer's contribution: its bytes; else 0
    int32_t terminated;
    int32_t segment_end; // terminated passes: end of the segment within the contribution
};

// A code-block on the decoder's side: its received code and what the packets said of it.
struct dec_block
{
    int32_t y = 0, x = 0, height = 0, width = 0;
    code_byte_block *chain = nullptr; // code bytes in stream order
    code_byte_block *chain_last = nullptr;
    int32_t last_fill = 0;    // bytes used in the chain's last heap block
    int32_t total_bytes = 0;  // received, usable or not
    int32_t usable_bytes = 0; // bytes of the passes to decode
    int32_t capacity = 0;
    int32_t to_decode = 0; // passes whose bytes all arrived, missing-plane passes included
    int32_t included = 0;
    int32_t new_passes = 0;
    int32_t zero_planes = 0;
    int32_t lblock = 3;
    int32_t last_packet = 0;
    bool ends_computed = false;
    dec_pass_record *records = nullptr;
};

// The block decoder's work area of one tile-component, sized for the nominal block.
class block_decoder_work
{
public:
    block_decoder_work(int nominal_height, int nominal_width, const coder_modes &modes, bool plain,
                       int confidence_bits);

    int nominal_height() const { return m_nominal_height; }
    int nominal_width() const { return m_nominal_width; }
    bool plain() const { return m_plain; }

    coder_modes modes;
    int confidence_bits = 0; // effective: 0 unless the stream carries checkable terminations
    std::vector<int32_t> samples;
    std::vector<uint16_t> contexts;
    std::vector<int32_t> flags;
    int32_t confidence[kMaxPasses + 3] = {};
    block_decoding_record record;

private:
    int m_nominal_height, m_nominal_width;
    bool m_plain;
};

// Each pass's segment end, absolute within the block's code and never beyond what arrived.
void compute_segment_ends(dec_block &block);

// The block decoding driver: decodes `block.to_decode` passes down to plane `K` (after the region
// shift). On a failed check the pass count is cut and false is returned.
bool decode_block_passes(block_decoder_work &work, const decoder_pass_function passes[3], int orientation,
                         dec_block &block, int K);

// What the region decoder says of a block: the shift and, without max-shift, a level per sample.
struct block_roi_mask
{
    int shift = 0; // the block's highest boost
    int base = 0;  // the boost every sample shares; mask levels lie above it
    bool max_shift = true;
    uint8_t *const *rows = nullptr; // one pointer per block row
};

// Decodes a block completely into `out` (row pitch `out_pitch`), with error-resilience dropping,
// region scaling and the final-plane rule, then gives its code bytes back to the heap. `repeats`
// decodes that many times (timing), with identical results.
void decode_code_block(block_decoder_work &work, const decoder_pass_function passes[3], int orientation,
                       int K, dec_block &block, const block_roi_mask *roi, int32_t *out, int out_pitch,
                       codeword_heap &heap, int repeats = 1);

// Appends code bytes (stream order) to the block's chain, taking heap blocks as it fills.
void append_code_bytes(codeword_heap &heap, dec_block &block, const uint8_t *bytes, int n);
// The free room at the end of the block's chain (a fresh heap block when the last one is full);
// commit_code_bytes counts the bytes then placed there.
uint8_t *code_bytes_room(codeword_heap &heap, dec_block &block, int *room);
inline void commit_code_bytes(dec_block &block, int n)
{
    block.last_fill += n;
    block.total_bytes += n;
}

// Puts the block's code words into the MQ decoder's value order (first byte most significant).
void swap_to_value_order(dec_block &block);

} // namespace zn::j2k
