// Bit writing: the write state of one data partition, the record that carries one syntax element to
// a writer, the Exp-Golomb and table mappings that turn a value into a code length and information
// bits, and the header element writers. Bits go out most significant first.
#pragma once

#include "h264enc/cabac_enc.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace h264enc {

// The write state of one partition. Bits enter pending_byte from the right; a full byte is stored at
// StreamBuffer[byte_count]. The buffer grows as bytes are stored.
struct Bitstream
{
    int byte_count = 0;       // complete bytes in StreamBuffer
    int free_bits = 8;        // free bit positions of pending_byte (8: empty)
    uint8_t pending_byte = 0; // the byte being filled
    // Copies of the three fields above for the coding-state save and restore of the mode decision.
    int saved_byte_count = 0;
    int saved_free_bits = 8;
    uint8_t saved_pending_byte = 0;
    std::vector<uint8_t> StreamBuffer;
    int has_content = 0; // 1 once an element other than a header element was written

    Bitstream() = default;
    explicit Bitstream(int capacity)
    {
        StreamBuffer.resize(static_cast<size_t>(capacity > 0 ? capacity : 64));
    }
    int BitCount() const { return byte_count * 8 + 8 - free_bits; }
};

struct SlicePartition;
struct SyntaxItem;
struct EncoderImage;
using MapFn = void (*)(int value, int second_value, int *len, int *inf);
// A CABAC element writer: binarises the item and codes its bins, choosing contexts from the current
// macroblock's neighbourhood in img.
using CabacWriteFn = void (*)(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env);
// A partition's element writer (CAVLC or CABAC); returns the bits the element took.
using WriteElementFn = int (*)(SyntaxItem *item, EncoderImage &img, SlicePartition *part);

// Element categories: they select the data partition and decide whether has_content is set.
enum SyntaxCategory {
    SE_HEADER = 0,
    SE_PTYPE = 1,
    SE_MBTYPE = 2,
    SE_REFFRAME = 3,
    SE_INTRAPREDMODE = 4,
    SE_MVD = 5,
    SE_CBP_INTRA = 6,
    SE_LUM_DC_INTRA = 7,
    SE_CHR_DC_INTRA = 8,
    SE_LUM_AC_INTRA = 9,
    SE_CHR_AC_INTRA = 10,
    SE_CBP_INTER = 11,
    SE_LUM_DC_INTER = 12,
    SE_CHR_DC_INTER = 13,
    SE_LUM_AC_INTER = 14,
    SE_CHR_AC_INTER = 15,
    SE_DELTA_QUANT_INTER = 16,
    SE_DELTA_QUANT_INTRA = 17,
    SE_BFRAME = 18,
    SE_EOS = 19,
};

// One syntax element on its way to a writer.
struct SyntaxItem
{
    int category = SE_HEADER;
    int value = 0;
    int second_value = 0;
    int len = 0;            // code length in bits
    int inf = 0;            // information bits of the code
    uint32_t code_bits = 0; // the bits to write, right-aligned
    int context = 0;        // CABAC context selector
    int k = 0;              // CABAC auxiliary value
    MapFn map = nullptr;
    CabacWriteFn write_fn = nullptr; // the element's CABAC writer
};

