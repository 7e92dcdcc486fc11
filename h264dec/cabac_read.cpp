// CABAC element readers. Most contexts are chosen from two neighbours, above and left: a context per
// neighbour pattern lets the coder learn, for example, that a macroblock among skipped ones is likely
// skipped too. Unary codes end at a bound: damaged data can hold the decoder's value register at zero,
// and a context whose most probable symbol is 1 would then produce 1-bins forever.
#include "h264dec/cabac_read.h"

#include "h264dec/decoder_state.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

// Longest unary run taken for a reference index or a quantiser change: both are checked against
// their ranges by the callers.
constexpr int kMaxUnary = 64;
// Longest Exp-Golomb prefix: beyond it no value fits the ranges the callers check.
constexpr int kMaxExpGolombPrefix = 24;

DecoderMacroblock &CurrentMb(H264DecoderState &dec)
{
    return (*dec.img.mb_data)[static_cast<size_t>(dec.img.mb_index)];
}

MotionInfo &Motion(H264DecoderState &dec)
{
    return *dec.slice.motion_contexts;
}

TextureInfo &Texture(H264DecoderState &dec)
{
    return *dec.slice.texture_contexts;
}

const DecoderMacroblock *Above(const DecoderMacroblock &mb)
{
    return mb.neighbours[0][1];
}
const DecoderMacroblock *Left(const DecoderMacroblock &mb)
{
    return mb.neighbours[1][0];
}

bool FieldResidual(const H264DecoderState &dec, const DecoderMacroblock &mb)
{
    return dec.img.structure != kFrame || (dec.img.MbaffFrameFlag && mb.mb_field);
}

// The four intra 16x16 bins shared by I, P and B types: luma pattern, chroma pattern, prediction mode.
int Intra16x16Bins(CabacDecoder *cabac, CabacContext *luma, CabacContext *chroma, CabacContext *chroma2,
                   CabacContext *mode1, CabacContext *mode2)
{
    int v = 12 * cabac_decode_symbol(cabac, luma);
    if (cabac_decode_symbol(cabac, chroma))
        v += cabac_decode_symbol(cabac, chroma2) ? 8 : 4;
    v += 2 * cabac_decode_symbol(cabac, mode1);
    v += cabac_decode_symbol(cabac, mode2);
    return v;
}

// Reference-index neighbour test: the block exists (inside the macroblock, or in a neighbour that is
// not a direct B macroblock) and its stored index is above 0.
int RefCondition(H264DecoderState &dec, const DecoderMacroblock *neighbour, bool inside, int refIdx, bool bwd)
{
    if (!inside) {
        if (!neighbour)
            return 0;
        if (neighbour->mb_type == kMbSkipOrDirect && IsBPicture(dec.img.type))
            return 0;
    }
    if (bwd && dec.img.num_ref_idx_active_bwd >= 2 && (refIdx == 0 || refIdx == 1))
        refIdx = 1 - refIdx;
    return refIdx > 0 ? 1 : 0;
}

void ReadRef(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac, bool bwd)
{
    DecoderImage &img = dec.img;
    DecoderMacroblock &mb = CurrentMb(dec);
    Array2D<int> &refs = bwd ? *img.bwd_ref : IsBPicture(img.type) ? *img.fwd_ref : *img.ref_idx_arr;
    const int x = img.block_x + img.subblock_x, y = img.block_y + img.subblock_y;
    const bool insideAbove = img.subblock_y > 0, insideLeft = img.subblock_x > 0;
    const int a = (insideAbove || Above(mb)) && y > 0
                      ? RefCondition(dec, Above(mb), insideAbove, refs[y - 1][x], bwd)
                      : 0;
    const int b =
        (insideLeft || Left(mb)) && x > 0 ? RefCondition(dec, Left(mb), insideLeft, refs[y][x - 1], bwd) : 0;
    CabacContext *ctx = Motion(dec).ref_no_contexts[0];
    int v = 0;
    if (cabac_decode_symbol(cabac, &ctx[2 * a + b]))
        v = 1 + cabac_unary(cabac, ctx + 4, 1);
    sym->value1 = v;
}

