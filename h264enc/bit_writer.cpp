// Bit writer and Exp-Golomb codes. An Exp-Golomb code of value v is the binary number v + 1 preceded by
// as many zeros as it has bits after its leading 1: short codes for small values, no table needed.
#include "h264enc/bit_writer.h"

#include "h264dec/h264_shared.h"
#include "platform/format.h"

#include <algorithm>
#include <array>

namespace h264enc {

namespace {

// Number of halvings of x until it reaches 0, at most 16: the position of the leading 1 plus one.
int Halvings(int x)
{
    int i = 0;
    while (x > 0 && i < 16) {
        x >>= 1;
        ++i;
    }
    return i;
}

// Stores a full pending byte, growing the buffer when needed.
inline void StoreByte(Bitstream &bs, uint8_t byte)
{
    if (bs.byte_count >= static_cast<int>(bs.StreamBuffer.size()))
        bs.StreamBuffer.resize(bs.StreamBuffer.empty() ? 64 : bs.StreamBuffer.size() * 2);
    bs.StreamBuffer[static_cast<size_t>(bs.byte_count)] = byte;
    ++bs.byte_count;
}

// code number -> coded block pattern, inverted once: [column][cbp] -> code number.
const std::array<std::array<int, 48>, 2> &CbpCodeNumbers()
{
    static const std::array<std::array<int, 48>, 2> table = [] {
        std::array<std::array<int, 48>, 2> t{};
        for (int code = 0; code < 48; ++code)
            for (int col = 0; col < 2; ++col)
                t[static_cast<size_t>(col)][kCodedBlockPattern[code][col]] = code;
        return t;
    }();
    return table;
}

void MapCbp(int column, int cbp, int *len, int *inf)
{
    if (cbp < 0 || cbp > 47)
        h264_fatal_error(zn::Format("map_cbp: coded block pattern %d out of range", cbp),
                         kH264StreamErrorCode);
    map_ue(CbpCodeNumbers()[static_cast<size_t>(column)][static_cast<size_t>(cbp)], 0, len, inf);
}

void MapLevRun(int level, int run, const int *maxLevel, int runs, const int (*codes)[16], int maxRows,
               int escapeScale, int *len, int *inf)
{
    if (level == 0) {
        *len = 1;
        *inf = 0;
        return;
    }
    const int mag = level < 0 ? -level : level;
    if (run < 0 || run >= runs)
        h264_fatal_error(zn::Format("map_levrun: run %d out of range", run), kH264StreamErrorCode);
    int n;
    if (mag <= maxLevel[run] && mag - 1 < maxRows)
        n = codes[mag - 1][run] + 1;
    else
        n = (mag - maxLevel[run]) * escapeScale + 2 * run;
    const int i = Halvings(n / 2);
    *len = 2 * i + 1;
    *inf = n - (1 << i) + (level < 0 ? 1 : 0);
}

} // namespace

void map_ue(int value, int, int *len, int *inf)
{
    if (value < 0 || value > kMaxUe)
        h264_fatal_error(zn::Format("ue(v): value %d cannot be coded", value), kH264StreamErrorCode);
    const int i = Halvings((value + 1) / 2);
    *len = 2 * i + 1;
    *inf = value + 1 - (1 << i);
}

void map_se(int value, int, int *len, int *inf)
{
    if (value < -kMaxSe || value > kMaxSe)
        h264_fatal_error(zn::Format("se(v): value %d cannot be coded", value), kH264StreamErrorCode);
    const int mag = value < 0 ? -value : value;
    const int i = Halvings(mag);
    *len = 2 * i + 1;
    *inf = 2 * mag + (value <= 0 ? 1 : 0) - (1 << i);
}

void map_cbp_intra(int value, int, int *len, int *inf)
{
    MapCbp(0, value, len, inf);
}

void map_cbp_inter(int value, int, int *len, int *inf)
{
    MapCbp(1, value, len, inf);
}

void map_levrun_2x2(int value, int second_value, int *len, int *inf)
{
    static const int maxLevel[4] = {2, 1, 0, 0};
    static const int codes[2][16] = {{1, 5}, {3, 0}};
    MapLevRun(value, second_value, maxLevel, 4, codes, 2, 8, len, inf);
}

void map_levrun_4x4(int value, int second_value, int *len, int *inf)
{
    static const int maxLevel[16] = {4, 2, 2, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0};
    static const int codes[4][16] = {{1, 3, 5, 9, 11, 13, 21, 23, 25, 27}, {7, 17, 19}, {15}, {29}};
    MapLevRun(value, second_value, maxLevel, 16, codes, 4, 32, len, inf);
}

void GrowStreamBuffer(Bitstream &bs, int bytes)
{
    const size_t need = static_cast<size_t>(bs.byte_count) + static_cast<size_t>(bytes);
    if (bs.StreamBuffer.size() < need)
        bs.StreamBuffer.resize(std::max(need, std::max<size_t>(64, bs.StreamBuffer.size() * 2)));
}

void write_bits_reference(Bitstream &bs, uint32_t code_bits, int len)
{
    for (int b = len - 1; b >= 0; --b) {
        bs.pending_byte = static_cast<uint8_t>((bs.pending_byte << 1) | ((code_bits >> b) & 1u));
        if (--bs.free_bits == 0) {
            StoreByte(bs, bs.pending_byte);
            bs.pending_byte = 0;
            bs.free_bits = 8;
        }
    }
}

int byte_align_bitstream(Bitstream &bs)
{
    if (bs.free_bits >= 8)
        return 0;
    const int stuffed = bs.free_bits;
    StoreByte(bs, static_cast<uint8_t>(bs.pending_byte << bs.free_bits));
    bs.pending_byte = 0;
    bs.free_bits = 8;
    return stuffed;
}

void write_rbsp_trailing_bits(Bitstream &bs)
{
    StoreByte(bs, static_cast<uint8_t>((bs.pending_byte * 2 + 1) << (bs.free_bits - 1)));
    bs.pending_byte = 0;
    bs.free_bits = 8;
}

int write_element_uvlc(SyntaxItem *item, SlicePartition *part)
{
    item->map(item->value, item->second_value, &item->len, &item->inf);
    item->code_bits = ExpGolombBits(item->len, item->inf);
    write_bits_to_buffer(*item, part->bitstream);
    if (item->category != SE_HEADER)
        part->bitstream.has_content = 1;
    return item->len;
}

int write_element_uvlc_slice(SyntaxItem *item, EncoderImage &, SlicePartition *part)
{
    return write_element_uvlc(item, part);
}

int write_element_fixed(SyntaxItem *item, SlicePartition *part)
{
    write_bits_to_buffer(*item, part->bitstream);
    if (item->category != SE_HEADER)
        part->bitstream.has_content = 1;
    return item->len;
}

int write_intra_pred_mode(SyntaxItem *item, SlicePartition *part)
{
    if (item->value == -1) {
        item->len = 1;
        item->code_bits = 1;
    } else {
        item->len = 4;
        item->code_bits = static_cast<uint32_t>(item->value) & 7u;
    }
    write_bits_to_buffer(*item, part->bitstream);
    if (item->category != SE_HEADER)
        part->bitstream.has_content = 1;
    return item->len;
}

int write_ue_v(const char *, int value, SlicePartition *part)
{
    SyntaxItem item;
    item.value = value;
    item.map = map_ue;
    return write_element_uvlc(&item, part);
}

int write_se_v(const char *, int value, SlicePartition *part)
{
    SyntaxItem item;
    item.value = value;
    item.map = map_se;
    return write_element_uvlc(&item, part);
}

int write_u_1(const char *, int value, SlicePartition *part)
{
    SyntaxItem item;
    item.len = 1;
    item.code_bits = static_cast<uint32_t>(value) & 1u;
    return write_element_fixed(&item, part);
}

int write_u_v(int n, const char *, int value, SlicePartition *part)
{
    SyntaxItem item;
    item.len = n;
    item.code_bits = n >= 32 ? static_cast<uint32_t>(value) : static_cast<uint32_t>(value) & ((1u << n) - 1);
    return write_element_fixed(&item, part);
}

} // namespace h264enc
