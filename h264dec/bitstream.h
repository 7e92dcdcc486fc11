// Bit reading: the read state of one partition's payload, the record that carries one syntax element
// through a reader, the bit-level readers, the Exp-Golomb code words and their mappings (ue, se, coded
// block pattern, the older run-level pairs), the header element readers and the end-of-data test.
#pragma once

#include <cstdint>
#include <vector>

struct NALU;
struct H264DecoderState;
struct CabacDecoder;

// The two bit counters every reader feeds: syntax_bits counts the bits of the header being read
// (reset by each parameter-set, SEI and slice-header reader), mb_bits_count the bits of the
// macroblock being read (header bits count into the macroblock that follows them).
struct BitCounters
{
    int syntax_bits = 0;
    int mb_bits_count = 0;
};

// The read state of one payload. Positions count bits from the first byte, most significant bit first.
// A read may look one byte past byte_length (the buffer always has that byte), and fails when it
// would end beyond the first seven bits of that byte.
struct Bitstream
{
    int read_length = 0; // the arithmetic decoder's byte position
    int code_length = 0; // payload length as loaded
    int bit_offset = 0;  // read position in bits
    int byte_length = 0; // valid bytes: up to and including the one with the stop bit
    uint8_t *streamBuffer = nullptr;
    int error_flag = 0;
    BitCounters *counters = &own_counters; // where the readers count

    std::vector<uint8_t> storage; // the bytes, when the bitstream owns them
    BitCounters own_counters;

    Bitstream() = default;
    Bitstream(const Bitstream &) = delete;
    Bitstream &operator=(const Bitstream &) = delete;

    // Gives the bitstream its own zero-filled buffer of `bytes` (and the byte a read may look past).
    void AllocBuffer(int bytes);
};

// Loads a unit's payload (its bytes after the header byte) into the bitstream's own buffer:
// byte_length and code_length end at the stop bit, the positions and the error flag are cleared.
void h264dec_load_unit(Bitstream *bs, const NALU &nalu);
// The same for any payload bytes.
void h264dec_load_payload(Bitstream *bs, const uint8_t *payload, int size);

// One syntax element on its way through a reader.
struct SyntaxSymbol
{
    int kind = 0;   // element kind (the slice's element-to-partition table); 0 for header elements
    int value1 = 0; // first result; the CAVLC readers also take their table selector here
    int value2 = 0;
    int length = 0; // bits of the code word; the bit count for fixed-length reads
    int info = 0;   // the code word's info bits; the level readers leave the level here
    int pattern = 0;
    int context = 0;
    int index = 0;
    void (*map_fn)(int length, int info, int *value1, int *value2) = nullptr;
    void (*read_fn)(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac) = nullptr;
};

// Bit level. Each fails (-1) when the read would pass the data; nothing moves.
int h264dec_show_bits(const uint8_t *buffer, int totbitoffset, int bytecount, int numbits); // numbits <= 31
// The same bit by bit: the plain form beside the byte-wise one above, which equals it for every input.
int h264dec_show_bits_reference(const uint8_t *buffer, int totbitoffset, int bytecount, int numbits);
int h264dec_get_bits(const uint8_t *buffer, int totbitoffset, uint32_t *info, int bytecount, int numbits);
// One Exp-Golomb code word: returns its length 2 x zeros + 1 and its info bits. More than 30
// leading zeros fail.
int h264dec_get_vlc_symbol(const uint8_t *buffer, int totbitoffset, int *info, int bytecount);
// 1 when data other than the trailing bits remains after the position.
int h264dec_more_rbsp_data(const uint8_t *buffer, int totbitoffset, int bytecount);

// Symbol level: 1, or -1 when the read fails (nothing advanced, nothing counted). Each adds the
// code word's length to mb_bits_count.
int h264dec_read_vlc(SyntaxSymbol *sym, Bitstream *bs);
int h264dec_read_fixed(SyntaxSymbol *sym, Bitstream *bs);
int h264dec_read_intra_mode(SyntaxSymbol *sym, Bitstream *bs);

// Header elements: each also adds the length to syntax_bits and returns the value (0 after a failed
// read). The trace names only label the calls.
int h264dec_read_ue(const char *tracename, Bitstream *bs);
int h264dec_read_se(const char *tracename, Bitstream *bs);
int h264dec_read_u(int bits, const char *tracename, Bitstream *bs);
int h264dec_read_flag(const char *tracename, Bitstream *bs);

// Code-word mappings: (length, info) -> value1 (and value2).
void h264dec_map_ue(int len, int info, int *value1, int *value2);
void h264dec_map_se(int len, int info, int *value1, int *value2);
// Coded block pattern of the intra 4x4 or the inter column; -1 for a code number beyond the table.
void h264dec_map_cbp_intra(int len, int info, int *value1, int *value2);
void h264dec_map_cbp_inter(int len, int info, int *value1, int *value2);
// The older run-level pairs: value1 level, value2 run.
void h264dec_map_levrun_inter(int len, int info, int *value1, int *value2);
void h264dec_map_levrun_c2x2(int len, int info, int *value1, int *value2);
