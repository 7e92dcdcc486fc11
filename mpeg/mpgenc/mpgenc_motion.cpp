// Block matching for the MPEG encoder. Full-pel searches compare with the source frames, which are
// free of coding noise, so vectors follow the true motion; the half-pel step and all mode decisions
// use the reconstructions, since those are what the decoder predicts from.
#include "mpeg/mpgenc/mpgenc_motion.h"
#include "mpeg/mpgenc/mpgenc_predict.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

void Downsample2Plain(const uint8_t *src, uint8_t *dst, int rows, int cols, int stride)
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

namespace {

// One target sample by the same weights as the plain form (its edge clamps never act: the last
// target row and column read at most the last source ones).
inline uint8_t DownsampleAt(const uint8_t *src, int stride, int r, int c)
{
    const int y = 2 * r, x = 2 * c, ym = r > 0 ? y - 1 : y, xm = c > 0 ? x - 1 : x;
    auto at = [&](int yy, int xx) { return static_cast<int>(src[static_cast<long>(yy) * stride + xx]); };
    const int sum = at(ym, xm) + 2 * at(ym, x) + at(ym, x + 1) + 2 * at(y, xm) + 4 * at(y, x) +
                    2 * at(y, x + 1) + at(y + 1, xm) + 2 * at(y + 1, x) + at(y + 1, x + 1);
    return static_cast<uint8_t>(sum >> 4);
}

} // namespace

// The filter is separable: (1 2 1) down the three lines, in 16 bits, then (1 2 1) across, taken on the
// even source columns. Eight target samples per step.
void Downsample2(const uint8_t *src, uint8_t *dst, int rows, int cols, int stride)
{
    const int tr = rows / 2, tc = cols / 2;
#if defined(__SSE2__)
    const __m128i z = _mm_setzero_si128(), low16 = _mm_set1_epi32(0xFFFF);
    for (int r = 0; r < tr; ++r) {
        const int y = 2 * r;
        const uint8_t *up = src + static_cast<long>(r > 0 ? y - 1 : y) * stride,
                      *mid = src + static_cast<long>(y) * stride, *dn = mid + stride;
        uint8_t *out = dst + static_cast<long>(r) * tc;
        out[0] = tc > 0 ? DownsampleAt(src, stride, r, 0) : 0;
        int c = 1;
        // Vertical sums of 16 source columns from x on, as two vectors of 16-bit values.
        auto vertical = [&](int x, __m128i &lo, __m128i &hi) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(up + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(mid + x));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dn + x));
            lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(d, z)),
                               _mm_slli_epi16(_mm_unpacklo_epi8(b, z), 1));
            hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(d, z)),
                               _mm_slli_epi16(_mm_unpackhi_epi8(b, z), 1));
        };
        auto even = [&](__m128i lo, __m128i hi) {
            return _mm_packs_epi32(_mm_and_si128(lo, low16), _mm_and_si128(hi, low16));
        };
        for (; c + 7 < tc && 2 * c + 15 < cols; c += 8) {
            __m128i lo, hi, mlo, mhi;
            vertical(2 * c, lo, hi);       // columns 2c .. 2c + 15
            vertical(2 * c - 1, mlo, mhi); // columns 2c - 1 .. 2c + 14
            const __m128i centre = even(lo, hi);
            const __m128i right = _mm_packs_epi32(_mm_srli_epi32(lo, 16), _mm_srli_epi32(hi, 16));
            const __m128i left = even(mlo, mhi);
            const __m128i sum = _mm_add_epi16(_mm_add_epi16(left, right), _mm_slli_epi16(centre, 1));
            const __m128i v = _mm_srli_epi16(sum, 4);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out + c), _mm_packus_epi16(v, v));
        }
        for (; c < tc; ++c)
            out[c] = DownsampleAt(src, stride, r, c);
    }
#else
    for (int r = 0; r < tr; ++r)
        for (int c = 0; c < tc; ++c)
            dst[static_cast<long>(r) * tc + c] = DownsampleAt(src, stride, r, c);
#endif
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

