// Motion search kernels. The SAD tables come from the multiple-SAD instruction (eight window offsets
// per source row at once), the scan for the least cost works on eight 16-bit costs at a time, and the
// sub-sample SATD transforms two 4x4 blocks side by side in 16-bit lanes, picking the samples of one
// phase out of the quarter-sample rows with a mask.
#include "h264enc/enc_kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace h264enc {

namespace {

void Hadamard1D(int &a, int &b, int &c, int &d)
{
    const int s0 = a + d, s1 = b + c, d0 = a - d, d1 = b - c;
    a = s0 + s1;
    b = d0 + d1;
    c = s0 - s1;
    d = d0 - d1;
}

} // namespace

int satd4x4_reference(int d[16], bool hadamard)
{
    int sum = 0;
    if (!hadamard) {
        for (int i = 0; i < 16; ++i)
            sum += byte_abs(d[i]);
        return sum;
    }
    int m[16];
    // Rows: (d0 + d3) + (d1 + d2), (d0 - d3) + (d1 - d2), (d0 + d3) - (d1 + d2), (d0 - d3) - (d1 - d2).
    for (int y = 0; y < 4; ++y) {
        const int *r = d + 4 * y;
        m[4 * y + 0] = (r[0] + r[3]) + (r[1] + r[2]);
        m[4 * y + 1] = (r[0] - r[3]) + (r[1] - r[2]);
        m[4 * y + 2] = (r[0] + r[3]) - (r[1] + r[2]);
        m[4 * y + 3] = (r[0] - r[3]) - (r[1] - r[2]);
    }
    for (int x = 0; x < 4; ++x) {
        const int a = m[x], b = m[4 + x], c = m[8 + x], e = m[12 + x];
        sum += std::abs((a + e) + (b + c)) + std::abs((a - e) + (b - c)) + std::abs((a + e) - (b + c)) +
               std::abs((a - e) - (b - c));
    }
    return sum >> 1;
}

void hadamard4x4(const int d[16], int out[16])
{
    std::memcpy(out, d, 16 * sizeof(int));
    for (int y = 0; y < 4; ++y)
        Hadamard1D(out[4 * y], out[4 * y + 1], out[4 * y + 2], out[4 * y + 3]);
    for (int x = 0; x < 4; ++x)
        Hadamard1D(out[x], out[4 + x], out[8 + x], out[12 + x]);
}

#if defined(__SSE2__)
namespace {

void Butterfly4(__m128i &a, __m128i &b, __m128i &c, __m128i &d)
{
    const __m128i s0 = _mm_add_epi32(a, d), s1 = _mm_add_epi32(b, c);
    const __m128i d0 = _mm_sub_epi32(a, d), d1 = _mm_sub_epi32(b, c);
    a = _mm_add_epi32(s0, s1);
    b = _mm_add_epi32(d0, d1);
    c = _mm_sub_epi32(s0, s1);
    d = _mm_sub_epi32(d0, d1);
}

__m128i Abs32(__m128i v)
{
    const __m128i sign = _mm_srai_epi32(v, 31);
    return _mm_sub_epi32(_mm_xor_si128(v, sign), sign);
}

// The Hadamard SATD with the four rows in registers: the column transform, a transpose, the row
// transform (the same sum, the transform being separable), and the absolute values added.
int SatdHadamardSse2(const int d[16])
{
    __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d));
    __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d + 4));
    __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d + 8));
    __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d + 12));
    Butterfly4(r0, r1, r2, r3);
    const __m128i a = _mm_unpacklo_epi32(r0, r1), b = _mm_unpacklo_epi32(r2, r3);
    const __m128i c = _mm_unpackhi_epi32(r0, r1), e = _mm_unpackhi_epi32(r2, r3);
    __m128i c0 = _mm_unpacklo_epi64(a, b), c1 = _mm_unpackhi_epi64(a, b);
    __m128i c2 = _mm_unpacklo_epi64(c, e), c3 = _mm_unpackhi_epi64(c, e);
    Butterfly4(c0, c1, c2, c3);
    __m128i sum = _mm_add_epi32(_mm_add_epi32(Abs32(c0), Abs32(c1)), _mm_add_epi32(Abs32(c2), Abs32(c3)));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
    return _mm_cvtsi128_si32(sum) >> 1;
}

} // namespace
#endif

