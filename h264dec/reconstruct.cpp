// Macroblock reconstruction. Each 4x4 block first works out where its prediction comes from (list
// entries, weight-table indices and vectors of up to two directions); luma and chroma then share that.
#include "h264dec/reconstruct.h"

#include "h264dec/chroma_interp.h"
#include "h264dec/decoder_analysis.h"
#include "h264dec/intra_pred.h"
#include "h264dec/inverse_transform.h"
#include "h264dec/luma_interp.h"
#include "h264dec/macroblock.h"
#include "h264dec/picture_decode.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Where one 4x4 block's prediction comes from.
struct BlockSource
{
    int use[2] = {0, 0};   // forward, backward
    int entry[2] = {0, 0}; // list entry of mref / mcef
    int widx[2] = {0, 0};  // index into the weight tables
    int mv[2][2] = {};     // [direction][component]
};

struct MbContext
{
    MbContext(H264DecoderState &d, DecoderMacroblock &m) : dec(d), img(d.img), mb(m) {}
    H264DecoderState &dec;
    DecoderImage &img;
    DecoderMacroblock &mb;
    int fwdOffset = 0, bwdOffset = 0;
    BlockSource src[4][4]; // [column][row]
    // Spatial direct: per macroblock, computed on first use.
    bool spatialDone = false;
    int spatialRef[2] = {15, 15};
    int spatialMv[2][2] = {};
};

int BackwardWeightIndex(const DecoderImage &img, int s)
{
    return img.non_reference ? s : 1 - s;
}

// The list entry must exist and hold a picture; anything else is a damaged stream.
void CheckEntry(const MbContext &c, int entry)
{
    const LumaRefList *l = c.dec.mref;
    const ChromaRefList *lc = c.dec.mcef;
    const bool ok = l && entry >= 0 && entry < static_cast<int>(l->size()) &&
                    (*l)[static_cast<size_t>(entry)] && (*l)[static_cast<size_t>(entry)]->HasRows() && lc &&
                    entry < static_cast<int>(lc->size()) && (*lc)[static_cast<size_t>(entry)] &&
                    (*lc)[static_cast<size_t>(entry)]->HasFrames();
    if (!ok)
        h264dec_macroblock_error(c.dec,
                                 "reference list entry " + std::to_string(entry) + " is missing or empty");
}

void CheckWeightIndex(const MbContext &c, int idx)
{
    if (c.img.apply_weights && (idx < 0 || idx >= kMaxRefIdx))
        h264dec_macroblock_error(c.dec, "weight table index " + std::to_string(idx) + " is out of range");
}

bool SameSlice(const MbContext &c, int addr)
{
    const auto &mbs = *c.img.mb_data;
    return addr >= 0 && addr < static_cast<int>(mbs.size()) &&
           mbs[static_cast<size_t>(addr)].slice_number == c.mb.slice_number;
}

void SpatialDirectMb(MbContext &c)
{
    if (c.spatialDone)
        return;
    c.spatialDone = true;
    DecoderImage &img = c.img;
    const int wMbs = img.width / 16, addr = img.mb_index;
    const bool mbaff = img.MbaffFrameFlag != 0;
    const bool left = img.mb_x != 0 && SameSlice(c, addr - 1);
    const bool up = img.mb_y != 0 && (mbaff || SameSlice(c, addr - wMbs));
    const bool upLeft = img.mb_x != 0 && img.mb_y != 0 && (mbaff || SameSlice(c, addr - wMbs - 1));
    bool upRight = img.mb_x != wMbs - 1 && img.mb_y != 0 && (mbaff || SameSlice(c, addr - wMbs + 1));
    if (mbaff && img.current_mb_nr % 2 != 0)
        upRight = false;
    const int bx = img.block_x, by = img.block_y;
    for (int list = 0; list < 2; ++list) {
        Array2D<int> &refs = list == 0 ? *img.fwd_ref : *img.bwd_ref;
        const int a = left ? refs[by][bx - 1] : -1;
        const int b = up ? refs[by - 1][bx] : -1;
        const int cc = upRight ? refs[by - 1][bx + 4] : upLeft ? refs[by - 1][bx - 1] : -1;
        int r = 0;
        if (list == 1 && img.num_ref_idx_active_bwd >= 2 && (a == 1 || b == 1 || cc == 1))
            r = 1;
        else if (a == 0 || b == 0 || cc == 0)
            r = 0;
        else
            r = std::min({(a + 16) % 16, (b + 16) % 16, (cc + 16) % 16});
        c.spatialRef[list] = r;
        if (r != 15) {
            Array3D<int> &mvs = list == 0 ? *img.fwd_mv : *img.bwd_mv;
            h264dec_predict_vector(c.dec, &c.spatialMv[list][0], &c.spatialMv[list][1], r, refs, mvs, 0, 0,
                                   16, 16);
        }
    }
}

