// Block matching for the MPEG encoder. Full-pel searches compare with the source frames, which are
// free of coding noise, so vectors follow the true motion; the half-pel step and all mode decisions
// use the reconstructions, since those are what the decoder predicts from.
#include "mpeg/mpgenc/mpgenc_motion.h"

#include <algorithm>
#include <cstdlib>

namespace {

inline int HalfSample(const uint8_t *p, int stride, int i, bool xh, bool yh)
{
    if (xh && yh)
        return (p[i] + p[i + 1] + p[i + stride] + p[i + stride + 1] + 2) >> 2;
    if (xh)
        return (p[i] + p[i + 1] + 1) >> 1;
    if (yh)
        return (p[i] + p[i + stride] + 1) >> 1;
    return p[i];
}

constexpr int kIntraThreshold = 9 * 256; // below this a prediction error is not worth intra coding

} // namespace

int SadBlock(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy, int limit)
{
    int s = 0;
    for (int j = 0; j < h; ++j) {
        const uint8_t *r = ref + static_cast<long>(j) * stride;
        const uint8_t *c = cur + static_cast<long>(j) * stride;
        for (int i = 0; i < 16; ++i)
            s += std::abs(HalfSample(r, stride, i, hx, hy) - c[i]);
        if (!hx && !hy && s >= limit)
            break;
    }
    return s;
}

int SseBlock(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy)
{
    int s = 0;
    for (int j = 0; j < h; ++j) {
        const uint8_t *r = ref + static_cast<long>(j) * stride;
        const uint8_t *c = cur + static_cast<long>(j) * stride;
        for (int i = 0; i < 16; ++i) {
            const int d = HalfSample(r, stride, i, hx, hy) - c[i];
            s += d * d;
        }
    }
    return s;
}

int SadInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy)
{
    int s = 0;
    for (int j = 0; j < h; ++j) {
        const long o = static_cast<long>(j) * stride;
        for (int i = 0; i < 16; ++i) {
            const int v =
                (HalfSample(p + o, stride, i, phx, phy) + HalfSample(q + o, stride, i, qhx, qhy) + 1) >> 1;
            s += std::abs(v - cur[o + i]);
        }
    }
    return s;
}

int SseInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy)
{
    int s = 0;
    for (int j = 0; j < h; ++j) {
        const long o = static_cast<long>(j) * stride;
        for (int i = 0; i < 16; ++i) {
            const int v =
                (HalfSample(p + o, stride, i, phx, phy) + HalfSample(q + o, stride, i, qhx, qhy) + 1) >> 1;
            const int d = v - cur[o + i];
            s += d * d;
        }
    }
    return s;
}

int BlockVariance16(const uint8_t *p, int stride)
{
    int s = 0, s2 = 0;
    for (int j = 0; j < 16; ++j)
        for (int i = 0; i < 16; ++i) {
            const int v = p[static_cast<long>(j) * stride + i];
            s += v;
            s2 += v * v;
        }
    // The squared sum reaches 65280^2, beyond 32 bits; the variance itself fits.
    return static_cast<int>(s2 - (static_cast<long long>(s) * s) / 256);
}

void Downsample2(const uint8_t *src, uint8_t *dst, int rows, int cols, int stride)
{
    const int tr = rows / 2, tc = cols / 2;
    // Samples beyond the last row or column repeat the edge, so every tap stays inside the source.
    auto at = [&](int r, int c) {
        r = std::min(r, rows - 1);
        c = std::min(c, cols - 1);
        return static_cast<int>(src[static_cast<long>(r) * stride + c]);
    };
    for (int r = 0; r < tr; ++r)
        for (int c = 0; c < tc; ++c) {
            const int y = 2 * r, x = 2 * c;
            // At the top and left edges the missing line (column) is replaced by the centre one, so
            // the weights still add up to 16 and the level of the picture is kept.
            const int ym = r > 0 ? y - 1 : y;
            const int xm = c > 0 ? x - 1 : x;
            const int sum = at(ym, xm) + 2 * at(ym, x) + at(ym, x + 1) + 2 * at(y, xm) + 4 * at(y, x) +
                            2 * at(y, x + 1) + at(y + 1, xm) + 2 * at(y + 1, x) + at(y + 1, x + 1);
            dst[static_cast<long>(r) * tc + c] = static_cast<uint8_t>(sum >> 4);
        }
}