int satd4x4(int d[16], bool hadamard)
{
#if defined(__SSE2__)
    if (hadamard)
        return SatdHadamardSse2(d);
#endif
    if (!hadamard) {
        int sum = 0;
        for (int i = 0; i < 16; ++i)
            sum += d[i] < 0 ? -d[i] : d[i];
        return sum;
    }
    for (int y = 0; y < 4; ++y)
        Hadamard1D(d[4 * y], d[4 * y + 1], d[4 * y + 2], d[4 * y + 3]);
    int sum = 0;
    for (int x = 0; x < 4; ++x) {
        Hadamard1D(d[x], d[4 + x], d[8 + x], d[12 + x]);
        sum += std::abs(d[x]) + std::abs(d[4 + x]) + std::abs(d[8 + x]) + std::abs(d[12 + x]);
    }
    return sum >> 1;
}

void sad4x4_window_reference(const uint8_t *src, const uint8_t *win, int win_stride, int side, uint16_t *out,
                             int out_stride, size_t plane)
{
    for (int dy = 0; dy < side; ++dy)
        for (int dx = 0; dx < side; ++dx)
            for (int b = 0; b < 16; ++b) {
                const int x0 = 4 * (b % 4), y0 = 4 * (b / 4);
                int sad = 0;
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 4; ++x)
                        sad += byte_abs(src[(y0 + y) * 16 + x0 + x] -
                                        win[(dy + y0 + y) * win_stride + dx + x0 + x]);
                out[static_cast<size_t>(b) * plane + static_cast<size_t>(dy * out_stride + dx)] =
                    static_cast<uint16_t>(sad);
            }
}

#if defined(__x86_64__) || defined(__i386__)
namespace {

// The multiple-SAD instruction gives, for one source row, the 4-sample SADs of one 4x4 block column at
// eight neighbouring window offsets at once: four of them add up a block row of eight positions, with
// no transposition. The instruction is SSE4.1's; the processor is asked once.
__attribute__((target("sse4.1"))) void Sad4x4WindowSse41(const uint8_t *src, const uint8_t *win,
                                                         int win_stride, int side, uint16_t *out,
                                                         int out_stride, size_t plane)
{
    __m128i s[16];
    for (int y = 0; y < 16; ++y)
        s[y] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 16 * y));
    const int groups = (side + 7) / 8;
    for (int dy = 0; dy < side; ++dy)
        for (int g = 0; g < groups; ++g) {
            const uint8_t *w = win + dy * win_stride + 8 * g;
            uint16_t *o = out + dy * out_stride + 8 * g;
            for (int by = 0; by < 4; ++by) {
                __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
                for (int y = 4 * by; y < 4 * by + 4; ++y) {
                    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(w + y * win_stride));
                    const __m128i hi =
                        _mm_loadu_si128(reinterpret_cast<const __m128i *>(w + y * win_stride + 8));
                    // Immediate: bits 0-1 pick the source's 4-sample group, bit 2 starts the window 4 later.
                    a0 = _mm_add_epi16(a0, _mm_mpsadbw_epu8(lo, s[y], 0));
                    a1 = _mm_add_epi16(a1, _mm_mpsadbw_epu8(lo, s[y], 5));
                    a2 = _mm_add_epi16(a2, _mm_mpsadbw_epu8(hi, s[y], 2));
                    a3 = _mm_add_epi16(a3, _mm_mpsadbw_epu8(hi, s[y], 7));
                }
                uint16_t *row = o + static_cast<size_t>(4 * by) * plane;
                _mm_storeu_si128(reinterpret_cast<__m128i *>(row), a0);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(row + plane), a1);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(row + 2 * plane), a2);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(row + 3 * plane), a3);
            }
        }
}