// |mvd| of a neighbouring block of the same list and component, 0 when it is missing.
int NeighbourMvd(const H264DecoderState &dec, const DecoderMacroblock &mb, bool above, int list, int comp)
{
    const int sx = dec.img.subblock_x, sy = dec.img.subblock_y;
    const DecoderMacroblock *n = nullptr;
    int v = 0;
    if (above) {
        if (sy > 0)
            return std::abs(mb.mvd[list][sy - 1][sx][comp]);
        n = Above(mb);
        if (!n)
            return 0;
        v = std::abs(n->mvd[list][3][sx][comp]);
    } else {
        if (sx > 0)
            return std::abs(mb.mvd[list][sy][sx - 1][comp]);
        n = Left(mb);
        if (!n)
            return 0;
        v = std::abs(n->mvd[list][sy][3][comp]);
    }
    // Field and frame vertical differences are on different scales in MBAFF frames.
    if (comp == 1 && dec.img.MbaffFrameFlag && dec.img.structure == kFrame) {
        if (n->mb_field && !mb.mb_field)
            v *= 2;
        else if (!n->mb_field && mb.mb_field)
            v /= 2;
    }
    return v;
}

void ReadMvd(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac, int list, int comp)
{
    DecoderMacroblock &mb = CurrentMb(dec);
    const int sum = NeighbourMvd(dec, mb, true, list, comp) + NeighbourMvd(dec, mb, false, list, comp);
    MotionInfo &mi = Motion(dec);
    const int inc = sum < 3 ? 0 : sum <= 32 ? 2 : 3;
    if (!cabac_decode_symbol(cabac, &mi.mv_res_contexts[0][5 * comp + inc])) {
        sym->value1 = 0;
        return;
    }
    // The sign comes before the magnitude's suffix in this syntax.
    const int negative = cabac_decode_bypass(cabac);
    const int magnitude = cabac_mvd_suffix(cabac, &mi.mv_res_contexts[1][5 * comp]) + 1;
    sym->value1 = negative ? -magnitude : magnitude;
}

// Coded block flag bits of the neighbours: inside the macroblock its own bits, at its edge the
// neighbour's, and for a missing neighbour the intra default.
int CbfBit(const DecoderMacroblock *m, int bit, int missing)
{
    return m ? (m->cbp_bits >> bit) & 1 : missing;
}

int ReadCodedBlockFlag(H264DecoderState &dec, CabacDecoder *cabac, DecoderMacroblock &mb, int type)
{
    DecoderImage &img = dec.img;
    const int x = img.subblock_x, y = img.subblock_y, missing = img.cbf_intra_flag ? 1 : 0;
    int h = 0, up = 0, left = 0;
    switch (type) {
    case 0:
        h = 0;
        up = CbfBit(Above(mb), h, missing);
        left = CbfBit(Left(mb), h, missing);
        break;
    case 6:
        h = img.cbf_v_flag ? 18 : 17;
        up = CbfBit(Above(mb), h, missing);
        left = CbfBit(Left(mb), h, missing);
        break;
    case 7:
        h = (img.cbf_v_flag ? 23 : 19) + x + 2 * y;
        up = y > 0 ? (mb.cbp_bits >> (h - 2)) & 1 : CbfBit(Above(mb), h + 2, missing);
        left = x > 0 ? (mb.cbp_bits >> (h - 1)) & 1 : CbfBit(Left(mb), h + 1, missing);
        break;
    default: // luma 4x4 blocks, with or without DC
        h = 1 + x + 4 * y;
        up = y > 0 ? (mb.cbp_bits >> (h - 4)) & 1 : CbfBit(Above(mb), h + 12, missing);
        left = x > 0 ? (mb.cbp_bits >> (h - 1)) & 1 : CbfBit(Left(mb), h + 3, missing);
        break;
    }
    CabacContext *ctx = Texture(dec).bcbp_contexts[kCbfRowOfBlockType[type]];
    const int bin = cabac_decode_symbol(cabac, &ctx[2 * up + left]);
    if (bin)
        mb.cbp_bits |= 1 << h;
    return bin;
}

// Significance map and levels of one coded block into the buffer; returns the coefficient count.
int ReadBlockLevels(H264DecoderState &dec, CabacDecoder *cabac, DecoderMacroblock &mb, int type,
                    CabacCoefficientBuffer &buf)
{
    const int first = type == 1 || type == 7 ? 1 : 0;
    const int end = type == 6 ? 4 : 16; // one past the last scan position
    TextureInfo &ti = Texture(dec);
    const bool field = FieldResidual(dec, mb);
    CabacContext *map = field ? ti.fld_map_contexts[type] : ti.map_contexts[type];
    CabacContext *last = field ? ti.fld_last_contexts[type] : ti.last_contexts[type];
    std::fill(std::begin(buf.level), std::end(buf.level), 0);
    int positions[16];
    int count = 0;
    bool ended = false;
    for (int k = first; k < end - 1; ++k) {
        if (cabac_decode_symbol(cabac, &map[k])) {
            positions[count++] = k;
            if (cabac_decode_symbol(cabac, &last[k])) {
                ended = true;
                break;
            }
        }
    }
    if (!ended)
        positions[count++] = end - 1;
    CabacContext *one = ti.one_contexts[kLevelRowOfBlockType[type]];
    CabacContext *abs = ti.abs_contexts[kLevelRowOfBlockType[type]];
    int ones = 1, greater = 0;
    for (int i = count - 1; i >= 0; --i) {
        int magnitude = 1;
        if (cabac_decode_symbol(cabac, &one[std::min(ones, 4)])) {
            magnitude = 2 + cabac_level_suffix(cabac, &abs[std::min(greater, 4)]);
            ++greater;
            ones = 0;
        } else if (ones > 0) {
            ++ones;
        }
        buf.level[positions[i]] = cabac_decode_bypass(cabac) ? -magnitude : magnitude;
    }
    buf.pos = first;
    return count;
}

} // namespace

