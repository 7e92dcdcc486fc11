// The in-loop deblocking filter.
#include "h264dec/deblock.h"

#include "h264dec/macroblock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

const uint8_t kDeblockAlpha[52] = {0,  0,  0,  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
                                   0,  0,  0,  4,   4,   5,   6,   7,   8,   9,   10,  12,  13,
                                   15, 17, 20, 22,  25,  28,  32,  36,  40,  45,  50,  56,  63,
                                   71, 80, 90, 101, 113, 127, 144, 162, 182, 203, 226, 255, 255};
const uint8_t kDeblockBeta[52] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0, 2,  2,
                                  2,  3,  3,  3,  3,  4,  4,  4,  6,  6,  7,  7,  8,  8,  9,  9, 10, 10,
                                  11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18};
// [indexA][strength]: 0 for strength 0, the clipping bound for 1..3, strength 4 repeating 3.
const uint8_t kDeblockClip[52][5] = {
    {0, 0, 0, 0, 0},     {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0},     {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0},     {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0},    {0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0},     {0, 0, 0, 0, 0},    {0, 0, 0, 1, 1},    {0, 0, 0, 1, 1},    {0, 0, 0, 1, 1},
    {0, 0, 0, 1, 1},     {0, 0, 1, 1, 1},    {0, 0, 1, 1, 1},    {0, 1, 1, 1, 1},    {0, 1, 1, 1, 1},
    {0, 1, 1, 1, 1},     {0, 1, 1, 1, 1},    {0, 1, 1, 2, 2},    {0, 1, 1, 2, 2},    {0, 1, 1, 2, 2},
    {0, 1, 1, 2, 2},     {0, 1, 2, 3, 3},    {0, 1, 2, 3, 3},    {0, 2, 2, 3, 3},    {0, 2, 2, 4, 4},
    {0, 2, 3, 4, 4},     {0, 2, 3, 4, 4},    {0, 3, 3, 5, 5},    {0, 3, 4, 6, 6},    {0, 3, 4, 6, 6},
    {0, 4, 5, 7, 7},     {0, 4, 5, 8, 8},    {0, 4, 6, 9, 9},    {0, 5, 7, 10, 10},  {0, 6, 8, 11, 11},
    {0, 6, 8, 13, 13},   {0, 7, 10, 14, 14}, {0, 8, 11, 16, 16}, {0, 9, 12, 18, 18}, {0, 10, 13, 20, 20},
    {0, 11, 15, 23, 23}, {0, 13, 17, 25, 25}};