bool HasSse41()
{
    static const bool has = __builtin_cpu_supports("sse4.1");
    return has;
}

} // namespace
#endif

void sad4x4_window(const uint8_t *src, const uint8_t *win, int win_stride, int side, uint16_t *out,
                   int out_stride, size_t plane)
{
#if defined(__x86_64__) || defined(__i386__)
    if (HasSse41()) {
        Sad4x4WindowSse41(src, win, win_stride, side, out, out_stride, plane);
        return;
    }
#endif
    sad4x4_window_reference(src, win, win_stride, side, out, out_stride, plane);
}

int least_cost_position_reference(const PositionScan &s, int *row, int *col)
{
    long long best = 0;
    int bestRank = 0;
    *row = *col = -1;
    for (int v = 0; v < s.n; ++v)
        for (int u = 0; u < s.n; ++u) {
            const long long cost = s.sad[v * s.sad_stride + u] +
                                   ((static_cast<long long>(s.lambda) * (s.xbits[u] + s.ybits[v])) >> 16);
            const int rank = s.rank[v * s.rank_stride + u];
            if (*row < 0 || cost < best || (cost == best && rank < bestRank)) {
                best = cost;
                bestRank = rank;
                *row = v;
                *col = u;
            }
        }
    return static_cast<int>(best);
}

int least_cost_position(const PositionScan &s, int *row, int *col)
{
#if defined(__SSE2__)
    // Costs in 16 bits, eight positions at a time. The vector cost (lambda x bits) >> 16 splits into
    // (lambda >> 16) x bits + ((lambda & 0xffff) x bits) >> 16, both exact in 16-bit lanes; the sum with
    // the SAD saturates at 65535. A least cost below that is exact, and then equal costs are equal
    // lanes; otherwise (or when the bits could overflow a lane) the plain scan decides.
    const int n = s.n, groups = (n + 7) / 8;
    int maxX = 0, maxY = 0;
    for (int u = 0; u < n; ++u)
        maxX = std::max(maxX, static_cast<int>(s.xbits[u]));
    for (int v = 0; v < n; ++v)
        maxY = std::max(maxY, s.ybits[v]);
    const long long high = s.lambda >> 16;
    constexpr int kRows = 256;
    if (n < 1 || n > kRows || s.lambda < 0 || maxY < 0 || (high + 1) * (maxX + maxY) >= 65535)
        return least_cost_position_reference(s, row, col);
    const __m128i hi = _mm_set1_epi16(static_cast<short>(high)),
                  lo = _mm_set1_epi16(static_cast<short>(s.lambda & 0xffff));
    // Lanes past the last column cost 65535: they never win.
    const int tail = n - 8 * (groups - 1);
    alignas(16) uint16_t tailLanes[8];
    for (int k = 0; k < 8; ++k)
        tailLanes[k] = k < tail ? 0 : 0xffff;
    const __m128i tailMask = _mm_load_si128(reinterpret_cast<const __m128i *>(tailLanes));
    auto costs = [&](int v, int g, __m128i ybits) {
        const __m128i bits =
            _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s.xbits + 8 * g)), ybits);
        const __m128i mv = _mm_add_epi16(_mm_mullo_epi16(bits, hi), _mm_mulhi_epu16(bits, lo));
        __m128i c = _mm_adds_epu16(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(s.sad + v * s.sad_stride + 8 * g)), mv);
        return g == groups - 1 ? _mm_or_si128(c, tailMask) : c;
    };
    // Costs are compared as signed numbers with the top bit flipped (SSE2 has a signed 16-bit minimum
    // only): the order is that of the unsigned costs.
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000)), top = _mm_set1_epi16(0x7fff);
    // The vector costs of a row depend on its vertical bits only, which neighbouring rows mostly share:
    // they are worked out again only where those change. The last group carries the tail's 65535.
    __m128i rowMin[kRows], mvRow[kRows / 8 + 1];
    __m128i all = top;
    int rowBits = -1;
    for (int v = 0; v < n; ++v) {
        if (s.ybits[v] != rowBits) {
            rowBits = s.ybits[v];
            const __m128i yb = _mm_set1_epi16(static_cast<short>(rowBits));
            for (int g = 0; g < groups; ++g) {
                const __m128i bits =
                    _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s.xbits + 8 * g)), yb);
                mvRow[g] = _mm_add_epi16(_mm_mullo_epi16(bits, hi), _mm_mulhi_epu16(bits, lo));
            }
            mvRow[groups - 1] = _mm_or_si128(mvRow[groups - 1], tailMask);
        }
        const uint16_t *sad = s.sad + v * s.sad_stride;
        auto cost = [&](int g) {
            const __m128i c =
                _mm_adds_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(sad + 8 * g)), mvRow[g]);
            return _mm_xor_si128(c, flip);
        };
        // Two running minima halve the chain of dependent instructions.
        __m128i m0 = top, m1 = top;
        int g = 0;
        for (; g + 2 <= groups; g += 2) {
            m0 = _mm_min_epi16(m0, cost(g));
            m1 = _mm_min_epi16(m1, cost(g + 1));
        }
        if (g < groups)
            m0 = _mm_min_epi16(m0, cost(g));
        rowMin[v] = _mm_min_epi16(m0, m1);
        all = _mm_min_epi16(all, rowMin[v]);
    }
    all = _mm_min_epi16(all, _mm_shuffle_epi32(all, 0x4E));
    all = _mm_min_epi16(all, _mm_shuffle_epi32(all, 0xB1));
    all = _mm_min_epi16(all, _mm_shufflelo_epi16(all, 0xB1));
    const int least = _mm_extract_epi16(all, 0) ^ 0x8000;
    if (least == 0xffff)
        return least_cost_position_reference(s, row, col);
    // The rows holding the least cost, and there the position of least rank.
    const __m128i target = _mm_set1_epi16(static_cast<short>(least));
    int bestRank = 0;
    *row = *col = -1;
    for (int v = 0; v < n; ++v) {
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_xor_si128(rowMin[v], flip), target)) == 0)
            continue;
        const __m128i yb = _mm_set1_epi16(static_cast<short>(s.ybits[v]));
        for (int g = 0; g < groups; ++g) {
            unsigned hits =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(costs(v, g, yb), target)));
            while (hits != 0) {
                const int bit = __builtin_ctz(hits);
                hits &= ~(3u << bit);
                const int u = 8 * g + bit / 2;
                const int rank = s.rank[v * s.rank_stride + u];
                if (*row < 0 || rank < bestRank) {
                    bestRank = rank;
                    *row = v;
                    *col = u;
                }
            }
        }
    }
    return least;
