// Motion of inter macroblocks: reference indices and vector differences per partition, each vector
// coded as the difference to a prediction from the neighbours (median of left, above and above-right,
// or a single neighbour using the same reference), and the derived motion of B direct quadrants.
#include "h264dec/macroblock.h"

#include "h264dec/cabac_read.h"
#include "h264dec/erc.h"
#include "h264dec/picture_decode.h"
#include "platform/format.h"

#include <algorithm>
#include <cstdint>

namespace {

bool Available(const H264DecoderState &dec, int index)
{
    const auto &mbs = *dec.img.mb_data;
    return index >= 0 && index < static_cast<int>(mbs.size()) &&
           mbs[static_cast<size_t>(index)].slice_number == dec.img.current_slice_nr;
}

struct MbAvailability
{
    bool left, up, upLeft, upRight;
};

MbAvailability Neighbourhood(const H264DecoderState &dec)
{
    const DecoderImage &img = dec.img;
    const int m = img.mb_index, w = WidthMbs(img);
    MbAvailability a{};
    const int above = h264dec_above_index(img);
    a.left = img.mb_x > 0 && Available(dec, m - 1);
    a.up = img.mb_y > 0 && Available(dec, above);
    a.upLeft = img.mb_x > 0 && img.mb_y > 0 && Available(dec, above - 1);
    a.upRight = img.mb_y > 0 && img.mb_x < w - 1 && Available(dec, above + 1);
    if (img.MbaffFrameFlag && img.current_mb_nr % 2 == 1)
        a.upRight = false;
    return a;
}

// Walks the partitions of the macroblock in decoding order: (first block x, y, quadrant).
template <class F> void ForPartitions(const DecoderMacroblock &mb, F f)
{
    const int mode = mb.mb_type == kMb8x8 ? 4 : mb.mb_type;
    const int sx = kBlockStep[mode][0], sy = kBlockStep[mode][1];
    for (int j = 0; j < 4; j += sy)
        for (int i = 0; i < 4; i += sx)
            f(i, j, 2 * (j / 2) + i / 2, sx, sy);
}

int ReadRefIndex(H264DecoderState &dec, bool bwd, int i, int j, int subMode)
{
    DecoderImage &img = dec.img;
    const bool isB = IsBPicture(img.type);
    SyntaxSymbol sym;
    sym.context = b8mode_ref_context(subMode);
    img.subblock_x = i;
    img.subblock_y = j;
    h264dec_read_mb_element(dec, sym, isB ? SE_BFRAME : SE_REFFRAME,
                            bwd ? cabac_read_ref_bwd : cabac_read_ref_fwd, "ref_idx");
    int r = sym.value1;
    if (isB) {
        if (r > img.ref_buffer_cycle || r < 0) {
            h264dec_set_lost_flag(dec, SE_REFFRAME);
            r = 1;
        }
    } else {
        int limit = img.ref_buffer_cycle;
        // A field macroblock of an MBAFF frame will predict from the field list.
        const LumaRefList *list =
            img.MbaffFrameFlag && img.structure == kFrame && img.mb_field_flag ? &dec.dec_mref_fld : dec.mref;
        if (list && !list->empty()) {
            const int filled = static_cast<int>(
                std::count_if(list->begin(), list->end(), [](const auto *p) { return p != nullptr; }));
            limit = std::max(filled, 1);
        }
        if (r < 0 || r >= limit)
            h264dec_macroblock_error(dec, zn::Format("ref_idx %d beyond the %d references filled", r, limit));
    }
    if (bwd && img.num_ref_idx_active_bwd >= 2 && r <= 1)
        r = 1 - r;
    if (img.structure != kFrame)
        r ^= 1;
    return r;
}

void Fill(Array2D<int> &refs, int x0, int y0, int w, int h, int value)
{
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            refs[y][x] = value;
}

void FillMv(Array3D<int> &mv, int x0, int y0, int w, int h, int vx, int vy)
{
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            mv[x + 4][y][0] = vx;
            mv[x + 4][y][1] = vy;
        }
}

int ReadMvdComponent(H264DecoderState &dec, int list, int comp, int sx, int sy)
{
    DecoderImage &img = dec.img;
    const bool isB = IsBPicture(img.type);
    SyntaxSymbol sym;
    sym.value2 = isB ? 2 * comp + list : comp;
    sym.map_fn = h264dec_map_se;
    img.subblock_x = sx;
    img.subblock_y = sy;
    h264dec_read_mb_element(dec, sym, isB ? SE_BFRAME : SE_MVD, isB ? cabac_read_mvd_b : cabac_read_mvd,
                            "mvd");
    return sym.value1;
}