// ---------------------------------------------------------------------------------------------

int cabac_read_element(SyntaxSymbol *sym, H264DecoderState &dec, DataPartition *dp)
{
    const int before = cabac_bits_read(&dp->cabac);
    sym->read_fn(sym, dec, &dp->cabac);
    const int bits = cabac_bits_read(&dp->cabac) - before;
    sym->length = bits;
    if (bits > 0)
        dec.counters.mb_bits_count += bits;
    return 1;
}

int cabac_slice_end(H264DecoderState &dec, int eos_bit)
{
    if (!eos_bit)
        return 0;
    const int kind = IsBPicture(dec.img.type) ? SE_BFRAME : SE_MBTYPE;
    DataPartition &dp =
        dec.slice.partitions[static_cast<size_t>(assignSE2partition[dec.slice.dp_mode][kind])];
    return cabac_decode_final(&dp.cabac) == 1 ? 1 : 0;
}

int cabac_unary(CabacDecoder *cabac, CabacContext *ctx, int step)
{
    if (!cabac_decode_symbol(cabac, &ctx[0]))
        return 0;
    int v = 1;
    while (v < kMaxUnary && cabac_decode_symbol(cabac, &ctx[step]))
        ++v;
    return v;
}

int cabac_unary_max(CabacDecoder *cabac, CabacContext *ctx, int step, int maximum)
{
    if (maximum <= 0 || !cabac_decode_symbol(cabac, &ctx[0]))
        return 0;
    int v = 1;
    while (v < maximum && cabac_decode_symbol(cabac, &ctx[step]))
        ++v;
    return v;
}

int cabac_exp_golomb_bypass(CabacDecoder *cabac, int k)
{
    int v = 0;
    int prefix = 0;
    while (cabac_decode_bypass(cabac)) {
        v += 1 << k;
        ++k;
        if (++prefix > kMaxExpGolombPrefix)
            h264_fatal_error("CABAC: Exp-Golomb value too long (damaged slice data)", kH264StreamErrorCode);
    }
    while (k--)
        v += cabac_decode_bypass(cabac) << k;
    return v;
}

int cabac_level_suffix(CabacDecoder *cabac, CabacContext *ctx)
{
    int v = 0;
    while (v < 13 && cabac_decode_symbol(cabac, ctx))
        ++v;
    if (v < 13)
        return v;
    return 13 + cabac_exp_golomb_bypass(cabac, 0);
}

int cabac_mvd_suffix(CabacDecoder *cabac, CabacContext *ctx)
{
    int v = 0;
    while (v < 8 && cabac_decode_symbol(cabac, &ctx[std::min(v, 3)]))
        ++v;
    if (v < 8)
        return v;
    return 8 + cabac_exp_golomb_bypass(cabac, 3);
}

void cabac_read_skip_flag(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    const DecoderMacroblock &mb = CurrentMb(dec);
    const DecoderMacroblock *up = Above(mb), *left = Left(mb);
    MotionInfo &mi = Motion(dec);
    if (IsBPicture(dec.img.type)) {
        const int a = up && (up->mb_type != 0 || up->coded_block_pattern != 0);
        const int b = left && (left->mb_type != 0 || left->coded_block_pattern != 0);
        sym->value1 = sym->value2 = cabac_decode_symbol(cabac, &mi.mb_type_contexts[2][7 + a + b]);
    } else {
        const int a = up && up->mb_type != 0;
        const int b = left && left->mb_type != 0;
        sym->value1 = cabac_decode_symbol(cabac, &mi.mb_type_contexts[1][a + b]);
    }
}

void cabac_read_field_flag(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    const DecoderMacroblock &mb = CurrentMb(dec);
    const int a = mb.cabac_up && mb.cabac_up->mb_field;
    const int b = mb.cabac_left && mb.cabac_left->mb_field;
    sym->value1 = cabac_decode_symbol(cabac, &Motion(dec).mb_aff_contexts[a + b]);
}