#else
    return least_cost_position_reference(s, row, col);
#endif
}

void gather_quarter4x4(const uint8_t *ref, int ref_stride, uint8_t out[16])
{
#if defined(__SSE2__)
    // The low byte of each 32-bit lane of a 16-sample load is one sample of the phase.
    const __m128i low = _mm_set1_epi32(0xff);
    __m128i r[4];
    for (int v = 0; v < 4; ++v)
        r[v] =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(ref + 4 * v * ref_stride)), low);
    const __m128i b = _mm_packus_epi16(_mm_packs_epi32(r[0], r[1]), _mm_packs_epi32(r[2], r[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), b);
#else
    for (int v = 0; v < 4; ++v)
        for (int u = 0; u < 4; ++u)
            out[4 * v + u] = ref[4 * v * ref_stride + 4 * u];
#endif
}

void quarter_strip_satd_reference(const uint8_t *src, int src_stride, const uint8_t *ref, int ref_stride,
                                  bool wide, bool hadamard, int out[2])
{
    out[1] = 0;
    for (int k = 0; k < (wide ? 2 : 1); ++k) {
        int d[16];
        for (int v = 0; v < 4; ++v)
            for (int u = 0; u < 4; ++u)
                d[4 * v + u] = src[v * src_stride + 4 * k + u] - ref[4 * v * ref_stride + 4 * (4 * k + u)];
        out[k] = satd4x4_reference(d, hadamard);
    }
}

