// Motion estimation of field pictures. Each macroblock searches both reference fields in a spiral
// around its own position, for the whole 16 x 16 block and for its two 16 x 8 halves, refines to half
// a pel on the reconstruction, and then picks field, 16 x 8 or dual-prime prediction (or, in B
// pictures, the best of forward, backward and their mean).
#include "mpeg/mpgenc/mpgenc_motion.h"
#include "mpeg/mpgenc/mpgenc_predict.h"

#include <algorithm>

SearchResult MpegMotionEstimator::FullSearch(const RefPlane &ref, const uint8_t *blk, int i0, int j0, int sx,
                                             int sy, int h, int width, int height, int stride)
{
    const int ilow = std::max(i0 - sx, 0), ihigh = std::min(i0 + sx, width - 16);
    const int jlow = std::max(j0 - sy, 0), jhigh = std::min(j0 + sy, height - h);
    auto org = [&](int x, int y) { return ref.org + x + static_cast<long>(y) * stride; };
    int best = SadBlock(org(i0, j0), blk, stride, h, 0, 0, 65536);
    int bx = i0, by = j0;
    // Rings of growing distance: the nearest of equal sums wins, which favours short vectors.
    for (int l = 1; l <= std::max(sx, sy); ++l) {
        int i = i0 - l, j = j0 - l;
        for (int step = 0; step < 8 * l; ++step) {
            if (i >= ilow && i <= ihigh && j >= jlow && j <= jhigh) {
                const int d = SadBlock(org(i, j), blk, stride, h, 0, 0, best);
                if (d < best) {
                    best = d;
                    bx = i;
                    by = j;
                }
            }
            if (step < 2 * l)
                ++i;
            else if (step < 4 * l)
                ++j;
            else if (step < 6 * l)
                --i;
            else
                --j;
        }
    }
    // Half-pel steps around the best full-pel position, inside the picture.
    SearchResult r{2 * bx, 2 * by, 65536};
    const int y0 = by > 0 ? 2 * by - 1 : 2 * by, y1 = by < height - h ? 2 * by + 1 : 2 * by;
    const int x0 = bx > 0 ? 2 * bx - 1 : 2 * bx, x1 = bx < width - 16 ? 2 * bx + 1 : 2 * bx;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const int d = SadBlock(ref.rec + (x >> 1) + static_cast<long>(y >> 1) * stride, blk, stride, h,
                                   x & 1, y & 1, r.dist);
            if (d < r.dist) {
                r = {x, y, d};
            }
        }
    return r;
}

FieldSearch MpegMotionEstimator::FieldEstimate(const RefPlane refs[2], const uint8_t *cur, int i, int j,
                                               int sx, int sy, int ipflag) const
{
    const int parity = m_pictStruct == BOTTOM_FIELD ? 1 : 0;
    const int stride = 2 * m_width, fieldHeight = m_height / 2;
    FieldSearch fs;
    // The P field of an I frame has only the I field to predict from.
    auto search = [&](int rp, int y, int h) {
        if (ipflag && rp == parity)
            return SearchResult{2 * i, 2 * y, 65536};
        return FullSearch(refs[rp], cur + static_cast<long>(y - j) * stride, i, y, sx, sy / 2, h, m_width,
                          fieldHeight, stride);
    };
    for (int rp = 0; rp < 2; ++rp)
        fs.whole[rp] = search(rp, j, 16);
    fs.fieldSel = fs.whole[1].dist < fs.whole[0].dist ? 1 : 0;
    fs.field = fs.whole[fs.fieldSel];
    fs.dmc8 = 0;
    for (int half = 0; half < 2; ++half) {
        const SearchResult top = search(0, j + 8 * half, 8), bottom = search(1, j + 8 * half, 8);
        fs.halfSel[half] = bottom.dist < top.dist ? 1 : 0;
        fs.half[half] = fs.halfSel[half] ? bottom : top;
        fs.dmc8 += fs.half[half].dist;
    }
    return fs;
}

