// CABAC writers of the macroblock header and motion elements, and the binarisations they share. Most
// contexts depend on the neighbours above and to the left: a macroblock among skipped ones is likely
// skipped, a large vector difference beside large ones is likely large.
#include "h264enc/cabac_write.h"

#include "h264dec/h264_shared.h"
#include "h264enc/enc_state.h"
#include "platform/log.h"

#include <cstdlib>

namespace h264enc {

namespace {

MotionContextSet &Motion(EncoderImage &img)
{
    return *img.current_slice->motion;
}

TextureContextSet &Texture(EncoderImage &img)
{
    return *img.current_slice->texture;
}

// The five intra 16x16 bins of v = prediction mode + 4 x chroma pattern + 12 x (luma pattern non-zero).
void Intra16x16Suffix(CabacEncEnv *env, int v, CabacEncContext *c0, CabacEncContext *c1, CabacEncContext *c2,
                      CabacEncContext *c3, CabacEncContext *c4)
{
    cabac_enc_symbol(env, v >= 12, c0);
    const int c = (v % 12) / 4;
    cabac_enc_symbol(env, c != 0, c1);
    if (c != 0)
        cabac_enc_symbol(env, c == 2, c2);
    const int m = v % 4;
    cabac_enc_symbol(env, m >= 2, c3);
    cabac_enc_symbol(env, m & 1, c4);
}

// Reference-index neighbour test, as the decoder makes it: the block exists (inside the macroblock, or
// in a neighbour that is not a direct B macroblock) and its stored index is above 0. Backward indices
// with two or more active references count with 0 and 1 exchanged, the order they are sent in.
int RefCondition(const EncoderImage &img, const MacroblockRecord *neighbour, bool inside, int ref, bool bwd)
{
    if (!inside) {
        if (!neighbour)
            return 0;
        if (neighbour->mb_mode == kModeSkip && IsB(img))
            return 0;
    }
    if (bwd && img.stored_b_ref >= 1 && (ref == 0 || ref == 1))
        ref = 1 - ref;
    return ref > 0 ? 1 : 0;
}

void WriteRef(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env, bool bwd)
{
    const MacroblockRecord &mb = img.CurrentMb();
    // A field macroblock's neighbours are read in its field's form, as the decoder reads them.
    const OwnMotionView view = OwnMotion(img);
    const MotionMaps &maps = *view.maps;
    const std::vector<int> &refs = bwd ? maps.bw_ref_map : IsB(img) ? maps.fw_ref_map : maps.ref_map;
    const int x = 4 * img.mb_x + img.subblock_x, y = view.row + img.subblock_y;
    const bool insideAbove = img.subblock_y > 0, insideLeft = img.subblock_x > 0;
    const int a = (insideAbove || mb.Up()) && y > 0
                      ? RefCondition(img, mb.Up(), insideAbove, refs[maps.At(x, y - 1)], bwd)
                      : 0;
    const int b = (insideLeft || mb.Left()) && x > 0
                      ? RefCondition(img, mb.Left(), insideLeft, refs[maps.At(x - 1, y)], bwd)
                      : 0;
    CabacEncContext *ctx = Motion(img).ref[0];
    item->k = 2 * a + b;
    if (item->value == 0) {
        cabac_enc_symbol(env, 0, &ctx[2 * a + b]);
        return;
    }
    cabac_enc_symbol(env, 1, &ctx[2 * a + b]);
    cabac_write_unary(env, item->value - 1, ctx + 4, 1);
}

// |difference| of list l, component k of the block above or to the left, 0 when it is missing. In
// macroblock-adaptive frames a field neighbour's vertical difference is on half the scale of a frame
// macroblock's.
int NeighbourMvd(const EncoderImage &img, const MacroblockRecord &mb, bool above, int list, int comp)
{
    const int sx = img.subblock_x, sy = img.subblock_y;
    const MacroblockRecord *n = nullptr;
    int v = 0;
    if (above) {
        if (sy > 0)
            return std::abs(mb.mv_diff[list][sy - 1][sx][comp]);
        n = mb.Up();
        if (!n)
            return 0;
        v = std::abs(n->mv_diff[list][3][sx][comp]);
    } else {
        if (sx > 0)
            return std::abs(mb.mv_diff[list][sy][sx - 1][comp]);
        n = mb.Left();
        if (!n)
            return 0;
        v = std::abs(n->mv_diff[list][sy][3][comp]);
    }
    if (comp == 1 && img.mbaff && !img.field_picture) {
        if (n->field_pair_flag && !mb.field_pair_flag)
            v *= 2;
        else if (!n->field_pair_flag && mb.field_pair_flag)
            v /= 2;
    }
    return v;
}

void WriteMvd(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env, int list, int comp)
{
    const MacroblockRecord &mb = img.CurrentMb();
    const int sum = NeighbourMvd(img, mb, true, list, comp) + NeighbourMvd(img, mb, false, list, comp);
    const int inc = sum < 3 ? 0 : sum <= 32 ? 2 : 3;
    MotionContextSet &mc = Motion(img);
    item->k = 5 * comp + inc;
    const int v = item->value;
    if (v == 0) {
        cabac_enc_symbol(env, 0, &mc.mvd[0][5 * comp + inc]);
        return;
    }
    cabac_enc_symbol(env, 1, &mc.mvd[0][5 * comp + inc]);
    cabac_enc_bypass(env, v < 0 ? 1 : 0);
    cabac_write_mvd_suffix(env, std::abs(v) - 1, &mc.mvd[1][5 * comp]);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Binarisations

void cabac_write_unary(CabacEncEnv *env, int n, CabacEncContext *ctx, int offset)
{
    if (n == 0) {
        cabac_enc_symbol(env, 0, ctx);
        return;
    }
    cabac_enc_symbol(env, 1, ctx);
    for (int k = 1; k < n; ++k)
        cabac_enc_symbol(env, 1, ctx + offset);
    cabac_enc_symbol(env, 0, ctx + offset);
}

void cabac_write_unary_max(CabacEncEnv *env, int n, CabacEncContext *ctx, int offset, int max)
{
    if (n == 0) {
        cabac_enc_symbol(env, 0, ctx);
        return;
    }
    cabac_enc_symbol(env, 1, ctx);
    for (int k = 1; k < n; ++k)
        cabac_enc_symbol(env, 1, ctx + offset);
    if (n < max)
        cabac_enc_symbol(env, 0, ctx + offset);
}

void cabac_write_exp_golomb(CabacEncEnv *env, int n, int k)
{
    while (n >= (1 << k)) {
        cabac_enc_bypass(env, 1);
        n -= 1 << k;
        ++k;
    }
    cabac_enc_bypass(env, 0);
    while (k--)
        cabac_enc_bypass(env, (n >> k) & 1);
}

void cabac_write_level_suffix(CabacEncEnv *env, int n, CabacEncContext *ctx)
{
    if (n == 0) {
        cabac_enc_symbol(env, 0, ctx);
        return;
    }
    const int ones = n < 13 ? n : 13;
    for (int k = 0; k < ones; ++k)
        cabac_enc_symbol(env, 1, ctx);
    if (n < 13)
        cabac_enc_symbol(env, 0, ctx);
    else
        cabac_write_exp_golomb(env, n - 13, 0);
}

void cabac_write_mvd_suffix(CabacEncEnv *env, int n, CabacEncContext *ctx)
{
    // The k-th bin of the unary part uses ctx[min(k, 3)].
    const int ones = n < 8 ? n : 8;
    for (int k = 0; k < ones; ++k)
        cabac_enc_symbol(env, 1, &ctx[k < 3 ? k : 3]);
    if (n < 8)
        cabac_enc_symbol(env, 0, &ctx[ones < 3 ? ones : 3]);
    else
        cabac_write_exp_golomb(env, n - 8, 3);
}

// ---------------------------------------------------------------------------------------------
// Element writers

int cabac_write_element(SyntaxItem *item, EncoderImage &img, SlicePartition *part)
{
    const int before = cabac_enc_bits_written(&part->cabac);
    item->write_fn(item, img, &part->cabac);
    item->len = cabac_enc_bits_written(&part->cabac) - before;
    if (item->category != SE_HEADER)
        part->bitstream.has_content = 1;
    return item->len;
}

void cabac_write_field_flag(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    const MacroblockRecord &mb = img.CurrentMb();
    const int a = mb.cabac_left && mb.cabac_left->field_pair_flag ? 1 : 0;
    const int b = mb.cabac_up && mb.cabac_up->field_pair_flag ? 1 : 0;
    item->k = a + b;
    cabac_enc_symbol(env, item->value != 0, &Motion(img).field[a + b]);
}

void cabac_write_skip_flag(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    const MacroblockRecord &mb = img.CurrentMb();
    const MacroblockRecord *up = mb.Up(), *left = mb.Left();
    MotionContextSet &mc = Motion(img);
    if (IsB(img)) {
        const int a = up && (up->mb_mode != 0 || up->coded_pattern != 0) ? 1 : 0;
        const int b = left && (left->mb_mode != 0 || left->coded_pattern != 0) ? 1 : 0;
        item->k = 7 + a + b;
        cabac_enc_symbol(env, item->value != 0 || item->second_value != 0, &mc.type[2][7 + a + b]);
    } else {
        const int a = up && up->mb_mode != 0 ? 1 : 0;
        const int b = left && left->mb_mode != 0 ? 1 : 0;
        item->k = a + b;
        cabac_enc_symbol(env, item->value != 0, &mc.type[1][a + b]);
    }
}

void writeMB_typeInfo2Buffer_CABAC(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    const MacroblockRecord &mb = img.CurrentMb();
    const MacroblockRecord *up = mb.Up(), *left = mb.Left();
    MotionContextSet &mc = Motion(img);
    const int value = item->value;
    CabacEncContext *p = mc.type[1];
    if (img.type == kTypeI) {
        CabacEncContext *c = mc.type[0];
        const int a = up && up->mb_mode != kModeI4 ? 1 : 0;
        const int b = left && left->mb_mode != kModeI4 ? 1 : 0;
        item->k = a + b;
        if (value == 0) {
            cabac_enc_symbol(env, 0, &c[a + b]);
            return;
        }
        cabac_enc_symbol(env, 1, &c[a + b]);
        Intra16x16Suffix(env, value - 1, &c[4], &c[5], &c[6], &c[7], &c[8]);
        return;
    }
    if (IsB(img)) {
        CabacEncContext *c = mc.type[2];
        const int a = up && up->mb_mode != 0 ? 1 : 0;
        const int b = left && left->mb_mode != 0 ? 1 : 0;
        item->k = a + b;
        const int v = value >= 24 ? 24 : value;
        if (v == 0) {
            cabac_enc_symbol(env, 0, &c[a + b]);
            return;
        }
        cabac_enc_symbol(env, 1, &c[a + b]);
        // Bin 2 at entry 4, bin 3 at entry 5 when bin 2 is 1 (else 6), every later bin at 6.
        auto bits = [&](int bins, int n) {
            for (int k = n - 1; k >= 0; --k)
                cabac_enc_symbol(env, (bins >> k) & 1, &c[6]);
        };
        if (v <= 2) {
            cabac_enc_symbol(env, 0, &c[4]);
            cabac_enc_symbol(env, v - 1, &c[6]);
            return;
        }
        cabac_enc_symbol(env, 1, &c[4]);
        if (v <= 10) {
            cabac_enc_symbol(env, 0, &c[5]);
            bits(v - 3, 3);
            return;
        }
        cabac_enc_symbol(env, 1, &c[5]);
        if (v == 11) {
            bits(0b110, 3);
        } else if (v <= 21) {
            bits(v - 12, 4);
        } else if (v == 22) {
            bits(0b111, 3);
        } else if (v == 23) {
            bits(0b1010, 4);
        } else {
            bits(0b1011, 4);
            Intra16x16Suffix(env, value - 24, &p[8], &p[9], &p[9], &p[10], &p[10]);
        }
        return;
    }
    // P and SP pictures.
    if (value < 0) {
        zn::Log(zn::LogLevel::Error, "Unsupported MB-MODE in writeMB_typeInfo2Buffer_CABAC!\n");
        h264_fatal_error("Unsupported MB-MODE in writeMB_typeInfo2Buffer_CABAC!", 1);
    }
    // The P table: bins and their entries of row 1 for values 1 to 7 (7: intra 16x16, then its suffix).
    struct Bins
    {
        int count, bin[3], ctx[3];
    };
    static const Bins kP[8] = {{0, {}, {}},
                               {3, {0, 0, 0}, {4, 5, 6}},
                               {3, {0, 1, 1}, {4, 5, 7}},
                               {3, {0, 1, 0}, {4, 5, 7}},
                               {3, {0, 0, 1}, {4, 5, 6}},
                               {3, {0, 0, 1}, {4, 5, 6}},
                               {2, {1, 0}, {4, 7}},
                               {2, {1, 1}, {4, 7}}};
    const Bins &bins = kP[value >= 7 ? 7 : value];
    for (int k = 0; k < bins.count; ++k)
        cabac_enc_symbol(env, bins.bin[k], &p[bins.ctx[k]]);
    if (value >= 7)
        Intra16x16Suffix(env, value - 7, &p[8], &p[9], &p[9], &p[10], &p[10]);
}

void cabac_write_sub_type(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    MotionContextSet &mc = Motion(img);
    const int v = item->value;
    if (!IsB(img)) {
        CabacEncContext *c = mc.sub[0];
        switch (v) {
        case 0:
            cabac_enc_symbol(env, 1, &c[1]);
            break;
        case 1:
            cabac_enc_symbol(env, 0, &c[1]);
            cabac_enc_symbol(env, 0, &c[3]);
            break;
        case 2:
        case 3:
            cabac_enc_symbol(env, 0, &c[1]);
            cabac_enc_symbol(env, 1, &c[3]);
            cabac_enc_symbol(env, v == 2 ? 1 : 0, &c[4]);
            break;
        default:
            break;
        }
        return;
    }
    CabacEncContext *c = mc.sub[1];
    if (v < 0 || v > 12)
        return;
    if (v == 0) {
        cabac_enc_symbol(env, 0, &c[0]);
        return;
    }
    cabac_enc_symbol(env, 1, &c[0]);
    if (v <= 2) {
        cabac_enc_symbol(env, 0, &c[1]);
        cabac_enc_symbol(env, v - 1, &c[3]);
        return;
    }
    cabac_enc_symbol(env, 1, &c[1]);
    if (v <= 6) {
        cabac_enc_symbol(env, 0, &c[2]);
        cabac_enc_symbol(env, ((v - 3) >> 1) & 1, &c[3]);
        cabac_enc_symbol(env, (v - 3) & 1, &c[3]);
        return;
    }
    cabac_enc_symbol(env, 1, &c[2]);
    if (v <= 10) {
        cabac_enc_symbol(env, 0, &c[3]);
        cabac_enc_symbol(env, ((v - 7) >> 1) & 1, &c[3]);
        cabac_enc_symbol(env, (v - 7) & 1, &c[3]);
        return;
    }
    cabac_enc_symbol(env, 1, &c[3]);
    cabac_enc_symbol(env, v == 12 ? 1 : 0, &c[3]);
}

void cabac_write_intra_mode(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    TextureContextSet &tc = Texture(img);
    const int v = item->value;
    if (v == -1) {
        cabac_enc_symbol(env, 0, &tc.intra[0]);
        return;
    }
    cabac_enc_symbol(env, 1, &tc.intra[0]);
    cabac_enc_symbol(env, v & 1, &tc.intra[1]);
    cabac_enc_symbol(env, (v >> 1) & 1, &tc.intra[1]);
    cabac_enc_symbol(env, (v >> 2) & 1, &tc.intra[1]);
}

void cabac_write_chroma_mode(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    const MacroblockRecord &mb = img.CurrentMb();
    const MacroblockRecord *up = mb.Up(), *left = mb.Left();
    const int a = up && up->chroma_pred_mode != 0 ? 1 : 0;
    const int b = left && left->chroma_pred_mode != 0 ? 1 : 0;
    item->k = a + b;
    TextureContextSet &tc = Texture(img);
    // First bin at entry a + b, the rest at entry 3.
    cabac_write_unary_max(env, item->value, &tc.chroma[a + b], 3 - (a + b), 3);
}

void cabac_write_ref_fwd(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    WriteRef(item, img, env, false);
}

void cabac_write_ref_bwd(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    WriteRef(item, img, env, true);
}

void cabac_write_mvd(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    const int comp = item->second_value & 1;
    WriteMvd(item, img, env, 0, comp);
}

void cabac_write_mvd_bi(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    WriteMvd(item, img, env, item->second_value & 1, (item->second_value >> 1) & 1);
}

void cabac_write_dquant(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    const MacroblockRecord *left = img.CurrentMb().Left();
    // The quantiser change a neighbour sent: macroblocks without residual send none.
    const int a =
        left && left->qp_delta != 0 && (left->coded_pattern != 0 || left->mb_mode == kModeI16) ? 1 : 0;
    item->k = a;
    const int v = item->value;
    const int mapped = v > 0 ? 2 * v - 1 : -2 * v;
    MotionContextSet &mc = Motion(img);
    if (mapped == 0) {
        cabac_enc_symbol(env, 0, &mc.dquant[a]);
        return;
    }
    cabac_enc_symbol(env, 1, &mc.dquant[a]);
    cabac_write_unary(env, mapped - 1, &mc.dquant[2], 1);
}

void cabac_write_cbp(SyntaxItem *item, EncoderImage &img, CabacEncEnv *env)
{
    const MacroblockRecord &mb = img.CurrentMb();
    const MacroblockRecord *up = mb.Up(), *left = mb.Left();
    TextureContextSet &tc = Texture(img);
    const int cbp = item->value;
    for (int i = 0; i < 4; ++i) {
        const int ix = i % 2, iy = i / 2;
        // A neighbouring 8x8 block without coefficients makes this one less likely to have them.
        int a = 0, b = 0;
        if (iy > 0)
            a = ((cbp >> (i - 2)) & 1) == 0;
        else if (up)
            a = ((up->coded_pattern >> (i + 2)) & 1) == 0;
        if (ix > 0)
            b = ((cbp >> (i - 1)) & 1) == 0;
        else if (left)
            b = ((left->coded_pattern >> (i + 1)) & 1) == 0;
        cabac_enc_symbol(env, (cbp >> i) & 1, &tc.cbp[0][2 * a + b]);
    }
    const int a1 = up && up->coded_pattern > 15 ? 1 : 0, b1 = left && left->coded_pattern > 15 ? 1 : 0;
    cabac_enc_symbol(env, cbp > 15, &tc.cbp[1][2 * a1 + b1]);
    if (cbp > 15) {
        const int a2 = up && (up->coded_pattern >> 4) == 2 ? 1 : 0;
        const int b2 = left && (left->coded_pattern >> 4) == 2 ? 1 : 0;
        cabac_enc_symbol(env, (cbp >> 4) == 2, &tc.cbp[2][2 * a2 + b2]);
    }
}

} // namespace h264enc
