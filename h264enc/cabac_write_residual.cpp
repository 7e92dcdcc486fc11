// CABAC coefficient blocks. A block's (level, run) pairs are gathered until the pair that ends it; then
// the block goes out as a coded-block flag, a significance map (for each position, is it non-zero and, if
// so, is it the last) and the magnitudes and signs from the highest frequency down, where the contexts
// count how many levels of one and above one came before.
#include "h264enc/cabac_write.h"

#include "h264dec/h264_shared.h"
#include "h264enc/enc_state.h"

#include <algorithm>
#include <cstdlib>

namespace h264enc {

const CabacBlockKindInfo kCabacBlockKinds[8] = {
    {16, 1, 0, 0, 0, 0}, // luma DC of intra 16x16
    {15, 0, 1, 1, 1, 0}, // luma AC of intra 16x16
    {64, 1, 2, 2, 2, 1}, // luma 8x8
    {32, 1, 2, 3, 3, 2}, // luma 8x4
    {32, 1, 3, 4, 3, 2}, // luma 4x8
    {16, 1, 4, 5, 4, 0}, // luma 4x4
    {4, 1, 5, 6, 5, 0},  // chroma DC
    {15, 0, 6, 7, 6, 0}, // chroma AC
};

namespace {

// Position maps of the larger blocks (kinds 2 to 4); the decoder reads only 4x4 kinds, so these live here.
const int kSig8x8[64] = {0, 1, 2, 3,  4,  5,  5,  4, 4, 3,  3,  4, 4,  4,  5,  5,  4,  4,  4,  4, 3,  3,
                         6, 7, 7, 7,  8,  9,  10, 9, 8, 7,  7,  6, 11, 12, 13, 11, 6,  7,  8,  9, 14, 10,
                         9, 8, 6, 11, 12, 13, 11, 6, 9, 14, 10, 9, 11, 12, 13, 11, 14, 10, 12, 14};
const int kLast8x8[64] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2,
                          2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4,
                          4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7, 8, 8, 8, 8};
const int kSig8x4[32] = {0, 1,  2,  3, 4, 5, 7,  8, 9, 10, 11, 9, 8,  6,  7,  8,
                         9, 10, 11, 9, 8, 6, 12, 8, 9, 10, 11, 9, 13, 13, 14, 14};
const int kLast8x4[32] = {0, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,
                          3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8};
const int kFieldSig8x8[64] = {0, 1,  1,  2,  2,  3,  3,  4,  5,  6,  7,  7,  7,  8,  4,  5,
                              6, 9,  10, 10, 8,  11, 12, 11, 9,  9,  10, 10, 8,  11, 12, 11,
                              9, 9,  10, 10, 8,  11, 12, 11, 9,  9,  10, 10, 8,  13, 13, 9,
                              9, 10, 10, 8,  13, 13, 9,  9,  10, 10, 14, 14, 14, 14, 14, 14};
const int kFieldSig8x4[32] = {0, 1, 2, 3, 4, 5,  6,  3,  4,  5,  6,  3,  4,  7,  6,  8,
                              9, 7, 6, 8, 9, 10, 11, 12, 12, 10, 11, 13, 13, 14, 14, 14};
const int kFieldSig4x8[32] = {0, 1, 1, 1, 2, 3,  3,  4,  4,  4,  5,  6,  2,  7,  7,  8,
                              8, 8, 5, 6, 9, 10, 10, 11, 11, 11, 12, 13, 13, 14, 14, 14};

bool FieldResidual(const EncoderImage &img, const MacroblockRecord &mb)
{
    return img.field_picture || (img.mbaff && mb.field_pair_flag);
}

int CbfBit(const MacroblockRecord *m, int bit, int missing)
{
    return m ? (m->cbf_bits >> bit) & 1 : missing;
}

// The coded-block flag of the block of kind `kind` at the current 4x4 position, with its context from
// the flags of the blocks above and to the left (inside the macroblock, or at its edge the neighbour's).
void cabac_write_block_flag(EncoderImage &img, CabacEncEnv *env, MacroblockRecord &mb, int kind, int coded)
{
    const CabacBlockKindInfo &info = kCabacBlockKinds[kind];
    const int x = img.subblock_x, y = img.subblock_y, missing = IsIntraMacroblock(mb) ? 1 : 0;
    const MacroblockRecord *up = mb.Up(), *left = mb.Left();
    int n = 0, u = 0, l = 0;
    switch (kind) {
    case kKindLuma8x8:
        n = 1 + x + 4 * y;
        if (coded)
            mb.cbf_bits |= (1 << n) | (1 << (n + 1)) | (1 << (n + 4)) | (1 << (n + 5));
        return; // no flag: an 8x8 block in the pattern always has coefficients
    case kKindLuma16DC:
        n = 0;
        u = CbfBit(up, n, missing);
        l = CbfBit(left, n, missing);
        break;
    case kKindChromaDC:
        n = 17 + img.chroma_plane;
        u = CbfBit(up, n, missing);
        l = CbfBit(left, n, missing);
        break;
    case kKindChromaAC:
        n = (img.chroma_plane ? 23 : 19) + x + 2 * y;
        u = y > 0 ? (mb.cbf_bits >> (n - 2)) & 1 : CbfBit(up, n + 2, missing);
        l = x > 0 ? (mb.cbf_bits >> (n - 1)) & 1 : CbfBit(left, n + 1, missing);
        break;
    default: // luma blocks of 4x4 positions, with or without DC, and the 8x4 / 4x8 halves
        n = 1 + x + 4 * y;
        u = y > 0 ? (mb.cbf_bits >> (n - 4)) & 1 : CbfBit(up, n + 12, missing);
        l = x > 0 ? (mb.cbf_bits >> (n - 1)) & 1 : CbfBit(left, n + 3, missing);
        break;
    }
    if (coded) {
        mb.cbf_bits |= 1 << n;
        if (kind == kKindLuma8x4)
            mb.cbf_bits |= 1 << (n + 1);
        else if (kind == kKindLuma4x8)
            mb.cbf_bits |= 1 << (n + 4);
    }
    cabac_enc_symbol(env, coded, &img.current_slice->texture->flag[info.flag_row][2 * u + l]);
}

void WriteBlock(EncoderImage &img, CabacEncEnv *env, int kind)
{
    CabacLevelBuffer &buf = img.cabac_levels;
    MacroblockRecord &mb = img.CurrentMb();
    const CabacBlockKindInfo &info = kCabacBlockKinds[kind];
    cabac_write_block_flag(img, env, mb, kind, buf.count > 0 ? 1 : 0);
    if (buf.count == 0)
        return;
    TextureContextSet &tc = *img.current_slice->texture;
    const bool field = FieldResidual(img, mb);
    CabacEncContext *sig = field ? tc.fld_sig[info.map_row] : tc.sig[info.map_row];
    CabacEncContext *last = field ? tc.fld_last[info.map_row] : tc.last[info.map_row];
    const int first = info.dc_first ? 0 : 1;
    const int end = first + info.positions; // one past the last position
    // Significance map: every position but the last; a level at the last position needs no flags.
    int remaining = buf.count;
    for (int p = first; p < end - 1 && remaining > 0; ++p) {
        const int level = buf.level[p - first];
        cabac_enc_symbol(env, level != 0, &sig[cabac_sig_position(kind, p, field)]);
        if (level != 0) {
            --remaining;
            cabac_enc_symbol(env, remaining == 0, &last[cabac_last_position(kind, p)]);
        }
    }
    CabacEncContext *one = tc.one[info.level_row];
    CabacEncContext *abs = tc.level[info.level_row];
    int c1 = 1, c2 = 0;
    for (int p = end - 1; p >= first; --p) {
        const int level = buf.level[p - first];
        if (level == 0)
            continue;
        const int magnitude = std::abs(level);
        cabac_enc_symbol(env, magnitude > 1, &one[std::min(c1, 4)]);
        if (magnitude > 1) {
            cabac_write_level_suffix(env, magnitude - 2, &abs[std::min(c2, 4)]);
            ++c2;
            c1 = 0;
        } else if (c1 > 0) {
            ++c1;
        }
        cabac_enc_bypass(env, level < 0 ? 1 : 0);
    }
}

} // namespace