MpegMotionEstimator::DualPrime MpegMotionEstimator::DualPrimeFieldEstimate(const SearchResult &same, int i,
                                                                           int j, const uint8_t *sameRef,
                                                                           const uint8_t *oppositeRef,
                                                                           const uint8_t *cur) const
{
    const int stride = 2 * m_width;
    const int xmax = 2 * (m_width - 16), ymax = 2 * (m_height / 2 - 16);
    const int mx = same.x - 2 * i, my = same.y - 2 * j;
    auto at = [&](const uint8_t *ref, int x, int y) {
        return ref + (x >> 1) + static_cast<long>(y >> 1) * stride;
    };
    const uint8_t *p = at(sameRef, same.x, same.y);
    DualPrime best;
    int bestSse = 1 << 30;
    bool found = false;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int dmv[2] = {dx, dy};
            int v[2][2];
            DualPrimeVectors(v, dmv, mx, my, m_pictStruct, m_topFirst);
            const int ox = 2 * i + v[0][0], oy = 2 * j + v[0][1];
            if (ox < 0 || ox > xmax || oy < 0 || oy > ymax)
                continue;
            const int d = SseInterpolated(p, at(oppositeRef, ox, oy), cur, stride, 16, same.x & 1, same.y & 1,
                                          ox & 1, oy & 1);
            if (d < bestSse) {
                bestSse = d;
                best.dx = dx;
                best.dy = dy;
                found = true;
            }
        }
    if (!found)
        return DualPrime{};
    best.mx = mx;
    best.my = my;
    best.vmc = bestSse;
    const int dmv[2] = {best.dx, best.dy};
    int v[2][2];
    DualPrimeVectors(v, dmv, mx, my, m_pictStruct, m_topFirst);
    const int ox = 2 * i + v[0][0], oy = 2 * j + v[0][1];
    best.dmc =
        SadInterpolated(p, at(oppositeRef, ox, oy), cur, stride, 16, same.x & 1, same.y & 1, ox & 1, oy & 1);
    return best;
}