namespace {

bool IsIntraMb(const DecoderMacroblock &mb)
{
    return mb.mb_type == kMbIntra4x4 || mb.mb_type == kMbIntra16x16;
}

bool VectorsDiffer(const Array3D<int> &mv, int xp, int yp, int xq, int yq)
{
    return std::abs(mv[xp + 4][yp][0] - mv[xq + 4][yq][0]) >= 4 ||
           std::abs(mv[xp + 4][yp][1] - mv[xq + 4][yq][1]) >= 4;
}

// Sample k away from the edge on the P (k < 0: -1 is p0) or Q side (k >= 0: 0 is q0).
struct EdgeLine
{
    uint8_t *q0;
    int across; // step across the edge
    uint8_t &operator[](int k) const { return q0[k * across]; }
};

// One line of the filter; the values are read before any is written.
void FilterLine(const EdgeLine &s, int bS, int alpha, int beta, int c0, bool chroma)
{
    const int p0 = s[-1], p1 = s[-2], q0 = s[0], q1 = s[1];
    if (std::abs(p0 - q0) >= alpha || std::abs(q1 - q0) >= beta || std::abs(p1 - p0) >= beta)
        return;
    const int p2 = chroma ? 0 : s[-3], q2 = chroma ? 0 : s[2];
    bool ap = !chroma && std::abs(p2 - p0) < beta;
    bool aq = !chroma && std::abs(q2 - q0) < beta;
    if (bS == 4) {
        if (chroma) {
            s[-1] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
            s[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
            return;
        }
        const int p3 = s[-4], q3 = s[3];
        const bool small = std::abs(p0 - q0) < (alpha >> 2) + 2;
        ap = ap && small;
        aq = aq && small;
        if (aq) {
            s[0] = static_cast<uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
            s[1] = static_cast<uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
            s[2] = static_cast<uint8_t>((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
        } else {
            s[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
        }
        if (ap) {
            s[-1] = static_cast<uint8_t>((q1 + 2 * q0 + 2 * p0 + 2 * p1 + p2 + 4) >> 3);
            s[-2] = static_cast<uint8_t>((q0 + p0 + p1 + p2 + 2) >> 2);
            s[-3] = static_cast<uint8_t>((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
        } else {
            s[-1] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
        }
        return;
    }
    const int c = chroma ? c0 + 1 : c0 + (ap ? 1 : 0) + (aq ? 1 : 0);
    const int delta = std::clamp((4 * (q0 - p0) + (p1 - q1) + 4) >> 3, -c, c);
    s[-1] = static_cast<uint8_t>(std::clamp(p0 + delta, 0, 255));
    s[0] = static_cast<uint8_t>(std::clamp(q0 - delta, 0, 255));
    if (ap)
        s[-2] = static_cast<uint8_t>(p1 + std::clamp((p2 + ((p0 + q0) >> 1) - 2 * p1) >> 1, -c0, c0));
    if (aq)
        s[1] = static_cast<uint8_t>(q1 + std::clamp((q2 + ((p0 + q0) >> 1) - 2 * q1) >> 1, -c0, c0));
}

} // namespace

void dec_edge_strength(int strength[4], const DecoderImage &img, const DecoderMacroblock &p,
                       const DecoderMacroblock &q, int dir, int edge, int block_y, int block_x)
{
    const int start = edge == 0 ? 4 : 3;
    const bool spsi = IsSPPicture(img.type) || img.type == kPictureSI;
    const bool b = IsBPicture(img.type);
    for (int i = 0; i < 4; ++i) {
        // Block Q inside q (column, row), and its neighbour across the edge.
        const int qc = dir == 0 ? edge : i, qr = dir == 0 ? i : edge;
        const int pc = dir == 0 ? (qc + 3) % 4 : qc, pr = dir == 0 ? qr : (qr + 3) % 4;
        const int xq = block_x + qc, yq = block_y + qr;
        const int xp = dir == 0 ? xq - 1 : xq, yp = dir == 0 ? yq : yq - 1;
        if (spsi || IsIntraMb(p) || IsIntraMb(q)) {
            strength[i] = start;
        } else if ((q.cbp_blocks >> (4 * qr + qc) & 1) || (p.cbp_blocks >> (4 * pr + pc) & 1)) {
            strength[i] = 2;
        } else if (b) {
            strength[i] = VectorsDiffer(*img.fwd_mv, xp, yp, xq, yq) ||
                                  VectorsDiffer(*img.bwd_mv, xp, yp, xq, yq) ||
                                  (*img.fwd_ref)[yp][xp] != (*img.fwd_ref)[yq][xq] ||
                                  (*img.bwd_ref)[yp][xp] != (*img.bwd_ref)[yq][xq]
                              ? 1
                              : 0;
        } else {
            strength[i] = VectorsDiffer(*img.mv, xp, yp, xq, yq) ||
                                  (*img.ref_idx_arr)[yp][xp] != (*img.ref_idx_arr)[yq][xq]
                              ? 1
                              : 0;
        }
    }
}

namespace {

// The motion of the macroblock's blocks and its neighbours for the strength rules, one array per
// field (two reference indices, two vectors; P pictures leave the second list at zero): line 0 and
// entry 0 are the neighbours above and to the left. Kept by rows for horizontal edges and by columns
// for vertical ones, so that the four blocks along any edge are one vector.
enum { kRef0, kRef1, kMv0x, kMv0y, kMv1x, kMv1y, kFields };
struct MotionGrid
{
    int32_t f[kFields][2][5][8]; // [field][0 by rows, 1 by columns][line][entry]
    void Put(int r, int c, const int (&v)[kFields])
    {
        for (int k = 0; k < kFields; ++k)
            f[k][0][r][c] = f[k][1][c][r] = v[k];
    }
};

typedef int32_t Quad __attribute__((vector_size(16)));
typedef uint32_t UQuad __attribute__((vector_size(16)));

inline UQuad LoadQuad(const int32_t *p)
{
    UQuad q;
    std::memcpy(&q, p, sizeof q);
    return q;
}

// Bit i set where block i on the Q side of the edge before line `line` moves differently from its
// neighbour across: another reference, or a vector component apart by 4 quarter samples or more.
// |d| >= 4 is one unsigned comparison: d + 3 lies in 0..6 exactly when |d| < 4.
int EdgeMotionMask(const MotionGrid &g, int dir, int line)
{
    const int by = dir == 0 ? 1 : 0;
    Quad any{};
    for (int k = 0; k < kFields; ++k) {
        const UQuad p = LoadQuad(&g.f[k][by][line - 1][1]), q = LoadQuad(&g.f[k][by][line][1]);
        any |= k <= kRef1 ? Quad(p != q) : Quad(p - q + 3u > 6u);
    }
    return (any[0] & 1) | (any[1] & 2) | (any[2] & 4) | (any[3] & 8);
}

} // namespace

void dec_macroblock_strengths(int strength[2][4][4], const DecoderImage &img, int mb_y, int mb_x)
{
    const int wMbs = img.width / 16;
    const auto &mbs = *img.mb_data;
    const DecoderMacroblock &q = mbs[static_cast<size_t>(mb_y * wMbs + mb_x)];
    const bool spsi = IsSPPicture(img.type) || img.type == kPictureSI;
    const bool b = IsBPicture(img.type);
    const int bx = 4 * mb_x, by = 4 * mb_y;
    MotionGrid g;
    bool gathered = false, uniform = false;
    auto gather = [&]() {
        gathered = true;
        auto load = [&](int r, int c) {
            const int x = bx + c - 1, y = by + r - 1;
            if (b) {
                const int *f = (*img.fwd_mv)[x + 4][y], *w = (*img.bwd_mv)[x + 4][y];
                g.Put(r, c, {(*img.fwd_ref)[y][x], (*img.bwd_ref)[y][x], f[0], f[1], w[0], w[1]});
            } else {
                const int *v = (*img.mv)[x + 4][y];
                g.Put(r, c, {(*img.ref_idx_arr)[y][x], 0, v[0], v[1], 0, 0});
            }
        };
        for (int r = 1; r <= 4; ++r)
            for (int c = 1; c <= 4; ++c)
                load(r, c);
        if (mb_x > 0)
            for (int r = 1; r <= 4; ++r)
                load(r, 0);
        if (mb_y > 0)
            for (int c = 1; c <= 4; ++c)
                load(0, c);
        // One motion for the whole macroblock (a skipped or 16x16 one, mostly): its inner edges
        // need no comparison.
        uniform = true;
        for (int k = 0; k < kFields; ++k)
            for (int r = 1; r <= 4; ++r)
                for (int c = 1; c <= 4; ++c)
                    uniform = uniform && g.f[k][0][r][c] == g.f[k][0][1][1];
    };
    for (int dir = 0; dir < 2; ++dir)
        for (int edge = 0; edge < 4; ++edge) {
            int *s = strength[dir][edge];
            if (edge == 0 && (dir == 0 ? mb_x == 0 : mb_y == 0)) {
                s[0] = s[1] = s[2] = s[3] = 0;
                continue;
            }
            const DecoderMacroblock &p =
                edge != 0
                    ? q
                    : mbs[static_cast<size_t>(dir == 0 ? mb_y * wMbs + mb_x - 1 : (mb_y - 1) * wMbs + mb_x)];
            if (spsi || IsIntraMb(p) || IsIntraMb(q)) {
                s[0] = s[1] = s[2] = s[3] = edge == 0 ? 4 : 3;
                continue;
            }
            // Block i of the edge on the Q side and its neighbour across, as bits of the coded-block
            // masks.
            const int qBit = dir == 0 ? edge : 4 * edge, step = dir == 0 ? 4 : 1;
            const int pBit = edge != 0 ? qBit - (dir == 0 ? 1 : 4) : dir == 0 ? 3 : 12;
            int coded = 0;
            for (int i = 0; i < 4; ++i)
                coded |= ((q.cbp_blocks >> (qBit + step * i) & 1) | (p.cbp_blocks >> (pBit + step * i) & 1))
                         << i;
            int moved = 0;
            if (coded != 15) {
                if (!gathered)
                    gather();
                if (!uniform || edge == 0)
                    moved = EdgeMotionMask(g, dir, edge + 1);
            }
            for (int i = 0; i < 4; ++i)
                s[i] = coded >> i & 1 ? 2 : moved >> i & 1;
        }
}

void dec_edge_filter_reference(uint8_t *first, const int strength[4], int qp, int alpha_offset,
                               int beta_offset, int dir, int width, bool chroma)
{
    const int indexA = std::clamp(qp + alpha_offset, 0, 51), indexB = std::clamp(qp + beta_offset, 0, 51);
    const int samples = chroma ? 8 : 16;
    for (int n = 0; n < samples; ++n) {
        const int bS = strength[chroma ? n / 2 : n / 4];
        if (bS == 0)
            continue;
        uint8_t *q0 = first + (dir == 0 ? n * width : n);
        FilterLine(EdgeLine{q0, dir == 0 ? 1 : width}, bS, kDeblockAlpha[indexA], kDeblockBeta[indexB],
                   kDeblockClip[indexA][bS], chroma);
    }
}

namespace {

// Eight lines of one edge side by side, one lane per line (a luma edge is two such groups): every
// value of the normal filter fits 16 bits.
typedef int16_t Lines __attribute__((vector_size(16)));
typedef uint8_t Bytes __attribute__((vector_size(8)));
constexpr int kLanes = 8;

inline Lines Select(Lines mask, Lines a, Lines b)
{
    return (a & mask) | (b & ~mask);
}
inline Lines Abs(Lines a)
{
    const Lines m = a >> 15;
    return (a ^ m) - m;
}
inline Lines Clamp(Lines v, Lines lo, Lines hi)
{
    v = Select(v < lo, lo, v);
    return Select(v > hi, hi, v);
}

// The filter of bS 1..3 on the lanes whose tc0 is not negative, all at once: the lines are gathered
// into lanes, filtered without branches and written back (other lanes unchanged).
void FilterNormalLines(uint8_t *first, int along, int across, const Lines &tc0, int alphaValue, int betaValue,
                       bool chroma)
{
    constexpr int n = kLanes;
    const Lines zero{}, full = zero + 255;
    const Lines alpha = zero + static_cast<int16_t>(alphaValue),
                beta = zero + static_cast<int16_t>(betaValue);
    Lines p2{}, p1{}, p0{}, q0{}, q1{}, q2{};
    if (along == 1) {
        // A horizontal edge: each sample row across the edge is a run of the lines.
        auto row = [&](int k) {
            Bytes b;
            std::memcpy(&b, first + k * across, sizeof b);
            return __builtin_convertvector(b, Lines);
        };
        p1 = row(-2);
        p0 = row(-1);
        q0 = row(0);
        q1 = row(1);
        if (!chroma) {
            p2 = row(-3);
            q2 = row(2);
        }
    } else {
        for (int k = 0; k < n; ++k) {
            const uint8_t *q = first + k * along;
            p1[k] = q[-2 * across];
            p0[k] = q[-across];
            q0[k] = q[0];
            q1[k] = q[across];
            if (!chroma) {
                p2[k] = q[-3 * across];
                q2[k] = q[2 * across];
            }
        }
    }
    const Lines on = (tc0 >= 0) & (Abs(p0 - q0) < alpha) & (Abs(q1 - q0) < beta) & (Abs(p1 - p0) < beta);
    const Lines ap = chroma ? zero : Lines(Abs(p2 - p0) < beta);
    const Lines aq = chroma ? zero : Lines(Abs(q2 - q0) < beta);
    // Masks are -1 where set: subtracting them adds one.
    const Lines c = chroma ? tc0 + 1 : tc0 - ap - aq;
    const Lines delta = Clamp((4 * (q0 - p0) + (p1 - q1) + 4) >> 3, -c, c);
    const Lines np0 = Select(on, Clamp(p0 + delta, zero, full), p0);
    const Lines nq0 = Select(on, Clamp(q0 - delta, zero, full), q0);
    const Lines avg = (p0 + q0) >> 1;
    const Lines np1 = Select(on & ap, p1 + Clamp((p2 + avg - 2 * p1) >> 1, -tc0, tc0), p1);
    const Lines nq1 = Select(on & aq, q1 + Clamp((q2 + avg - 2 * q1) >> 1, -tc0, tc0), q1);
    if (along == 1) {
        auto put = [&](int k, Lines v) {
            const Bytes b = __builtin_convertvector(v, Bytes);
            std::memcpy(first + k * across, &b, sizeof b);
        };
        put(-2, np1);
        put(-1, np0);
        put(0, nq0);
        put(1, nq1);
        return;
    }
    for (int k = 0; k < n; ++k) {
        uint8_t *q = first + k * along;
        q[-2 * across] = static_cast<uint8_t>(np1[k]);
        q[-across] = static_cast<uint8_t>(np0[k]);
        q[0] = static_cast<uint8_t>(nq0[k]);
        q[across] = static_cast<uint8_t>(nq1[k]);
    }
}

} // namespace

void dec_edge_filter(uint8_t *first, const int strength[4], int qp, int alpha_offset, int beta_offset,
                     int dir, int width, bool chroma)
{
    const int indexA = std::clamp(qp + alpha_offset, 0, 51), indexB = std::clamp(qp + beta_offset, 0, 51);
    const int alpha = kDeblockAlpha[indexA], beta = kDeblockBeta[indexB];
    if (alpha == 0 || beta == 0)
        return; // no difference is below a zero threshold
    const int along = dir == 0 ? width : 1, across = dir == 0 ? 1 : width;
    const int per = chroma ? 2 : 4, n = 4 * per;
    // Lines of strength 1..3 go through the lane filter eight at a time; strength 4 lines one by one.
    for (int group = 0; group < n; group += kLanes) {
        Lines tc0;
        bool normal = false;
        for (int k = 0; k < kLanes; ++k) {
            const int bS = strength[(group + k) / per];
            normal = normal || (bS > 0 && bS < 4);
            tc0[k] = static_cast<int16_t>(bS > 0 && bS < 4 ? kDeblockClip[indexA][bS] : -1);
        }
        if (normal)
            FilterNormalLines(first + group * along, along, across, tc0, alpha, beta, chroma);
    }
    for (int seg = 0; seg < 4; ++seg) {
        if (strength[seg] != 4)
            continue;
        const int c0 = kDeblockClip[indexA][4];
        for (int k = seg * per; k < (seg + 1) * per; ++k)
            FilterLine(EdgeLine{first + k * along, across}, 4, alpha, beta, c0, chroma);
    }
}

void dec_deblock_macroblock(const DecoderImage &img, Array2D<uint8_t> &y, Array3D<uint8_t> *uv, int mb_y,
                            int mb_x)
{
    const int wMbs = img.width / 16;
    const auto &mbs = *img.mb_data;
    const DecoderMacroblock &q = mbs[static_cast<size_t>(mb_y * wMbs + mb_x)];
    if (q.filter_disable_idc)
        return;
    const int width = y.Cols();
    const bool haveChroma = uv && uv->HasFrames() && img.width_cr > 0;
    int strengths[2][4][4];
    dec_macroblock_strengths(strengths, img, mb_y, mb_x);
    for (int dir = 0; dir < 2; ++dir)
        for (int edge = 0; edge < 4; ++edge) {
            const int *strength = strengths[dir][edge];
            if (!(strength[0] | strength[1] | strength[2] | strength[3]))
                continue;
            const DecoderMacroblock &p =
                edge != 0
                    ? q
                    : mbs[static_cast<size_t>(dir == 0 ? mb_y * wMbs + mb_x - 1 : (mb_y - 1) * wMbs + mb_x)];
            const int qp = (p.qp + q.qp) >> 1;
            const int px = 16 * mb_x + (dir == 0 ? 4 * edge : 0), py = 16 * mb_y + (dir == 0 ? 0 : 4 * edge);
            dec_edge_filter(&y[py][px], strength, qp, q.filter_alpha_offset, q.filter_beta_offset, dir, width,
                            false);
            if (haveChroma && (edge == 0 || edge == 2)) {
                const int cqp = kChromaQp[std::clamp(qp, 0, 51)];
                const int cx = 8 * mb_x + (dir == 0 ? 2 * edge : 0),
                          cy = 8 * mb_y + (dir == 0 ? 0 : 2 * edge);
                for (int c = 0; c < 2; ++c) {
                    Array2D<uint8_t> &plane = (*uv)[c];
                    dec_edge_filter(&plane[cy][cx], strength, cqp, q.filter_alpha_offset,
                                    q.filter_beta_offset, dir, plane.Cols(), true);
                }
            }
        }
}

void dec_deblock_picture(const DecoderImage &img, Array2D<uint8_t> &y, Array3D<uint8_t> *uv)
{
    const int wMbs = img.width / 16, hMbs = img.height / 16;
    for (int my = 0; my < hMbs; ++my)
        for (int mx = 0; mx < wMbs; ++mx)
            dec_deblock_macroblock(img, y, uv, my, mx);
}