void MpegMotionEstimator::SetPicture(int height, int width, int height2, int width2, int mbWidth,
                                     int mbHeight, int pictStruct, int pictType, int M, int framePredDct,
                                     int topFirst)
{
    m_height = height;
    m_width = width;
    m_height2 = height2;
    m_width2 = width2;
    m_mbWidth = mbWidth;
    m_mbHeight = mbHeight;
    m_pictStruct = pictStruct;
    m_pictType = pictType;
    m_M = M;
    m_framePredDct = framePredDct;
    m_topFirst = topFirst;
}

namespace {

// Best full-pel position of a w x h block at (bx, by) in a window; the first of equal sums wins.
void SadWindowSearch(const uint8_t *ref, const uint8_t *cur, int refStride, int curStride, int w, int h,
                     int bx, int by, int x0, int x1, int y0, int y1, int &outX, int &outY)
{
    int best = 1000000000;
    outX = 0;
    outY = 0;
    const uint8_t *c = cur + bx + static_cast<long>(by) * curStride;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const uint8_t *r = ref + x + static_cast<long>(y) * refStride;
            int s = 0;
            for (int j = 0; j < h && s <= best; ++j)
                for (int i = 0; i < w; ++i)
                    s += std::abs(r[static_cast<long>(j) * refStride + i] -
                                  c[static_cast<long>(j) * curStride + i]);
            if (s < best) {
                best = s;
                outX = x;
                outY = y;
            }
        }
}

} // namespace

std::vector<SearchResult> MpegMotionEstimator::HierarchicalSearch(const uint8_t *refOrg,
                                                                  const uint8_t *refRec, const uint8_t *cur,
                                                                  int sx, int sy, int rows, int cols, int w,
                                                                  int h, int stride) const
{
    const int r2 = rows / 2, c2 = cols / 2, r4 = r2 / 2, c4 = c2 / 2;
    std::vector<uint8_t> ref2(static_cast<size_t>(r2) * c2), cur2(ref2.size()),
        ref4(static_cast<size_t>(r4) * c4), cur4(ref4.size());
    Downsample2(refOrg, ref2.data(), rows, cols, stride);
    Downsample2(cur, cur2.data(), rows, cols, stride);
    Downsample2(ref2.data(), ref4.data(), r2, c2, c2);
    Downsample2(cur2.data(), cur4.data(), r2, c2, c2);
    const int ox = (sx - 3) / 4, oy = (sy - 3) / 4;
    const int mbw = cols / 16, mbh = rows / h;
    std::vector<SearchResult> out(static_cast<size_t>(mbw) * mbh);
    for (int row = 0; row < mbh; ++row)
        for (int col = 0; col < mbw; ++col) {
            const int X = 4 * col, Y = (h / 4) * row;
            int qx, qy;
            SadWindowSearch(ref4.data(), cur4.data(), c4, c4, w / 4, h / 4, X, Y, std::max(X - ox, 0),
                            std::min(X + ox, c4 - w / 4), std::max(Y - oy, 0), std::min(Y + oy, r4 - h / 4),
                            qx, qy);
            int hx, hy;
            SadWindowSearch(ref2.data(), cur2.data(), c2, c2, w / 2, h / 2, 2 * X, 2 * Y,
                            std::max(2 * qx - 1, 0), std::min(2 * qx + 1, c2 - w / 2),
                            std::max(2 * qy - 1, 0), std::min(2 * qy + 1, r2 - h / 2), hx, hy);
            const int bx = 16 * col, by = h * row;
            int fx, fy;
            SadWindowSearch(refOrg, cur, stride, stride, w, h, bx, by, std::max(2 * hx - 1, 0),
                            std::min(2 * hx + 1, cols - w), std::max(2 * hy - 1, 0),
                            std::min(2 * hy + 1, rows - h), fx, fy);
            // Half-pel refinement on the reconstruction.
            const uint8_t *c = cur + bx + static_cast<long>(by) * stride;
            int best = 1000000000, px = 2 * fx, py = 2 * fy;
            const int x0 = std::max(2 * fx - 1, 0), x1 = std::min(2 * fx + 1, 2 * (cols - w));
            const int y0 = std::max(2 * fy - 1, 0), y1 = std::min(2 * fy + 1, 2 * (rows - h));
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    const int s = SadBlock(refRec + (x >> 1) + static_cast<long>(y >> 1) * stride, c, stride,
                                           h, x & 1, y & 1, best);
                    if (s < best) {
                        best = s;
                        px = x;
                        py = y;
                    }
                }
            out[static_cast<size_t>(row) * mbw + col] = {px, py, best};
        }
    return out;
}

