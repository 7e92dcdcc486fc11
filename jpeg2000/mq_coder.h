// The MQ coder: the adaptive binary arithmetic coder of the block coder. Each context keeps a
// probability state; coding a symbol narrows an interval, and the interval's leading bits leave as
// bytes, with a stuffed zero bit after every 0xFF so that no code byte pair can look like a marker.
// Passes may also bypass the coder and write raw bits (with the same stuffing).
#pragma once

#include "jpeg2000/codeword_heap.h"

#include <cstdint>

namespace zn::j2k {

struct mq_state_row
{
    uint16_t qe;
    uint8_t nmps, nlps, switch_mps;
};
extern const mq_state_row mq_states[47];

// Decoder tables, indexed by a context word 2 x state + MPS.
extern int32_t mq_next_after_mps[94];
extern int32_t mq_next_after_lps[94];
extern int32_t mq_combined_probability[94]; // Qe, plus 0x40000 when the MPS is 1
void mq_build_decoder_tables();

inline constexpr int kMqContextWords = 20; // state words; the combined words follow
inline constexpr int32_t kMqMpsOneFlag = 0x40000;

// Copies the initial states; the second half of `contexts` gets the combined probability words.
void mq_load_contexts(int32_t *contexts, const int32_t *initial, int num_contexts);

struct mq_encoder
{
    uint32_t A;
    uint32_t C; // carry at bit 27, next byte in bits 19..26
    int32_t T;
    int16_t CT;
    int16_t byte_pending;
    int32_t mq_segment_open;
    int32_t segment_start;
    int32_t ff_deferred;
    int32_t predictable;
    uint32_t bit_buffer;
    int16_t free_bits;
    int32_t num_contexts;
    int32_t *contexts;
    int32_t words_written;
    code_byte_block *block;
    int32_t word_index;
    codeword_heap *heap;
};

void mq_encoder_start(mq_encoder &coder, int num_contexts, int32_t *contexts, code_byte_block *first,
                      int word_index, codeword_heap *heap, int predictable);
void mq_encoder_open_segment(mq_encoder &coder);
uint32_t mq_byte_out(uint32_t C, int *CT, mq_encoder &coder);
int mq_encoder_terminate(mq_encoder &coder, int easy);
void mq_encoder_flush(mq_encoder &coder);
int mq_truncation_length(const mq_encoder &saved, const code_byte_block *first, int word_index, int lower,
                         int upper);

// One symbol through the coder (the standard's ENCODE), on the record itself. The coding passes
// keep these registers in locals; this form serves the tests and any caller outside a pass.
inline void mq_encode(mq_encoder &e, int context, int symbol)
{
    int32_t &word = e.contexts[context];
    int s = word >> 1, mps = word & 1;
    uint32_t qe = mq_states[s].qe;
    e.A -= qe;
    if (symbol == mps) {
        if (e.A >= 0x8000) {
            e.C += qe;
            return;
        }
        if (e.A < qe)
            e.A = qe;
        else
            e.C += qe;
        word = 2 * mq_states[s].nmps + mps;
    } else {
        if (e.A < qe)
            e.C += qe;
        else
            e.A = qe;
        word = 2 * mq_states[s].nlps + (mps ^ mq_states[s].switch_mps);
    }
    do {
        e.A <<= 1;
        e.C <<= 1;
        if (--e.CT == 0) {
            int ct;
            e.C = mq_byte_out(e.C, &ct, e);
            e.CT = static_cast<int16_t>(ct);
        }
    } while (e.A < 0x8000);
}

// A raw (bypass) bit: most significant first; a byte after 0xFF carries seven data bits.
void mq_encode_raw(mq_encoder &e, int bit);

struct mq_decoder
{
    uint32_t C; // the standard's Chigh is bits 16..31
    uint32_t A;
    uint32_t B; // look-ahead byte, shifted by 8 (by 9 after a 0xFF)
    int32_t CT;
    int32_t lookahead_bits;
    int32_t ff_after_ff;
    int32_t mq_active;
    int32_t check;
    int32_t num_contexts;
    int32_t *contexts;
    const code_byte_block *first_block;
    // The reader's place in the code-block's chain: the block and word to fetch next, and the copy of
    // the word being read with its bytes not yet read (at the top).
    const code_byte_block *block;
    int32_t word_index; // 0..7
    uint32_t word;
    int32_t word_bytes;
    int32_t default_segment_end;
    int32_t consumed;
    int32_t segment_end;
    int32_t segment_start;
    int32_t end_of_data;
    int32_t last_byte; // the last byte taken from the segment
    // Raw bits: the byte being read and the bits of it not yet read.
    int32_t raw_byte;
    int32_t raw_bits;
    int32_t raw_after_ff;
};

void mq_decoder_start(mq_decoder &d, int num_contexts, int32_t *contexts, const code_byte_block *first,
                      int default_segment_end, int check);
void mq_set_segment_end(mq_decoder &d, int end);
void mq_decoder_begin(mq_decoder &d);
bool mq_fetch_word(mq_decoder &d);
uint32_t mq_byte_in(uint32_t C, int *CT, mq_decoder &d);
void mq_decoder_raw_mode(mq_decoder &d);
int mq_finish_segment(mq_decoder &d);
int mq_decode_raw(mq_decoder &d);

// Symbol decoding with the shortcut: runs of MPS decisions whose probabilities fit below both the
// renormalisation point and the code register are decided by one addition each; A and C catch up at
// the next full decision. Load at the start of a pass, store at its end.
class mq_decode_loop
{
public:
    explicit mq_decode_loop(mq_decoder &d) : m_d(d), m_A(d.A), m_C(d.C), m_CT(d.CT) { Allowance(); }
    ~mq_decode_loop() { store(); }
    int decode(int context);
    // Decides `count` MPS-of-0 decisions in `context` at once when the allowance still absorbs them
    // all; exactly what `count` calls of decode would return. False leaves everything unchanged.
    bool skip_zeros(int context, int count)
    {
        uint32_t p = static_cast<uint32_t>(m_d.contexts[context + kMqContextWords]) * count;
        if (m_P + p > m_Q)
            return false;
        m_P += p;
        return true;
    }
    void store()
    {
        m_C -= m_P << 16;
        m_A -= m_P;
        m_P = 0;
        m_d.A = m_A;
        m_d.C = m_C;
        m_d.CT = m_CT;
        Allowance();
    }

private:
    void Allowance()
    {
        uint32_t room = m_A - 0x8000, chigh = m_C >> 16;
        m_Q = room < chigh ? room : chigh;
    }
    mq_decoder &m_d;
    uint32_t m_A, m_C;
    int m_CT;
    uint32_t m_P = 0, m_Q = 0;
};

// The standard's DECODE, without the shortcut: the plain reference for the fast loop.
int mq_decode_reference(mq_decoder &d, int context);

} // namespace zn::j2k