// Direct prediction of block (i, j): fills its source and the B arrays.
void DirectBlock(MbContext &c, int i, int j, BlockSource &s)
{
    DecoderImage &img = c.img;
    const int bx = img.block_x + i, by = img.block_y + j;
    int ref[2] = {-1, -1};
    int mv[2][2] = {};
    const bool top = img.structure == kTopField, bottom = img.structure == kBottomField;
    if (img.direct_spatial_mv_pred_flag) {
        SpatialDirectMb(c);
        const bool moving = (*img.moving_block)[by][bx] != 0;
        const int stillBwd = img.num_ref_idx_active_bwd > 1 ? 1 : 0;
        if (c.spatialRef[0] == 15 && c.spatialRef[1] == 15) {
            ref[0] = 0;
            ref[1] = stillBwd;
        } else {
            for (int list = 0; list < 2; ++list) {
                const int r = c.spatialRef[list];
                if (r == 15)
                    continue;
                if (r > 0 || moving) {
                    ref[list] = r;
                    mv[list][0] = c.spatialMv[list][0];
                    mv[list][1] = c.spatialMv[list][1];
                } else {
                    ref[list] = list == 0 ? 0 : stillBwd;
                }
            }
        }
        for (int list = 0; list < 2; ++list) {
            s.use[list] = ref[list] != -1;
            if (!s.use[list])
                continue;
            s.entry[list] = ref[list] + (list == 0 ? c.fwdOffset : c.bwdOffset);
            s.widx[list] = list == 0 ? ref[list] : BackwardWeightIndex(img, ref[list]);
            s.mv[list][0] = mv[list][0];
            s.mv[list][1] = mv[list][1];
        }
    } else {
        const int co = (*img.ref_idx_arr)[by][bx];
        const int vx = (*img.mv)[bx + 4][by][0], vy = (*img.mv)[bx + 4][by][1];
        s.use[0] = s.use[1] = true;
        if (co == -1) {
            s.entry[0] = top ? 2 : 1;
            s.widx[0] = top ? 1 : 0;
            s.entry[1] = top ? 1 : 0;
            s.widx[1] = BackwardWeightIndex(img, 0);
        } else {
            const int dist = img.ref_poc - img.ref_poc_prev;
            int td = (co + 1) * dist;
            if (top)
                td = (co / 2 + 1) * dist - ((co + 1) % 2);
            else if (bottom)
                td = ((co + 1) / 2) * dist - (co % 2) + 1;
            const int b = bottom ? 1 : 0;
            const int t = img.structure == kFrame ? 2 * img.frame_poc_half : img.field_poc;
            // A zero distance would divide by zero: such a block takes the co-located vector as is.
            const int scale = td == 0 ? 256 : ((td - (img.ref_poc + b) + t) * 256) / td;
            mv[0][0] = (scale * vx + 128) >> 8;
            mv[0][1] = (scale * vy + 128) >> 8;
            mv[1][0] = ((scale - 256) * vx + 128) >> 8;
            mv[1][1] = ((scale - 256) * vy + 128) >> 8;
            ref[0] = co;
            ref[1] = 0;
            s.entry[0] = top ? co + 2 : std::max(co, 0) + 1;
            s.widx[0] = co;
            s.entry[1] = c.bwdOffset;
            s.widx[1] = BackwardWeightIndex(img, 0);
            for (int list = 0; list < 2; ++list) {
                s.mv[list][0] = mv[list][0];
                s.mv[list][1] = mv[list][1];
            }
        }
    }
    (*img.fwd_ref)[by][bx] = ref[0];
    (*img.bwd_ref)[by][bx] = ref[1];
    for (int k = 0; k < 2; ++k) {
        (*img.fwd_mv)[bx + 4][by][k] = (*img.direct_fwd_mv)[bx + 4][by][k] = mv[0][k];
        (*img.bwd_mv)[bx + 4][by][k] = (*img.direct_bwd_mv)[bx + 4][by][k] = mv[1][k];
    }
}