int cabac_sig_position(int kind, int position, bool field)
{
    switch (kCabacBlockKinds[kind].map_shape) {
    case 1:
        return field ? kFieldSig8x8[position] : kSig8x8[position];
    case 2:
        if (field)
            return kind == kKindLuma8x4 ? kFieldSig8x4[position] : kFieldSig4x8[position];
        return kSig8x4[position];
    default:
        return position < 14 ? position : 14;
    }
}

int cabac_last_position(int kind, int position)
{
    switch (kCabacBlockKinds[kind].map_shape) {
    case 1:
        return kLast8x8[position];
    case 2:
        return kLast8x4[position];
    default:
        return position;
    }
}

void cabac_write_run_level(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    CabacLevelBuffer &buf = img.cabac_levels;
    const int kind = item->context;
    if (kind < 0 || kind > 7)
        h264_fatal_error("cabac_write_run_level: invalid block kind", kH264StreamErrorCode);
    const int capacity = kCabacBlockKinds[kind].positions;
    if (item->value != 0) {
        // Levels beyond the block's positions cannot be signalled: refuse them before anything is coded.
        if (item->second_value < 0 || buf.pos + item->second_value >= capacity)
            h264_fatal_error("cabac_write_run_level: coefficient run past the end of the block",
                             kH264StreamErrorCode);
        buf.pos += item->second_value;
        buf.level[buf.pos++] = item->value;
        ++buf.count;
        return;
    }
    std::fill(buf.level + buf.pos, buf.level + 64, 0);
    WriteBlock(img, env, kind);
    buf = CabacLevelBuffer();
}

} // namespace h264enc