void SadWindowSearchPlain(const uint8_t *ref, const uint8_t *cur, int refStride, int curStride, int w, int h,
                          int bx, int by, int x0, int x1, int y0, int y1, int &outX, int &outY)
{
    int best = 1000000000;
    outX = 0;
    outY = 0;
    const uint8_t *c = cur + bx + static_cast<long>(by) * curStride;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const int s =
                SadAreaPlain(ref + x + static_cast<long>(y) * refStride, refStride, c, curStride, w, h, best);
            if (s < best) {
                best = s;
                outX = x;
                outY = y;
            }
        }
}

#if defined(__SSE2__)

namespace {

// The quarter-size level: 4-wide blocks, whose sums at eight neighbouring positions one instruction
// gives per line. The sums are whole (no early stop), which chooses the same position: a sum the
// plain search stops early is above the best there, and whole it is larger still.
__attribute__((target("sse4.1"))) void Window4Sse41(const uint8_t *ref, const uint8_t *c, int refStride,
                                                    int curStride, int h, int x0, int x1, int y0, int y1,
                                                    int &outX, int &outY)
{
    __m128i rows[16];
    for (int r = 0; r < h; ++r) {
        int v;
        std::memcpy(&v, c + static_cast<long>(r) * curStride, 4);
        rows[r] = _mm_cvtsi32_si128(v);
    }
    int best = 1000000000;
    for (int y = y0; y <= y1; ++y)
        for (int xs = x0; xs <= x1; xs += 8) {
            const uint8_t *p = ref + xs + static_cast<long>(y) * refStride;
            __m128i acc = _mm_setzero_si128();
            for (int r = 0; r < h; ++r, p += refStride)
                acc = _mm_add_epi16(
                    acc, _mm_mpsadbw_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), rows[r], 0));
            alignas(16) uint16_t sums[8];
            _mm_store_si128(reinterpret_cast<__m128i *>(sums), acc);
            const int n = std::min(8, x1 - xs + 1);
            for (int k = 0; k < n; ++k)
                if (sums[k] < best) {
                    best = sums[k];
                    outX = xs + k;
                    outY = y;
                }
        }
}

bool HaveSse41()
{
    static const bool have = __builtin_cpu_supports("sse4.1");
    return have;
}

} // namespace

#endif

void SadWindowSearch(const uint8_t *ref, const uint8_t *cur, int refStride, int curStride, int w, int h,
                     int bx, int by, int x0, int x1, int y0, int y1, int &outX, int &outY)
{
    outX = 0;
    outY = 0;
    const uint8_t *c = cur + bx + static_cast<long>(by) * curStride;
#if defined(__SSE2__)
    if (w == 4 && h <= 16 && HaveSse41()) {
        Window4Sse41(ref, c, refStride, curStride, h, x0, x1, y0, y1, outX, outY);
        return;
    }
#endif
    int best = 1000000000;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const int s =
                SadArea(ref + x + static_cast<long>(y) * refStride, refStride, c, curStride, w, h, best);
            if (s < best) {
                best = s;
                outX = x;
                outY = y;
            }
        }
}

namespace {

// The half-pel step on the reconstruction around the full-pel result (fx, fy): the same raster scan
// over the half-pel window x0..x1, y0..y1, the current block (16 x h) at its full-pel place.
SearchResult HalfPelRefine(const uint8_t *refRec, const uint8_t *c, int stride, int h, int fx, int fy, int x0,
                           int x1, int y0, int y1)
{
    SearchResult best{2 * fx, 2 * fy, 1000000000};
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const int s = SadBlock(refRec + (x >> 1) + static_cast<long>(y >> 1) * stride, c, stride, h,
                                   x & 1, y & 1, best.dist);
            if (s < best.dist)
                best = {x, y, s};
        }
    return best;
}

} // namespace

