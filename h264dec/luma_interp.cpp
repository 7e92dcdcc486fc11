// Quarter-sample luma fetch.
#include "h264dec/luma_interp.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <utility>

namespace {

// Six taps over s[0..5].
template <class F> int Taps(F s)
{
    return s(0) - 5 * s(1) + 20 * s(2) + 20 * s(3) - 5 * s(4) + s(5);
}

struct Sampler
{
    const LumaPlaneView &p;
    int At(int row, int col) const
    {
        row = std::clamp(row, 0, p.max_y);
        col = std::clamp(col, 0, p.width - 1);
        return (*p.plane)[row][col];
    }
    // Unrounded horizontal half sample right of (row, col), vertical one below it.
    int H(int row, int col) const
    {
        return Taps([&](int k) { return At(row, col - 2 + k); });
    }
    int V(int row, int col) const
    {
        return Taps([&](int k) { return At(row - 2 + k, col); });
    }
};

} // namespace

void h264dec_luma_block_reference(const LumaPlaneView &p, int x_pos, int y_pos, int block[4][4])
{
    const int dx = x_pos & 3, dy = y_pos & 3;
    const int x = (x_pos - dx) / 4, y = (y_pos - dy) / 4;
    const Sampler s{p};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const int r = y + j, c = x + i;
            int out = 0;
            if (dx == 0 && dy == 0) {
                out = s.At(r, c);
            } else if (dy == 0) {
                out = Clip255((s.H(r, c) + 16) / 32);
                if (dx & 1)
                    out = (out + s.At(r, c + dx / 2)) / 2;
            } else if (dx == 0) {
                out = Clip255((s.V(r, c) + 16) / 32);
                if (dy & 1)
                    out = (out + s.At(r + dy / 2, c)) / 2;
            } else if (dx == 2) {
                out = Clip255((Taps([&](int k) { return s.H(r - 2 + k, c); }) + 512) / 1024);
                if (dy & 1)
                    out = (out + Clip255((s.H(r + dy / 2, c) + 16) / 32)) / 2;
            } else if (dy == 2) {
                out = Clip255((Taps([&](int k) { return s.V(r, c - 2 + k); }) + 512) / 1024);
                out = (out + Clip255((s.V(r, c + dx / 2) + 16) / 32)) / 2;
            } else {
                const int a = Clip255((s.H(r + (dy == 3 ? 1 : 0), c) + 16) / 32);
                const int b = Clip255((s.V(r, c + (dx == 3 ? 1 : 0)) + 16) / 32);
                out = (a + b) / 2;
            }
            block[i][j] = out;
        }
}