// The source of inter block (i, j) with sub-mode m and direction d.
void InterSource(MbContext &c, int i, int j, int m, int d, BlockSource &s)
{
    DecoderImage &img = c.img;
    const int bx = img.block_x + i, by = img.block_y + j;
    if (!IsBPicture(img.type)) {
        const int r = (*img.ref_idx_arr)[by][bx];
        s.use[0] = true;
        s.entry[0] = r;
        s.widx[0] = r;
        s.mv[0][0] = (*img.mv)[bx + 4][by][0];
        s.mv[0][1] = (*img.mv)[bx + 4][by][1];
        return;
    }
    if (d == 2 && m == 0) {
        DirectBlock(c, i, j, s);
        return;
    }
    for (int list = 0; list < 2; ++list) {
        if (!(d == 2 || d == list))
            continue;
        const int r = list == 0 ? (*img.fwd_ref)[by][bx] : (*img.bwd_ref)[by][bx];
        Array3D<int> &mvs = list == 0 ? *img.fwd_mv : *img.bwd_mv;
        s.use[list] = true;
        s.entry[list] = r + (list == 0 ? c.fwdOffset : c.bwdOffset);
        s.widx[list] = list == 0 ? r : BackwardWeightIndex(img, r);
        s.mv[list][0] = mvs[bx + 4][by][0];
        s.mv[list][1] = mvs[bx + 4][by][1];
    }
}

// One or two predictions combined, with or without weights, for component comp (0 luma).
int Combine(const MbContext &c, const BlockSource &s, const int p[2], int comp)
{
    const DecoderImage &img = c.img;
    const int denom = comp == 0 ? img.luma_log_weight_denom : img.chroma_log_weight_denom;
    const int round = comp == 0 ? img.wp_round_luma : img.wp_round_chroma;
    if (s.use[0] && s.use[1]) {
        if (!img.apply_weights)
            return (p[0] + p[1] + 1) / 2;
        const int w0 = img.wbp_weight[0][s.widx[0]][s.widx[1]][comp];
        const int w1 = img.wbp_weight[1][s.widx[0]][s.widx[1]][comp];
        const int o = (img.wp_offset[0][s.widx[0]][comp] + img.wp_offset[1][s.widx[1]][comp] + 1) >> 1;
        // With a denominator of 0 the pair still rounds by 1, where twice the one-direction term is 0.
        const int twoRound = denom > 0 ? 2 * round : 1;
        return Clip255(((p[0] * w0 + p[1] * w1 + twoRound) >> (denom + 1)) + o);
    }
    const int list = s.use[0] ? 0 : 1;
    if (!img.apply_weights)
        return p[list];
    return Clip255(((img.wp_weight[list][s.widx[list]][comp] * p[list] + round) >> denom) +
                   img.wp_offset[list][s.widx[list]][comp]);
}

void CheckSource(const MbContext &c, const BlockSource &s)
{
    for (int list = 0; list < 2; ++list)
        if (s.use[list]) {
            CheckEntry(c, s.entry[list]);
            CheckWeightIndex(c, s.widx[list]);
        }
}

void PredictLumaBlock(MbContext &c, int i, int j, const BlockSource &s)
{
    DecoderImage &img = c.img;
    const int px = 4 * (img.block_x + i), py = 4 * (img.block_y + j);
    int blk[2][4][4] = {};
    for (int list = 0; list < 2; ++list)
        if (s.use[list])
            h264dec_get_luma_block(c.dec, s.entry[list], 4 * px + s.mv[list][0], 4 * py + s.mv[list][1],
                                   blk[list]);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            const int p[2] = {blk[0][x][y], blk[1][x][y]};
            img.pred_block[4 * i + x][4 * j + y] = Combine(c, s, p, 0);
        }
}