void MpegMotionEstimator::EstimateFieldMacroblock(int i, int j, const RefPlane fwd[2], const RefPlane bwd[2],
                                                  const RefPlane dpOpposite, const uint8_t *cur, int sxf,
                                                  int syf, int sxb, int syb, int ipflag,
                                                  MacroblockRecord &mb) const
{
    const int parity = m_pictStruct == BOTTOM_FIELD ? 1 : 0;
    const int lx = m_width, stride = 2 * m_width;
    const uint8_t *c = cur + parity * lx + i + static_cast<long>(j) * stride;
    const int var = BlockVariance16(c, stride);
    mb = MacroblockRecord{};
    mb.var = var;
    mb.motion_type = MC_FIELD;
    if (m_pictType == I_TYPE) {
        mb.mb_type = MB_INTRA;
        return;
    }
    auto at = [&](const RefPlane *refs, int sel, const SearchResult &r) {
        return refs[sel].rec + (r.x >> 1) + static_cast<long>(r.y >> 1) * stride;
    };
    const uint8_t *lower = c + 8L * stride;
    auto sse16 = [&](const RefPlane *refs, const FieldSearch &s) {
        return SseBlock(at(refs, s.fieldSel, s.field), c, stride, 16, s.field.x & 1, s.field.y & 1);
    };
    auto sse8 = [&](const RefPlane *refs, const FieldSearch &s) {
        return SseBlock(at(refs, s.halfSel[0], s.half[0]), c, stride, 8, s.half[0].x & 1, s.half[0].y & 1) +
               SseBlock(at(refs, s.halfSel[1], s.half[1]), lower, stride, 8, s.half[1].x & 1,
                        s.half[1].y & 1);
    };
    // Vectors relative to the macroblock; the lower half's block starts 8 field lines down.
    auto setField = [&](int s, const FieldSearch &r) {
        mb.MV[0][s][0] = r.field.x - 2 * i;
        mb.MV[0][s][1] = r.field.y - 2 * j;
        mb.mv_field_sel[0][s] = r.fieldSel;
    };
    auto set16x8 = [&](int s, const FieldSearch &r) {
        for (int half = 0; half < 2; ++half) {
            mb.MV[half][s][0] = r.half[half].x - 2 * i;
            mb.MV[half][s][1] = r.half[half].y - 2 * j - 16 * half;
            mb.mv_field_sel[half][s] = r.halfSel[half];
        }
    };

    if (m_pictType == P_TYPE) {
        const FieldSearch f = FieldEstimate(fwd, c, i, j, sxf, syf, ipflag);
        DualPrime dp;
        const bool dpAllowed = m_M == 1 && !ipflag;
        if (dpAllowed)
            dp = DualPrimeFieldEstimate(f.whole[parity], i, j, fwd[parity].rec, dpOpposite.rec, c);
        int vmc;
        if (dpAllowed && dp.dmc < f.dmc8 && dp.dmc < f.field.dist) {
            mb.motion_type = MC_DMV;
            vmc = dp.vmc;
            mb.MV[0][0][0] = dp.mx;
            mb.MV[0][0][1] = dp.my;
            mb.mv_field_sel[0][0] = parity;
            mb.dmvector[0] = dp.dx;
            mb.dmvector[1] = dp.dy;
        } else if (f.dmc8 < f.field.dist) {
            mb.motion_type = MC_16X8;
            vmc = sse8(fwd, f);
            set16x8(0, f);
        } else {
            vmc = sse16(fwd, f);
            setField(0, f);
        }
        if (vmc > var && vmc >= kIntraThreshold) {
            mb = MacroblockRecord{};
            mb.var = var;
            mb.mb_type = MB_INTRA;
            mb.motion_type = MC_FIELD;
            return;
        }
        mb.mb_type = MB_FORWARD;
        if (ipflag)
            return;
        const int vz = SseBlock(fwd[parity].rec + i + static_cast<long>(j) * stride, c, stride, 16, 0, 0);
        if (!(4 * vz > 5 * vmc && vz >= kIntraThreshold)) {
            // No motion compensation: the same-parity field at zero displacement.
            mb = MacroblockRecord{};
            mb.var = var;
            mb.motion_type = MC_FIELD;
            mb.mv_field_sel[0][0] = parity;
        }
        return;
    }

    const FieldSearch f = FieldEstimate(fwd, c, i, j, sxf, syf, 0);
    const FieldSearch b = FieldEstimate(bwd, c, i, j, sxb, syb, 0);
    const int dmcf = f.field.dist, dmc8f = f.dmc8, dmcr = b.field.dist, dmc8r = b.dmc8;
    const uint8_t *pf = at(fwd, f.fieldSel, f.field), *pb = at(bwd, b.fieldSel, b.field);
    const int dmci =
        SadInterpolated(pf, pb, c, stride, 16, f.field.x & 1, f.field.y & 1, b.field.x & 1, b.field.y & 1);
    auto halves = [&](auto measure) {
        int s = 0;
        for (int half = 0; half < 2; ++half) {
            const SearchResult &rf = f.half[half], &rb = b.half[half];
            s += measure(at(fwd, f.halfSel[half], rf), at(bwd, b.halfSel[half], rb), half ? lower : c, stride,
                         8, rf.x & 1, rf.y & 1, rb.x & 1, rb.y & 1);
        }
        return s;
    };
    const int dmc8i = halves(SadInterpolated);
    int vmc;
    if (dmci < dmc8i && dmci < dmcf && dmci < dmc8f && dmci < dmcr && dmci < dmc8r) {
        mb.mb_type = MB_FORWARD | MB_BACKWARD;
        vmc = SseInterpolated(pf, pb, c, stride, 16, f.field.x & 1, f.field.y & 1, b.field.x & 1,
                              b.field.y & 1);
        setField(0, f);
        setField(1, b);
    } else if (dmc8i < dmcf && dmc8i < dmc8f && dmc8i < dmcr && dmc8i < dmc8r) {
        mb.mb_type = MB_FORWARD | MB_BACKWARD;
        mb.motion_type = MC_16X8;
        vmc = halves(SseInterpolated);
        set16x8(0, f);
        set16x8(1, b);
    } else if (dmcf < dmc8f && dmcf < dmcr && dmcf < dmc8r) {
        mb.mb_type = MB_FORWARD;
        vmc = sse16(fwd, f);
        setField(0, f);
    } else if (dmc8f < dmcr && dmc8f < dmc8r) {
        mb.mb_type = MB_FORWARD;
        mb.motion_type = MC_16X8;
        vmc = sse8(fwd, f);
        set16x8(0, f);
    } else if (dmcr < dmc8r) {
        mb.mb_type = MB_BACKWARD;
        vmc = sse16(bwd, b);
        setField(1, b);
    } else {
        mb.mb_type = MB_BACKWARD;
        mb.motion_type = MC_16X8;
        vmc = sse8(bwd, b);
        set16x8(1, b);
    }
    if (vmc > var && vmc >= kIntraThreshold) {
        mb = MacroblockRecord{};
        mb.var = var;
        mb.mb_type = MB_INTRA;
        mb.motion_type = MC_FIELD;
    }
}