void h264dec_luma_block_fast(const LumaPlaneView &p, int x_pos, int y_pos, int block[4][4])
{
    const int dx = x_pos & 3, dy = y_pos & 3;
    const int x = (x_pos - dx) / 4, y = (y_pos - dy) / 4;
    // Window rows y-2..y+6, columns x-2..x+6, clamped once.
    int w[9][9];
    if (x >= 2 && x + 6 < p.width && y >= 2 && y + 6 <= p.max_y) {
        // Inside the plane: no clamping.
        for (int r = 0; r < 9; ++r) {
            const uint8_t *row = (*p.plane)[y - 2 + r] + x - 2;
            for (int c = 0; c < 9; ++c)
                w[r][c] = row[c];
        }
    } else {
        int cols[9];
        for (int c = 0; c < 9; ++c)
            cols[c] = std::clamp(x - 2 + c, 0, p.width - 1);
        for (int r = 0; r < 9; ++r) {
            const uint8_t *row = (*p.plane)[std::clamp(y - 2 + r, 0, p.max_y)];
            for (int c = 0; c < 9; ++c)
                w[r][c] = row[cols[c]];
        }
    }
    if (dx == 0 && dy == 0) {
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                block[i][j] = w[j + 2][i + 2];
        return;
    }
    auto tapRow = [&](const int *v) { return v[0] - 5 * v[1] + 20 * v[2] + 20 * v[3] - 5 * v[4] + v[5]; };
    // One direction only: the half samples of that direction alone.
    if (dy == 0) {
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) {
                int out = Clip255((tapRow(&w[j + 2][i]) + 16) / 32);
                if (dx & 1)
                    out = (out + w[j + 2][i + 2 + dx / 2]) / 2;
                block[i][j] = out;
            }
        return;
    }
    if (dx == 0) {
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) {
                const int c = i + 2;
                const int v = w[j][c] - 5 * w[j + 1][c] + 20 * w[j + 2][c] + 20 * w[j + 3][c] -
                              5 * w[j + 4][c] + w[j + 5][c];
                int out = Clip255((v + 16) / 32);
                if (dy & 1)
                    out = (out + w[j + 2 + dy / 2][c]) / 2;
                block[i][j] = out;
            }
        return;
    }
    // hRaw[r][i]: unrounded horizontal half sample of window row r at output column i.
    int hRaw[9][4];
    // vRaw[j][c]: unrounded vertical half sample of output row j at window column c.
    int vRaw[4][9];
    for (int r = 0; r < 9; ++r)
        for (int i = 0; i < 4; ++i)
            hRaw[r][i] = tapRow(&w[r][i]);
    for (int j = 0; j < 4; ++j)
        for (int c = 0; c < 9; ++c)
            vRaw[j][c] = w[j][c] - 5 * w[j + 1][c] + 20 * w[j + 2][c] + 20 * w[j + 3][c] - 5 * w[j + 4][c] +
                         w[j + 5][c];
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            int out = 0;
            if (dy == 0) {
                out = Clip255((hRaw[j + 2][i] + 16) / 32);
                if (dx & 1)
                    out = (out + w[j + 2][i + 2 + dx / 2]) / 2;
            } else if (dx == 0) {
                out = Clip255((vRaw[j][i + 2] + 16) / 32);
                if (dy & 1)
                    out = (out + w[j + 2 + dy / 2][i + 2]) / 2;
            } else if (dx == 2) {
                const int col[6] = {hRaw[j][i],     hRaw[j + 1][i], hRaw[j + 2][i],
                                    hRaw[j + 3][i], hRaw[j + 4][i], hRaw[j + 5][i]};
                out = Clip255((tapRow(col) + 512) / 1024);
                if (dy & 1)
                    out = (out + Clip255((hRaw[j + 2 + dy / 2][i] + 16) / 32)) / 2;
            } else if (dy == 2) {
                out = Clip255((tapRow(&vRaw[j][i]) + 512) / 1024);
                out = (out + Clip255((vRaw[j][i + 2 + dx / 2] + 16) / 32)) / 2;
            } else {
                const int a = Clip255((hRaw[j + 2 + (dy == 3 ? 1 : 0)][i] + 16) / 32);
                const int b = Clip255((vRaw[j][i + 2 + (dx == 3 ? 1 : 0)] + 16) / 32);
                out = (a + b) / 2;
            }
            block[i][j] = out;
        }
}

void h264dec_luma_pred_reference(const LumaPlaneView &p, int x_pos, int y_pos, int w, int h, uint8_t *out,
                                 int stride)
{
    for (int by = 0; by < h; by += 4)
        for (int bx = 0; bx < w; bx += 4) {
            int block[4][4];
            h264dec_luma_block_reference(p, x_pos + 4 * bx, y_pos + 4 * by, block);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    out[(by + y) * stride + bx + x] = static_cast<uint8_t>(block[x][y]);
        }
}

namespace {

// The kernels read s[r * ss + c] for r in -2..h+2 and c in -2..W+2 around the block's integer
// position. Divisions of the definition become shifts: a negative sum clips to 0 either way, and the
// averages add non-negative samples.
inline int TapAt(const uint8_t *s, ptrdiff_t step)
{
    return s[-2 * step] - 5 * s[-step] + 20 * s[0] + 20 * s[step] - 5 * s[2 * step] + s[3 * step];
}

inline uint8_t Clip8(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

#if defined(__SSE2__)
// SSE2 on x86, eight (or four) samples of a row at a time in 16-bit lanes: a six-tap sum of 8-bit
// samples lies in -2550..10710.
template <int L> struct Sse2Row
{
    static __m128i Load(const uint8_t *p)
    {
        if constexpr (L == 8)
            return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)),
                                     _mm_setzero_si128());
        int32_t v;
        std::memcpy(&v, p, sizeof v);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), _mm_setzero_si128());
    }
    static void Store(uint8_t *p, __m128i v)
    {
        const __m128i packed = _mm_packus_epi16(v, v);
        if constexpr (L == 8) {
            _mm_storel_epi64(reinterpret_cast<__m128i *>(p), packed);
        } else {
            const int32_t o = _mm_cvtsi128_si32(packed);
            std::memcpy(p, &o, sizeof o);
        }
    }
    // The unrounded six-tap sum, in 16-bit lanes.
    static __m128i Taps(const uint8_t *p, ptrdiff_t step)
    {
        const __m128i outer = _mm_add_epi16(Load(p - 2 * step), Load(p + 3 * step));
        const __m128i near = _mm_add_epi16(Load(p - step), Load(p + 2 * step));
        const __m128i centre = _mm_add_epi16(Load(p), Load(p + step));
        const __m128i t = _mm_add_epi16(outer, _mm_mullo_epi16(centre, _mm_set1_epi16(20)));
        return _mm_sub_epi16(t, _mm_mullo_epi16(near, _mm_set1_epi16(5)));
    }
    // clip((taps + 16) >> 5), the rounded half sample, still in 16-bit lanes.
    static __m128i Round(__m128i t)
    {
        t = _mm_srai_epi16(_mm_add_epi16(t, _mm_set1_epi16(16)), 5);
        return _mm_min_epi16(_mm_max_epi16(t, _mm_setzero_si128()), _mm_set1_epi16(255));
    }
    static __m128i Half(const uint8_t *p, ptrdiff_t step) { return Round(Taps(p, step)); }
    static __m128i Average(__m128i a, __m128i b) { return _mm_srli_epi16(_mm_add_epi16(a, b), 1); }
};