int CheckedVector(const H264DecoderState &dec, int64_t v)
{
    if (v < -kMaxVectorComponent || v > kMaxVectorComponent)
        h264dec_macroblock_error(dec, zn::Format("motion vector component %lld beyond +-%d quarter samples",
                                                 static_cast<long long>(v), kMaxVectorComponent));
    return static_cast<int>(v);
}

int CurrentCount(const DecoderImage &img)
{
    return img.structure == kFrame ? 2 * img.frame_poc_half : img.field_poc;
}

// Temporal direct: the co-located vector scaled by the distances of this picture and of the
// co-located block's reference to the backward reference.
void TemporalVectors(H264DecoderState &dec, int x, int y)
{
    DecoderImage &img = dec.img;
    const int t = (*img.ref_idx_arr)[y][x];
    if (t < 0) {
        for (int c = 0; c < 2; ++c)
            (*img.fwd_mv)[x + 4][y][c] = (*img.bwd_mv)[x + 4][y][c] = 0;
        (*img.fwd_ref)[y][x] = (*img.bwd_ref)[y][x] = -1;
        return;
    }
    const int64_t X = int64_t(img.ref_poc) - img.ref_poc_prev;
    int64_t trp, trb;
    const int64_t cur = CurrentCount(img);
    const bool fieldLists = img.structure != kFrame || (img.MbaffFrameFlag && img.mb_field_flag);
    if (!fieldLists) {
        trp = (t + 1) * X;
        trb = trp + cur - img.ref_poc;
    } else {
        // A field macroblock of an MBAFF frame counts field rows: its parity is that of the pair member.
        const bool bottom =
            img.structure == kBottomField || (img.structure == kFrame && img.current_mb_nr % 2 == 1);
        if (!bottom)
            trp = (t / 2 + 1) * X - ((t + 1) % 2);
        else
            trp = ((t + 1) / 2) * X - (t % 2) + 1;
        trb = trp + cur - img.ref_poc;
        if (img.structure == kBottomField)
            trb -= 1;
    }
    // A zero distance has no scale: the co-located vector forwards, none backwards.
    const int64_t f = trp == 0 ? 256 : (trb * 256) / trp;
    for (int c = 0; c < 2; ++c) {
        const int64_t v = (*img.mv)[x + 4][y][c];
        const int fwd = CheckedVector(dec, (f * v + 128) >> 8);
        const int bwd = CheckedVector(dec, ((f - 256) * v + 128) >> 8);
        (*img.fwd_mv)[x + 4][y][c] = (*img.direct_fwd_mv)[x + 4][y][c] = fwd;
        (*img.bwd_mv)[x + 4][y][c] = (*img.direct_bwd_mv)[x + 4][y][c] = bwd;
    }
    (*img.fwd_ref)[y][x] = t;
    (*img.bwd_ref)[y][x] = 0;
}

void SpatialDirect(H264DecoderState &dec, DecoderMacroblock &mb)
{
    DecoderImage &img = dec.img;
    const MbAvailability av = Neighbourhood(dec);
    const int x = img.block_x, y = img.block_y;
    auto refAt = [&](Array2D<int> &refs, bool ok, int yy, int xx) { return ok ? refs[yy][xx] : -1; };
    auto minRef = [](int a, int b, int c) {
        auto m = [](int v) { return v < 0 ? 15 : v; };
        return std::min({m(a), m(b), m(c)});
    };
    const bool twoBwd = img.num_ref_idx_active_bwd >= 2;
    auto three = [&](Array2D<int> &refs, int out[3]) {
        out[0] = refAt(refs, av.left, y, x - 1);
        out[1] = refAt(refs, av.up, y - 1, x);
        out[2] = av.upRight ? refs[y - 1][x + 4] : refAt(refs, av.upLeft, y - 1, x - 1);
    };
    int f3[3], b3[3];
    three(*img.fwd_ref, f3);
    three(*img.bwd_ref, b3);
    const int refF = minRef(f3[0], f3[1], f3[2]);
    int refB = minRef(b3[0], b3[1], b3[2]);
    if (twoBwd && (b3[0] == 1 || b3[1] == 1 || b3[2] == 1))
        refB = 1;
    const int nearest = twoBwd ? 1 : 0;
    int pfx = 0, pfy = 0, pbx = 0, pby = 0;
    if (refF != 15)
        h264dec_predict_vector(dec, &pfx, &pfy, refF, *img.fwd_ref, *img.fwd_mv, 0, 0, 16, 16);
    if (refB != 15)
        h264dec_predict_vector(dec, &pbx, &pby, refB, *img.bwd_ref, *img.bwd_mv, 0, 0, 16, 16);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            if (mb.sub_mode[2 * (j / 2) + i / 2] != 0)
                continue;
            const int bx = x + i, by = y + j;
            const bool moving = img.moving_block && (*img.moving_block)[by][bx] != 0;
            int fr, fx = 0, fy = 0, br, bxv = 0, byv = 0;
            if (refF == 15) {
                fr = -1;
            } else if (refF != 0 || moving) {
                fr = refF;
                fx = pfx;
                fy = pfy;
            } else {
                fr = 0;
            }
            if (refB == 15) {
                br = -1;
            } else if (refB != nearest || moving) {
                br = refB;
                bxv = pbx;
                byv = pby;
            } else {
                br = refB;
            }
            if (refF == 15 && refB == 15) {
                fr = 0;
                br = nearest;
            }
            (*img.fwd_ref)[by][bx] = fr;
            (*img.bwd_ref)[by][bx] = br;
            (*img.direct_fwd_mv)[bx + 4][by][0] = (*img.fwd_mv)[bx + 4][by][0] = fx;
            (*img.direct_fwd_mv)[bx + 4][by][1] = (*img.fwd_mv)[bx + 4][by][1] = fy;
            (*img.direct_bwd_mv)[bx + 4][by][0] = (*img.bwd_mv)[bx + 4][by][0] = bxv;
            (*img.direct_bwd_mv)[bx + 4][by][1] = (*img.bwd_mv)[bx + 4][by][1] = byv;
        }
}

} // namespace