std::vector<SearchResult> MpegMotionEstimator::HierarchicalSearch(const uint8_t *refOrg,
                                                                  const uint8_t *refRec, const uint8_t *cur,
                                                                  int sx, int sy, int rows, int cols, int w,
                                                                  int h, int stride) const
{
    const int r2 = rows / 2, c2 = cols / 2, r4 = r2 / 2, c4 = c2 / 2;
    // The quarter-size search reads 16 bytes from each window position: 12 past the last block.
    std::vector<uint8_t> ref2(static_cast<size_t>(r2) * c2), cur2(ref2.size()),
        ref4(static_cast<size_t>(r4) * c4 + kWindowReadPast), cur4(ref4.size());
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
            out[static_cast<size_t>(row) * mbw + col] =
                HalfPelRefine(refRec, cur + bx + static_cast<long>(by) * stride, stride, h, fx, fy,
                              std::max(2 * fx - 1, 0), std::min(2 * fx + 1, 2 * (cols - w)),
                              std::max(2 * fy - 1, 0), std::min(2 * fy + 1, 2 * (rows - h)));
        }
    return out;
}

void MpegMotionEstimator::EstimatePicture(const uint8_t *oldorg, const uint8_t *neworg, const uint8_t *oldref,
                                          const uint8_t *newref, const uint8_t *cur, int sxf, int syf,
                                          int sxb, int syb, std::vector<MacroblockRecord> &mbs,
                                          int secondField, int ipflag)
{
    const int w = m_width;
    if (m_pictStruct != FRAME_PICTURE) {
        // A field picture: the reference fields of a P picture are those of the previous frame,
        // except that the second field may also predict from the first field of its own frame.
        const int parity = m_pictStruct == BOTTOM_FIELD ? 1 : 0;
        RefPlane fwd[2], bwd[2];
        for (int rp = 0; rp < 2; ++rp) {
            const bool own = m_pictType == P_TYPE && secondField && rp != parity;
            fwd[rp] = {(own ? neworg : oldorg) + rp * w, (own ? newref : oldref) + rp * w};
            bwd[rp] = {neworg + rp * w, newref + rp * w};
        }
        const uint8_t *opposite = (secondField ? newref : oldref) + (1 - parity) * w;
        for (int j = 0, k = 0; j < m_height2; j += 16)
            for (int i = 0; i < w; i += 16, ++k)
                EstimateFieldMacroblock(i, j, fwd, bwd, {nullptr, opposite}, cur, sxf, syf, sxb, syb, ipflag,
                                        mbs[k]);
        return;
    }
    for (auto *set : {&m_fwdField, &m_bwdField})
        for (auto &row : *set)
            for (auto &v : row)
                v.clear();
    m_forward.clear();
    m_backward.clear();
    // Field searches treat each field as a picture of its own: every other line, half the height,
    // blocks of 16 x 8 and half the vertical reach.
    auto searchDirection = [&](const uint8_t *org, const uint8_t *rec, int sx, int sy,
                               std::vector<SearchResult> &frame, std::vector<SearchResult>(&fields)[2][2]) {
        frame = HierarchicalSearch(org, rec, cur, sx, sy, m_height, w, 16, 16, w);
        if (m_framePredDct)
            return;
        for (int cp = 0; cp < 2; ++cp)
            for (int rp = 0; rp < 2; ++rp)
                fields[cp][rp] = HierarchicalSearch(org + rp * w, rec + rp * w, cur + cp * w, sx, sy / 2,
                                                    m_height / 2, w, 16, 8, 2 * w);
    };
    if (m_pictType != I_TYPE)
        searchDirection(oldorg, oldref, sxf, syf, m_forward, m_fwdField);
    if (m_pictType == B_TYPE)
        searchDirection(neworg, newref, sxb, syb, m_backward, m_bwdField);
    for (int j = 0, k = 0; j < m_height2; j += 16)
        for (int i = 0; i < w; i += 16, ++k)
            EstimateFrameMacroblock(i, j, k, oldref, newref, cur, mbs[k]);
}

namespace {

FieldPair ChooseFieldPair(const std::vector<SearchResult> (&fields)[2][2], int k)
{
    FieldPair p{};
    for (int cp = 0; cp < 2; ++cp) {
        const SearchResult &same = fields[cp][cp][static_cast<size_t>(k)];
        const SearchResult &other = fields[cp][1 - cp][static_cast<size_t>(k)];
        const bool useOther = other.dist < same.dist;
        p.r[cp] = useOther ? &other : &same;
        p.sel[cp] = useOther ? 1 - cp : cp;
    }
    p.dist = p.r[0]->dist + p.r[1]->dist;
    return p;
}

} // namespace