// The centre sample j: six taps over unrounded half samples, whose sum (up to about 450000) needs
// 32-bit lanes: each pair of taps with equal weight is one multiply-add. Then clip((t + 512) >> 10).
inline __m128i Centre(const __m128i a[6])
{
    // The unpack is chosen by a flag, not passed as a function: an intrinsic has no address to take
    // unless the optimiser inlines it away.
    auto sum = [&](bool high) {
        auto unpack = [high](__m128i x, __m128i y) {
            return high ? _mm_unpackhi_epi16(x, y) : _mm_unpacklo_epi16(x, y);
        };
        __m128i t = _mm_madd_epi16(unpack(a[0], a[5]), _mm_set1_epi16(1));
        t = _mm_add_epi32(t, _mm_madd_epi16(unpack(a[1], a[4]), _mm_set1_epi16(-5)));
        t = _mm_add_epi32(t, _mm_madd_epi16(unpack(a[2], a[3]), _mm_set1_epi16(20)));
        return _mm_srai_epi32(_mm_add_epi32(t, _mm_set1_epi32(512)), 10);
    };
    const __m128i v = _mm_packs_epi32(sum(false), sum(true));
    return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), _mm_set1_epi16(255));
}

inline __m128i Load16(const int16_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

template <int W, int DX, int DY>
void LumaKernelSse2(const uint8_t *s, ptrdiff_t ss, int h, uint8_t *out, int os)
{
    constexpr int L = W >= 8 ? 8 : 4;
    using R = Sse2Row<L>;
    if constexpr (DX == 2 && DY != 0) {
        // Unrounded horizontal half samples of rows -2..h+2 (eight lanes wide even for four samples),
        // then the vertical taps over them.
        constexpr int RW = W >= 8 ? W : 8;
        int16_t hr[21][RW];
        for (int y = 0; y < h + 5; ++y)
            for (int x = 0; x < W; x += L)
                _mm_storeu_si128(reinterpret_cast<__m128i *>(&hr[y][x]), R::Taps(s + (y - 2) * ss + x, 1));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < W; x += L) {
                const __m128i a[6] = {Load16(&hr[y][x]),     Load16(&hr[y + 1][x]), Load16(&hr[y + 2][x]),
                                      Load16(&hr[y + 3][x]), Load16(&hr[y + 4][x]), Load16(&hr[y + 5][x])};
                __m128i v = Centre(a);
                if constexpr (DY != 2)
                    v = R::Average(v, R::Round(Load16(&hr[y + 2 + DY / 2][x])));
                R::Store(out + y * os + x, v);
            }
        return;
    } else if constexpr (DY == 2 && DX != 0) {
        // Per row, unrounded vertical half samples of columns -2..W+2, then the horizontal taps over
        // them. The last eight-wide run of columns overlaps the one before rather than read past W+2.
        constexpr int N = W + 5;
        int16_t vr[N + 8] = {};
        for (int y = 0; y < h; ++y) {
            const uint8_t *r = s + y * ss - 2;
            for (int x = 0;; x += 8) {
                const int at = std::min(x, N - 8);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(vr + at), Sse2Row<8>::Taps(r + at, ss));
                if (at == N - 8)
                    break;
            }
            for (int x = 0; x < W; x += L) {
                const __m128i a[6] = {Load16(vr + x),     Load16(vr + x + 1), Load16(vr + x + 2),
                                      Load16(vr + x + 3), Load16(vr + x + 4), Load16(vr + x + 5)};
                R::Store(out + y * os + x, R::Average(Centre(a), R::Round(Load16(vr + x + 2 + DX / 2))));
            }
        }
        return;
    }
    for (int y = 0; y < h; ++y) {
        const uint8_t *r = s + y * ss;
        for (int x = 0; x < W; x += L) {
            __m128i v;
            if constexpr (DY == 0) {
                v = R::Half(r + x, 1);
                if constexpr (DX != 2)
                    v = R::Average(v, R::Load(r + x + DX / 2));
            } else if constexpr (DX == 0) {
                v = R::Half(r + x, ss);
                if constexpr (DY != 2)
                    v = R::Average(v, R::Load(r + x + (DY / 2) * ss));
            } else {
                v = R::Average(R::Half(r + x + (DY / 2) * ss, 1), R::Half(r + x + DX / 2, ss));
            }
            R::Store(out + y * os + x, v);
        }
    }
}
#endif