// 8x8 inter chroma prediction of component uv into pred_block[0..7][0..7].
void PredictChromaInter(MbContext &c, int uv)
{
    DecoderImage &img = c.img;
    // A field macroblock of an MBAFF frame reads a field: half the frame's chroma rows.
    const int heightCr = img.mbaff_field_view ? img.height_cr / 2 : img.height_cr;
    for (int cx = 0; cx < 8; ++cx)
        for (int cy = 0; cy < 8; ++cy) {
            const BlockSource &s = c.src[cx / 2][cy / 2];
            int p[2] = {0, 0};
            for (int list = 0; list < 2; ++list) {
                if (!s.use[list])
                    continue;
                const Array2D<uint8_t> &plane = (*(*c.dec.mcef)[static_cast<size_t>(s.entry[list])])[uv];
                const int X = s.mv[list][0] + 8 * (img.pix_c_x + cx),
                          Y = s.mv[list][1] + 8 * (img.pix_c_y + cy);
                p[list] = h264dec_chroma_sample(plane, std::min(img.width_cr, plane.Cols()),
                                                std::min(heightCr, plane.Rows()), X, Y);
            }
            img.pred_block[cx][cy] = Combine(c, s, p, uv + 1);
        }
}

// The fields of a direction a block does not use stay 0, so equal sources are equal records.
bool SameSource(const BlockSource &a, const BlockSource &b)
{
    static_assert(sizeof(BlockSource) == 10 * sizeof(int), "BlockSource holds ints only");
    // Five 64-bit words compared at once: this runs a few dozen times per macroblock.
    uint64_t x[5], y[5];
    std::memcpy(x, &a, sizeof x);
    std::memcpy(y, &b, sizeof y);
    return ((x[0] ^ y[0]) | (x[1] ^ y[1]) | (x[2] ^ y[2]) | (x[3] ^ y[3]) | (x[4] ^ y[4])) == 0;
}

// Combine of whole blocks: p[list] are w x h predictions with row stride 16, into dst (stride 16).
void CombineBlock(const MbContext &c, const BlockSource &s, const uint8_t *const p[2], int comp, int w, int h,
                  uint8_t *dst)
{
    const DecoderImage &img = c.img;
    constexpr int kS = 16;
    if (!img.apply_weights) {
        if (s.use[0] && s.use[1]) {
            h264dec_average_pred_fast(p[0], p[1], dst, kS, w, h);
        } else {
            const uint8_t *q = p[s.use[0] ? 0 : 1];
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    dst[y * kS + x] = q[y * kS + x];
        }
        return;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v[2] = {p[0] ? p[0][y * kS + x] : 0, p[1] ? p[1][y * kS + x] : 0};
            dst[y * kS + x] = static_cast<uint8_t>(Combine(c, s, v, comp));
        }
}

// Luma and chroma prediction of the region of w x h luma samples at block (i, j), whose blocks all
// share source s, into the macroblock's prediction buffers.
void PredictInterRegion(MbContext &c, const BlockSource &s, int i, int j, int w, int h, uint8_t luma[16][16],
                        uint8_t chroma[2][8][16], bool withChroma)
{
    DecoderImage &img = c.img;
    // One direction without weights is the prediction itself: it goes straight into place.
    const bool direct = !img.apply_weights && s.use[0] != s.use[1];
    uint8_t tmp[2][16 * 16];
    const uint8_t *p[2] = {nullptr, nullptr};
    const int px = 4 * (img.block_x + i), py = 4 * (img.block_y + j);
    for (int list = 0; list < 2; ++list)
        if (s.use[list]) {
            uint8_t *out = direct ? &luma[4 * j][4 * i] : tmp[list];
            h264dec_luma_pred_fast(h264dec_luma_view(c.dec, s.entry[list]), 4 * px + s.mv[list][0],
                                   4 * py + s.mv[list][1], w, h, out, 16);
            p[list] = tmp[list];
        }
    if (!direct)
        CombineBlock(c, s, p, 0, w, h, &luma[4 * j][4 * i]);
    if (!withChroma)
        return;
    const int heightCr = img.mbaff_field_view ? img.height_cr / 2 : img.height_cr;
    const int cx = 2 * i, cy = 2 * j;
    for (int uv = 0; uv < 2; ++uv) {
        for (int list = 0; list < 2; ++list)
            if (s.use[list]) {
                const Array2D<uint8_t> &plane = (*(*c.dec.mcef)[static_cast<size_t>(s.entry[list])])[uv];
                h264dec_chroma_pred_fast(
                    plane, std::min(img.width_cr, plane.Cols()), std::min(heightCr, plane.Rows()),
                    s.mv[list][0] + 8 * (img.pix_c_x + cx), s.mv[list][1] + 8 * (img.pix_c_y + cy), w / 2,
                    h / 2, direct ? &chroma[uv][cy][cx] : tmp[list], 16);
            }
        if (!direct)
            CombineBlock(c, s, p, uv + 1, w / 2, h / 2, &chroma[uv][cy][cx]);
    }
}