MpegMotionEstimator::DirectionResults MpegMotionEstimator::FetchForwardResults(int k) const
{
    DirectionResults r{m_forward[static_cast<size_t>(k)], {}};
    if (!m_framePredDct)
        r.fields = ChooseFieldPair(m_fwdField, k);
    return r;
}

MpegMotionEstimator::DirectionResults MpegMotionEstimator::FetchBackwardResults(int k) const
{
    DirectionResults r{m_backward[static_cast<size_t>(k)], {}};
    if (!m_framePredDct)
        r.fields = ChooseFieldPair(m_bwdField, k);
    return r;
}

void MpegMotionEstimator::EstimateFrameMacroblock(int i, int j, int k, const uint8_t *oldref,
                                                  const uint8_t *newref, const uint8_t *cur,
                                                  MacroblockRecord &mb) const
{
    const int lx = m_width, fs = 2 * m_width;
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
    // Field areas: reference field sel of a frame store, and the current macroblock's field cp (its
    // first field line is j / 2, which is frame line j + cp).
    auto fieldRef = [&](const uint8_t *ref, int sel, const SearchResult &r) {
        return ref + sel * lx + (r.x >> 1) + static_cast<long>(r.y >> 1) * fs;
    };
    auto curField = [&](int cp) { return c + cp * lx; };
    auto fieldSse = [&](const uint8_t *ref, const FieldPair &p) {
        int s = 0;
        for (int cp = 0; cp < 2; ++cp)
            s += SseBlock(fieldRef(ref, p.sel[cp], *p.r[cp]), curField(cp), fs, 8, p.r[cp]->x & 1,
                          p.r[cp]->y & 1);
        return s;
    };
    auto setFrameVector = [&](int s, const SearchResult &r) {
        mb.MV[0][s][0] = r.x - 2 * i;
        mb.MV[0][s][1] = r.y - 2 * j;
    };
    // Field vectors keep their vertical component in frame units (twice the field value).
    auto setFieldVectors = [&](int s, const FieldPair &p) {
        for (int cp = 0; cp < 2; ++cp) {
            mb.MV[cp][s][0] = p.r[cp]->x - 2 * i;
            mb.MV[cp][s][1] = 2 * p.r[cp]->y - 2 * j;
            mb.mv_field_sel[cp][s] = p.sel[cp];
        }
    };

    if (m_pictType == P_TYPE) {
        const DirectionResults fwd = FetchForwardResults(k);
        const SearchResult &f = fwd.frame;
        int vmc;
        if (m_framePredDct) {
            vmc = SseBlock(refAt(oldref, f), c, lx, 16, f.x & 1, f.y & 1);
            setFrameVector(0, f);
        } else {
            const FieldPair &fp = fwd.fields;
            DualPrime dp;
            if (m_M == 1)
                dp = DualPrimeFrameEstimate(k, i, j, oldref, cur);
            if (m_M == 1 && dp.dmc < f.dist && dp.dmc < fp.dist) {
                mb.motion_type = MC_DMV;
                vmc = dp.vmc;
                mb.MV[0][0][0] = dp.mx;
                mb.MV[0][0][1] = 2 * dp.my;
                mb.dmvector[0] = dp.dx;
                mb.dmvector[1] = dp.dy;
            } else if (fp.dist < f.dist) {
                mb.motion_type = MC_FIELD;
                vmc = fieldSse(oldref, fp);
                setFieldVectors(0, fp);
            } else {
                vmc = SseBlock(refAt(oldref, f), c, lx, 16, f.x & 1, f.y & 1);
                setFrameVector(0, f);
            }
        }
        if (vmc > var && vmc >= kIntraThreshold) {
            mb = MacroblockRecord{};
            mb.var = var;
            mb.mb_type = MB_INTRA;
            return;
        }
        const int vz = SseBlock(oldref + i + static_cast<long>(j) * lx, c, lx, 16, 0, 0);
        // A zero vector costs almost nothing to send: keep it unless motion compensation clearly wins.
        if (4 * vz > 5 * vmc && vz >= kIntraThreshold) {
            mb.mb_type = MB_FORWARD;
        } else {
            mb = MacroblockRecord{};
            mb.var = var;
            mb.mb_type = 0;
            mb.motion_type = MC_FRAME;
        }
        return;
    }

    const DirectionResults fwd = FetchForwardResults(k), bwd = FetchBackwardResults(k);
    const SearchResult &f = fwd.frame, &b = bwd.frame;
    const uint8_t *pf = refAt(oldref, f), *pb = refAt(newref, b);
    int vmc;
    if (m_framePredDct) {
        const int vf = SseBlock(pf, c, lx, 16, f.x & 1, f.y & 1);
        const int vr = SseBlock(pb, c, lx, 16, b.x & 1, b.y & 1);
        const int vi = SseInterpolated(pf, pb, c, lx, 16, f.x & 1, f.y & 1, b.x & 1, b.y & 1);
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
        setFrameVector(0, f);
        setFrameVector(1, b);
    } else {
        const FieldPair &ff = fwd.fields, &fb = bwd.fields;
        const int dmcf = f.dist, dmcr = b.dist, dmcfieldf = ff.dist, dmcfieldr = fb.dist;
        const int dmcfi = SadInterpolated(pf, pb, c, lx, 16, f.x & 1, f.y & 1, b.x & 1, b.y & 1);
        int dmcfieldi = 0;
        for (int cp = 0; cp < 2; ++cp) {
            const SearchResult &rf = *ff.r[cp], &rb = *fb.r[cp];
            const uint8_t *p = fieldRef(oldref, ff.sel[cp], rf), *q = fieldRef(newref, fb.sel[cp], rb);
            dmcfieldi += SadInterpolated(p, q, curField(cp), fs, 8, rf.x & 1, rf.y & 1, rb.x & 1, rb.y & 1);
        }
        if (dmcfi < dmcfieldi && dmcfi < dmcf && dmcfi < dmcfieldf && dmcfi < dmcr && dmcfi < dmcfieldr) {
            mb.mb_type = MB_FORWARD | MB_BACKWARD;
            vmc = SseInterpolated(pf, pb, c, lx, 16, f.x & 1, f.y & 1, b.x & 1, b.y & 1);
            setFrameVector(0, f);
            setFrameVector(1, b);
        } else if (dmcfieldi < dmcf && dmcfieldi < dmcfieldf && dmcfieldi < dmcr && dmcfieldi < dmcfieldr) {
            mb.mb_type = MB_FORWARD | MB_BACKWARD;
            mb.motion_type = MC_FIELD;
            vmc = 0;
            for (int cp = 0; cp < 2; ++cp) {
                const SearchResult &rf = *ff.r[cp], &rb = *fb.r[cp];
                vmc += SseInterpolated(fieldRef(oldref, ff.sel[cp], rf), fieldRef(newref, fb.sel[cp], rb),
                                       curField(cp), fs, 8, rf.x & 1, rf.y & 1, rb.x & 1, rb.y & 1);
            }
            setFieldVectors(0, ff);
            setFieldVectors(1, fb);
        } else if (dmcf < dmcfieldf && dmcf < dmcr && dmcf < dmcfieldr) {
            mb.mb_type = MB_FORWARD;
            vmc = SseBlock(pf, c, lx, 16, f.x & 1, f.y & 1);
            setFrameVector(0, f);
        } else if (dmcfieldf < dmcr && dmcfieldf < dmcfieldr) {
            mb.mb_type = MB_FORWARD;
            mb.motion_type = MC_FIELD;
            vmc = fieldSse(oldref, ff);
            setFieldVectors(0, ff);
        } else if (dmcr < dmcfieldr) {
            mb.mb_type = MB_BACKWARD;
            vmc = SseBlock(pb, c, lx, 16, b.x & 1, b.y & 1);
            setFrameVector(1, b);
        } else {
            mb.mb_type = MB_BACKWARD;
            mb.motion_type = MC_FIELD;
            vmc = fieldSse(newref, fb);
            setFieldVectors(1, fb);
        }
    }
    if (vmc > var && vmc >= kIntraThreshold) {
        mb = MacroblockRecord{};
        mb.var = var;
        mb.mb_type = MB_INTRA;
    }
}