template <int W, int DX, int DY> void LumaKernel(const uint8_t *s, ptrdiff_t ss, int h, uint8_t *out, int os)
{
#if defined(__SSE2__)
    if constexpr (DX != 0 || DY != 0) {
        LumaKernelSse2<W, DX, DY>(s, ss, h, out, os);
        return;
    }
#endif
    if constexpr (DX == 0 && DY == 0) {
        for (int y = 0; y < h; ++y)
            std::memcpy(out + y * os, s + y * ss, W);
    } else if constexpr (DY == 0) {
        for (int y = 0; y < h; ++y) {
            const uint8_t *r = s + y * ss;
            for (int x = 0; x < W; ++x) {
                int v = Clip8((TapAt(r + x, 1) + 16) >> 5);
                if constexpr (DX != 2)
                    v = (v + r[x + DX / 2]) >> 1;
                out[y * os + x] = static_cast<uint8_t>(v);
            }
        }
    } else if constexpr (DX == 0) {
        for (int y = 0; y < h; ++y) {
            const uint8_t *r = s + y * ss;
            for (int x = 0; x < W; ++x) {
                int v = Clip8((TapAt(r + x, ss) + 16) >> 5);
                if constexpr (DY != 2)
                    v = (v + r[x + (DY / 2) * ss]) >> 1;
                out[y * os + x] = static_cast<uint8_t>(v);
            }
        }
    } else if constexpr (DX == 2) {
        // Unrounded horizontal half samples of rows -2..h+2, then the vertical taps over them.
        int hr[21][W];
        for (int y = 0; y < h + 5; ++y) {
            const uint8_t *r = s + (y - 2) * ss;
            for (int x = 0; x < W; ++x)
                hr[y][x] = TapAt(r + x, 1);
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < W; ++x) {
                const int t = hr[y][x] - 5 * hr[y + 1][x] + 20 * hr[y + 2][x] + 20 * hr[y + 3][x] -
                              5 * hr[y + 4][x] + hr[y + 5][x];
                int v = Clip8((t + 512) >> 10);
                if constexpr (DY != 2)
                    v = (v + Clip8((hr[y + 2 + DY / 2][x] + 16) >> 5)) >> 1;
                out[y * os + x] = static_cast<uint8_t>(v);
            }
    } else if constexpr (DY == 2) {
        // Unrounded vertical half samples of columns -2..W+2, then the horizontal taps over them.
        int vr[W + 5];
        for (int y = 0; y < h; ++y) {
            const uint8_t *r = s + y * ss - 2;
            for (int x = 0; x < W + 5; ++x)
                vr[x] = TapAt(r + x, ss);
            for (int x = 0; x < W; ++x) {
                const int t =
                    vr[x] - 5 * vr[x + 1] + 20 * vr[x + 2] + 20 * vr[x + 3] - 5 * vr[x + 4] + vr[x + 5];
                const int v = Clip8((t + 512) >> 10);
                out[y * os + x] = static_cast<uint8_t>((v + Clip8((vr[x + 2 + DX / 2] + 16) >> 5)) >> 1);
            }
        }
    } else {
        // The diagonal quarters: a horizontal half sample (the row below for DY 3) and a vertical one
        // (the column right for DX 3).
        for (int y = 0; y < h; ++y) {
            const uint8_t *rh = s + (y + DY / 2) * ss;
            const uint8_t *rv = s + y * ss + DX / 2;
            for (int x = 0; x < W; ++x) {
                const int b = Clip8((TapAt(rh + x, 1) + 16) >> 5);
                const int v = Clip8((TapAt(rv + x, ss) + 16) >> 5);
                out[y * os + x] = static_cast<uint8_t>((b + v) >> 1);
            }
        }
    }
}

using LumaKernelFn = void (*)(const uint8_t *, ptrdiff_t, int, uint8_t *, int);

template <int W, int... P>
constexpr std::array<LumaKernelFn, 16> KernelTable(std::integer_sequence<int, P...>)
{
    return {&LumaKernel<W, P % 4, P / 4>...};
}