void PredictChromaIntra(MbContext &c, int uv)
{
    DecoderImage &img = c.img;
    const int wMbs = img.width / 16, addr = img.mb_index;
    bool up = img.mb_y != 0, left = img.mb_x != 0;
    if (!img.MbaffFrameFlag) {
        up = up && SameSlice(c, addr - wMbs);
        left = left && SameSlice(c, addr - 1);
    }
    if (img.constrained_intra_pred_flag && img.intra_block) {
        const auto &ib = *img.intra_block;
        if (up)
            up = ib[static_cast<size_t>(addr - wMbs)][2] && ib[static_cast<size_t>(addr - wMbs)][3];
        if (left)
            left = ib[static_cast<size_t>(addr - 1)][1] && ib[static_cast<size_t>(addr - 1)][3];
    }
    const Array2D<uint8_t> &plane = (*c.dec.cur_pic_uv)[uv];
    int above[9] = {}, side[9] = {};
    const int x0 = img.pix_c_x, y0 = img.pix_c_y;
    if (up)
        for (int k = -1; k < 8; ++k)
            above[k + 1] = plane[y0 - 1][std::max(0, x0 + k)];
    if (left)
        for (int k = -1; k < 8; ++k)
            side[k + 1] = plane[std::max(0, y0 + k)][x0 - 1];
    if (up && left)
        above[0] = side[0] = plane[y0 - 1][x0 - 1];
    int pred[8][8];
    const int mode = c.mb.chroma_pred_mode;
    const int r = h264dec_chroma_intra_kernel(mode, above + 1, side + 1, up, left, pred);
    if (r == 1) {
        static const char *const kNames[4] = {"VERT_PRED_8", "HOR_PRED_8", "DC_PRED_8", "PLANE_8"};
        h264_fatal_error(std::string("unexpected ") + kNames[mode] + " chroma intra prediction mode", -1);
    }
    if (r == 2)
        h264_fatal_error("illegal chroma intra prediction mode", 600);
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y)
            img.pred_block[x][y] = pred[x][y];
}

void StoreChromaBlock(MbContext &c, int uv, int bx, int by)
{
    DecoderImage &img = c.img;
    Array2D<uint8_t> &plane = (*c.dec.cur_pic_uv)[uv];
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            plane[img.pix_c_y + 4 * by + y][img.pix_c_x + 4 * bx + x] =
                static_cast<uint8_t>(img.resid_block[x][y]);
}

} // namespace

void h264dec_b_list_offsets(const DecoderImage &img, int &fwd_offset, int &bwd_offset)
{
    fwd_offset = bwd_offset = 0;
    if (!IsBPicture(img.type))
        return;
    const int current = img.structure == kFrame ? 2 * img.frame_poc_half : img.field_poc;
    if (img.ref_poc > current)
        fwd_offset = img.structure == kFrame ? 1 : 2;
    if (img.structure == kTopField && img.non_reference)
        bwd_offset = 1;
}