void cabac_read_mb_type(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    const DecoderMacroblock &mb = CurrentMb(dec);
    const DecoderMacroblock *up = Above(mb), *left = Left(mb);
    MotionInfo &mi = Motion(dec);
    const int type = dec.img.type;
    if (type == kPictureI || type == kPictureSI) {
        CabacContext *c = mi.mb_type_contexts[0];
        const int a = up && up->mb_type != kMbIntra4x4;
        const int b = left && left->mb_type != kMbIntra4x4;
        if (!cabac_decode_symbol(cabac, &c[a + b]))
            sym->value1 = 0;
        else
            sym->value1 = 1 + Intra16x16Bins(cabac, &c[4], &c[5], &c[6], &c[7], &c[8]);
        return;
    }
    CabacContext *p = mi.mb_type_contexts[1];
    if (IsBPicture(type)) {
        CabacContext *c = mi.mb_type_contexts[2];
        const int a = up && up->mb_type != 0;
        const int b = left && left->mb_type != 0;
        if (!cabac_decode_symbol(cabac, &c[a + b])) {
            sym->value1 = 0;
            return;
        }
        if (!cabac_decode_symbol(cabac, &c[4])) {
            sym->value1 = 1 + cabac_decode_symbol(cabac, &c[6]);
            return;
        }
        if (!cabac_decode_symbol(cabac, &c[5])) {
            int v = 4 * cabac_decode_symbol(cabac, &c[6]);
            v += 2 * cabac_decode_symbol(cabac, &c[6]);
            v += cabac_decode_symbol(cabac, &c[6]);
            sym->value1 = 3 + v;
            return;
        }
        const int b3 = cabac_decode_symbol(cabac, &c[6]);
        const int b4 = cabac_decode_symbol(cabac, &c[6]);
        const int b5 = cabac_decode_symbol(cabac, &c[6]);
        if (b3 && b4)
            sym->value1 = b5 ? 22 : 11;
        else if (b3 && !b4 && b5)
            sym->value1 = cabac_decode_symbol(cabac, &c[6])
                              ? 24 + Intra16x16Bins(cabac, &p[8], &p[9], &p[9], &p[10], &p[10])
                              : 23;
        else
            sym->value1 = 12 + 8 * b3 + 4 * b4 + 2 * b5 + cabac_decode_symbol(cabac, &c[6]);
        return;
    }
    // P and SP.
    if (!cabac_decode_symbol(cabac, &p[4])) {
        if (cabac_decode_symbol(cabac, &p[5]))
            sym->value1 = cabac_decode_symbol(cabac, &p[7]) ? 2 : 3;
        else
            sym->value1 = cabac_decode_symbol(cabac, &p[6]) ? 4 : 1;
        return;
    }
    if (!cabac_decode_symbol(cabac, &p[7]))
        sym->value1 = 6;
    else
        sym->value1 = 7 + Intra16x16Bins(cabac, &p[8], &p[9], &p[9], &p[10], &p[10]);
}

void cabac_read_sub_mb_type(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    MotionInfo &mi = Motion(dec);
    if (!IsBPicture(dec.img.type)) {
        CabacContext *c = mi.b8_type_contexts[0];
        if (cabac_decode_symbol(cabac, &c[1]))
            sym->value1 = 0;
        else if (!cabac_decode_symbol(cabac, &c[3]))
            sym->value1 = 1;
        else
            sym->value1 = cabac_decode_symbol(cabac, &c[4]) ? 2 : 3;
        return;
    }
    CabacContext *c = mi.b8_type_contexts[1];
    if (!cabac_decode_symbol(cabac, &c[0])) {
        sym->value1 = 0;
        return;
    }
    if (!cabac_decode_symbol(cabac, &c[1])) {
        sym->value1 = 1 + cabac_decode_symbol(cabac, &c[3]);
        return;
    }
    if (!cabac_decode_symbol(cabac, &c[2])) {
        const int x = cabac_decode_symbol(cabac, &c[3]);
        const int y = cabac_decode_symbol(cabac, &c[3]);
        sym->value1 = 3 + 2 * x + y;
        return;
    }
    if (cabac_decode_symbol(cabac, &c[3])) {
        sym->value1 = 11 + cabac_decode_symbol(cabac, &c[3]);
        return;
    }
    const int x = cabac_decode_symbol(cabac, &c[3]);
    const int y = cabac_decode_symbol(cabac, &c[3]);
    sym->value1 = 7 + 2 * x + y;
}

