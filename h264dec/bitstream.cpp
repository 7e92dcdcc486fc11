// Bit reading and the Exp-Golomb code words. A code word of n leading zeros, a 1 and n info bits
// stands for code number 2^n - 1 + info; ue takes that number, se folds it onto 0, 1, -1, 2, -2...,
// and the coded-block-pattern and run-level mappings index their tables with it.
#include "h264dec/bitstream.h"

#include "h264dec/h264_shared.h"
#include "h264dec/nalu_input.h"

#include <algorithm>

namespace {

// A read may end anywhere before the last bit of the byte after the data (the position the readers
// have always allowed); this is the first bit position it may not reach.
inline int64_t BitLimit(int bytecount)
{
    return int64_t(bytecount) * 8 + 7;
}

inline int BitAt(const uint8_t *buffer, int64_t pos)
{
    return (buffer[pos >> 3] >> (7 - (pos & 7))) & 1;
}

constexpr int kMaxExpGolombZeros = 30;
constexpr int kBitstreamSlack = 8;

// The older coefficient syntax: (level, run) pairs of the short code words, and the base level by run
// of the long ones.
const int kLevRun4x4[4][8][2] = {
    {{1, 0}},
    {{1, 1}, {1, 2}},
    {{2, 0}, {1, 3}, {1, 4}, {1, 5}},
    {{3, 0}, {2, 1}, {2, 2}, {1, 6}, {1, 7}, {1, 8}, {1, 9}, {4, 0}},
};
const int kLevRunBase4x4[16] = {4, 2, 2, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0};
const int kLevRun2x2[2][2][2] = {
    {{1, 0}},
    {{2, 0}, {1, 1}},
};
const int kLevRunBase2x2[4] = {2, 1, 0, 0};

} // namespace

void Bitstream::AllocBuffer(int bytes)
{
    storage.assign(static_cast<size_t>(std::max(bytes, 0)) + kBitstreamSlack, 0);
    streamBuffer = storage.data();
}

void h264dec_load_payload(Bitstream *bs, const uint8_t *payload, int size)
{
    size = std::max(size, 0);
    if (static_cast<int>(bs->storage.size()) < size + kBitstreamSlack)
        bs->AllocBuffer(size);
    std::copy(payload, payload + size, bs->storage.begin());
    std::fill(bs->storage.begin() + size, bs->storage.begin() + size + kBitstreamSlack, uint8_t(0));
    bs->streamBuffer = bs->storage.data();
    bs->byte_length = bs->code_length = h264dec_sodb_length(bs->streamBuffer, size);
    bs->bit_offset = 0;
    bs->read_length = 0;
    bs->error_flag = 0;
}

void h264dec_load_unit(Bitstream *bs, const NALU &nalu)
{
    h264dec_load_payload(bs, nalu.buf.data() + 1, nalu.len - 1);
}

namespace {

// numbits (1..32) bits from bit position pos, reading whole bytes: exactly the bytes that hold them.
inline uint32_t FieldAt(const uint8_t *buffer, int64_t pos, int numbits)
{
    const int64_t first = pos >> 3, last = (pos + numbits - 1) >> 3;
    uint64_t acc = 0;
    for (int64_t b = first; b <= last; ++b)
        acc = (acc << 8) | buffer[b];
    const int64_t tail = (last + 1) * 8 - (pos + numbits); // bits after the field in its last byte
    return static_cast<uint32_t>((acc >> tail) & ((uint64_t(1) << numbits) - 1));
}

} // namespace

int h264dec_show_bits(const uint8_t *buffer, int totbitoffset, int bytecount, int numbits)
{
    if (numbits < 0 || numbits > 31 || int64_t(totbitoffset) + numbits > BitLimit(bytecount))
        return -1;
    return numbits == 0 ? 0 : static_cast<int>(FieldAt(buffer, totbitoffset, numbits));
}

int h264dec_show_bits_reference(const uint8_t *buffer, int totbitoffset, int bytecount, int numbits)
{
    if (numbits < 0 || numbits > 31 || int64_t(totbitoffset) + numbits > BitLimit(bytecount))
        return -1;
    int value = 0;
    for (int i = 0; i < numbits; ++i)
        value = (value << 1) | BitAt(buffer, int64_t(totbitoffset) + i);
    return value;
}

int h264dec_get_bits(const uint8_t *buffer, int totbitoffset, uint32_t *info, int bytecount, int numbits)
{
    if (numbits < 0 || numbits > 32 || int64_t(totbitoffset) + numbits > BitLimit(bytecount))
        return -1;
    *info = numbits == 0 ? 0 : FieldAt(buffer, totbitoffset, numbits);
    return numbits;
}

int h264dec_get_vlc_symbol(const uint8_t *buffer, int totbitoffset, int *info, int bytecount)
{
    const int64_t limit = BitLimit(bytecount);
    int64_t pos = totbitoffset;
    int zeros = 0;
    for (;;) {
        if (pos >= limit)
            return -1;
        if (BitAt(buffer, pos++))
            break;
        if (++zeros > kMaxExpGolombZeros)
            return -1;
    }
    if (pos + zeros > limit)
        return -1;
    int bits = 0;
    for (int i = 0; i < zeros; ++i)
        bits = (bits << 1) | BitAt(buffer, pos++);
    *info = bits;
    return 2 * zeros + 1;
}