int h264dec_chroma_sample(const Array2D<uint8_t> &plane, int width, int height, int X, int Y)
{
    const int fx = X & 7, fy = Y & 7;
    // Shifts where the positions are divided: left of or above the plane both clamp to 0.
    const int x0 = std::clamp(X >> 3, 0, width - 1), x1 = std::clamp((X + 7) >> 3, 0, width - 1);
    const int y0 = std::clamp(Y >> 3, 0, height - 1), y1 = std::clamp((Y + 7) >> 3, 0, height - 1);
    return ((8 - fx) * (8 - fy) * plane[y0][x0] + fx * (8 - fy) * plane[y0][x1] +
            (8 - fx) * fy * plane[y1][x0] + fx * fy * plane[y1][x1] + 32) /
           64;
}

int h264dec_chroma_intra_kernel(int mode, const int *above, const int *left, bool have_above, bool have_left,
                                int pred[8][8])
{
    switch (mode) {
    case 0:
        if (!have_above)
            return 1;
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y)
                pred[x][y] = above[x];
        return 0;
    case 1:
        if (!have_left)
            return 1;
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y)
                pred[x][y] = left[y];
        return 0;
    case 2: {
        int s[4] = {};
        for (int k = 0; k < 4; ++k) {
            s[0] += above[k];
            s[1] += above[4 + k];
            s[2] += left[k];
            s[3] += left[4 + k];
        }
        const bool a = have_above, l = have_left;
        int dc[2][2]; // [block column][block row]
        dc[0][0] = a && l ? (s[0] + s[2] + 4) / 8 : a ? (s[0] + 2) / 4 : l ? (s[2] + 2) / 4 : 128;
        dc[1][0] = a ? (s[1] + 2) / 4 : l ? (s[2] + 2) / 4 : 128;
        dc[0][1] = l ? (s[3] + 2) / 4 : a ? (s[0] + 2) / 4 : 128;
        dc[1][1] = a && l ? (s[1] + s[3] + 4) / 8 : a ? (s[1] + 2) / 4 : l ? (s[3] + 2) / 4 : 128;
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y)
                pred[x][y] = dc[x / 4][y / 4];
        return 0;
    }
    case 3: {
        if (!have_above || !have_left)
            return 1;
        int ih = 0, iv = 0;
        for (int k = 1; k <= 4; ++k) {
            ih += k * (above[3 + k] - above[3 - k]);
            iv += k * (left[3 + k] - left[3 - k]);
        }
        const int b = (17 * ih + 16) >> 5, c = (17 * iv + 16) >> 5, a = 16 * (left[7] + above[7]);
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y)
                pred[x][y] = Clip255((a + b * (x - 3) + c * (y - 3) + 16) / 32);
        return 0;
    }
    default:
        return 2;
    }
}

namespace {

// Blocks in decoding order: the four blocks of each 8x8 quadrant in turn.
constexpr int kScan[16][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 0}, {3, 0}, {2, 1}, {3, 1},
                              {0, 2}, {1, 2}, {0, 3}, {1, 3}, {2, 2}, {3, 2}, {2, 3}, {3, 3}};

void DrawVectors(MbContext &c, const BlockSource &s, int px, int py, int m, bool bi)
{
    for (int list = 0; list < 2; ++list)
        if (s.use[list]) {
            // Bi-predicted blocks mark their forward vector in U, everything else in V.
            const bool u = bi && list == 0;
            h264dec_draw_vector(c.dec, px, py, m, s.mv[list][0], s.mv[list][1], u ? 1 : 0, u ? 0 : 1);
        }
}

// The residual of n x n blocks, coefficient blocks coef[i0 + i][j0 + j], added to the prediction
// (row stride 16) into the picture. Blocks without coefficients, most of an inter picture, are copied,
// all n x n at once when none has any.
void AddResidual(const int (&coef)[4][6][4][4], int i0, int j0, int n, const uint8_t *pred, uint8_t *dst,
                 ptrdiff_t ds)
{
    int any = 0;
    for (int i = 0; i < n; ++i) {
        const int *c = &coef[i0 + i][j0][0][0]; // the n blocks of column i0 + i lie one after the other
        for (int k = 0; k < 16 * n; ++k)
            any |= c[k];
    }
    if (any == 0) {
        for (int y = 0; y < 4 * n; ++y)
            std::memcpy(dst + y * ds, pred + y * 16, static_cast<size_t>(4 * n));
        return;
    }
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int *c = &coef[i0 + i][j0 + j][0][0];
            int block = 0;
            for (int k = 0; k < 16; ++k)
                block |= c[k];
            const uint8_t *p = pred + 4 * j * 16 + 4 * i;
            uint8_t *d = dst + 4 * j * ds + 4 * i;
            if (block == 0) {
                for (int y = 0; y < 4; ++y)
                    std::memcpy(d + y * ds, p + y * 16, 4);
                continue;
            }
            h264dec_itrans4x4_add(coef[i0 + i][j0 + j], p, 16, d, static_cast<int>(ds));
        }
}