void MpegMotionEstimator::EstimatePicture(const uint8_t *oldorg, const uint8_t *neworg, const uint8_t *oldref,
                                          const uint8_t *newref, const uint8_t *cur, int sxf, int syf,
                                          int sxb, int syb, std::vector<MacroblockRecord> &mbs)
{
    m_forward.clear();
    m_backward.clear();
    if (m_pictType != I_TYPE)
        m_forward = HierarchicalSearch(oldorg, oldref, cur, sxf, syf, m_height, m_width, 16, 16, m_width);
    if (m_pictType == B_TYPE)
        m_backward = HierarchicalSearch(neworg, newref, cur, sxb, syb, m_height, m_width, 16, 16, m_width);
    for (int j = 0, k = 0; j < m_height2; j += 16)
        for (int i = 0; i < m_width; i += 16, ++k)
            EstimateFrameMacroblock(i, j, k, oldref, newref, cur, mbs[k]);
}

void MpegMotionEstimator::EstimateFrameMacroblock(int i, int j, int k, const uint8_t *oldref,
                                                  const uint8_t *newref, const uint8_t *cur,
                                                  MacroblockRecord &mb) const
{
    const int lx = m_width;
    const uint8_t *c = cur + i + static_cast<long>(j) * lx;
    const int var = BlockVariance16(c, lx);
    mb = MacroblockRecord{};
    mb.var = var;
    mb.motion_type = MC_FRAME;
    if (m_pictType == I_TYPE) {
        mb.mb_type = MB_INTRA;
        return;
    }
    auto refAt = [&](const uint8_t *ref, const SearchResult &r) {
        return ref + (r.x >> 1) + static_cast<long>(r.y >> 1) * lx;
    };
    if (m_pictType == P_TYPE) {
        const SearchResult &f = m_forward[k];
        const int vmc = SseBlock(refAt(oldref, f), c, lx, 16, f.x & 1, f.y & 1);
        if (vmc > var && vmc >= kIntraThreshold) {
            mb.mb_type = MB_INTRA;
            return;
        }
        const int vz = SseBlock(oldref + i + static_cast<long>(j) * lx, c, lx, 16, 0, 0);
        // A zero vector costs almost nothing to send: keep it unless motion compensation clearly wins.
        if (4 * vz > 5 * vmc && vz >= kIntraThreshold) {
            mb.mb_type = MB_FORWARD;
            mb.MV[0][0][0] = f.x - 2 * i;
            mb.MV[0][0][1] = f.y - 2 * j;
        } else {
            mb.mb_type = 0;
        }
        return;
    }
    const SearchResult &f = m_forward[k], &b = m_backward[k];
    const uint8_t *pf = refAt(oldref, f), *pb = refAt(newref, b);
    const int vf = SseBlock(pf, c, lx, 16, f.x & 1, f.y & 1);
    const int vr = SseBlock(pb, c, lx, 16, b.x & 1, b.y & 1);
    const int vi = SseInterpolated(pf, pb, c, lx, 16, f.x & 1, f.y & 1, b.x & 1, b.y & 1);
    int vmc;
    if (vf <= vr && vf <= vi) {
        mb.mb_type = MB_FORWARD;
        vmc = vf;
    } else if (vr <= vi) {
        mb.mb_type = MB_BACKWARD;
        vmc = vr;
    } else {
        mb.mb_type = MB_FORWARD | MB_BACKWARD;
        vmc = vi;
    }
    if (vmc > var && vmc >= kIntraThreshold) {
        mb.mb_type = MB_INTRA;
        return;
    }
    mb.MV[0][0][0] = f.x - 2 * i;
    mb.MV[0][0][1] = f.y - 2 * j;
    mb.MV[0][1][0] = b.x - 2 * i;
    mb.MV[0][1][1] = b.y - 2 * j;
}
