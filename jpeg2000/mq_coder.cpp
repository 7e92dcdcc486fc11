// The MQ coder's byte transfer, segment terminations, truncation estimate and decoder.
// Code bytes are packed four to a word into the code-block's chain of heap blocks.
#include "jpeg2000/mq_coder.h"

namespace zn::j2k {

const mq_state_row mq_states[47] = {
    {0x5601, 1, 1, 1},   {0x3401, 2, 6, 0},   {0x1801, 3, 9, 0},   {0x0AC1, 4, 12, 0},  {0x0521, 5, 29, 0},
    {0x0221, 38, 33, 0}, {0x5601, 7, 6, 1},   {0x5401, 8, 14, 0},  {0x4801, 9, 14, 0},  {0x3801, 10, 14, 0},
    {0x3001, 11, 17, 0}, {0x2401, 12, 18, 0}, {0x1C01, 13, 20, 0}, {0x1601, 29, 21, 0}, {0x5601, 15, 14, 1},
    {0x5401, 16, 14, 0}, {0x5101, 17, 15, 0}, {0x4801, 18, 16, 0}, {0x3801, 19, 17, 0}, {0x3401, 20, 18, 0},
    {0x3001, 21, 19, 0}, {0x2801, 22, 19, 0}, {0x2401, 23, 20, 0}, {0x2201, 24, 21, 0}, {0x1C01, 25, 22, 0},
    {0x1801, 26, 23, 0}, {0x1601, 27, 24, 0}, {0x1401, 28, 25, 0}, {0x1201, 29, 26, 0}, {0x1101, 30, 27, 0},
    {0x0AC1, 31, 28, 0}, {0x09C1, 32, 29, 0}, {0x08A1, 33, 30, 0}, {0x0521, 34, 31, 0}, {0x0441, 35, 32, 0},
    {0x02A1, 36, 33, 0}, {0x0221, 37, 34, 0}, {0x0141, 38, 35, 0}, {0x0111, 39, 36, 0}, {0x0085, 40, 37, 0},
    {0x0049, 41, 38, 0}, {0x0025, 42, 39, 0}, {0x0015, 43, 40, 0}, {0x0009, 44, 41, 0}, {0x0005, 45, 42, 0},
    {0x0001, 45, 43, 0}, {0x5601, 46, 46, 0},
};

int32_t mq_next_after_mps[94];
int32_t mq_next_after_lps[94];
int32_t mq_combined_probability[94];

void mq_build_decoder_tables()
{
    for (int w = 0; w < 94; ++w) {
        int s = w >> 1, m = w & 1;
        mq_next_after_mps[w] = 2 * mq_states[s].nmps + m;
        mq_next_after_lps[w] = 2 * mq_states[s].nlps + (m ^ mq_states[s].switch_mps);
        mq_combined_probability[w] = mq_states[s].qe + (m ? kMqMpsOneFlag : 0);
    }
}

void mq_load_contexts(int32_t *contexts, const int32_t *initial, int num_contexts)
{
    for (int k = 0; k < num_contexts && k < kMqContextWords; ++k) {
        int32_t w = initial[k];
        if (w < 0 || w >= 94)
            w = 0;
        contexts[k] = w;
        contexts[k + kMqContextWords] = mq_states[w >> 1].qe + ((w & 1) ? kMqMpsOneFlag : 0);
    }
}

// ---------------------------------------------------------------- encoder

namespace {
// A full word goes into the block's chain; after a block's eighth word a fresh block from the heap is
// linked behind it.
void mq_push_word(mq_encoder &e)
{
    e.block->words[e.word_index++] = e.bit_buffer;
    ++e.words_written;
    if (e.word_index == 8) {
        code_byte_block *fresh = e.heap->get_block();
        e.block->next = fresh;
        e.block = fresh;
        e.word_index = 0;
    }
    e.bit_buffer = 0;
    e.free_bits = 32;
}

// The first transfer of a segment carries the byte before the segment: nothing is written.
void WriteByte(mq_encoder &e, uint32_t byte)
{
    if (!e.byte_pending) {
        e.byte_pending = 1;
        return;
    }
    e.free_bits = static_cast<int16_t>(e.free_bits - 8);
    e.bit_buffer |= (byte & 0xFF) << e.free_bits;
    if (e.free_bits == 0)
        mq_push_word(e);
}

int BytePosition(const mq_encoder &e)
{
    return 4 * e.words_written + (32 - e.free_bits) / 8;
}

void ResetRegisters(mq_encoder &e)
{
    e.A = 0x8000;
    e.C = 0;
    e.T = 0;
    e.CT = 12;
    e.byte_pending = 0;
    e.ff_deferred = 0;
    e.mq_segment_open = 0;
}

// The interval ends hi = C + A and lo = C, aligned so that their next byte sits in bits 19..26,
// with any carry moved into the pending byte.
struct Bounds
{
    uint32_t hi, lo;
    int32_t th, tl;
};

Bounds StartBounds(const mq_encoder &e)
{
    Bounds b{(e.C + e.A) << e.CT, e.C << e.CT, e.T, e.T};
    if (b.hi & (1u << 27)) {
        ++b.th;
        b.hi &= ~(1u << 27);
    }
    if (b.lo & (1u << 27)) {
        ++b.tl;
        b.lo &= ~(1u << 27);
    }
    return b;
}

constexpr uint32_t k27Bits = (1u << 27) - 1;
} // namespace

void mq_encoder_start(mq_encoder &e, int num_contexts, int32_t *contexts, code_byte_block *first,
                      int word_index, codeword_heap *heap, int predictable)
{
    ResetRegisters(e);
    e.predictable = predictable;
    e.bit_buffer = 0;
    e.free_bits = 32;
    e.num_contexts = num_contexts;
    e.contexts = contexts;
    e.words_written = 0;
    e.block = first;
    e.word_index = word_index;
    e.heap = heap;
    e.segment_start = 0;
}

void mq_encoder_open_segment(mq_encoder &e)
{
    e.free_bits = static_cast<int16_t>(e.free_bits & ~7);
    e.mq_segment_open = 1;
    e.segment_start = BytePosition(e);
}

uint32_t mq_byte_out(uint32_t C, int *CT, mq_encoder &e)
{
    if (e.ff_deferred) {
        WriteByte(e, 0xFF);
        e.ff_deferred = 0;
    }
    if (e.T == 0xFF) {
        e.ff_deferred = 1;
        e.T = static_cast<int32_t>(C >> 20);
        C &= 0xFFFFF;
        *CT = 7;
    } else if (C < (1u << 27)) {
        WriteByte(e, static_cast<uint32_t>(e.T));
        e.T = static_cast<int32_t>(C >> 19);
        C &= 0x7FFFF;
        *CT = 8;
    } else {
        ++e.T;
        if (e.T == 0xFF) {
            e.ff_deferred = 1;
            e.T = static_cast<int32_t>((C >> 20) & 0x7F);
            C &= 0xFFFFF;
            *CT = 7;
        } else {
            WriteByte(e, static_cast<uint32_t>(e.T));
            e.T = static_cast<int32_t>((C >> 19) & 0xFF);
            C &= 0x7FFFF;
            *CT = 8;
        }
    }
    return C;
}

void mq_encode_raw(mq_encoder &e, int bit)
{
    e.free_bits = static_cast<int16_t>(e.free_bits - 1);
    e.bit_buffer |= static_cast<uint32_t>(bit & 1) << e.free_bits;
    if (e.free_bits % 8 != 0)
        return;
    uint32_t byte = (e.bit_buffer >> e.free_bits) & 0xFF;
    if (e.free_bits == 0)
        mq_push_word(e);
    if (byte == 0xFF)
        e.free_bits = static_cast<int16_t>(e.free_bits - 1); // the stuffed zero
}

namespace {
int TerminateRaw(mq_encoder &e)
{
    for (int pad = 0; e.free_bits % 8 != 0; pad ^= 1) {
        e.free_bits = static_cast<int16_t>(e.free_bits - 1);
        e.bit_buffer |= static_cast<uint32_t>(pad) << e.free_bits;
    }
    if (e.free_bits == 0)
        mq_push_word(e);
    return BytePosition(e);
}

// Chooses the fewest bytes that, followed by the decoder's 1-bits, fall inside [C, C + A).
int TerminateShortest(mq_encoder &e)
{
    int n = BytePosition(e) + (e.byte_pending ? 1 : 0) - 1;
    Bounds b = StartBounds(e);
    for (;;) {
        if (e.ff_deferred) {
            e.ff_deferred = 0;
            if (b.th >= 0x80 && b.tl < 0x80)
                return n;
            WriteByte(e, 0xFF);
            ++n;
        } else if (b.th >= 0x100 && b.tl < 0x100) {
            return n;
        }
        if (b.tl >= 0xFF) {
            b.th = ((b.th - 0xFF) << 7) | static_cast<int32_t>((b.hi >> 20) & 0x7F);
            b.tl = ((b.tl - 0xFF) << 7) | static_cast<int32_t>((b.lo >> 20) & 0x7F);
            b.hi = (b.hi << 7) & k27Bits;
            b.lo = (b.lo << 7) & k27Bits;
            e.ff_deferred = 1;
        } else {
            WriteByte(e, static_cast<uint32_t>(b.tl));
            ++n;
            b.th = ((b.th - b.tl) << 8) | static_cast<int32_t>((b.hi >> 19) & 0xFF);
            b.tl = static_cast<int32_t>((b.lo >> 19) & 0xFF);
            b.hi = (b.hi << 8) & k27Bits;
            b.lo = (b.lo << 8) & k27Bits;
        }
    }
}

// Flushes C itself: predictable for the decoder's termination check, a few bytes longer.
int TerminateEasy(mq_encoder &e)
{
    int n = 12 - e.CT;
    uint32_t C = e.C << e.CT;
    while (n > 0) {
        int ct;
        C = mq_byte_out(C, &ct, e);
        n -= ct;
        C <<= ct;
    }
    int ct;
    mq_byte_out(C, &ct, e);
    e.ff_deferred = 0;
    return BytePosition(e);
}
} // namespace

int mq_encoder_terminate(mq_encoder &e, int easy)
{
    int end;
    if (!e.mq_segment_open)
        end = TerminateRaw(e);
    else if (e.predictable || easy)
        end = TerminateEasy(e);
    else
        end = TerminateShortest(e);
    ResetRegisters(e);
    return end;
}

void mq_encoder_flush(mq_encoder &e)
{
    if (e.free_bits < 32)
        mq_push_word(e);
}

int mq_truncation_length(const mq_encoder &s, const code_byte_block *first, int word_index, int lower,
                         int upper)
{
    if (!s.mq_segment_open)
        return 4 * s.words_written + (32 - (s.free_bits & ~7)) / 8;
    int i = BytePosition(s) + (s.byte_pending ? 1 : 0) - 1 + (s.ff_deferred ? 1 : 0);
    if (i > upper)
        return upper;
    Bounds b = StartBounds(s);
    int f = s.ff_deferred;
    auto code_byte = [&](int pos) -> int32_t {
        int word = word_index + pos / 4;
        const code_byte_block *blk = first;
        for (; blk && word >= 8; word -= 8)
            blk = blk->next;
        if (!blk)
            return 0xFF;
        return static_cast<int32_t>((blk->words[word] >> (24 - 8 * (pos % 4))) & 0xFF);
    };
    int stop;
    for (;;) {
        if (f && b.th >= 0x80 && b.tl < 0x80) {
            stop = i - 1;
            break;
        }
        if (!f && b.th >= 0x100 && b.tl < 0x100) {
            stop = i;
            break;
        }
        if (i >= upper) { // every byte of the segment is needed
            stop = upper;
            break;
        }
        int32_t o = i < lower ? 0 : code_byte(i);
        b.th -= o;
        b.tl -= o;
        ++i;
        if (o == 0xFF) {
            b.th = (b.th << 7) | static_cast<int32_t>((b.hi >> 20) & 0x7F);
            b.tl = (b.tl << 7) | static_cast<int32_t>((b.lo >> 20) & 0x7F);
            b.hi = (b.hi << 7) & k27Bits;
            b.lo = (b.lo << 7) & k27Bits;
            f = 1;
        } else {
            b.th = (b.th << 8) | static_cast<int32_t>((b.hi >> 19) & 0xFF);
            b.tl = (b.tl << 8) | static_cast<int32_t>((b.lo >> 19) & 0xFF);
            b.hi = (b.hi << 8) & k27Bits;
            b.lo = (b.lo << 8) & k27Bits;
            f = 0;
        }
    }
    return stop > lower ? stop : lower;
}

} // namespace zn::j2k