// An inter macroblock without intra or SP blocks and with the residual plane off: every block's
// source first (in the order the vectors are drawn), then the prediction of whole regions that share a
// source, then the residual added block by block straight into the picture.
void ReconstructInter(MbContext &c, bool hooks)
{
    H264DecoderState &dec = c.dec;
    DecoderImage &img = c.img;
    DecoderMacroblock &mb = c.mb;
    // draw_vector paints nothing unless the vector view is on: the calls are left out while it is off.
    const bool vectors = hooks && dec.analysis.paint && dec.analysis.vectors_drawn;
    const BlockSource *checked = nullptr; // a source already checked: the same one needs no new check
    for (const auto &ij : kScan) {
        const int i = ij[0], j = ij[1];
        const int q = (i >> 1) + 2 * (j >> 1);
        BlockSource &s = c.src[i][j];
        InterSource(c, i, j, mb.sub_mode[q], mb.sub_pred_dir[q], s);
        if (!checked || !SameSource(*checked, s)) {
            CheckSource(c, s);
            checked = &s;
        }
        if (vectors)
            DrawVectors(c, s, 4 * (img.block_x + i), 4 * (img.block_y + j), mb.sub_mode[q],
                        IsBPicture(img.type) && mb.sub_pred_dir[q] == 2);
    }
    const bool withChroma = dec.cur_pic_uv && dec.cur_pic_uv->HasFrames();
    uint8_t luma[16][16];
    uint8_t chroma[2][8][16];
    auto quadSame = [&](int i, int j) {
        const BlockSource &s = c.src[i][j];
        return SameSource(s, c.src[i + 1][j]) && SameSource(s, c.src[i][j + 1]) &&
               SameSource(s, c.src[i + 1][j + 1]);
    };
    if (quadSame(0, 0) && SameSource(c.src[0][0], c.src[2][0]) && SameSource(c.src[0][0], c.src[0][2]) &&
        quadSame(2, 0) && quadSame(0, 2) && SameSource(c.src[0][0], c.src[2][2]) && quadSame(2, 2)) {
        PredictInterRegion(c, c.src[0][0], 0, 0, 16, 16, luma, chroma, withChroma);
    } else {
        for (int j = 0; j < 4; j += 2)
            for (int i = 0; i < 4; i += 2) {
                if (quadSame(i, j)) {
                    PredictInterRegion(c, c.src[i][j], i, j, 8, 8, luma, chroma, withChroma);
                    continue;
                }
                for (int k = 0; k < 4; ++k)
                    PredictInterRegion(c, c.src[i + k % 2][j + k / 2], i + k % 2, j + k / 2, 4, 4, luma,
                                       chroma, withChroma);
            }
    }
    Array2D<uint8_t> &pic = *dec.cur_pic_y;
    const ptrdiff_t ps = pic.Cols();
    AddResidual(img.coef, 0, 0, 4, &luma[0][0], pic[0] + 4 * img.block_y * ps + 4 * img.block_x, ps);

    if (hooks && img.MbaffFrameFlag && mb.mb_type == kMbSkipOrDirect &&
        (IsPPicture(img.type) || IsSPPicture(img.type)) && img.current_mb_nr % 2 == 0)
        h264dec_mbaff_skip_top_field(dec);
    if (!withChroma)
        return;
    for (int uv = 0; uv < 2; ++uv) {
        Array2D<uint8_t> &plane = (*dec.cur_pic_uv)[uv];
        const ptrdiff_t cs = plane.Cols();
        AddResidual(img.coef, 2 * uv, 4, 2, &chroma[uv][0][0], plane[0] + img.pix_c_y * cs + img.pix_c_x, cs);
    }
}