void cabac_read_intra_mode(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    TextureInfo &ti = Texture(dec);
    if (!cabac_decode_symbol(cabac, &ti.ipr_contexts[0])) {
        sym->value1 = -1;
        return;
    }
    int v = cabac_decode_symbol(cabac, &ti.ipr_contexts[1]);
    v |= cabac_decode_symbol(cabac, &ti.ipr_contexts[1]) << 1;
    v |= cabac_decode_symbol(cabac, &ti.ipr_contexts[1]) << 2;
    sym->value1 = v;
}

void cabac_read_chroma_mode(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    const DecoderMacroblock &mb = CurrentMb(dec);
    const DecoderMacroblock *up = Above(mb), *left = Left(mb);
    const int a = up && up->chroma_pred_mode != 0;
    const int b = left && left->chroma_pred_mode != 0;
    TextureInfo &ti = Texture(dec);
    if (!cabac_decode_symbol(cabac, &ti.cipr_contexts[a + b]))
        sym->value1 = 0;
    else
        sym->value1 = 1 + cabac_unary_max(cabac, &ti.cipr_contexts[3], 0, 2);
}

void cabac_read_ref_fwd(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    ReadRef(sym, dec, cabac, false);
}

void cabac_read_ref_bwd(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    ReadRef(sym, dec, cabac, true);
}

void cabac_read_mvd(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    ReadMvd(sym, dec, cabac, 0, sym->value2 & 1);
}

void cabac_read_mvd_b(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    ReadMvd(sym, dec, cabac, sym->value2 & 1, (sym->value2 >> 1) & 1);
}

void cabac_read_qp_delta(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    const DecoderMacroblock *left = Left(CurrentMb(dec));
    const int a = left && left->qp_delta != 0;
    CabacContext *c = Motion(dec).delta_qp_contexts;
    if (!cabac_decode_symbol(cabac, &c[a])) {
        sym->value1 = 0;
        return;
    }
    const int k = 1 + cabac_unary(cabac, &c[2], 1);
    sym->value1 = (k & 1) ? (k + 1) / 2 : -((k + 1) / 2);
}

void cabac_read_cbp(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    const DecoderMacroblock &mb = CurrentMb(dec);
    const DecoderMacroblock *up = Above(mb), *left = Left(mb);
    TextureInfo &ti = Texture(dec);
    int cbp = 0;
    for (int q = 0; q < 4; ++q) {
        const int qx = q % 2, qy = q / 2;
        // A neighbouring quadrant that holds no coefficients makes this one less likely to.
        int u = 0, l = 0;
        if (qy > 0)
            u = ((cbp >> (q - 2)) & 1) == 0;
        else if (up)
            u = ((up->coded_block_pattern >> (2 + qx)) & 1) == 0;
        if (qx > 0)
            l = ((cbp >> (q - 1)) & 1) == 0;
        else if (left)
            l = ((left->coded_block_pattern >> (q + 1)) & 1) == 0;
        if (cabac_decode_symbol(cabac, &ti.cbp_contexts[0][2 * u + l]))
            cbp |= 1 << q;
    }
    const int u1 = up && up->coded_block_pattern > 15, l1 = left && left->coded_block_pattern > 15;
    if (cabac_decode_symbol(cabac, &ti.cbp_contexts[1][2 * u1 + l1])) {
        const int u2 = up && up->coded_block_pattern > 31, l2 = left && left->coded_block_pattern > 31;
        cbp += cabac_decode_symbol(cabac, &ti.cbp_contexts[2][2 * u2 + l2]) ? 32 : 16;
    }
    sym->value1 = cbp;
}

void cabac_read_run_level(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac)
{
    CabacCoefficientBuffer &buf = dec.cabac_coefficients;
    const int type = sym->context;
    if (buf.remaining < 0) {
        DecoderMacroblock &mb = CurrentMb(dec);
        if (type < 0 || type >= kCabacBlockTypes || !ReadCodedBlockFlag(dec, cabac, mb, type)) {
            sym->value1 = sym->value2 = 0;
            return;
        }
        buf.remaining = ReadBlockLevels(dec, cabac, mb, type, buf);
    }
    if (buf.remaining == 0) {
        sym->value1 = sym->value2 = 0;
        buf.remaining = -1;
        buf.pos = 0;
        return;
    }
    int run = 0;
    while (buf.pos < 16 && buf.level[buf.pos] == 0) {
        ++run;
        ++buf.pos;
    }
    sym->value1 = buf.pos < 16 ? buf.level[buf.pos] : 0;
    sym->value2 = run;
    ++buf.pos;
    --buf.remaining;
}