// One data partition of a slice: its bitstream, its arithmetic coder (CABAC) and the writer that its
// entropy mode installs.
struct SlicePartition
{
    Bitstream bitstream;
    CabacEncEnv cabac;
    WriteElementFn write_element = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Mappings (value -> len, inf)

// Exp-Golomb codes carry at most 16 leading zeros: ue(v) codes 0..65534, se(v) -32767..32767. The
// mappings refuse other values (a run error) rather than writing a wrong code.
constexpr int kMaxUe = 65534;
constexpr int kMaxSe = 32767;

void map_ue(int value, int second_value, int *len, int *inf);
void map_se(int value, int second_value, int *len, int *inf);
// Coded block pattern 0..47 through the code-number columns of the standard's table (intra 4x4 or inter).
void map_cbp_intra(int value, int second_value, int *len, int *inf);
void map_cbp_inter(int value, int second_value, int *len, int *inf);
// The older run-level codes, kept for the bit estimates of SP pictures: value level, second_value run.
void map_levrun_2x2(int value, int second_value, int *len, int *inf);
void map_levrun_4x4(int value, int second_value, int *len, int *inf);

// ---------------------------------------------------------------------------------------------
// Bit output

// Exp-Golomb bit pattern of (len, inf): len/2 zeros, a 1, the len/2 low bits of inf.
inline uint32_t ExpGolombBits(int len, int inf)
{
    const int s = len / 2;
    return (1u << s) | (static_cast<uint32_t>(inf) & ((1u << s) - 1));
}

// Makes room for `bytes` more bytes in the stream buffer.
void GrowStreamBuffer(Bitstream &bs, int bytes);

// Writes the len low bits of code_bits; len <= 0 writes nothing. len is at most 32. Inline: the
// entropy coders call it for every code word.
inline void write_bits(Bitstream &bs, uint32_t code_bits, int len)
{
    if (len <= 0)
        return;
    if (len > 24) {
        // Two steps keep the pending bits and the code within one 32-bit accumulator.
        write_bits(bs, code_bits >> 16, len - 16);
        write_bits(bs, code_bits & 0xFFFFu, 16);
        return;
    }
    // The pending bits and the code side by side in one word; whole bytes leave from the top.
    int total = 8 - bs.free_bits + len;
    const uint32_t acc = (static_cast<uint32_t>(bs.pending_byte) << len) | (code_bits & ((1u << len) - 1));
    if (bs.byte_count + 4 > static_cast<int>(bs.StreamBuffer.size()))
        GrowStreamBuffer(bs, 4);
    uint8_t *out = bs.StreamBuffer.data();
    while (total >= 8) {
        total -= 8;
        out[bs.byte_count++] = static_cast<uint8_t>(acc >> total);
    }
    bs.pending_byte = static_cast<uint8_t>(acc & ((1u << total) - 1));
    bs.free_bits = 8 - total;
}
// The same one bit at a time: the plain reference of write_bits.
void write_bits_reference(Bitstream &bs, uint32_t code_bits, int len);
inline void write_bits_to_buffer(const SyntaxItem &item, Bitstream &bs)
{
    write_bits(bs, item.code_bits, item.len);
}

// Pads with zero bits to the next byte boundary and returns the number of bits added (0 when
// aligned); the caller counts them as stuffing of the current picture type.
int byte_align_bitstream(Bitstream &bs);
// Stop bit and zero alignment: stores (pending_byte x 2 + 1) << (free_bits - 1). 0x80 when aligned.
void write_rbsp_trailing_bits(Bitstream &bs);

// ---------------------------------------------------------------------------------------------
// Element writers (return the code length and set has_content unless the category is SE_HEADER)

int write_element_uvlc(SyntaxItem *item, SlicePartition *part);
// The same as a partition's element writer (CAVLC slices).
int write_element_uvlc_slice(SyntaxItem *item, EncoderImage &img, SlicePartition *part);
int write_element_fixed(SyntaxItem *item, SlicePartition *part);
// value -1 (the predicted mode) writes the bit 1; otherwise 0 and the 3-bit remaining mode.
int write_intra_pred_mode(SyntaxItem *item, SlicePartition *part);

// Header elements; the name only labels the element.
int write_ue_v(const char *name, int value, SlicePartition *part);
int write_se_v(const char *name, int value, SlicePartition *part);
int write_u_1(const char *name, int value, SlicePartition *part);
int write_u_v(int n, const char *name, int value, SlicePartition *part);

// The length of v's unsigned Exp-Golomb code word.
inline int UeLength(int v)
{
    int len = 1;
    for (int x = v + 1; x > 1; x >>= 1)
        len += 2;
    return len;
}

} // namespace h264enc