int Reconstruct(H264DecoderState &dec, bool hooks)
{
    DecoderImage &img = dec.img;
    MbContext c(dec, (*img.mb_data)[static_cast<size_t>(img.mb_index)]);
    DecoderMacroblock &mb = c.mb;
    DecoderAnalysis &a = dec.analysis;
    const bool paint = hooks && a.paint && a.vis_residual_y.HasData();
    if (hooks) {
        h264dec_count_macroblock(dec, mb);
        h264dec_store_mb_bits(dec);
    }
    h264dec_b_list_offsets(img, c.fwdOffset, c.bwdOffset);
    const bool intraMb = mb.mb_type == kMbIntra4x4 || mb.mb_type == kMbIntra16x16;
    const bool spTreatment =
        (IsSPPicture(img.type) && !intraMb) || (img.type == kPictureSI && mb.mb_type == kMbSI);

    bool anyIntra = intraMb;
    for (int q = 0; q < 4; ++q)
        anyIntra = anyIntra || mb.sub_mode[q] == kSubIntra;
    if (!anyIntra && !spTreatment && !paint) {
        ReconstructInter(c, hooks);
        return 0;
    }

    if (mb.mb_type == kMbIntra16x16)
        h264dec_intra_pred_16x16(dec, mb.i16_pred_mode);

    for (const auto &ij : kScan) {
        const int i = ij[0], j = ij[1];
        const int q = (i >> 1) + 2 * (j >> 1);
        const int m = mb.mb_type == kMbIntra4x4 ? kSubIntra : mb.sub_mode[q];
        const int d = mb.sub_pred_dir[q];
        const int bx = img.block_x + i, by = img.block_y + j;
        if (m == kSubIntra) {
            if (h264dec_intra_pred_4x4(dec, 4 * i, 4 * j, bx, by))
                return 1;
        } else if (mb.mb_type != kMbIntra16x16) {
            BlockSource &s = c.src[i][j];
            InterSource(c, i, j, m, d, s);
            CheckSource(c, s);
            if (hooks)
                DrawVectors(c, s, 4 * bx, 4 * by, m, IsBPicture(img.type) && d == 2);
            PredictLumaBlock(c, i, j, s);
        }
        if (spTreatment && m != kSubIntra)
            h264dec_itrans_sp(img, 4 * i, 4 * j, i, j);
        else
            h264dec_itrans_4x4(img, 4 * i, 4 * j, i, j);
        Array2D<uint8_t> &pic = *dec.cur_pic_y;
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                pic[4 * by + y][4 * bx + x] = static_cast<uint8_t>(img.resid_block[x][y]);
        if (paint && 4 * by + 3 < a.vis_residual_y.Rows() && 4 * bx + 3 < a.vis_residual_y.Cols())
            for (int x = 0; x < 4; ++x)
                for (int y = 0; y < 4; ++y)
                    a.vis_residual_y[4 * by + y][4 * bx + x] = static_cast<uint8_t>(img.work_block[x][y]);
    }

    if (hooks && img.MbaffFrameFlag && mb.mb_type == kMbSkipOrDirect &&
        (IsPPicture(img.type) || IsSPPicture(img.type)) && img.current_mb_nr % 2 == 0)
        h264dec_mbaff_skip_top_field(dec);

    if (!dec.cur_pic_uv || !dec.cur_pic_uv->HasFrames())
        return 0;
    for (int uv = 0; uv < 2; ++uv) {
        if (intraMb)
            PredictChromaIntra(c, uv);
        else
            PredictChromaInter(c, uv);
        if (spTreatment)
            h264dec_itrans_sp_chroma(img, 2 * uv);
        for (int by = 0; by < 2; ++by)
            for (int bx = 0; bx < 2; ++bx) {
                h264dec_itrans_4x4(img, 4 * bx, 4 * by, 2 * uv + bx, 4 + by);
                StoreChromaBlock(c, uv, bx, by);
            }
    }
    return 0;
}

} // namespace

int h264dec_reconstruct_macroblock(H264DecoderState &dec)
{
    return Reconstruct(dec, true);
}

int h264dec_reconstruct_mbaff_macroblock(H264DecoderState &dec)
{
    MbaffFieldView view(dec, true);
    return Reconstruct(dec, false);
}