namespace {

// A vector over three field periods scaled to two: 2 v / 3, rounded.
int TwoThirdsOf(int v)
{
    return v >= 0 ? (2 * v + 1) / 3 : -((-2 * v + 1) / 3);
}

} // namespace

MpegMotionEstimator::DualPrime MpegMotionEstimator::DualPrimeFrameEstimate(int k, int i, int j,
                                                                           const uint8_t *oldref,
                                                                           const uint8_t *cur) const
{
    const int lx = m_width, fs = 2 * m_width;
    const int xmax = 2 * (lx - 16), ymax = 2 * (m_height / 2 - 8);
    const uint8_t *c = cur + i + static_cast<long>(j) * lx;
    auto at = [&](int sel, int x, int y) {
        return oldref + sel * lx + (x >> 1) + static_cast<long>(y >> 1) * fs;
    };
    auto inside = [&](int x, int y) { return x >= 0 && x <= xmax && y >= 0 && y <= ymax; };
    DualPrime best;
    int bestSse = 1 << 30;
    bool found = false;
    for (int cp = 0; cp < 2; ++cp)
        for (int rp = 0; rp < 2; ++rp) {
            const SearchResult &r = m_fwdField[cp][rp][static_cast<size_t>(k)];
            int mx = r.x - 2 * i, my = r.y - j;
            if (rp != cp) {
                // An opposite-parity vector spans three field periods only for the field coded
                // second; it then scales to the two periods of a same-parity vector. The half-line
                // offset between the fields is taken out first.
                if (cp != m_topFirst)
                    continue;
                my += cp == 0 ? 1 : -1;
                mx = TwoThirdsOf(mx);
                my = TwoThirdsOf(my);
            }
            const int sx = 2 * i + mx, sy = j + my;
            if (!inside(sx, sy))
                continue;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int dmv[2] = {dx, dy};
                    int v[2][2];
                    DualPrimeVectors(v, dmv, mx, my, FRAME_PICTURE, m_topFirst);
                    const int tx = 2 * i + v[0][0], ty = j + v[0][1]; // top from bottom
                    const int bx = 2 * i + v[1][0], by = j + v[1][1]; // bottom from top
                    if (!inside(tx, ty) || !inside(bx, by))
                        continue;
                    const int d = SseInterpolated(at(0, sx, sy), at(1, tx, ty), c, fs, 8, sx & 1, sy & 1,
                                                  tx & 1, ty & 1) +
                                  SseInterpolated(at(1, sx, sy), at(0, bx, by), c + lx, fs, 8, sx & 1, sy & 1,
                                                  bx & 1, by & 1);
                    if (d < bestSse) {
                        bestSse = d;
                        best.mx = mx;
                        best.my = my;
                        best.dx = dx;
                        best.dy = dy;
                        found = true;
                    }
                }
        }
    if (!found)
        return DualPrime{};
    best.vmc = bestSse;
    const int dmv[2] = {best.dx, best.dy};
    int v[2][2];
    DualPrimeVectors(v, dmv, best.mx, best.my, FRAME_PICTURE, m_topFirst);
    const int sx = 2 * i + best.mx, sy = j + best.my;
    const int tx = 2 * i + v[0][0], ty = j + v[0][1], bx = 2 * i + v[1][0], by = j + v[1][1];
    best.dmc = SadInterpolated(at(0, sx, sy), at(1, tx, ty), c, fs, 8, sx & 1, sy & 1, tx & 1, ty & 1) +
               SadInterpolated(at(1, sx, sy), at(0, bx, by), c + lx, fs, 8, sx & 1, sy & 1, bx & 1, by & 1);
    return best;
}