int h264dec_more_rbsp_data(const uint8_t *buffer, int totbitoffset, int bytecount)
{
    const int byteoffset = totbitoffset / 8;
    if (byteoffset < bytecount - 1)
        return 1;
    // Past the last valid byte nothing remains (the trailing bits have been passed).
    if (byteoffset >= bytecount)
        return 0;
    const int bit = 7 - totbitoffset % 8;
    if (!((buffer[byteoffset] >> bit) & 1))
        return 1;
    return (buffer[byteoffset] & ((1 << bit) - 1)) != 0 ? 1 : 0;
}

int h264dec_read_vlc(SyntaxSymbol *sym, Bitstream *bs)
{
    int info = 0;
    sym->length = h264dec_get_vlc_symbol(bs->streamBuffer, bs->bit_offset, &info, bs->byte_length);
    if (sym->length < 0)
        return -1;
    sym->info = info;
    sym->map_fn(sym->length, sym->info, &sym->value1, &sym->value2);
    bs->bit_offset += sym->length;
    bs->counters->mb_bits_count += sym->length;
    return 1;
}

int h264dec_read_fixed(SyntaxSymbol *sym, Bitstream *bs)
{
    uint32_t bits = 0;
    if (h264dec_get_bits(bs->streamBuffer, bs->bit_offset, &bits, bs->byte_length, sym->length) < 0)
        return -1;
    sym->info = static_cast<int>(bits);
    sym->value1 = sym->info;
    bs->bit_offset += sym->length;
    bs->counters->mb_bits_count += sym->length;
    return 1;
}

int h264dec_read_intra_mode(SyntaxSymbol *sym, Bitstream *bs)
{
    const int first = h264dec_show_bits(bs->streamBuffer, bs->bit_offset, bs->byte_length, 1);
    if (first < 0)
        return -1;
    if (first == 1) {
        sym->length = 1;
        sym->value1 = -1; // use the predicted mode
    } else {
        const int mode = h264dec_show_bits(bs->streamBuffer, bs->bit_offset + 1, bs->byte_length, 3);
        if (mode < 0)
            return -1;
        sym->length = 4;
        sym->value1 = mode;
    }
    sym->info = sym->value1;
    bs->bit_offset += sym->length;
    bs->counters->mb_bits_count += sym->length;
    return 1;
}

int h264dec_read_ue(const char *, Bitstream *bs)
{
    SyntaxSymbol sym;
    sym.map_fn = h264dec_map_ue;
    const int ok = h264dec_read_vlc(&sym, bs);
    bs->counters->syntax_bits += sym.length;
    return ok > 0 ? sym.value1 : 0;
}

int h264dec_read_se(const char *, Bitstream *bs)
{
    SyntaxSymbol sym;
    sym.map_fn = h264dec_map_se;
    const int ok = h264dec_read_vlc(&sym, bs);
    bs->counters->syntax_bits += sym.length;
    return ok > 0 ? sym.value1 : 0;
}

int h264dec_read_u(int bits, const char *, Bitstream *bs)
{
    SyntaxSymbol sym;
    sym.length = bits;
    const int ok = h264dec_read_fixed(&sym, bs);
    bs->counters->syntax_bits += sym.length;
    return ok > 0 ? sym.value1 : 0;
}

int h264dec_read_flag(const char *tracename, Bitstream *bs)
{
    return h264dec_read_u(1, tracename, bs);
}

void h264dec_map_ue(int len, int info, int *value1, int *)
{
    *value1 = (1 << (len / 2)) + info - 1;
}

void h264dec_map_se(int len, int info, int *value1, int *)
{
    const int x = 1 << (len / 2);
    const int n = (info + x) / 2;
    *value1 = ((info + x) & 1) ? -n : n;
}

void h264dec_map_cbp_intra(int len, int info, int *value1, int *dummy)
{
    int codeNum = 0;
    h264dec_map_ue(len, info, &codeNum, dummy);
    *value1 = codeNum < 48 ? kCodedBlockPattern[codeNum][0] : -1;
}

void h264dec_map_cbp_inter(int len, int info, int *value1, int *dummy)
{
    int codeNum = 0;
    h264dec_map_ue(len, info, &codeNum, dummy);
    *value1 = codeNum < 48 ? kCodedBlockPattern[codeNum][1] : -1;
}

void h264dec_map_levrun_inter(int len, int info, int *level, int *irun)
{
    if (len <= 9) {
        const int l2 = std::max(0, len / 2 - 1);
        const int inf = info / 2;
        *level = kLevRun4x4[l2][inf][0];
        *irun = kLevRun4x4[l2][inf][1];
        if (len == 1)
            *level = 0; // end of block
    } else {
        *irun = (info >> 1) & 15;
        *level = kLevRunBase4x4[*irun] + info / 32 + (1 << (len / 2 - 5));
    }
    if (info & 1)
        *level = -*level;
}

void h264dec_map_levrun_c2x2(int len, int info, int *level, int *irun)
{
    if (len <= 5) {
        const int l2 = std::max(0, len / 2 - 1);
        const int inf = info / 2;
        *level = kLevRun2x2[l2][inf][0];
        *irun = kLevRun2x2[l2][inf][1];
        if (len == 1)
            *level = 0;
    } else {
        *irun = (info >> 1) & 3;
        *level = kLevRunBase2x2[*irun] + info / 8 + (1 << (len / 2 - 3));
    }
    if (info & 1)
        *level = -*level;
}