void h264dec_predict_vector(H264DecoderState &dec, int *mvx, int *mvy, int r, Array2D<int> &refs,
                            Array3D<int> &mvs, int bx, int by, int w, int h)
{
    const DecoderImage &img = dec.img;
    const MbAvailability mbav = Neighbourhood(dec);
    const int x = img.block_x + bx, y = img.block_y + by;
    const int px = 4 * bx, py = 4 * by;
    const bool A = bx > 0 || mbav.left;
    const bool B = by > 0 || mbav.up;
    bool C;
    if (by > 0)
        C = (px >= 8 && px + w != 16) || (px < 8 && (py == 8 ? w != 16 : px + w != 8));
    else
        C = px + w != 16 ? mbav.up : mbav.upRight;
    bool D;
    if (bx == 0)
        D = by == 0 ? mbav.upLeft : mbav.left;
    else
        D = by > 0 ? true : mbav.up;

    const int refA = A ? refs[y][x - 1] : -1;
    const int refB = B ? refs[y - 1][x] : -1;
    int refC = -1, cx = 0, cy = 0;
    if (C) {
        refC = refs[y - 1][x + w / 4];
        cx = mvs[x + w / 4 + 4][y - 1][0];
        cy = mvs[x + w / 4 + 4][y - 1][1];
    } else if (D) {
        refC = refs[y - 1][x - 1];
        cx = mvs[x - 1 + 4][y - 1][0];
        cy = mvs[x - 1 + 4][y - 1][1];
    }
    const int ax = A ? mvs[x - 1 + 4][y][0] : 0, ay = A ? mvs[x - 1 + 4][y][1] : 0;
    const int bxv = B ? mvs[x + 4][y - 1][0] : 0, byv = B ? mvs[x + 4][y - 1][1] : 0;

    const int matches = (refA == r) + (refB == r) + (refC == r);
    int vx, vy;
    auto median = [](int a, int b, int c) { return a + b + c - std::min({a, b, c}) - std::max({a, b, c}); };
    if (matches == 1) {
        if (refA == r) {
            vx = ax;
            vy = ay;
        } else if (refB == r) {
            vx = bxv;
            vy = byv;
        } else {
            vx = cx;
            vy = cy;
        }
    } else if (w == 8 && h == 16 && bx == 0 && refA == r) {
        vx = ax;
        vy = ay;
    } else if (w == 8 && h == 16 && bx != 0 && refC == r) {
        vx = cx;
        vy = cy;
    } else if (w == 16 && h == 8 && by == 0 && refB == r) {
        vx = bxv;
        vy = byv;
    } else if (w == 16 && h == 8 && by != 0 && refA == r) {
        vx = ax;
        vy = ay;
    } else if (!B && !C && !D) {
        vx = ax;
        vy = ay;
    } else {
        vx = median(ax, bxv, cx);
        vy = median(ay, byv, cy);
    }
    *mvx = vx;
    *mvy = vy;
}

