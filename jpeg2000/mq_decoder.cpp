// The MQ decoder: byte input with one byte of look-ahead, raw bits, segment ends and the checks that
// tell whether a segment ended where its encoder said it would (error resilience).
// Past a segment's end the decoder reads only 1-bits, as the standard's decoder does at a marker.
#include "jpeg2000/mq_coder.h"

namespace zn::j2k {

// The next word of the code-block's chain into the decoder's copy, whose bytes are then read most
// significant first; false at the end of the chain.
bool mq_fetch_word(mq_decoder &d)
{
    if (!d.block)
        return false;
    d.word = d.block->words[d.word_index];
    d.word_bytes = 4;
    if (++d.word_index == 8) {
        d.block = d.block->next;
        d.word_index = 0;
    }
    return true;
}

namespace {
bool BytesLeftInChain(const mq_decoder &d)
{
    return d.word_bytes > 0 || d.block;
}

// The next byte of the current segment, or 0xFF (and end of data) once it is used up. Never reads
// beyond the segment or the chain.
uint32_t NextByte(mq_decoder &d)
{
    if (d.consumed >= d.segment_end || (d.word_bytes == 0 && !mq_fetch_word(d))) {
        d.end_of_data = 1;
        return 0xFF;
    }
    const uint32_t byte = d.word >> 24;
    d.word <<= 8;
    --d.word_bytes;
    ++d.consumed;
    d.last_byte = static_cast<int32_t>(byte);
    return byte;
}

void ResetRegisters(mq_decoder &d)
{
    d.C = 0;
    d.A = 0x8000;
    d.B = 0;
    d.CT = 0;
    d.lookahead_bits = 8;
    d.ff_after_ff = 0;
    d.mq_active = 0;
}

int CeilLog2(int length)
{
    int c = 0;
    while (c < 31 && (1 << c) < length)
        ++c;
    return c;
}

void RenormaliseRef(mq_decoder &d)
{
    do {
        --d.CT;
        d.C <<= 1;
        if (d.CT == 0) {
            int ct;
            d.C = mq_byte_in(d.C, &ct, d);
            d.CT = ct;
        }
        d.A <<= 1;
    } while (d.A < 0x8000);
}
} // namespace

void mq_decoder_start(mq_decoder &d, int num_contexts, int32_t *contexts, const code_byte_block *first,
                      int default_segment_end, int check)
{
    ResetRegisters(d);
    d.check = check;
    d.num_contexts = num_contexts;
    d.contexts = contexts;
    d.first_block = first;
    d.block = first;
    d.word_index = 0;
    d.word = 0;
    d.word_bytes = 0;
    d.default_segment_end = default_segment_end;
    d.consumed = 0;
    d.segment_start = 0;
    d.segment_end = default_segment_end;
    d.end_of_data = 0;
    d.last_byte = 0;
    d.raw_byte = 0;
    d.raw_bits = 0;
    d.raw_after_ff = 0;
}

void mq_set_segment_end(mq_decoder &d, int end)
{
    d.segment_start = d.consumed;
    d.segment_end = end;
    d.end_of_data = 0;
}

uint32_t mq_byte_in(uint32_t C, int *CT, mq_decoder &d)
{
    uint32_t result;
    if (d.B == 0xFF00) {
        result = C + 0xFF00;
        uint32_t x = NextByte(d);
        *CT = d.lookahead_bits;
        if (x == 0xFF) {
            x = 0x7F;
            ++d.ff_after_ff;
        }
        d.B = x << 9;
        d.lookahead_bits = 7;
    } else {
        result = C + d.B;
        uint32_t x = NextByte(d);
        *CT = d.lookahead_bits;
        d.B = x << 8;
        d.lookahead_bits = 8;
    }
    return result;
}

void mq_decoder_begin(mq_decoder &d)
{
    d.mq_active = 1;
    d.raw_bits = 0;
    d.raw_after_ff = 0;
    d.C = 0;
    d.B = 0;
    d.lookahead_bits = 8;
    d.ff_after_ff = 0;
    int b, ct;
    d.C = mq_byte_in(d.C, &b, d);
    d.C = mq_byte_in(d.C, &ct, d) << b;
    d.C = mq_byte_in(d.C, &ct, d) << (15 - b);
    d.CT = ct - (15 - b);
    if (d.CT == 0) {
        d.C = mq_byte_in(d.C, &ct, d);
        d.CT = ct;
    }
    d.A = 0x8000;
}

void mq_decoder_raw_mode(mq_decoder &d)
{
    d.mq_active = 0;
}

int mq_decode_raw(mq_decoder &d)
{
    if (d.raw_bits == 0) {
        bool stuffed = d.raw_after_ff;
        d.raw_byte = static_cast<int32_t>(NextByte(d));
        d.raw_bits = stuffed ? 7 : 8; // after 0xFF the top bit is the stuffed zero
        d.raw_after_ff = d.raw_byte == 0xFF && !d.end_of_data;
    }
    --d.raw_bits;
    return (d.raw_byte >> d.raw_bits) & 1;
}

int mq_finish_segment(mq_decoder &d)
{
    int length = d.segment_end - d.segment_start;
    int confidence = 0;
    bool failed = false;
    if (!d.mq_active) {
        if (d.check) {
            int padding = d.raw_bits;
            for (int i = 0; i < padding; ++i)
                if (((d.raw_byte >> (padding - 1 - i)) & 1) != (i & 1))
                    failed = true;
            int unread = d.segment_end - d.consumed;
            bool ends_after_ff = d.raw_bits == 0 && d.raw_after_ff;
            if (!(unread == 0 || (unread == 1 && ends_after_ff)))
                failed = true;
            confidence = padding + CeilLog2(length) / 2;
        }
        d.raw_bits = 0;
        d.raw_after_ff = 0;
    }
    while (d.consumed < d.segment_end && BytesLeftInChain(d))
        NextByte(d);
    d.consumed = d.segment_end > d.consumed ? d.segment_end : d.consumed;
    if (d.mq_active) {
        if (d.check) {
            uint32_t v = static_cast<uint32_t>(d.last_byte);
            int k = d.ff_after_ff, b = d.lookahead_bits, n = 0;
            uint32_t u = v;
            if (k == 1) {
                failed = !(d.CT != 8 && b == 8);
                n = d.CT;
            } else if (k == 2) {
                if (d.CT == 8) {
                    failed = b != 7;
                } else if (b == 7) {
                    n = d.CT;
                    u = 0xFF;
                } else {
                    failed = d.CT != 7;
                    u = 0xFF;
                }
            } else {
                failed = true;
            }
            if (!failed && n >= 0 && n < 32 && (d.C >> (31 - n)) != 0)
                failed = true;
            if (!failed) {
                uint32_t top = (1u << n) + u - 1;
                int e = static_cast<int>((top < 255 ? top : 255) - u);
                int f = 8;
                if (e < 255)
                    for (f = 7; f > 0 && (1 << f) - 1 > e; --f) {
                    }
                confidence = f + CeilLog2(length) / 2;
            }
        }
        ResetRegisters(d);
    }
    d.segment_start = d.consumed;
    d.segment_end = d.default_segment_end;
    d.end_of_data = 0;
    return failed ? -1000 : confidence;
}

int mq_decode_reference(mq_decoder &d, int context)
{
    int32_t &word = d.contexts[context];
    int32_t &combined = d.contexts[context + kMqContextWords];
    uint32_t qe = mq_states[word >> 1].qe;
    int mps = word & 1, symbol;
    d.A -= qe;
    if ((d.C >> 16) < qe) {
        if (d.A < qe) {
            symbol = mps;
            word = mq_next_after_mps[word];
        } else {
            symbol = 1 - mps;
            word = mq_next_after_lps[word];
        }
        d.A = qe;
        combined = mq_combined_probability[word];
        RenormaliseRef(d);
        return symbol;
    }
    d.C -= qe << 16;
    if (d.A >= 0x8000)
        return mps;
    if (d.A < qe) {
        symbol = 1 - mps;
        word = mq_next_after_lps[word];
    } else {
        symbol = mps;
        word = mq_next_after_mps[word];
    }
    combined = mq_combined_probability[word];
    RenormaliseRef(d);
    return symbol;
}

int mq_decode_loop::decode(int context)
{
    int32_t &word = m_d.contexts[context];
    int32_t &combined = m_d.contexts[context + kMqContextWords];
    uint32_t p = static_cast<uint32_t>(combined);
    if (m_P + p <= m_Q) { // an MPS of 0 whose probability still fits: no register work
        m_P += p;
        return 0;
    }
    uint32_t qe = p & 0xFFFF;
    m_C -= m_P << 16;
    m_A -= m_P + qe;
    m_P = 0;
    int mps = word & 1, symbol;
    if ((m_C >> 16) < qe) {
        if (m_A < qe) {
            symbol = mps;
            word = mq_next_after_mps[word];
        } else {
            symbol = 1 - mps;
            word = mq_next_after_lps[word];
        }
        m_A = qe;
    } else {
        m_C -= qe << 16;
        if (m_A >= 0x8000) {
            Allowance();
            return mps;
        }
        if (m_A < qe) {
            symbol = 1 - mps;
            word = mq_next_after_lps[word];
        } else {
            symbol = mps;
            word = mq_next_after_mps[word];
        }
    }
    combined = mq_combined_probability[word];
    do {
        --m_CT;
        m_C <<= 1;
        if (m_CT == 0) {
            int ct;
            m_C = mq_byte_in(m_C, &ct, m_d);
            m_CT = ct;
        }
        m_A <<= 1;
    } while (m_A < 0x8000);
    Allowance();
    return symbol;
}

} // namespace zn::j2k