#if defined(__SSE2__)
namespace {

void Butterfly16(__m128i &a, __m128i &b, __m128i &c, __m128i &d)
{
    const __m128i s0 = _mm_add_epi16(a, d), s1 = _mm_add_epi16(b, c);
    const __m128i d0 = _mm_sub_epi16(a, d), d1 = _mm_sub_epi16(b, c);
    a = _mm_add_epi16(s0, s1);
    b = _mm_add_epi16(d0, d1);
    c = _mm_sub_epi16(s0, s1);
    d = _mm_sub_epi16(d0, d1);
}

__m128i Abs16(__m128i v)
{
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

// Both blocks of an 8x4 strip side by side, one per half of each 16-bit row; a 4-wide strip leaves the
// right half zero, which transforms to zero. Differences stay within 16 bits through both transform
// passes (|d| <= 255, 16 x 255 after them), and the transposition keeps each block in its half.
void Strip8x4(const uint8_t *src, int src_stride, const uint8_t *ref, int ref_stride, bool wide,
              bool hadamard, int out[2])
{
    const __m128i low = _mm_set1_epi32(0xff), zero = _mm_setzero_si128();
    __m128i d[4];
    for (int v = 0; v < 4; ++v) {
        const uint8_t *r = ref + 4 * v * ref_stride;
        const __m128i left = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(r)), low);
        __m128i s, refs;
        if (wide) {
            const __m128i right =
                _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(r + 16)), low);
            refs = _mm_packs_epi32(left, right);
            s = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(src + v * src_stride));
        } else {
            refs = _mm_packs_epi32(left, zero);
            int32_t four;
            std::memcpy(&four, src + v * src_stride, 4);
            s = _mm_cvtsi32_si128(four);
        }
        d[v] = _mm_sub_epi16(_mm_unpacklo_epi8(s, zero), refs);
    }
    if (hadamard) {
        Butterfly16(d[0], d[1], d[2], d[3]);
        // Transpose each half's 4x4 so that the second pass runs along the rows.
        const __m128i t0 = _mm_unpacklo_epi16(d[0], d[1]), t1 = _mm_unpackhi_epi16(d[0], d[1]);
        const __m128i t2 = _mm_unpacklo_epi16(d[2], d[3]), t3 = _mm_unpackhi_epi16(d[2], d[3]);
        const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
        const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
        d[0] = _mm_unpacklo_epi64(u0, u2);
        d[1] = _mm_unpackhi_epi64(u0, u2);
        d[2] = _mm_unpacklo_epi64(u1, u3);
        d[3] = _mm_unpackhi_epi64(u1, u3);
        Butterfly16(d[0], d[1], d[2], d[3]);
    }
    const __m128i sum =
        _mm_add_epi16(_mm_add_epi16(Abs16(d[0]), Abs16(d[1])), _mm_add_epi16(Abs16(d[2]), Abs16(d[3])));
    // Lanes 0-1 of the pair sums hold the left block, lanes 2-3 the right one.
    __m128i s32 = _mm_madd_epi16(sum, _mm_set1_epi16(1));
    s32 = _mm_add_epi32(s32, _mm_shuffle_epi32(s32, 0xB1));
    const int left = _mm_cvtsi128_si32(s32), right = _mm_cvtsi128_si32(_mm_shuffle_epi32(s32, 0x02));
    out[0] = hadamard ? left >> 1 : left;
    out[1] = hadamard ? right >> 1 : right;
}

} // namespace
#endif

void quarter_strip_satd(const uint8_t *src, int src_stride, const uint8_t *ref, int ref_stride, bool wide,
                        bool hadamard, int out[2])
{
#if defined(__SSE2__)
    Strip8x4(src, src_stride, ref, ref_stride, wide, hadamard, out);
#else
    quarter_strip_satd_reference(src, src_stride, ref, ref_stride, wide, hadamard, out);
#endif
}

} // namespace h264enc