void h264dec_read_motion_info(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    DecoderMacroblock &mb = h264dec_current_mb(dec);
    const bool isB = IsBPicture(img.type);
    Array2D<int> &fwdRefs = isB ? *img.fwd_ref : *img.ref_idx_arr;
    Array3D<int> &fwdMv = isB ? *img.fwd_mv : *img.mv;
    const int x0 = img.block_x, y0 = img.block_y;
    const bool eight = mb.mb_type == kMb8x8;

    if (isB && eight) {
        if (img.direct_spatial_mv_pred_flag) {
            SpatialDirect(dec, mb);
        } else {
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i)
                    if (mb.sub_mode[2 * (j / 2) + i / 2] == 0) {
                        const int t = (*img.ref_idx_arr)[y0 + j][x0 + i];
                        (*img.fwd_ref)[y0 + j][x0 + i] = t < 0 ? -1 : t;
                        (*img.bwd_ref)[y0 + j][x0 + i] = t < 0 ? -1 : 0;
                    }
        }
    }

    auto usesFwd = [&](int q) {
        const int d = mb.sub_pred_dir[q];
        return (d == 0 || d == 2) && mb.sub_mode[q] != 0;
    };
    auto usesBwd = [&](int q) {
        const int d = mb.sub_pred_dir[q];
        return (d == 1 || d == 2) && mb.sub_mode[q] != 0;
    };

    if (img.num_ref_idx_active_fwd > 1) {
        ForPartitions(mb, [&](int i, int j, int q, int sx, int sy) {
            if (!usesFwd(q))
                return;
            const int r =
                !isB && eight && img.all_ref_zero ? 0 : ReadRefIndex(dec, false, i, j, mb.sub_mode[q]);
            Fill(fwdRefs, x0 + i, y0 + j, sx, sy, r);
        });
    }
    if (isB && img.num_ref_idx_active_bwd > 1) {
        ForPartitions(mb, [&](int i, int j, int q, int sx, int sy) {
            if (!usesBwd(q))
                return;
            Fill(*img.bwd_ref, x0 + i, y0 + j, sx, sy, ReadRefIndex(dec, true, i, j, mb.sub_mode[q]));
        });
    }

    // Vector differences, partition by partition, and inside a quadrant by its own block steps.
    auto readVectors = [&](int list) {
        Array2D<int> &refs = list == 0 ? fwdRefs : *img.bwd_ref;
        Array3D<int> &mvs = list == 0 ? fwdMv : *img.bwd_mv;
        ForPartitions(mb, [&](int i, int j, int q, int sx, int sy) {
            if (list == 0 && isB && eight && mb.sub_mode[q] == 0 && !img.direct_spatial_mv_pred_flag) {
                for (int jj = j; jj < j + sy; ++jj)
                    for (int ii = i; ii < i + sx; ++ii)
                        TemporalVectors(dec, x0 + ii, y0 + jj);
                return;
            }
            if (list == 0 ? !usesFwd(q) : !usesBwd(q))
                return;
            const int sub = eight ? mb.sub_mode[q] : mb.sub_mode[q] == 0 ? 0 : mb.mb_type;
            const int stepX = eight ? kBlockStep[sub][0] : sx, stepY = eight ? kBlockStep[sub][1] : sy;
            const int r = refs[y0 + j][x0 + i];
            const bool scaled = list == 1 && mb.sub_pred_dir[q] == 2 && CurrentCount(img) >= img.ref_poc &&
                                CurrentCount(img) >= img.ref_poc_prev;
            for (int jj = j; jj < j + sy; jj += stepY)
                for (int ii = i; ii < i + sx; ii += stepX) {
                    int px = 0, py = 0;
                    if (scaled) {
                        const int fr = (*img.fwd_ref)[y0 + j][x0 + i];
                        const int64_t s = (int64_t(r + 1) * 256) / (fr + 1 > 0 ? fr + 1 : 1);
                        px = CheckedVector(dec, (s * (*img.fwd_mv)[x0 + ii + 4][y0 + jj][0] + 128) >> 8);
                        py = CheckedVector(dec, (s * (*img.fwd_mv)[x0 + ii + 4][y0 + jj][1] + 128) >> 8);
                    } else {
                        h264dec_predict_vector(dec, &px, &py, r, refs, mvs, ii, jj, 4 * stepX, 4 * stepY);
                    }
                    const int dx = ReadMvdComponent(dec, list, 0, ii, jj);
                    const int dy = ReadMvdComponent(dec, list, 1, ii, jj);
                    const int vx = CheckedVector(dec, int64_t(px) + dx);
                    const int vy = CheckedVector(dec, int64_t(py) + dy);
                    FillMv(mvs, x0 + ii, y0 + jj, stepX, stepY, vx, vy);
                    for (int b = jj; b < jj + stepY; ++b)
                        for (int a = ii; a < ii + stepX; ++a) {
                            mb.mvd[list][b][a][0] = dx;
                            mb.mvd[list][b][a][1] = dy;
                        }
                }
        });
    };
    readVectors(0);
    if (isB)
        readVectors(1);
    if (img.MbaffFrameFlag && img.structure == kFrame && !mb.mb_field && img.num_ref_idx_active_fwd <= 1)
        h264dec_mbaff_zero_fwd_refs(dec);
}