constexpr std::array<LumaKernelFn, 16> kKernels4 = KernelTable<4>(std::make_integer_sequence<int, 16>{});
constexpr std::array<LumaKernelFn, 16> kKernels8 = KernelTable<8>(std::make_integer_sequence<int, 16>{});
constexpr std::array<LumaKernelFn, 16> kKernels16 = KernelTable<16>(std::make_integer_sequence<int, 16>{});

} // namespace

void h264dec_luma_pred_fast(const LumaPlaneView &p, int x_pos, int y_pos, int w, int h, uint8_t *out,
                            int stride)
{
    const int dx = x_pos & 3, dy = y_pos & 3;
    const int x = x_pos >> 2, y = y_pos >> 2;
    const LumaKernelFn fn = (w == 16 ? kKernels16 : w == 8 ? kKernels8 : kKernels4)[dy * 4 + dx];
    if (x >= 2 && x + w + 3 <= p.width && y >= 2 && y + h + 2 <= p.max_y) {
        const Array2D<uint8_t> &plane = *p.plane;
        const ptrdiff_t ss = plane.Cols();
        fn(plane[0] + y * ss + x, ss, h, out, stride);
        return;
    }
    // At a border: the window, rows y-2..y+h+2 and columns x-2..x+w+2, clamped into a copy.
    // Each row is its first sample repeated, a run copied from the plane, its last sample repeated.
    constexpr int kStride = 21;
    uint8_t win[21 * kStride];
    const int n = w + 5, x0 = x - 2;
    const int left = std::clamp(-x0, 0, n), right = std::clamp(p.width - x0, left, n);
    for (int r = 0; r < h + 5; ++r) {
        const uint8_t *row = (*p.plane)[std::clamp(y - 2 + r, 0, p.max_y)];
        uint8_t *dst = win + r * kStride;
        std::memset(dst, row[0], static_cast<size_t>(left));
        if (right > left)
            std::memcpy(dst + left, row + x0 + left, static_cast<size_t>(right - left));
        std::memset(dst + right, row[p.width - 1], static_cast<size_t>(n - right));
    }
    fn(win + 2 * kStride + 2, kStride, h, out, stride);
}

void h264dec_average_pred_reference(const uint8_t *a, const uint8_t *b, uint8_t *out, int stride, int w,
                                    int h)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out[y * stride + x] = static_cast<uint8_t>((a[y * stride + x] + b[y * stride + x] + 1) >> 1);
}

void h264dec_average_pred_fast(const uint8_t *a, const uint8_t *b, uint8_t *out, int stride, int w, int h)
{
#if defined(__SSE2__)
    // pavgb is exactly (a + b + 1) >> 1 on bytes.
    if (w == 16 || w == 8 || w == 4) {
        for (int y = 0; y < h; ++y) {
            const size_t o = static_cast<size_t>(y) * static_cast<size_t>(stride);
            if (w == 16) {
                const __m128i v = _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + o)),
                                               _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + o)));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + o), v);
            } else if (w == 8) {
                const __m128i v = _mm_avg_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(a + o)),
                                               _mm_loadl_epi64(reinterpret_cast<const __m128i *>(b + o)));
                _mm_storel_epi64(reinterpret_cast<__m128i *>(out + o), v);
            } else {
                int32_t va, vb;
                std::memcpy(&va, a + o, sizeof va);
                std::memcpy(&vb, b + o, sizeof vb);
                const int32_t v =
                    _mm_cvtsi128_si32(_mm_avg_epu8(_mm_cvtsi32_si128(va), _mm_cvtsi32_si128(vb)));
                std::memcpy(out + o, &v, sizeof v);
            }
        }
        return;
    }
#endif
    h264dec_average_pred_reference(a, b, out, stride, w, h);
}

LumaPlaneView h264dec_luma_view(const H264DecoderState &dec, int ref)
{
    const DecoderImage &img = dec.img;
    LumaPlaneView v;
    v.plane = (*dec.mref)[static_cast<size_t>(ref)];
    v.width = img.width;
    const bool fieldMb = img.structure == kFrame && img.MbaffFrameFlag && img.mb_field_flag;
    v.max_y = fieldMb ? img.height / 2 - 1 : img.height - 1;
    v.max_y = std::min(v.max_y, v.plane->Rows() - 1);
    v.width = std::min(v.width, v.plane->Cols());
    return v;
}

void h264dec_get_luma_block(H264DecoderState &dec, int ref, int x_pos, int y_pos, int block[4][4])
{
    h264dec_luma_block_fast(h264dec_luma_view(dec, ref), x_pos, y_pos, block);
}
